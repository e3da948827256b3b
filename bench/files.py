#!/usr/bin/env python3
"""File to file: vexlan against OpenImageIO's oiiotool doing the same operation on the same files.

Makes a render frame as renderers write them (2048 x 1556, 20 half channels, a 911 x 876 data
window inside the frame) and an 8-frame sequence of it, then times each case as a user runs it,
whole commands, wall clock and peak memory from /usr/bin/time, vexlan and oiiotool alternated,
medians of the repetitions. Prints one line per comparison:

    e2e CASE  ours_ms=X  base_ms=Y  ratio=X/Y  target=<=T  ok|MISS
    e2e CASE-memory  ours_MiB=X  base_MiB=Y  ratio=X/Y  target=<=T  ok|MISS

and writes them as JSON with --json. --vexlan names the program (another build, to compare
before and after on the same files); --quick makes the frame a quarter of each side.
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys

WIDTH, HEIGHT, DATA_W, DATA_H, DATA_X, DATA_Y = 2048, 1556, 911, 876, 413, 300
CHANNELS = ["R", "G", "B", "A", "Z", "left.R", "left.G", "left.B", "left.A", "right.R", "right.G",
            "right.B", "right.A", "N.X", "N.Y", "N.Z", "P.X", "P.Y", "P.Z", "id"]


def run(args):
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL)


def timed(args):
    """Wall ms and peak MiB of one run of the command."""
    out = subprocess.run(["/usr/bin/time", "-f", "%e %M"] + args, stdout=subprocess.DEVNULL,
                         stderr=subprocess.PIPE, text=True)
    if out.returncode != 0:
        print(f"failed ({out.returncode}): {' '.join(args)}\n{out.stderr}", file=sys.stderr)
        return None
    seconds, kib = out.stderr.strip().splitlines()[-1].split()
    return float(seconds) * 1000.0, int(kib) / 1024.0


def make_files(folder, scale, frames):
    w, h = int(WIDTH * scale), int(HEIGHT * scale)
    dw, dh, dx, dy = (int(v * scale) for v in (DATA_W, DATA_H, DATA_X, DATA_Y))
    frame = os.path.join(folder, "frame.exr")
    # Smooth, varied values in every channel, half, the data window inside
    # the frame, the image library's default compression.
    run(["oiiotool", "--pattern", "fill:topleft=0.1,0.2,0.3,1:topright=0.9,0.5,0.1,1:"
         "bottomleft=0.2,0.8,0.4,1:bottomright=0.5,0.1,0.9,1", f"{dw}x{dh}", "4",
         "--pattern", "noise:type=uniform:min=1:max=9", f"{dw}x{dh}", "16", "--chappend",
         "--chnames", ",".join(CHANNELS), "-d", "half", "--origin", f"+{dx}+{dy}",
         "--fullsize", f"{w}x{h}+0+0", "-o", frame])
    for f in range(1, frames + 1):
        shutil.copy(frame, os.path.join(folder, f"seq.{f:04d}.exr"))
    # The UV pass and a texture of the frame's size, whole, half.
    run(["oiiotool", "--pattern", "fill:topleft=0,0,0:topright=1,0,0:bottomleft=0,1,0:"
         "bottomright=1,1,0", f"{w}x{h}", "3", "-d", "half", "-o", os.path.join(folder, "uv.exr")])
    run(["oiiotool", "--pattern", "checker:width=64:height=64", f"{w}x{h}", "4", "-d", "half",
         "-o", os.path.join(folder, "texture.exr")])
    run(["oiiotool", "--pattern", "constant:color=0.5,0.5,0.5,1", f"{w}x{h}", "4", "-d", "half",
         "-o", os.path.join(folder, "beauty.exr")])
    run(["oiiotool", "--pattern", "constant:color=0.0123,0.0123,0.0123,1", "9x9", "4", "-d",
         "float", "-o", os.path.join(folder, "kernel.exr")])
    run(["oiiotool", "--pattern", "constant:color=1,2,3,1", "1x1", "4", "-d", "half", "-o",
         os.path.join(folder, "tiny.exr")])


def cases(folder, vexlan, threads):
    f = lambda name: os.path.join(folder, name)
    o = lambda name: os.path.join(folder, "out", name)
    divide = "2,2,2" + ",1" * (len(CHANNELS) - 3)  # red, green and blue; the rest carried
    same = (["--format", "float", "--compression", "zip"], ["-d", "float", "--compression", "zip"])
    v = [vexlan, "render"]
    t = ["--threads", str(threads)] if threads else []
    ot = ["--threads", str(threads)] if threads else []
    return [
        # (case, vexlan command, oiiotool command, time target, memory target)
        ("ZDevider-1frame-natural", v + ["ZDevider", "--input", "Input=" + f("frame.exr"), "--set",
                                         "Zmax=2", "--output", o("v.exr")] + t,
         ["oiiotool"] + ot + [f("frame.exr"), "--divc", divide, "-o", o("o.exr")], 1.0, 1.2),
        ("ZDevider-1frame-float-zip", v + ["ZDevider", "--input", "Input=" + f("frame.exr"),
                                           "--set", "Zmax=2", "--output", o("v.exr")] + same[0] + t,
         ["oiiotool"] + ot + [f("frame.exr"), "--divc", divide] + same[1] + ["-o", o("o.exr")],
         1.0, 1.2),
        ("ZDevider-8frames", v + ["ZDevider", "--input", "Input=" + f("seq.####.exr"), "--set",
                                  "Zmax=2", "--frames", "1-8", "--output", o("v.####.exr")] + t,
         ["oiiotool"] + ot + ["--frames", "1-8", f("seq.#.exr"), "--divc", divide, "-o",
                              o("o.#.exr")], 1.0, None),
        ("UVpositioner-vs-st_warp", v + ["UVpositioner", "--input", "Image=" + f("texture.exr"),
                                         "--input", "UV=" + f("uv.exr"), "--output",
                                         o("v.exr")] + t,
         ["oiiotool"] + ot + [f("texture.exr"), f("uv.exr"), "--st_warp:filter=box", "-o",
                              o("o.exr")], 1.0, 1.2),
        ("StereoSwitch-left-vs-ch", v + ["StereoSwitch", "--input",
                                         "LeftImage=" + f("frame.exr") + ":left", "--output",
                                         o("v.exr")] + t,
         ["oiiotool"] + ot + [f("frame.exr"), "--ch", "R=left.R,G=left.G,B=left.B,A=left.A",
                              "-o", o("o.exr")], 1.0, 1.2),
        ("Convolution-9x9-vs-convolve", v + ["Convolution", "--input", "Image=" + f("beauty.exr"),
                                             "--input", "Kernel=" + f("kernel.exr"), "--set",
                                             "Sampling=0", "--output", o("v.exr")] + t,
         ["oiiotool"] + ot + [f("beauty.exr"), f("kernel.exr"), "--convolve", "-o", o("o.exr")],
         1.0, 1.2),
        ("Startup-1x1", v + ["ZDevider", "--input", "Input=" + f("tiny.exr"), "--output",
                             o("v.exr")] + t,
         ["oiiotool"] + ot + [f("tiny.exr"), "--divc", "2,2,2,1", "-o", o("o.exr")], 1.0, 1.2),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--vexlan", default="build-bench/bin/vexlan")
    parser.add_argument("--folder", default="build-bench/files")
    parser.add_argument("--repetitions", type=int, default=3)
    parser.add_argument("--threads", type=int, default=0, help="both programs' threads; 0: theirs")
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--json")
    a = parser.parse_args()
    shutil.rmtree(a.folder, ignore_errors=True)
    os.makedirs(os.path.join(a.folder, "out"))
    make_files(a.folder, 0.25 if a.quick else 1.0, 8)
    rows = []
    for name, ours, base, time_target, memory_target in cases(a.folder, a.vexlan, a.threads):
        runs = {"ours": [], "base": []}
        for _ in range(a.repetitions):  # alternated, so a noisy spell hits both
            runs["ours"].append(timed(ours))
            runs["base"].append(timed(base))
        if None in runs["ours"] + runs["base"]:
            rows.append({"case": name, "failed": True})
            continue
        med = {k: (statistics.median(x[0] for x in v), statistics.median(x[1] for x in v))
               for k, v in runs.items()}
        rows.append({"case": name, "ours_ms": med["ours"][0], "base_ms": med["base"][0],
                     "ours_mib": med["ours"][1], "base_mib": med["base"][1],
                     "time_target": time_target, "memory_target": memory_target})
    lines = []
    for r in rows:
        if r.get("failed"):
            lines.append(f"e2e {r['case']}  failed (the message is above)  MISS")
            continue
        ratio = r["ours_ms"] / r["base_ms"]
        lines.append(f"e2e {r['case']}  ours_ms={r['ours_ms']:.0f}  base_ms={r['base_ms']:.0f}  "
                     f"ratio={ratio:.3f}  target=<={r['time_target']:g}  "
                     f"{'ok' if ratio <= r['time_target'] else 'MISS'}")
        mem = r["ours_mib"] / r["base_mib"]
        target = r["memory_target"]
        lines.append(f"e2e {r['case']}-memory  ours_MiB={r['ours_mib']:.0f}  "
                     f"base_MiB={r['base_mib']:.0f}  ratio={mem:.3f}  "
                     + (f"target=<={target:g}  {'ok' if mem <= target else 'MISS'}"
                        if target else "(sequence: held to the memory budget)"))
    for line in lines:
        print(line)
    if a.json:
        with open(a.json, "w") as out:
            json.dump({"rows": rows, "lines": lines, "threads": a.threads}, out, indent=1)


if __name__ == "__main__":
    main()
