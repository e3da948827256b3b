"""The package renders every demo step bit for bit as `vexlan render` does."""
import os
import pathlib
import re

import numpy as np
import pytest

import vexlan
from conftest import read_exr, vexlan_command

SOURCE = os.environ.get("VEXLAN_SOURCE_DIR", ".")
STEPS = vexlan._vexlan._demo_steps()
# Where a file's channel goes back from the result, as the command writes it:
# by its letter, and a single colour channel from red.
SLOT = {"R": 0, "G": 1, "B": 2, "A": 3, "X": 0, "Y": 1, "Z": 2, "U": 0, "V": 1}


def assert_same_pixels(result, expected, names):
    assert result.image.dtype == np.float32
    assert result.image.shape[:2] == expected.shape[:2]
    colours = [n for n in names if n in SLOT and n != "A"]
    for c, name in enumerate(names):
        if name in result.channels:
            slot = result.channels.index(name)
        else:
            slot = 0 if len(colours) == 1 and name != "A" else SLOT[name]
        assert result.image[..., slot].tobytes() == expected[..., c].tobytes(), name


def guide_blocks():
    """Each guide page's Python call with the output of the command above it."""
    for page in sorted((pathlib.Path(SOURCE) / "docs" / "tools").glob("*.md")):
        blocks = r"```sh\n(.*?)```\n\n(?:```text\n(.*?)```\n\n)?```python\n(.*?)```"
        for command, prints, code in re.findall(blocks, page.read_text(), re.S):
            output = re.search(r"--output (\S+)", command).group(1)
            yield pytest.param(output, prints, code, id=page.stem)


@pytest.mark.parametrize("output, prints, code", guide_blocks())
def test_guide_call_equals_command(demo, output, prints, code):
    scope = {"vexlan": vexlan, "read": lambda path: read_exr(os.path.join(demo, path))}
    exec(code, scope)
    assert_same_pixels(scope["r"], *read_exr(os.path.join(demo, output)))
    printed = [line.split(" = ") for line in prints.splitlines()]
    assert [(k, float(v)) for k, v in printed] == list(scope["r"].fields.items())


def step_images(demo, inputs):
    return {text.split("=", 1)[0]: read_exr(os.path.join(demo, text.split("=", 1)[1]))
            for text in inputs}


@pytest.fixture(scope="module")
def printed(demo):
    """The fields each step prints, rendered by the package in the demo's order, up
    to the last step whose settings follow them."""
    fields = {}
    last = max(i for i, step in enumerate(STEPS) if step[4])
    for tool, output, inputs, sets, more in STEPS[:last]:
        values = dict(s.split("=", 1) for s in sets + (more(fields) if more else []))
        result = vexlan.render(tool, step_images(demo, inputs), values)
        if result.fields:
            fields[output] = result.fields
    return fields


def test_steps_cover_every_tool():
    assert {t.id for t in vexlan.tools()} <= {vexlan.Tool(s[0]).registry_id for s in STEPS}


@pytest.mark.parametrize("tool, output, inputs, sets, more", STEPS, ids=[s[1] for s in STEPS])
def test_step_equals_command(demo, printed, tool, output, inputs, sets, more):
    images = step_images(demo, inputs)
    sets = sets + (more(printed) if more else [])
    values = dict(s.split("=", 1) for s in sets)  # texts, read as the command reads them
    expected, names = read_exr(os.path.join(demo, output))

    results = [vexlan.render(tool, images, values, threads=n) for n in (1, 3)]
    for result in results:
        assert_same_pixels(result, expected, names)
    assert results[0].fields == results[1].fields

    if results[0].fields:  # the command prints them, %.17g
        status, out, err = vexlan_command(
            "render", tool, *[f"--input={i.split('=')[0]}={os.path.join(demo, i.split('=', 1)[1])}"
                              for i in inputs],
            *[f"--set={s}" for s in sets], "--output", os.path.join(demo, "fields_" + output))
        assert status == 0, err
        printed = [line.split(" = ") for line in out.splitlines()]
        assert [(k, float(v)) for k, v in printed] == list(results[0].fields.items())
