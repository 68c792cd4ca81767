"""The build's configure step, where a library is missing: it names the package to install.

Runs CMake on the source tree with the search rooted in a scratch folder that holds the files
of some libraries and lacks one, and without pkg-config. Skipped where CMake is not on PATH (the
wheel tests' environments have none) or the source tree is not beside the tests.
"""

import pathlib
import shutil
import subprocess

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
CMAKE = shutil.which("cmake")
pytestmark = pytest.mark.skipif(
    CMAKE is None or not (ROOT / "cmake" / "dral_libraries.cmake").exists(), reason="needs cmake and the source tree"
)

# name, header, library file (None: headers only), Debian package
LIBRARIES = [
    ("xxhash", "xxhash.h", None, "libxxhash-dev"),
    ("zstd", "zstd.h", "libzstd.so", "libzstd-dev"),
    ("lz4", "lz4.h", "liblz4.so", "liblz4-dev"),
    ("snappy", "snappy-c.h", "libsnappy.so", "libsnappy-dev"),
]
CASES = [(name, "header") for name, *_ in LIBRARIES] + [(name, "library") for name, _, lib, _ in LIBRARIES if lib]


def configure(tmp_path, missing=None):
    """The configure step's output, in one line, with every library present but `missing`."""
    root = tmp_path / "root"
    (root / "usr" / "include").mkdir(parents=True)
    (root / "usr" / "lib").mkdir()
    for name, header, library, _ in LIBRARIES:
        if missing != (name, "header"):
            (root / "usr" / "include" / header).touch()
        if library and missing != (name, "library"):
            (root / "usr" / "lib" / library).touch()
    run = subprocess.run(
        [CMAKE, "-S", str(ROOT), "-B", str(tmp_path / "build"), "-DPKG_CONFIG_EXECUTABLE=/nonexistent",
         f"-DCMAKE_FIND_ROOT_PATH={root}", "-DCMAKE_FIND_ROOT_PATH_MODE_INCLUDE=ONLY",
         "-DCMAKE_FIND_ROOT_PATH_MODE_LIBRARY=ONLY"],
        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120,
    )
    return " ".join(run.stdout.split()), root


@pytest.mark.parametrize("name, part", CASES, ids=[f"{name}-{part}" for name, part in CASES])
def test_a_missing_library_names_its_package(tmp_path, name, part):
    output, _ = configure(tmp_path, missing=(name, part))
    _, header, library, package = next(entry for entry in LIBRARIES if entry[0] == name)
    shown = header if part == "header" else library.removesuffix(".so")
    assert f"{package} ({shown}) not found: " in output
    assert f"install it with apt-get install {package} " in output
    assert "Configuring incomplete, errors occurred" in output


def test_every_library_is_found_without_pkg_config(tmp_path):
    output, root = configure(tmp_path)
    assert "not found" not in output
    for name, header, library, _ in LIBRARIES:
        assert f"{name}: {root}/usr/include/{header}" in output
        if library:
            assert f"{root}/usr/lib/{library}" in output
