"""Renders on Python threads at once, memory over many renders, and exit."""
import subprocess
import sys
import threading

import numpy as np

import vexlan


def frames(count):
    rng = np.random.default_rng(7)
    return [(rng.random((48, 64, 4), np.float32), rng.random((48, 64), np.float32) * 20)
            for _ in range(count)]


def test_threads_render_frames_at_once_as_one_at_a_time():
    dof = vexlan.Tool("DirtyDof", Fstop=1, PlaneOfFocus=8)
    shots = frames(8)
    alone = [dof(Image=image, Zdepth=z, threads=1).image for image, z in shots]
    together = [None] * len(shots)

    def render(i):  # thread limits 1, 2 and 0 (one per core) in flight at once
        image, z = shots[i]
        together[i] = dof(Image=image, Zdepth=z, threads=i % 3).image

    workers = [threading.Thread(target=render, args=(i,)) for i in range(len(shots))]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    for a, b in zip(alone, together):
        assert a.tobytes() == b.tobytes()
    assert len({a.tobytes() for a in alone}) == len(shots)


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * 4096


def test_a_thousand_renders_hold_no_memory():
    image, z = frames(1)[0]
    for _ in range(50):
        vexlan.render("DirtyDof", Image=image, Zdepth=z)
    before = resident_bytes()
    zdiv = vexlan.Tool("ZDevider", Zmax=20)
    for i in range(1000):
        zdiv(Input=z)
        vexlan.render("FoCalc", Input=image)
    # A frame is 48 KiB in and out: a leak of one image a render is 100 MB.
    assert resident_bytes() - before < 16 << 20


def test_exit_with_tools_alive_and_a_render_in_flight():
    script = """
import threading, numpy as np, vexlan
tool = vexlan.Tool("SSAO")
image = np.ones((400, 400, 4), np.float32)
threading.Thread(target=lambda: tool(Normals=image, Position=image), daemon=True).start()
"""
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    # Exit handlers run last registered first: this one after the module is closed.
    late = "import atexit\natexit.register(lambda: vexlan.Tool('ZDevider'))\nimport vexlan"
    after = subprocess.run([sys.executable, "-c", late], capture_output=True, text=True)
    assert after.returncode == 0 and "module was unloaded at interpreter exit" in after.stderr
