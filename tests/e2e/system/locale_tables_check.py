"""Checks the language and country rows a script reads (lines
n|code|name|LANGUAGE_ constant|alpha2|alpha3|COUNTRY_ constant, "??" and "-"
for numbers without a row) against Debian's iso-codes data: every code is a
real ISO 639-1 / ISO 3166-1 code with its own name or three-letter code,
each constant gives its row's number, no code appears twice, the tables are
at least as long as the player's reference (183 languages, 233 countries),
the catalog languages keep their fixed numbers 0-17 and 18 / 38 are unknown.

usage: locale_tables_check.py TABLES_TXT
"""
import json
import re
import sys

ISO = "/usr/share/iso-codes/json/"
languages = {e["alpha_2"]: e["name"] for e in json.load(open(ISO + "iso_639-2.json"))["639-2"] if "alpha_2" in e}
countries = {e["alpha_2"]: e["alpha_3"] for e in json.load(open(ISO + "iso_3166-1.json"))["3166-1"]}
catalog = ("en english, de german, nl dutch, it italian, fr french, es spanish, pt portuguese, sv swedish, "
           "da danish, fi finnish, no norwegian, pl polish, hu hungarian, el greek, cs czech, tr turkish, "
           "hr croatian, ru russian").split(", ")


def names(iso_name):
    """The ISO name's alternatives ("Chichewa; Chewa; Nyanja", "Bokmål, Norwegian"), lower case, no remarks."""
    return {re.sub(r"\s*\(.*\)", "", part).strip().lower() for alt in iso_name.split(";") for part in alt.split(",")}


faults = []
rows = [line.rstrip("\n").split("|") for line in open(sys.argv[1], encoding="utf-8")]
if len(rows) != 400:
    faults.append("%d lines instead of 400" % len(rows))
seen_languages, seen_countries = set(), set()
for number, code, name, lconst, alpha2, alpha3, cconst in rows:
    n = int(float(number))
    if code != "??":
        if languages.get(code) is None or name not in names(languages[code]):
            faults.append("language %d: %s %r is no ISO 639-1 pair" % (n, code, name))
        # A name outside ASCII has no constant a script can spell.
        if (lconst == "-" and name.isascii()) or (lconst != "-" and float(lconst) != n):
            faults.append("language %d (%s): its constant is %s" % (n, name, lconst))
        if code in seen_languages:
            faults.append("language %s twice" % code)
        seen_languages.add(code)
    if n < 18 and "%s %s" % (code, name) != catalog[n]:
        faults.append("language %d is %s %s, not %s" % (n, code, name, catalog[n]))
    if n == 18 and (code, name) != ("??", "unknown"):
        faults.append("language 18 is %s %s, not unknown" % (code, name))
    if alpha2 != "??":
        if countries.get(alpha2) != alpha3:
            faults.append("country %d: %s/%s is no ISO 3166-1 pair" % (n, alpha2, alpha3))
        if float(cconst) != n:
            faults.append("country %d (%s): its constant is %s" % (n, alpha2, cconst))
        if alpha2 in seen_countries:
            faults.append("country %s twice" % alpha2)
        seen_countries.add(alpha2)
    if n == 38 and (alpha2, alpha3) != ("??", "???"):
        faults.append("country 38 is %s, not unknown" % alpha2)
if len(seen_languages) < 183 or len(seen_countries) < 233:
    faults.append("%d languages and %d countries" % (len(seen_languages), len(seen_countries)))
if faults:
    sys.exit("\n".join(faults[:20]))
