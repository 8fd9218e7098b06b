#!/usr/bin/env python3
"""Writes a batch input whose households are keyed by standard mesh codes:
the 3rd-order (or quarter) meshes of a square of 2nd-order meshes around one,
one household per mesh, with a CP932 header (the ninth field メッシュ, the
tenth a district name). For the README's map example and the map benchmark.

    tools/make_mesh_input.py OUT.csv [--around 533946] [--radius 2] [--quarter]

--radius 2 gives the 5 x 5 2nd-order meshes around --around (2,500 3rd-order
meshes); --quarter writes the 16 quarter meshes of each 3rd-order mesh
instead (--radius 12 --quarter: 1,000,000 lines)."""
import argparse
import random


def second_order(code, dy, dx):
    """The 2nd-order mesh dy rows north and dx columns east of `code`."""
    lat = int(code[0:2]) * 8 + int(code[4]) + dy
    lon = int(code[2:4]) * 8 + int(code[5]) + dx
    return f"{lat // 8:02d}{lon // 8:02d}{lat % 8}{lon % 8}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out")
    parser.add_argument("--around", default="533946")
    parser.add_argument("--radius", type=int, default=2)
    parser.add_argument("--quarter", action="store_true")
    args = parser.parse_args()
    rnd = random.Random(20261207)
    header = "家屋被害,家財被害,世帯年収,世帯金融資産残高,土地資産額,家庭用品額,家屋価格,消費額,メッシュ,地区"
    with open(args.out, "wb") as out:
        out.write((header + "\r\n").encode("cp932"))
        r = args.radius
        for dy in range(-r, r + 1):
            for dx in range(-r, r + 1):
                second = second_order(args.around, dy, dx)
                district = f"地区{dy + r + 1}-{dx + r + 1}".encode("cp932")
                for y in range(10):
                    for x in range(10):
                        third = f"{second}{y}{x}"
                        codes = [third + f"{h}{q}" for h in "1234" for q in "1234"] if args.quarter else [third]
                        # Damage grows towards the 2nd-order mesh in the middle.
                        near = 1.0 / (1.0 + abs(dy * 10 + y - 5) / 10 + abs(dx * 10 + x - 5) / 10)
                        for code in codes:
                            values = [rnd.uniform(2, 20) * near, rnd.uniform(1, 12) * near, rnd.uniform(2, 15),
                                      rnd.uniform(0, 25), rnd.uniform(3, 30), rnd.uniform(2, 22),
                                      rnd.uniform(5, 45), rnd.uniform(1, 9)]
                            line = ",".join(f"{v:.3f}" for v in values) + f",{code},"
                            out.write(line.encode("ascii") + district + b"\r\n")


if __name__ == "__main__":
    main()
