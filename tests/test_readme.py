"""The README's examples, run in order in one scratch folder that holds a copy of `examples/`.

Python blocks are doctests sharing one namespace; a block under `<!-- file: NAME -->` is written
to NAME instead, and one under `<!-- shows: PATH -->` must equal the repository's file PATH.
Console blocks are `$ command` lines, each followed by its expected output (standard output and
standard error as a terminal shows them); `dral` and `python3` there are the interpreter under
test. Of the `sh` blocks (instructions: install, test, benchmark) only the example in the first
command runs.
"""

import doctest
import os
import pathlib
import re
import shutil
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
README = (ROOT / "README.md").read_text(encoding="utf-8")
FENCE = re.compile(r"(?:<!-- (?P<role>file|shows): (?P<path>\S+) -->\n)?^```(?P<kind>\w*)\n(?P<body>.*?)^```$", re.M | re.S)
BLOCKS = [
    (m["kind"], m["role"] and (m["role"], m["path"]), m["body"], README.count("\n", 0, m.start("body")) + 1)
    for m in FENCE.finditer(README)
]
FIRST_COMMAND = "bash scripts/install.sh && "


@pytest.fixture(scope="module")
def scratch(tmp_path_factory):
    folder = tmp_path_factory.mktemp("readme")
    shutil.copytree(ROOT / "examples", folder / "examples")
    tools = folder / ".bin"
    tools.mkdir()
    (tools / "python3").symlink_to(sys.executable)
    (tools / "dral").write_text(f'#!/bin/sh\nexec "{sys.executable}" -m dral "$@"\n')
    (tools / "dral").chmod(0o755)
    env = {**os.environ, "PATH": f"{tools}{os.pathsep}{os.environ['PATH']}", "MYPY_FORCE_COLOR": "0"}
    return folder, env, {}


def shell(command: str, folder, env) -> subprocess.CompletedProcess:
    return subprocess.run(["bash", "-c", command], cwd=folder, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, timeout=300)


def test_the_readme_starts_with_the_two_commands():
    kind, _, body, line = BLOCKS[0]
    assert (kind, line) == ("sh", 4)
    install, test = body.splitlines()
    assert install.startswith(FIRST_COMMAND) and test == "bash scripts/test.sh"


@pytest.mark.parametrize("kind, marker, body, line", BLOCKS, ids=[f"line {block[3]}" for block in BLOCKS])
def test_example(scratch, monkeypatch, kind, marker, body, line):
    folder, env, names = scratch
    monkeypatch.chdir(folder)
    if marker:
        role, path = marker
        if role == "shows":
            assert body == (ROOT / path).read_text(encoding="utf-8")
        else:
            (folder / path).write_text(body, encoding="utf-8")
    elif kind == "python":
        test = doctest.DocTestParser().get_doctest(body, names, f"README.md:{line}", str(ROOT / "README.md"), line - 1)
        runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS)
        report: list[str] = []
        runner.run(test, out=report.append, clear_globs=False)
        names.update(test.globs)  # a doctest runs in a copy of the names it is given
        assert runner.failures == 0 and test.examples, "".join(report)
    elif kind == "console":
        commands = re.split(r"^\$ ", body, flags=re.M)[1:]
        for command in commands:
            command, _, expected = command.partition("\n")
            run = shell(command, folder, env)
            assert run.stdout == expected, command
    elif body.startswith(FIRST_COMMAND):
        run = shell(body.splitlines()[0][len(FIRST_COMMAND) :], folder, env)
        assert run.returncode == 0 and "values: 1" in run.stdout, run.stdout
    else:
        assert kind == "sh", f"a block of kind {kind!r} that nothing runs"
