"""Arrays in and out, settings, and errors with the command's texts."""
import numpy as np
import pytest

import vexlan
from conftest import vexlan_command


def test_tools_and_info_match_the_registry():
    tools = vexlan.tools()
    assert len(tools) == 14 and tools[0].id == "Quillmoor.FoCalc"
    dof = next(t for t in tools if t.class_name == "DirtyDof")
    assert (dof.id, dof.name, dof.category) == ("Quillmoor.DirtyDof", "DirtyDOF", "Vexlan\\Blur")
    inputs = {i.id: i for i in vexlan.info("dirtydof")}
    assert inputs["cSamples"][2:5] == ("number", 20.0, (3.0, 500.0))
    assert inputs["Zdepth"].kind == "image" and inputs["Zdepth"].required
    switch = {i.id: i for i in vexlan.info("StereoSwitch")}["Input"]
    assert switch.kind == "choice" and switch.default in switch.options
    assert [i.id for i in vexlan.info("FoCalc") if i.computed][0] == "FrameAspect"


def test_channels_are_placed_as_the_command_places_them(ramp):
    zdiv = vexlan.Tool("ZDevider", Zmax=2)
    plain = zdiv(Input=ramp)
    assert plain.channels == ["R", "G", "B", "A"]
    assert np.array_equal(plain.image[..., :3], ramp[..., :3] / np.float32(2))
    assert np.array_equal(plain.image[..., 3], ramp[..., 3])
    # Names in another order, strided views, half floats and 2-D arrays.
    reversed_names = zdiv(Input=(ramp[..., ::-1], ["A", "B", "G", "R"]))
    assert reversed_names.image.tobytes() == plain.image.tobytes()
    wide = np.zeros((16, 48, 6), np.float32)
    wide[:, ::2, 1:5] = ramp
    assert zdiv(Input=wide[:, ::2, 1:5]).image.tobytes() == plain.image.tobytes()
    half = ramp.astype(np.float16)
    assert zdiv(Input=half).image.tobytes() == zdiv(Input=half.astype(np.float32)).image.tobytes()
    depth = ramp[..., 0].copy()
    single = zdiv(Input=depth).image
    assert single.tobytes() == zdiv(Input=(depth[..., None], ["Z"])).image.tobytes()
    assert np.array_equal(single[..., 0], single[..., 2]) and (single[..., 3] == 1).all()
    # Channels no letter places are carried through, by name.
    extra = np.concatenate([ramp, ramp[..., :1] * 7], axis=2)
    carried = zdiv(Input=(extra, ["R", "G", "B", "A", "P.x"]))
    assert carried.channels == ["R", "G", "B", "A", "P.x"]
    assert carried.image[..., :4].tobytes() == plain.image.tobytes()
    # A result goes into the next tool as it is.
    assert zdiv(Input=carried).channels == carried.channels
    before = ramp.copy()
    zdiv(Input=ramp)
    assert ramp.tobytes() == before.tobytes()


def test_values_are_read_as_the_command_reads_them(ramp):
    results = [vexlan.render("ZDevider", Input=ramp, Zmax=z).image for z in (4, 4.0, "4", "+4e0")]
    assert all(r.tobytes() == results[0].tobytes() for r in results)
    assert not np.array_equal(results[0], vexlan.render("ZDevider", Input=ramp).image)
    left, right = ramp, ramp + 1
    pick = vexlan.Tool("StereoSwitch", Input="Right")
    assert pick(LeftImage=left, RightImage=right).image.tobytes() == right.tobytes()
    spaced = vexlan.render("UVunwrap", {"Image": ramp, "UV": ramp}, {"Interpolate pixel setting": 1})
    assert spaced.image.shape == ramp.shape


def test_errors_read_as_the_command_reads_them(ramp):
    cases = [
        (lambda: vexlan.Tool("ZDevidr"), ["ZDevidr"]),
        (lambda: vexlan.Tool("ZDevider", zmax=1), ["ZDevider", "--set", "zmax=1"]),
        (lambda: vexlan.Tool("ZDevider", Zmax="many"), ["ZDevider", "--set", "Zmax=many"]),
        (lambda: vexlan.Tool("StereoSwitch", Input="right"), ["StereoSwitch", "--set", "Input=right"]),
        (lambda: vexlan.Tool("ZDevider", Input=3), ["ZDevider", "--set", "Input=3"]),
        (lambda: vexlan.Tool("FoCalc", HyperFocal=3), ["FoCalc", "--set", "HyperFocal=3"]),
        (lambda: vexlan.Tool("ZDevider")(Zmax=ramp), ["ZDevider", "--input", "Zmax=x.exr"]),
    ]
    commands = [vexlan_command("render", *args, "--output", "/nonexistent/out.exr", wait=False)
                for _, args in cases]  # side by side: each takes a while to start
    for (call, args), command in zip(cases, commands):
        with pytest.raises(vexlan.UsageError) as raised:
            call()
        _, err = command.communicate()
        assert command.returncode == 2
        assert str(raised.value) == err.strip().removeprefix("vexlan: "), args
    with pytest.raises(vexlan.MissingImages, match="^DirtyDOF needs an image on Zdepth$"):
        vexlan.render("DirtyDof", Image=ramp)


@pytest.mark.parametrize("image, error, text", [
    (np.zeros((4, 4, 4)), TypeError, "float32 or float16 array, got float64"),
    ([[0.0]], TypeError, "expected a numpy array, got list"),
    (np.zeros((2, 4, 4, 4), np.float32), ValueError, "got shape \\(2, 4, 4, 4\\)"),
    (np.zeros((4, 4, 0), np.float32), ValueError, "expected 1 to 128 channels"),
    (np.broadcast_to(np.float32(0), (40000, 40000)), ValueError, "more than the limit of 1e9"),
    (np.zeros((4, 4), ">f4"), TypeError, "got >f4"),
    ((np.zeros((4, 4, 3), np.float32), ["R", "G"]), ValueError, "2 channel names for an array of 3"),
    ((np.zeros((4, 4, 2), np.float32), [1, 2]), TypeError, "channel names as a list of texts"),
])
def test_arrays_of_the_wrong_kind_are_refused(image, error, text):
    with pytest.raises(error, match=text):
        vexlan.render("ZDevider", Input=image)


def test_empty_and_odd_images_render(ramp):
    for shape in [(0, 5, 4), (5, 0), (1, 1, 1), (3, 2, 9)]:
        result = vexlan.render("DirtyDof", Image=np.ones(shape, np.float32), Zdepth=ramp)
        assert result.image is None or result.image.ndim == 3
    nothing = vexlan.render("StereoSwitch", LeftImage=ramp, values={"Input": "Right"})
    assert nothing.image is None and nothing.channels == []
