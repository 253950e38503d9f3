#!/usr/bin/python3
"""The move engine's walk, written from its description alone, against the
positions the player drove a layer through.

Each line of the walk file reads "x1 y1 x2 y2 fx speed:" followed by the
layer's position "x/y" after every drawn step, the last one included.
Only straight moves with a path are modelled (every effect except the
horizontal waves and curves)."""
import sys

BOUNCE, SMOOTHOUT, DAMPED = 1, 2, 3


def sign(v):
    return (v > 0) - (v < 0)


def build_path(x1, y1, x2, y2, fx, step):
    """The Bresenham path: one minor coordinate per major coordinate, from
    the end with the smaller major coordinate up, extended past the larger
    one for BOUNCE and DAMPED, shifted back by the minor steps counted at
    its far end. Returns (y is the major axis, path, reverse)."""
    y_major = abs(x2 - x1) < abs(y2 - y1)
    if y_major:
        a1, b1, a2, b2 = y1, x1, y2, x2
    else:
        a1, b1, a2, b2 = x1, y1, x2, y2
    reverse = a2 < a1
    if reverse:
        lo, lo_minor, hi, hi_minor = a2, b2, a1, b1
    else:
        lo, lo_minor, hi, hi_minor = a1, b1, a2, b2
    dmajor = hi - lo
    dminor = abs(hi_minor - lo_minor)
    sminor = sign(hi_minor - lo_minor)
    extend = {BOUNCE: 24 * step, DAMPED: 8 * step}.get(fx, 0)
    length = dmajor + 1 + extend
    end = lo + length - 1  # major coordinate of the last entry
    if fx == BOUNCE:
        m = -16 if reverse else -8
    elif fx == DAMPED:
        m = -8 if reverse else 0
    else:
        m = None
    path = []
    minor = lo_minor
    e = 2 * dminor - dmajor
    counted = 0
    for i in range(length):
        path.append(minor)
        if i == length - 1:
            break  # the walk is done: no step after the last entry
        if e >= 0:
            e += 2 * (dminor - dmajor)
            minor += sminor
            if m is not None and lo + i >= end + step * m:
                counted += 1
        else:
            e += 2 * dminor
    if counted:
        path = [p - counted * sminor for p in path]
    return y_major, path, reverse


def walk(x1, y1, x2, y2, fx, speed):
    if y1 == y2 and 4 <= fx <= 7:
        raise SystemExit("horizontal waves take no path: not modelled")
    step = speed
    unit = speed
    y_major, path, reverse = build_path(x1, y1, x2, y2, fx, step)
    length = len(path)
    if y_major:
        major, target, tminor = y1, y2, x2
    else:
        major, target, tminor = x1, x2, y2
    index = length - 1 if reverse else 0
    if fx == BOUNCE:
        index += -8 * step if reverse else 8 * step
    if reverse:
        step = -step
    d = -1 if reverse else 1  # mirrors every comparison and offset
    slow_dist = 6 * abs(step)
    slow_amount = max(1, (abs(step) + 5) // 10)
    phase = 0
    bounce_turns = [16, -8, 4, -2, 1, 0]
    out = []
    done = False
    while not done:
        major += step
        index = min(max(index + step, 0), length - 1)
        if fx == SMOOTHOUT and (major - (target - d * slow_dist)) * d > 0:
            mag = max(1, abs(step) - slow_amount)
            step = mag * sign(step)
        if phase == 0:
            if (major - target) * d >= 0:
                if fx == BOUNCE:
                    phase = 1
                elif fx == DAMPED:
                    mag = abs(step)
                    mag = max(1, mag - mag // 4)
                    step = mag * sign(step)
                    phase = 7
                else:
                    major = target
                    done = True
        elif 1 <= phase <= 6:
            turn = target + d * unit * bounce_turns[phase - 1]
            # Odd phases run away from the start's side, even ones back.
            going_out = phase % 2 == 1
            reached = (major - turn) * d >= 0 if going_out else (major - turn) * d <= 0
            if reached:
                major = turn
                if phase == 6:
                    done = True
                else:
                    step = -step
                    phase += 1
        elif phase == 7:
            turn = target + d * 8 * unit
            if (major - turn) * d >= 0:
                major = turn
                mag = max(1, -(-abs(step) // 2))
                step = -mag * sign(step)
                phase = 8
        elif phase == 8:
            if (major - target) * d <= 0:
                major = target
                done = True
        minor = tminor if done else path[index]
        out.append((minor, major) if y_major else (major, minor))
    return out


def main():
    if len(sys.argv) != 2:
        print("usage: move_walk.py WALKFILE", file=sys.stderr)
        return 2
    bad = 0
    lines = [l.strip() for l in open(sys.argv[1]) if l.strip()]
    if not lines:
        print("no walks recorded")
        return 1
    for line in lines:
        head, _, tail = line.partition(":")
        x1, y1, x2, y2, fx, speed = (int(v) for v in head.split())
        got = [tuple(int(v) for v in p.split("/")) for p in tail.split()]
        want = walk(x1, y1, x2, y2, fx, speed)
        if got != want:
            bad += 1
            print("walk %s differs" % head)
            print("  player: %s" % " ".join("%d/%d" % p for p in got))
            print("  model:  %s" % " ".join("%d/%d" % p for p in want))
    print("%d of %d walks as modelled" % (len(lines) - bad, len(lines)))
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
