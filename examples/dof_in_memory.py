#!/usr/bin/env python3
"""Depth of field on a multi-layer EXR, in memory: FoCalc, ZRemapper, DirtyDOF.

    dof_in_memory.py shot.exr out.exr [--depth Z] [--focus 8] [--fstop 2.8]

Reads the beauty (R, G, B, A) and the depth channel of one EXR file, prints the
camera's depth of field, blurs the beauty by the depth and writes the result
with the distance out of focus beside it, as the layer oof (oof.Z).
"""
import argparse

import numpy as np
import OpenImageIO as oiio

import vexlan


def read(path):
    image = oiio.ImageInput.open(path)
    if not image:
        raise SystemExit(oiio.geterror())
    pixels, spec = image.read_image("float"), image.spec()
    image.close()
    return pixels, list(spec.channelnames)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("input")
    parser.add_argument("output")
    parser.add_argument("--depth", default="Z", help="the depth channel (Z, depth.Z, ...)")
    parser.add_argument("--focus", type=float, default=8.0, help="plane of focus, metres")
    parser.add_argument("--fstop", type=float, default=2.8)
    parser.add_argument("--focal-length", type=float, default=50.0, help="millimetres")
    args = parser.parse_args()

    pixels, names = read(args.input)
    beauty = pixels[..., [names.index(c) for c in "RGBA"]]
    depth = (pixels[..., names.index(args.depth)], [args.depth])
    camera = dict(PlaneOfFocus=args.focus, Fstop=args.fstop, FocalLength=args.focal_length)

    fields = vexlan.render("FoCalc", Input=beauty, **camera).fields
    print(f"sharp from {fields['DoFN']:.3f} m to {fields['DoFF']:.3f} m, "
          f"hyperfocal distance {fields['HyperFocal']:.3f} m")
    oof = vexlan.render("ZRemapper", Input=depth, SceneScale=1, **camera).image
    blurred = vexlan.Tool("DirtyDof", **camera)(Image=beauty, Zdepth=depth).image

    out = np.concatenate([blurred[..., :4], oof[..., :1]], axis=2)
    spec = oiio.ImageSpec(out.shape[1], out.shape[0], out.shape[2], "float")
    spec.channelnames = ("R", "G", "B", "A", "oof.Z")
    writer = oiio.ImageOutput.create(args.output)
    if not writer or not writer.open(args.output, spec) or not writer.write_image(out):
        raise SystemExit(oiio.geterror())
    writer.close()
    print("wrote", args.output)


if __name__ == "__main__":
    main()
