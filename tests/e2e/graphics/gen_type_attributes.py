#!/usr/bin/python3
"""Writes the attributes_<type>.qxs listings: GetAttribute of every attribute
a type answers, its refusals and a missing object. Each answer prints as
"label status value [second]" (status 0, or the error code of a status call).

Run from this folder: ./gen_type_attributes.py
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))

A = dict(width=0, height=1, transparent=5, layers=6, xpos=7, ypos=8, type=9, visible=10, frames=11, curframe=12,
         layerid=13, duration=14, position=18, format=19, fontascender=30, fontdescender=31, fontname=32,
         fontsize=33, fontscalable=34, fontaa=35, text=36, framedelay=37, clipregion=39, scalemode=43,
         scalewidth=44, scaleheight=45, size=57, count=60, group=62, rawx=65, rawy=66, rawwidth=67, rawheight=68,
         canseek=72, hasmask=16, hasalpha=17, hardware=73, zpos=74, driver=75, id=82, playing=83, paused=84, display=85, loader=91,
         sprites=95, entries=98, standard=99)


class Listing:
    def __init__(self, purpose, header=()):
        self.purpose = purpose
        self.header = list(header)
        self.body = [".maxstack 40"]
        self.expect = []

    def emit(self, text):
        self.body.append("    " + text)

    def arg(self, reg, value):
        if value is None:
            self.emit(f"LOADNIL {reg} {reg}")
        elif isinstance(value, str):
            self.emit(f'LOADK {reg} "{value}"')
        elif isinstance(value, dict):
            self.emit(f"NEWTABLE {reg}")
            for k, v in value.items():
                self.emit(f'SETTABLE {reg} "{k}" #{v}' if not isinstance(v, str) else f'SETTABLE {reg} "{k}" "{v}"')
        elif isinstance(value, list):
            self.emit(f"NEWTABLE {reg}")
            for i, v in enumerate(value):
                if isinstance(v, dict):
                    self.arg(reg + 1, v)
                    self.emit(f"SETTABLE {reg} #{i} {reg + 1}")
                else:
                    self.emit(f"SETTABLE {reg} #{i} #{v}")
        else:
            self.emit(f"LOADK {reg} #{value}")

    def call(self, name, *args):
        """A command that must succeed."""
        self.emit(f'GETGLOBAL 0 "{name.lower()}"')
        for i, a in enumerate(args):
            self.arg(1 + i, a)
        self.emit(f"CALL 0 {len(args) + 1} 1")

    def ask(self, label, expect, name, *args, values=1):
        """Prints label, the status and the first results of a status call."""
        self.emit(f'GETGLOBAL 0 "{name.lower()}"')
        for i, a in enumerate(args):
            self.arg(10 + i, a)
            self.emit(f"MOVE {1 + i} {10 + i}")
        self.emit(f"CALLSTATUS 0 {len(args) + 1} {values + 2}")
        self.emit(f'GETGLOBAL {values + 3} "consoleprint"')
        self.emit(f'LOADK {values + 4} "{label}"')
        for i in range(values + 1):
            self.emit(f"MOVE {values + 5 + i} {i}")
        self.emit(f"CALL {values + 3} {values + 3} 1")
        # A failed call or one without results leaves its value register nil.
        self.expect.append(f"{label} {expect}" + (" Nil" if " " not in str(expect) else ""))

    def attr(self, label, expect, type_, id_, attribute, *index, values=1):
        self.ask(label, expect, "GetAttribute", type_, id_, A[attribute], *index, values=values)

    def write(self, name):
        lines = [f"; GetAttribute of {self.purpose}. Written by gen_type_attributes.py."]
        lines += self.header + [";! args: -QUIET"] + [f";! stdout: {e}" for e in self.expect] + [";! stdout: done"]
        self.emit('GETGLOBAL 0 "consoleprint"')
        self.emit('LOADK 1 "done"')
        self.emit("CALL 0 2 1")
        self.emit("RETURN 0 1")
        with open(os.path.join(HERE, name), "w") as f:
            f.write("\n".join(lines + self.body) + "\n")


NONE = 4294967295
PNG = "/usr/bin/python3 -c \"from PIL import Image; Image.new('{mode}', ({w}, {h}), {fill}).save('{name}')\""


def bgpics():
    t = Listing("BGPics, their clip region, sprites and loader, and GetPen of a palette",
                [";! setup: " + PNG.format(mode="RGB", w=8, h=4, fill="(1, 2, 3)", name="pal.png")])
    t.call("CreateBGPic", 2, 64, 32)
    t.call("LoadBGPic", 3, "pal.png", None, [0x112233, 0x445566, 0x778899])
    for name, value in [("width", 64), ("height", 32), ("transparent", NONE), ("layers", 0), ("type", 0),
                        ("hasmask", 0), ("hasalpha", 0), ("clipregion", -1), ("loader", "inbuilt"), ("sprites", 0)]:
        t.attr(name, f"0 {value}", 1, 2, name)
    t.attr("width3", "0 8", 1, 3, "width")
    t.call("CreateClipRegion", 4, 14, 2, 3, 10, 10)
    t.call("SetClipRegion", 4)
    t.attr("clip", "0 4", 1, 3, "clipregion")
    t.attr("count", "0 3", 1, 0, "count")
    t.attr("unknown", "1080", 1, 2, "size")
    t.attr("missing", "1177", 1, 9, "width")
    t.call("DisplayBGPic", 3)
    t.ask("pen1", f"0 {0x445566}", "GetPen", 1)
    t.ask("pen300", f"0 {NONE}", "GetPen", 300)
    t.ask("pen-5", f"0 {0x112233}", "GetPen", -5)
    t.call("DisplayBGPic", 2)
    t.ask("nopens", f"0 {NONE}", "GetPen", 1)
    t.write("attributes_bgpic.qxs")


def brushes():
    t = Listing("brushes: a made one, one loaded with alpha, a missing one",
                [";! setup: " + PNG.format(mode="RGBA", w=6, h=5, fill="(9, 8, 7, 100)", name="alpha.png")])
    t.call("CreateBrush", 1, 20, 10)
    t.call("LoadBrush", 2, "alpha.png", {"loadalpha": 1})
    for name, value in [("width", 20), ("height", 10), ("transparent", NONE), ("type", 0), ("hasmask", 0),
                        ("hasalpha", 0), ("hardware", 0), ("display", -1), ("loader", "inbuilt")]:
        t.attr(name, f"0 {value}", 3, 1, name)
    t.attr("alpha", "0 1", 3, 2, "hasalpha")
    t.attr("width2", "0 6", 3, 2, "width")
    t.attr("unknown", "1080", 3, 1, "size")
    t.attr("missing", "1174", 3, 9, "width")
    t.write("attributes_brush.qxs")


def anims():
    t = Listing("anims: frame delays by 1-based index")
    t.call("CreateBrush", 1, 30, 10)
    t.call("CreateAnim", 1, 1, 10, 10, 3, 3)
    t.call("SetAnimFrameDelay", 1, 2, 120)
    for name, value in [("width", 10), ("height", 10), ("transparent", NONE), ("frames", 3), ("hasmask", 0),
                        ("hasalpha", 0), ("loader", "inbuilt")]:
        t.attr(name, f"0 {value}", 4, 1, name)
    t.attr("delay2", "0 120", 4, 1, "framedelay", 2)
    t.attr("delay1", "0 0", 4, 1, "framedelay", 1)
    t.attr("delay4", "1094", 4, 1, "framedelay", 4)
    t.attr("unknown", "1080", 4, 1, "size")
    t.attr("missing", "1176", 4, 9, "width")
    t.write("attributes_anim.qxs")


def icons():
    t = Listing("icons: entries by 1-based index and the standard entry")
    t.call("CreateBrush", 1, 16, 16)
    t.call("CreateBrush", 2, 32, 24)
    t.call("CreateBrush", 3, 16, 16)
    t.call("CreateIcon", 1, [{"image": 1, "selimage": 3, "standard": 1}, {"image": 2}])
    t.attr("entries", "0 2", 59, 1, "entries")
    t.attr("standard", "0 1", 59, 1, "standard")
    t.attr("width1", "0 16", 59, 1, "width", 1)
    t.attr("height2", "0 24", 59, 1, "height", 2)
    t.attr("frames1", "0 2", 59, 1, "frames", 1)
    t.attr("frames2", "0 1", 59, 1, "frames", 2)
    t.attr("entry3", "1613", 59, 1, "width", 3)
    t.attr("unknown", "1080", 59, 1, "size")
    t.attr("missing", "1608", 59, 9, "width")
    t.write("attributes_icon.qxs")


def memory():
    t = Listing("memory blocks")
    t.call("AllocMem", 1, 100)
    t.attr("size", "0 100", 39, 1, "size")
    t.attr("unknown", "1080", 39, 1, "width")
    t.attr("missing", "1180", 39, 9, "size")
    t.write("attributes_memory.qxs")


def videos():
    # 7000-byte chunks play at 153600 / 7000 fps: 6 frames last 273.4375 ms,
    # reported in whole milliseconds.
    t = Listing("videos: a CDXL stream that is not playing",
                [";! setup: python3 {src}/../../../tools/animgen/make_cdxl.py v.cdxl 16 8 3 6 0 7000 0 1"])
    t.header.append(";! args-after: -NOSOUND")
    t.call("OpenVideo", 1, "v.cdxl")
    for name, value in [("width", 16), ("height", 8), ("frames", 6), ("duration", 273), ("position", 0),
                        ("format", "CDXL"), ("scalemode", 0), ("scalewidth", 16), ("scaleheight", 8),
                        ("canseek", 1), ("driver", 1), ("playing", 0), ("paused", 0), ("loader", "inbuilt")]:
        t.attr(name, f"0 {value}", 50, 1, name)
    t.attr("unknown", "1080", 50, 1, "size")
    t.attr("missing", "1449", 50, 9, "width")
    # A video layer answers for its video.
    t.call("EnableLayers")
    t.call("DisplayVideoFrame", 1, 0, 0, 2)
    t.attr("layertype", "0 50", 22, 1, "type")
    t.attr("layerframes", "0 6", 22, 1, "frames")
    t.attr("layerformat", "0 CDXL", 22, 1, "format")
    t.attr("layerid", "0 1", 22, 1, "id")
    t.attr("layerseek", "0 1", 22, 1, "canseek")
    t.attr("layercurframe", "1155", 22, 1, "curframe")
    t.write("attributes_video.qxs")


def samples():
    t = Listing("samples: the position of a sample that is not playing",
                [";! env: HOME={dir}", ";! setup: sox -n -r 8000 -b 16 -c 1 tone.wav synth 3 sine 500",
                 ";! setup: printf 'pcm.!default { type file; slave.pcm \"null\"; file \"{dir}/out.raw\"; "
                 "format \"raw\" }\\n' > .asoundrc"])
    t.call("LoadSample", 1, "tone.wav")
    t.attr("position", "0 -1 -1", 2, 1, "position", values=2)
    t.attr("frames", "0 24000", 2, 1, "frames")
    t.attr("missing", "1178", 2, 9, "frames")
    t.write("attributes_sample.qxs")


def layers():
    t = Listing("layers by position and name, per layer type, and their object data; text objects keep "
                "object data through CopyTextObject, and fonts hold it too")
    t.attr("off", "1078", 22, 1, "width")
    t.ask("offdata", "1078", "SetObjectData", 22, 1, "k", 1)
    t.call("CreateBrush", 1, 20, 10)
    t.call("CreateBrush", 2, 30, 10)
    t.call("CreateAnim", 1, 2, 10, 10, 3, 3)
    t.call("SetAnimFrameDelay", 1, 2, 120)
    t.call("EnableLayers")
    t.call("DisplayBrush", 1, 5, 6)
    t.call("TextOut", 30, 40, "Hi")
    t.call("DisplayAnimFrame", 1, 50, 60, 2)
    t.call("SetLayerName", 1, "pic")
    for name, value in [("width", 20), ("height", 10), ("layers", 3), ("xpos", 5), ("ypos", 6), ("type", 3),
                        ("visible", 1), ("layerid", 1), ("zpos", 1), ("rawx", 5), ("rawy", 6), ("rawwidth", 20),
                        ("rawheight", 10), ("id", 1)]:
        t.attr(name, f"0 {value}", 22, 1, name)
    t.attr("byname", "0 20", 22, "pic", "width")
    t.attr("frames", "1515", 22, 1, "frames")
    t.attr("curframe", "1155", 22, 1, "curframe")
    t.attr("text", "1311", 22, 1, "text")
    t.attr("duration", "1515", 22, 1, "duration")
    t.attr("texttype", "0 9", 22, 2, "type")
    t.attr("texttext", "0 Hi", 22, 2, "text")
    t.attr("textid", "1515", 22, 2, "id")
    t.attr("textsize", "0 8", 22, 2, "fontsize")
    t.attr("shownsize", "0 8", 21, 0, "fontsize")
    t.attr("animframes", "0 3", 22, 3, "frames")
    t.attr("animframe", "0 2", 22, 3, "curframe")
    t.attr("animdelay", "0 120", 22, 3, "framedelay")
    t.attr("count", "0 3", 22, 0, "count")
    t.attr("missing", "1081", 22, 9, "width")
    t.attr("nosprite", "1219", 32, 9, "width")
    t.attr("nameless", "1081", 22, "none", "width")
    t.ask("setdata", "0", "SetObjectData", 22, "pic", "k", 7)
    t.ask("getdata", "0 7", "GetObjectData", 22, 1, "k")
    t.ask("have", "0 1", "HaveObject", 22, 1)
    t.ask("havenot", "0 0", "HaveObject", 22, 9)
    t.ask("nodata", "1081", "GetObjectData", 22, 9, "k")
    t.call("CreateTextObject", 1, "abc")
    t.ask("textset", "0", "SetObjectData", 8, 1, "k", "v")
    t.call("CopyTextObject", 1, 2)
    t.ask("textcopy", "0 v", "GetObjectData", 8, 2, "k")
    t.ask("texthave", "0 1", "HaveObject", 8, 2)
    t.call("OpenFont", 1, ":::default_bitmap", 8)
    t.ask("fontset", "0", "SetObjectData", 43, 1, "k", "f")
    t.ask("fontget", "0 f", "GetObjectData", 43, 1, "k")
    t.ask("fonthave", "0 1", "HaveObject", 43, 1)
    t.write("attributes_layer.qxs")


def main():
    bgpics()
    brushes()
    anims()
    icons()
    memory()
    videos()
    samples()
    layers()


if __name__ == "__main__":
    main()
