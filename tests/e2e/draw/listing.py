#!/usr/bin/python3
"""Writes qxasm call sequences for the draw listings: each call's error code
or first results are printed as "label=value" lines."""


# Display 1 declared hidden: the listings make their own display 1, which
# the player would otherwise open at start-up.
HIDDEN_DISPLAY_1 = ('.object 10 1 u32:0 u32:0xFFFE7960 u32:0xFFFE7960 u32:640 u32:480 u32:0 u32:0x800 u32:0 u32:0 u32:0 u32:0 u32:0 pstr:"Zephyrane" u8:1 u32:0 u16:0 u32:0 u32:0 u32:0 u8:2 u32:0 u32:0 u32:0 u32:0 u8:0 pstr:"" u8:0 u8:0 u8:0 u32:0 u8:1 u8:0 i16:-1 i16:-1 u8:0 u8:0 u8:0 pstr:"" pstr:"" pstr:"" pstr:"" u32:65536 u32:0')


class Listing:
    def __init__(self, own_display_1=False):
        self.lines = [".maxstack 60"]
        if own_display_1:
            self.lines += ["; Display 1 is declared hidden: the script makes its own display 1.", HIDDEN_DISPLAY_1]
        self.lines += ["    GETGLOBAL 0 \"exitonerror\"", "    LOADK 1 #0", "    CALL 0 2 1"]

    def emit(self, text):
        self.lines.append("    " + text)

    def _arg(self, reg, value):
        if isinstance(value, str):
            self.emit(f'LOADK {reg} "{value}"')
        elif isinstance(value, dict):
            self.emit(f"NEWTABLE {reg}")
            for k, v in value.items():
                if isinstance(v, list):
                    self._arg(reg + 1, v)
                    self.emit(f'SETTABLE {reg} "{k}" {reg + 1}')
                elif isinstance(v, str):
                    self.emit(f'SETTABLE {reg} "{k}" "{v}"')
                else:
                    self.emit(f'SETTABLE {reg} "{k}" #{v}')
        elif isinstance(value, list):
            self.emit(f"NEWTABLE {reg}")
            for i, v in enumerate(value):
                self.emit(f"SETTABLE {reg} #{i} #{v}")
        else:
            self.emit(f"LOADK {reg} #{value}")

    def call(self, name, *args, results=0):
        self.emit(f'GETGLOBAL 0 "{name.lower()}"')
        for i, a in enumerate(args):
            self._arg(1 + i, a)
        self.emit(f"CALL 0 {len(args) + 1} {results + 1}")

    def _print(self, label, reg):
        self.emit('GETGLOBAL 50 "consoleprint"')
        self.emit('GETGLOBAL 51 "addstr"')
        self.emit(f'LOADK 52 "{label}="')
        self.emit(f"MOVE 53 {reg}")
        self.emit("CALL 51 3 2")
        self.emit("CALL 50 2 1")

    def check(self, label, name, *args):
        """Prints the error code of the call."""
        self.call(name, *args)
        self.emit('GETGLOBAL 0 "getlasterror"')
        self.emit("CALL 0 1 2")
        self.emit("MOVE 40 0")
        self._print(label, 40)

    def value(self, label, name, *args, fields=()):
        """Prints the first result, then fields of the second (a table)."""
        self.call(name, *args, results=2)
        self.emit("MOVE 40 0")
        self.emit("MOVE 41 1")
        self._print(label, 40)
        for f in fields:
            self.emit(f'GETTABLE 42 41 "{f}"')
            self._print(f"{label}.{f}", 42)

    def style(self, layer, keys):
        """Prints keys of GetLayerStyle(layer); a second item picks an entry of a table value."""
        self.call("GetLayerStyle", layer, results=1)
        self.emit("MOVE 45 0")
        for key in keys:
            self.emit(f'GETTABLE 42 45 "{key[0]}"')
            if len(key) > 1:
                self.emit(f"GETTABLE 42 42 #{key[1]}")
            self._print(key[0], 42)

    def write(self, path, header, expect):
        """The listing with its header and expected lines, ending by printing "done"."""
        with open(path, "w") as f:
            f.write(header)
            for e in expect.split():
                f.write(f";! stdout: {e}\n")
            f.write(self.text().replace("    RETURN 0 1\n", '    GETGLOBAL 0 "consoleprint"\n    LOADK 1 "done"\n    CALL 0 2 1\n    RETURN 0 1\n'))

    def text(self):
        return "\n".join(self.lines + ["    RETURN 0 1", ""])
