#!/usr/bin/env python3
"""Decodes qxasm's output with a reader of its own (Python struct and zlib)
and checks it against what the listings say."""

import argparse
import os
import struct
import subprocess
import sys
import zlib

FAILS = []


def expect(cond, what):
    if not cond:
        FAILS.append(what)


class Chunk:
    def __init__(self, data):
        self.d, self.p = data, 0
        assert data[:4] == b"\x1bQXB", data[:4]
        self.end = "<" if data[4] == 1 else ">"
        self.sizet = data[6]
        self.header = data[:13]
        self.test = struct.unpack(self.end + "d", data[13:21])[0]
        self.p = 21
        self.main = self.function()
        expect(self.p == len(data), "trailing bytes after the main function")

    def take(self, fmt):
        fmt = self.end + fmt
        v = struct.unpack_from(fmt, self.d, self.p)
        self.p += struct.calcsize(fmt)
        return v[0]

    def string(self):
        n = self.take("I" if self.sizet == 4 else "Q")
        if n == 0:
            return None
        s = self.d[self.p:self.p + n]
        self.p += n
        expect(s[-1:] == b"\0", "string without its zero byte")
        return s[:-1].decode("latin-1")

    def function(self):
        f = {"source": self.string(), "linedefined": self.take("i")}
        f["nups"], f["params"], f["vararg"], f["maxstack"] = self.d[self.p:self.p + 4]
        self.p += 4
        f["lines"] = [self.take("i") for _ in range(self.take("i"))]
        f["locals"] = [(self.string(), self.take("i"), self.take("i")) for _ in range(self.take("i"))]
        f["upnames"] = [self.string() for _ in range(self.take("i"))]
        consts = []
        for _ in range(self.take("i")):
            t = self.take("B")
            consts.append(self.take("d") if t == 3 else self.string() if t == 4 else None)
        f["consts"] = consts
        f["nested"] = [self.function() for _ in range(self.take("i"))]
        f["code"] = [self.take("I") for _ in range(self.take("i"))]
        return f


def fields(w):
    return {"op": w & 0x3F, "c": (w >> 6) & 0x1FF, "b": (w >> 15) & 0x1FF, "a": w >> 24,
            "bx": (w >> 6) & 0x3FFFF, "sbx": ((w >> 6) & 0x3FFFF) - 131071,
            "j": ((w >> 6) & 0xFFFFFF) - 8388607, "kind": w >> 30}


def sections(applet):
    """Tag list and main chunk of a plain applet."""
    expect(applet[:4] == b"QXA\0", "plain applet signature")
    p, tags = 4, []
    while True:
        tag = applet[p]
        p += 1
        tags.append(tag)
        if tag == 1:
            n = struct.unpack_from(">I", applet, p)[0]
            return tags, applet[p + 4:p + 4 + n], applet[p + 4 + n:]
        if tag == 10:
            p += 2
        elif tag in (11, 12, 13, 14, 15, 34):
            p = applet.index(b"\0", p) + 1
        elif tag == 9:
            n = struct.unpack_from(">I", applet, p)[0]
            p += 4
            for _ in range(n):
                p = applet.index(b"\0", p + 4) + 1
        else:
            raise ValueError("tag %d" % tag)


ALL_OPS = """
.vararg
top:
  MOVE 1 2
  LOADK 1 "k"
  LOADNUM 1 1 1
  LOADNIL 1 3
  GETUPVAL 1 0
  GETGLOBAL 1 "g"
  GETTABLE 1 2 "f"
  SETGLOBAL 1 "g"
  SETUPVAL 1 0
  SETTABLE 1 #3 4
  NEWTABLE 1 9 2
  ADD 1 2 3
  SUB 1 2 3
  MUL 1 2 3
  DIV 1 2 3
  IDIV 1 2 3
  MOD 1 2 3
  SHL 1 2 3
  SHR 1 2 3
  BOR 1 2 3
  BAND 1 2 3
  BXOR 1 2 3
  POW 1 2 3
  UNM 1 2
  NOT 1 2
  BNOT 1 2
  CONCAT 1 2 3
  JMP top
  EQ 1 2 3
  LT 0 2 3
  LE 1 2 3
  TEST 1 2 1
  CALL 1 2 2
  TAILCALL 1 2 0
  RETURN 1 2
  FORLOOP 1 top
  TFORLOOP 1 2
  TFORPREP 1 end
  SETLIST 1 33
  SETLISTO 1 0
  CLOSE 1
  CLOSURE 1 inner r2
  SELF 1 2 "m"
  CALLSTATUS 1 2 2
  TAILCALLSTATUS 1 1 0
end:
  GOSUB top
  RETURN 0 1 1
.function inner
  .upvalue x
  RETURN 0 1
.end
"""


def assemble(qxasm, listing, out, *switches):
    r = subprocess.run([qxasm, *switches, listing, "-o", out], capture_output=True, text=True)
    if r.returncode != 0:
        raise SystemExit("qxasm failed: %s" % r.stderr)
    with open(out, "rb") as f:
        return f.read()


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--qxasm", required=True)
    ap.add_argument("--workdir", required=True)
    a = ap.parse_args()
    os.makedirs(a.workdir, exist_ok=True)
    listing = os.path.join(a.workdir, "allops.qxs")
    with open(listing, "w") as f:
        f.write(ALL_OPS)
    out = lambda n: os.path.join(a.workdir, n)

    le = Chunk(assemble(a.qxasm, listing, out("le.qxb"), "-c"))
    be = Chunk(assemble(a.qxasm, listing, out("be.qxb"), "-c", "--big-endian", "--size-t=4"))
    expect(le.header == bytes([27, 81, 88, 66, 1, 4, 8, 4, 6, 8, 9, 9, 8]), "little-endian header %r" % le.header)
    expect(be.header == bytes([27, 81, 88, 66, 0, 4, 4, 4, 6, 8, 9, 9, 8]), "big-endian header %r" % be.header)
    expect(le.test == 31415926.535897933 == be.test, "test number")
    expect(le.main == be.main, "big-endian twin decodes differently")

    m = le.main
    code = [fields(w) for w in m["code"]]
    ops = [c["op"] for c in code]
    # 45 opcodes in order, the closure's pseudo MOVE after CLOSURE, then GOSUB (27) and RETURN.
    expect(ops == list(range(42)) + [0] + [42, 43, 44, 27, 34], "opcode sequence %r" % ops)
    pc_of = lambda op: ops.index(op)
    expect(code[pc_of(27)]["j"] == 0 - (pc_of(27) + 1), "JMP back to top")
    expect(code[pc_of(35)]["sbx"] == 0 - (pc_of(35) + 1), "FORLOOP back to top")
    end = len(ops) - 2
    expect(code[pc_of(37)]["sbx"] == end - (pc_of(37) + 1), "TFORPREP forward")
    gosub = code[end]
    expect(gosub["kind"] == 2 and gosub["j"] == -(end + 1), "GOSUB kind and offset %r" % gosub)
    expect(code[-1]["c"] == 1 and code[-1]["b"] == 1, "Gosub return")
    expect(code[pc_of(9)]["b"] == 250 + m["consts"].index(3.0), "SETTABLE RK constant")
    expect(code[pc_of(6)]["c"] == 250 + m["consts"].index("f"), "GETTABLE RK string")
    expect(code[pc_of(1)]["bx"] == m["consts"].index("k"), "LOADK index")
    expect(m["vararg"] == 1 and m["maxstack"] == 9, "main flags %r" % ((m["vararg"], m["maxstack"]),))
    expect(len(m["lines"]) == len(m["code"]), "one line per instruction")
    expect(m["nested"][0]["source"] is None and m["nested"][0]["nups"] == 1, "nested record")
    expect(m["source"] == "allops.qxs", "main source %r" % m["source"])

    # Applets: the packed one inflates (Python's zlib) to the plain one.
    with open(listing, "a") as f:
        f.write('.header 1 "All ops"\n.label top top\n')
    plain = assemble(a.qxasm, listing, out("plain.qxa"), "-a")
    packed = assemble(a.qxasm, listing, out("packed.qxa"), "-z")
    tags, chunk, rest = sections(plain)
    expect(tags == [10, 11, 9, 1], "section tags %r" % tags)
    expect(rest == b"", "bytes after the main chunk")
    expect(Chunk(chunk).main["code"] == Chunk(assemble(a.qxasm, listing, out("x.qxb"), "-c")).main["code"],
           "applet chunk equals the bare chunk")
    expect(packed[:4] == b"QXZ\0", "packed signature")
    expect(struct.unpack(">I", packed[4:8])[0] == len(plain), "packed size field")
    d = zlib.decompressobj()
    inflated = d.decompress(packed[8:]) + d.flush()
    expect(d.eof and d.unused_data == b"", "one complete zlib stream")
    expect(inflated == plain, "QXZ inflates to the QXA applet")
    # And Python's own packing of the plain applet inflates to the same bytes.
    expect(zlib.decompress(zlib.compress(plain, 9)) == inflated, "zlib round trip")

    for f in FAILS:
        print("FAIL: " + f)
    print("%d checks failed" % len(FAILS) if FAILS else "all checks passed")
    return 1 if FAILS else 0


if __name__ == "__main__":
    sys.exit(main())
