#!/usr/bin/env python3
"""What the Python package adds to a render: vexlan's call on a 1920 x 1080
four-channel float32 array (the array into the host's layout, the render, the
result back into an array) against the same tool's render alone on host images
made once, measured in the same run, alternating, median of the repeats.

    PYTHONPATH=build/python /usr/bin/python3 bench/python.py [--quick] [--threads N]

One line per tool, as scripts/bench prints its comparisons:
    python TOOL  ours_ms=X  base_ms=Y  ratio=X/Y  target=<=1.3  ok|MISS
"""
import argparse
import statistics
import time

import numpy as np

import vexlan

TARGET = 1.3
CASES = [  # (tool, settings, image inputs, repeats)
    ("ZDevider", {"Zmax": 40}, ["Input"], 30),
    ("Falloff", {}, ["Normals"], 30),
    ("DirtyDof", {"Fstop": 1, "PlaneOfFocus": 8}, ["Image", "Zdepth"], 5),
]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quick", action="store_true", help="a 480 x 270 image, fewer repeats")
    parser.add_argument("--threads", type=int, default=0, help="worker threads; 0: one per core")
    args = parser.parse_args()
    width, height = (480, 270) if args.quick else (1920, 1080)
    rng = np.random.default_rng(1)
    image = rng.random((height, width, 4), np.float32) * 20
    print(f"Python package, {width} x {height} x 4 float32 arrays, threads "
          f"{args.threads or 'one per core'}: the call against the render alone")
    for tool, settings, inputs, repeats in CASES:
        t = vexlan.Tool(tool, threads=args.threads, **settings)
        images = {i: image for i in inputs}
        prepared = t._plan._prepare({i: (image, None) for i in inputs})
        call, alone = [], []
        for _ in range(max(2, repeats // (4 if args.quick else 1))):
            start = time.perf_counter()
            t(images)
            call.append(time.perf_counter() - start)
            start = time.perf_counter()
            t._plan._render_prepared(prepared, args.threads)
            alone.append(time.perf_counter() - start)
        c, a = statistics.median(call), statistics.median(alone)
        print(f"python {tool}  ours_ms={c * 1e3:.3f}  base_ms={a * 1e3:.3f}  ratio={c / a:.3f}"
              f"  target=<={TARGET}  {'ok' if c / a <= TARGET else 'MISS'}")


if __name__ == "__main__":
    main()
