#!/usr/bin/python3
"""Checks the positions a move went through (one line per move in the file
named by the argument: "x1 y1 x2 y2 fx speed: x/y x/y ...") against a model
of the move engine's walk: a Bresenham path, BOUNCE and DAMPED extended past
the far end and shifted back by the minor steps counted near its end, and
the path index stepping with the major coordinate from its own start."""
import sys

BOUNCE, DAMPED, SMOOTHOUT = 1, 3, 2


def walk(x1, y1, x2, y2, fx, step):
    dx, dy = x2 - x1, y2 - y1
    yaxis = abs(dx) < abs(dy)
    a0, b0, a1, b1 = (y1, x1, y2, x2) if yaxis else (x1, y1, x2, y2)
    reverse = a1 < a0
    (la, lb), (ha, hb) = sorted([(a0, b0), (a1, b1)], key=lambda p: p[0])
    u = step
    ext, mark = {BOUNCE: (24 * u, -16 if reverse else -8), DAMPED: (8 * u, -8 if reverse else 0)}.get(fx, (0, 0))
    dmaj, dmin, sgn = ha - la, abs(hb - lb), (-1 if hb < lb else 1)
    n = dmaj + ext + 1
    path, minor, err, count = [], lb, 2 * dmin - dmaj, 0
    for i in range(n):
        path.append(minor)
        if i == n - 1:
            break
        if err >= 0:
            minor += sgn
            err += 2 * (dmin - dmaj)
            if ext and la + i >= ha + ext + u * mark:
                count += 1
        else:
            err += 2 * dmin
    path = [p - sgn * count for p in path]
    index = n - 1 if reverse else 0
    if fx == BOUNCE:
        index += -8 * u if reverse else 8 * u
    index = max(0, min(n - 1, index))
    s = -step if reverse else step
    side = -1 if reverse else 1
    major, phase, out = a0, 0, []
    turns = [16, -8, 4, -2, 1, 0]
    while True:
        moved = s
        m = major + s
        index = max(0, min(n - 1, index + moved))
        done = False
        if phase == 0 and (m >= a1 if side > 0 else m <= a1):
            if fx == BOUNCE:
                phase = 1
            elif fx == DAMPED:
                s = (1 if s > 0 else -1) * max(1, abs(s) - abs(s) // 4)
                phase = 7
            else:
                m, done = a1, True
        if 1 <= phase <= 6:
            point = a1 + side * turns[phase - 1] * u
            towards = side if phase % 2 else -side
            if (m >= point if towards > 0 else m <= point):
                m = point
                if phase == 6:
                    done = True
                else:
                    s, phase = -s, phase + 1
        elif phase == 7:
            point = a1 + side * 8 * u
            if (m >= point if side > 0 else m <= point):
                m = point
                s = (-1 if s > 0 else 1) * max(1, (abs(s) + 1) // 2)
                phase = 8
        elif phase == 8 and (m <= a1 if side > 0 else m >= a1):
            m, done = a1, True
        major = m
        mn = b1 if done else path[index]
        out.append("%d/%d" % ((mn, major) if yaxis else (major, mn)))
        if done:
            return out


bad = 0
for line in open(sys.argv[1]):
    head, _, got = line.partition(":")
    if not head.strip():
        continue
    x1, y1, x2, y2, fx, speed = map(int, head.split())
    want = walk(x1, y1, x2, y2, fx, speed)
    if got.split() != want:
        bad += 1
        print("move %s\n  got  %s\n  want %s" % (head.strip(), " ".join(got.split()), " ".join(want)))
sys.exit(1 if bad else 0)
