"""Vexlan's fourteen image tools, run in memory on numpy arrays.

The package loads the same module as the ``vexlan`` command (``Vexlan.plugin``)
through the same host layer, once per process, and closes it at exit. The module
is the one named by the environment variable ``VEXLAN_PLUGIN``, else the one
installed beside the package, else the one of the build the package came from.

    import vexlan
    vexlan.tools()                      # every tool: registry ID, name, class, ...
    vexlan.info("DirtyDof")             # its inputs: ID, name, kind, default, ...
    r = vexlan.render("ZDevider", Input=depth, Zmax=12)
    r.image, r.channels, r.fields       # float32 (h, w, c), its channel names, computed values

    dof = vexlan.Tool("DirtyDof", Fstop=2.8, PlaneOfFocus=8)
    frame = dof(Image=beauty, Zdepth=depth)

An image is a float32 or float16 array of shape (height, width, channels) or
(height, width), any strides; it is read, never written. Give it alone (its
channels are R, G, B, A in that order, more are carried as C4, C5, ...; one
channel fills red, green and blue), as ``(array, channel_names)``, whose
channels are placed as the command places a file's (R, X or U fill red; G, Y
or V green; B or Z blue; A alpha; a single colour channel fills all three; a
missing alpha is 1; the rest is carried), or as an earlier ``Result``. The
result is red, green, blue, alpha and the carried channels.

Errors carry the command's texts: ``UsageError`` (a ``ValueError``) for an
unknown tool, input or option and a value of the wrong kind, ``MissingImages``
(a ``ValueError``) for a required image not given, ``TypeError`` and
``ValueError`` for arrays of the wrong type or shape, ``RenderError`` and
``RuntimeError`` for a render that failed.

``threads`` bounds the tools' row workers for the call (0 or None: one per
core). The limit is the host's, for the whole process: renders with the same
limit run at once on Python threads (the interpreter lock is released while a
tool renders), a render with another limit waits for those.
"""

import atexit
import collections
import functools
import os

from . import _vexlan
from ._vexlan import MissingImages, RenderError, UsageError

__all__ = ["tools", "info", "render", "Tool", "Result", "ToolInfo", "InputInfo",
           "UsageError", "MissingImages", "RenderError", "plugin_path"]

ToolInfo = collections.namedtuple(
    "ToolInfo", "id name class_name category description")
InputInfo = collections.namedtuple(
    "InputInfo", "id name kind default range options required computed")
InputInfo.__doc__ = """One input of a tool, in page order.

kind is "number", "choice", "image" or "label"; default the value a new
tool holds (a number, an option text, None for images); range the slider's
(low, high), either None where the tool sets none, or None; options the
option texts of a multi-choice input; required whether an image input must be
given; computed whether the tool writes the value itself (see Result.fields).
"""
Result = collections.namedtuple("Result", "image channels fields")
Result.__doc__ = """What a render made.

image is a float32 array (height, width, channels), or None where the tool
set no image; channels its channel names ("R", "G", "B", "A", then the
carried ones); fields the values the tool computed, {input ID: float}, in its
inputs' order.
"""


def _find_plugin():
    env = os.environ.get("VEXLAN_PLUGIN")
    if env:
        return env
    beside = os.path.join(os.path.dirname(os.path.abspath(__file__)), "plugins", "Vexlan.plugin")
    if os.path.exists(beside):
        return beside
    return _vexlan.BUILD_PLUGIN


_plugin = _vexlan._load(_find_plugin())
atexit.register(_vexlan._unload)


def plugin_path():
    """The path of the module the package loaded."""
    return _plugin


def tools():
    """Every registered tool, in registry order, as ToolInfo."""
    return [ToolInfo(*t) for t in _vexlan._tools()]


def info(tool):
    """The inputs of a tool (registry ID, name or class name), as InputInfo."""
    return [InputInfo(*i) for i in _vexlan._info(tool)[1]]


def _image_pair(value):
    if isinstance(value, Result):
        return value.image, value.channels
    if isinstance(value, tuple):
        if len(value) != 2:
            raise TypeError("an image is an array, (array, channel_names) or a Result")
        return value[0], None if value[1] is None else list(value[1])
    return value, None


def _merge(given, kwargs, what):
    merged = dict(given or {})
    for key, value in kwargs.items():
        if key in merged:
            raise UsageError(f"{key} is given twice, in {what} and as a keyword")
        merged[key] = value
    return merged


class Tool:
    """A tool with its settings made, for render after render.

    Tool("DirtyDof", values={...}, threads=None, **settings): the settings are
    checked here, once. Calling the tool renders: tool(images={...},
    threads=None, **images) returns a Result. Calls may come from several
    Python threads at once; each render uses a tool object of its own.
    """

    def __init__(self, tool, values=None, threads=None, **kwargs):
        self._plan = _vexlan._Plan(tool, _merge(values, kwargs, "values"))
        self.threads = threads

    @property
    def registry_id(self):
        return self._plan.registry_id

    def _images(self, images, kwargs):
        return {k: _image_pair(v) for k, v in _merge(images, kwargs, "images").items()}

    def __call__(self, images=None, threads=None, **kwargs):
        image, channels, fields = self._plan.render(
            self._images(images, kwargs), self.threads if threads is None else threads)
        return Result(image, channels, fields)

    def __repr__(self):
        return f"vexlan.Tool({self.registry_id!r})"


@functools.lru_cache(maxsize=None)
def _image_ids(tool):
    return frozenset(i.id for i in info(tool) if i.kind == "image")


def render(tool, images=None, values=None, threads=None, **kwargs):
    """Renders a tool once: images and values by input ID, or as keywords
    (each keyword goes where its ID belongs). Returns a Result."""
    image_ids = _image_ids(tool)
    image_kwargs = {k: v for k, v in kwargs.items() if k in image_ids}
    value_kwargs = {k: v for k, v in kwargs.items() if k not in image_ids}
    return Tool(tool, values, **value_kwargs)(images, threads, **image_kwargs)
