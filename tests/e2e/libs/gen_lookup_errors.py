#!/usr/bin/python3
"""Writes the lookup_errors listings: each failing call of a library group is
made three ways. A status call yields the code; under a RaiseOnError handler
the handler gets code, command name, line and message and the script goes
on; with ExitOnError(False) the script goes on and GetLastError has the code.

Run from this folder: ./gen_lookup_errors.py
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))

# group: (file, purpose, setup calls, failing calls, further header lines)
# setup and calls: (command, args); failing calls also carry (code, message).
GROUPS = {
    "dos": (
        "lookup_errors.qxs",
        "files, directories and memory blocks",
        [("OpenFile", (1, "w.txt", 1006)), ("OpenFile", (2, "w.txt", 1005)), ("AllocMem", (1, 8))],
        [
            ("CloseFile", (99,), 1179, "Could not find file handle 99!"),
            ("ReadLine", (1,), 1142, "File was opened in write-only mode!"),
            ("WriteLine", (2, "x"), 1141, "File was opened in read-only mode!"),
            ("CloseDirectory", (98,), 1318, "Could not find directory handle 98!"),
            ("FreeMem", (97,), 1180, "Could not find memory block 97!"),
            ("Peek", (96, 0), 1180, "Could not find memory block 96!"),
            # #INTEGER (1) at 6 of an 8-byte block runs past its end
            ("Peek", (1, 6, 1), 1146, "Specified offset is out of range!"),
            ("MonitorDirectory", (5, "."), 1627, "Error monitoring directory!"),
        ],
        [],
    ),
    "media": (
        "../sound/lookup_errors.qxs",
        "samples, musics and videos",
        [],
        [
            ("FreeSample", (1,), 1178, "Could not find sample 1!"),
            ("StopMusic", (5,), 1231, "Could not find music 5!"),
            ("StopMusic", (), 1055, None),
            ("PauseMusic", (), 1055, None),
            ("ResumeMusic", (), 1055, None),
            ("CloseVideo", (7,), 1449, "Could not find video 7!"),
        ],
        # a machine without a sound card has no sound: the lookups need it
        [";! env: HOME={dir}", ";! write: .asoundrc=pcm.!default { type null }"],
    ),
    "net": (
        "../net/lookup_errors.qxs",
        "connections, servers, UDP objects and serial ports, and a malformed URL",
        [],
        [
            ("CloseConnection", (99,), 1409, "Could not find connection 99!"),
            ("CloseServer", (98,), 1412, "Could not find server 98!"),
            ("CloseUDPObject", (97,), 1429, "Could not find UDP object 97!"),
            ("CloseSerialPort", (96,), 1619, "Could not find serial connection 96!"),
            # '@' before ':' in the user information: refused before connecting to port 1
            ("DownloadFile", ("http://a@b:c@127.0.0.1:1/",), 1417, "Invalid URL specified!"),
        ],
        [],
    ),
}

WRONG_USAGE = "Wrong usage/parameters for this command!"


def load(reg, value):
    if isinstance(value, str):
        return f'LOADK {reg} "{value}"'
    return f"LOADK {reg} #{value}"


def listing(path, purpose, setup, calls, extra):
    body = []  # (text, expected line or None)
    out = []

    def emit(text):
        body.append(text)

    def call(name, args, op="CALL", results=1):
        emit(f'    GETGLOBAL 0 "{name.lower()}"')
        for i, a in enumerate(args):
            emit("    " + load(1 + i, a))
        emit(f"    {op} 0 {len(args) + 1} {results}")
        return len(body) - 1

    def show(*regs_or_texts):
        # ConsolePrint of the pieces joined, each a register or a text.
        emit('    GETGLOBAL 10 "consoleprint"')
        for i, p in enumerate(regs_or_texts):
            emit(f"    MOVE {11 + i} {p}" if isinstance(p, int) else f'    LOADK {11 + i} "{p}"')
        emit(f"    CONCAT 11 11 {10 + len(regs_or_texts)}")
        emit("    CALL 10 2 1")

    emit(".maxstack 24")
    emit(".function handler")
    emit(".params 4")
    emit('    GETGLOBAL 4 "consoleprint"')
    emit('    LOADK 5 "h "')
    emit("    MOVE 6 0")
    emit('    LOADK 7 " "')
    emit("    MOVE 8 2")
    emit('    LOADK 9 " "')
    emit("    MOVE 10 3")
    emit('    LOADK 11 " "')
    emit("    MOVE 12 1")
    emit("    CONCAT 5 5 12")
    emit("    CALL 4 2 1")
    emit("    RETURN 0 1")
    emit(".end")
    for name, args in setup:
        call(name, args)
    for name, args, code, _ in calls:
        call(name, args, "CALLSTATUS", 2)
        show(f"s {name} ", 0)
        out.append(f"s {name} {code}")
    emit("    CLOSURE 0 handler")
    emit('    GETGLOBAL 1 "raiseonerror"')
    emit("    MOVE 2 0")
    emit("    CALL 1 2 1")
    lines = []
    for name, args, code, message in calls:
        lines.append((call(name, args), name, code, message))
    emit('    GETGLOBAL 0 "raiseonerror"')
    emit("    CALL 0 1 1")
    emit('    GETGLOBAL 0 "exitonerror"')
    emit("    LOADK 1 #0")
    emit("    CALL 0 2 1")
    for name, args, code, _ in calls:
        call(name, args)
        emit('    GETGLOBAL 0 "getlasterror"')
        emit("    CALL 0 1 2")
        show(f"e {name} ", 0)
    emit('    GETGLOBAL 0 "consoleprint"')
    emit('    LOADK 1 "done"')
    emit("    CALL 0 2 1")
    emit("    RETURN 0 1")
    emit("; the line map gives every line of this listing its own number")
    name = os.path.basename(path)
    emit(f'.linemap 27 1 100000 0 "{name}" "{name}"')
    header = [
        f"; Failing lookups of {purpose} are returned, not raised:",
        "; status calls yield the code, a RaiseOnError handler receives code,",
        "; command, line and message, and with ExitOnError(False) GetLastError",
        "; has it. Written by libs/gen_lookup_errors.py.",
        ";! args: -QUIET",
    ] + extra
    handled = sum(2 if message is None else 1 for _, _, _, message in calls)
    first = len(header) + len(out) + handled + len(calls) + 1 + 1  # the first body line
    expect = list(out)
    for at, name, code, message in lines:
        if message is None:
            expect += [f"h {code} {name} {first + at} {WRONG_USAGE}", "Read the documentation!"]
        else:
            expect.append(f"h {code} {name} {first + at} {message}")
    expect += [f"e {name} {code}" for name, _, code, _ in calls]
    expect.append("done")
    text = header + [f";! stdout: {e}" for e in expect]
    assert len(text) + 1 == first, (len(text), first)
    return "\n".join(text + body) + "\n"


def main():
    for purpose_key, (path, purpose, setup, calls, extra) in GROUPS.items():
        with open(os.path.join(HERE, path), "w") as f:
            f.write(listing(path, purpose, setup, calls, extra))


if __name__ == "__main__":
    main()
