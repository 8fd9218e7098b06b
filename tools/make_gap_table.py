#!/usr/bin/env python3
"""Writes the example gap-distribution table shipped with Velmora.

A study brings its own EGapDis.txt; this one only lets the program run out of
the box. value(x) = E[max(0, x + e)] for e standard normal, which is
x * Phi(x) + phi(x), for x = -20.0 to 100.0 in steps of 0.1, written with
seven significant digits, CR LF line ends, under a heading line.

For x < 0 the two terms cancel; there the value is phi(t) * a / (t + a) with
t = -x and a = 1 / (t + 2 / (t + 3 / (t + ...))), the continued fraction of
the Mills ratio, which has no cancellation.
"""
import math
import sys


def phi(x):
    return math.exp(-0.5 * x * x) / math.sqrt(2.0 * math.pi)


def expected_excess(x):
    if x >= -2.0:
        big_phi = 0.5 * math.erfc(-x / math.sqrt(2.0))
        return x * big_phi + phi(x)
    t = -x
    a = 0.0
    for k in range(200, 1, -1):  # a = 1 / (t + 2 / (t + 3 / (t + ...)))
        a = k / (t + a)
    a = 1.0 / (t + a)
    return phi(t) * a / (t + a)


def main(path):
    lines = ["gap,value (example table: E[max(0, gap + e)], e ~ N(0,1); replace with the study's own)"]
    for key in range(-200, 1001):
        x = key / 10.0
        lines.append("%.1f,%s" % (x, ("%.7G" % expected_excess(x))))
    with open(path, "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("ascii"))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "data/EGapDis.txt")
