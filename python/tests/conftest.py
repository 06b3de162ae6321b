"""Shared helpers: the built Dornick program, the repository's photos, label maps."""

import os
import pathlib
import subprocess

import numpy as np
import pytest

SOURCE_DIR = pathlib.Path(os.environ.get("VESKAR_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
DATA_DIR = SOURCE_DIR / "tests" / "data"
# Real photos (see tests/data/golden/README.md), PPM and PNG.
PHOTOS = sorted((DATA_DIR / "golden").glob("*.ppm")) + [DATA_DIR / "rocket_96x64.png"]


@pytest.fixture(scope="session")
def dornick():
    path = os.environ.get("DORNICK")
    if not path or not os.access(path, os.X_OK):
        pytest.fail("DORNICK must name the built Dornick program (ctest sets it)")
    return path


def run_dornick(dornick, *arguments):
    """Runs the program; returns its completed process."""
    return subprocess.run([dornick, *map(str, arguments)], capture_output=True, text=True)


def dornick_map(dornick, mode, image, out, value=None):
    """The bytes of the label map the program writes for this image."""
    arguments = [mode, image, out] + ([] if value is None else [value])
    done = run_dornick(dornick, *arguments)
    assert done.returncode == 0, done.stdout + done.stderr
    return pathlib.Path(out).read_bytes()


def parse_label_map(data):
    """Labels of a label map: 'P5', comment line, size, maximum, samples (16-bit low byte first)."""
    lines = data.split(b"\n", 4)
    assert lines[0] == b"P5" and lines[1].startswith(b"#")
    width, height = map(int, lines[2].split())
    wide = int(lines[3]) == 65535
    samples = np.frombuffer(lines[4], dtype="<u2" if wide else np.uint8)
    assert samples.size == width * height
    return samples.reshape(height, width).astype(np.int32)


def pytest_configure(config):
    # Dask's event loop set-up warns through tornado on every cluster start.
    config.addinivalue_line("filterwarnings", "ignore:make_current is deprecated:DeprecationWarning")
