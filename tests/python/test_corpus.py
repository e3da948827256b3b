"""Every case of the fuzz corpus, through the package's public render."""
import os
import pathlib

import pytest

import vexlan

CORPUS = pathlib.Path(os.environ.get("VEXLAN_SOURCE_DIR", ".")) / "fuzz" / "corpus"
TOOLS = sorted(p.name for p in CORPUS.iterdir()) if CORPUS.is_dir() else []


def test_corpus_is_there():
    assert len(TOOLS) == 14


@pytest.mark.parametrize("tool", TOOLS)
def test_corpus_renders_or_is_refused(tool):
    refused = 0
    for case in sorted((CORPUS / tool).iterdir()):
        values, images, threads = vexlan._vexlan._corpus_case(tool, case.read_bytes())
        try:
            one = vexlan.render(tool, images, values, threads=1)
        except vexlan.UsageError as e:  # an option text that is not an option
            assert "has no option" in str(e), case.name
            refused += 1
            continue
        again = vexlan.render(tool, images, values, threads=threads)
        assert (one.image is None) == (again.image is None), case.name
        if one.image is not None:
            assert one.image.tobytes() == again.image.tobytes(), case.name
        assert repr(one.fields) == repr(again.fields), case.name
    assert refused < len(list((CORPUS / tool).iterdir()))
