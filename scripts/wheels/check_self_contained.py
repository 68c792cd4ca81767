"""Fails unless the installed dral loads no shared library beyond the C library's own.

Run by the interpreter of the environment the wheel went into. It imports dral, uses every
compressor, and then lists the shared objects that appeared in the process: each must be a file
of this environment or of its interpreter, or part of glibc, which every manylinux platform
provides. A wheel that leaned on the build machine's libstdc++, libzstd,
liblz4, libsnappy or libxxhash fails here even where those happen to be installed.
"""

import os
import re
import sys

GLIBC = re.compile(r"^(ld-linux[-\w.]*|lib(c|m|dl|pthread|rt|util|resolv)(-[\d.]+)?)\.so[.\d]*$")


def mapped_objects():
    with open("/proc/self/maps") as maps:
        paths = {line.split(None, 5)[5].strip() for line in maps if len(line.split(None, 5)) == 6}
    return {path for path in paths if path.startswith("/") and ".so" in os.path.basename(path)}


def main():
    before = mapped_objects()
    import dral

    for compression in ("zstd", "lz4", "snappy"):
        data = {"name": "x" * 200, "values": list(range(100))}
        assert dral.loads(dral.dumps(data, compression=compression)) == data, compression
    own = (os.path.realpath(sys.prefix), os.path.realpath(sys.base_prefix))
    foreign = sorted(
        path
        for path in mapped_objects() - before
        if not os.path.realpath(path).startswith(own) and not GLIBC.match(os.path.basename(path))
    )
    print(f"dral from {os.path.dirname(dral.__file__)}")
    if not os.path.realpath(dral.__file__).startswith(os.path.realpath(sys.prefix)):
        sys.exit("dral was not imported from the environment it was installed into")
    if foreign:
        sys.exit("dral loaded shared libraries from outside its wheel: " + ", ".join(foreign))


if __name__ == "__main__":
    main()
