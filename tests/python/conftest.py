import os
import subprocess

import numpy as np
import OpenImageIO as oiio
import pytest

VEXLAN_BIN = os.environ.get("VEXLAN_BIN", "build/bin/vexlan")


def read_exr(path):
    """(array, channel names) of an image file, float32 (height, width, channels)."""
    image = oiio.ImageInput.open(str(path))
    assert image, oiio.geterror()
    pixels = image.read_image("float")
    names = list(image.spec().channelnames)
    image.close()
    return pixels, names


@pytest.fixture(scope="session")
def demo(tmp_path_factory):
    """The demo folder: its passes and every step's output, written by vexlan.
    CTest makes it once for every test file (VEXLAN_DEMO_DIR)."""
    folder = os.environ.get("VEXLAN_DEMO_DIR")
    if not folder:
        folder = tmp_path_factory.mktemp("demo")
        subprocess.run([VEXLAN_BIN, "demo", "--out", str(folder)], check=True,
                       stdout=subprocess.DEVNULL)
    return folder


def vexlan_command(*args, wait=True):
    """Runs vexlan: its exit status, standard output and standard error, or
    the running process."""
    process = subprocess.Popen([VEXLAN_BIN, *args], stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, text=True)
    if not wait:
        return process
    out, err = process.communicate()
    return process.returncode, out, err


@pytest.fixture
def ramp():
    """A 24 x 16 RGBA image with every value different."""
    return np.arange(16 * 24 * 4, dtype=np.float32).reshape(16, 24, 4) / 100
