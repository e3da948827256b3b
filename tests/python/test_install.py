"""The package installed into a prefix of its own, and the example on the demo."""
import os
import subprocess
import sys

import numpy as np
import OpenImageIO as oiio

from conftest import read_exr

BUILD = os.environ.get("VEXLAN_BUILD_DIR", "build")
SOURCE = os.environ.get("VEXLAN_SOURCE_DIR", ".")


def test_installed_package_uses_its_own_module(tmp_path):
    subprocess.run(["cmake", "--install", BUILD, "--component", "python", "--prefix",
                    str(tmp_path)], check=True, stdout=subprocess.DEVNULL)
    site = tmp_path / "lib" / f"python{sys.version_info[0]}.{sys.version_info[1]}" / "site-packages"
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "VEXLAN_PLUGIN")}
    env["PYTHONPATH"] = str(site)
    script = ("import numpy, vexlan; print(vexlan.plugin_path()); print(vexlan.__file__); "
              "print(vexlan.render('ZDevider', Input=numpy.ones((2, 2), numpy.float32)).image.shape)")
    done = subprocess.run([sys.executable, "-c", script], env=env, cwd=tmp_path,
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    plugin, package, shape = done.stdout.splitlines()
    assert plugin.startswith(str(site)) and package.startswith(str(site))
    assert shape == "(2, 2, 4)"


def test_example_runs_on_the_demo(demo, tmp_path):
    beauty, _ = read_exr(os.path.join(demo, "beauty.exr"))
    depth, _ = read_exr(os.path.join(demo, "depth.exr"))
    shot = np.concatenate([beauty, depth], axis=2)
    spec = oiio.ImageSpec(shot.shape[1], shot.shape[0], 5, "float")
    spec.channelnames = ("R", "G", "B", "A", "depth.Z")
    writer = oiio.ImageOutput.create(str(tmp_path / "shot.exr"))
    assert writer.open(str(tmp_path / "shot.exr"), spec) and writer.write_image(shot)
    writer.close()
    done = subprocess.run([sys.executable, os.path.join(SOURCE, "examples", "dof_in_memory.py"),
                           str(tmp_path / "shot.exr"), str(tmp_path / "out.exr"),
                           "--depth", "depth.Z", "--fstop", "1"], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    # The demo's own DirtyDOF step renders the same camera with 60 samples; this
    # one has the default 20, so compare with the package directly.
    out, names = read_exr(tmp_path / "out.exr")
    assert names == ["R", "G", "B", "A", "oof.Z"]
    assert "sharp from" in done.stdout
    import vexlan
    expected = vexlan.render("DirtyDof", Image=beauty, Zdepth=(depth, ["depth.Z"]),
                             PlaneOfFocus=8, Fstop=1, FocalLength=50).image
    assert out[..., :4].tobytes() == expected.tobytes()
