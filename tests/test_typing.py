"""The shipped stub: mypy --strict accepts the typed program; the stub matches the module."""

import ast
import inspect
import os
import pathlib
import re
import subprocess
import sys

import pytest

import dral
import typed_usage

native = dral._dral_native
PACKAGE = pathlib.Path(dral.__file__).parent
STUB = ast.parse((PACKAGE / "_dral_native.pyi").read_text(encoding="utf-8"))
BASETYPE = 1 << 10  # Py_TPFLAGS_BASETYPE: the class may be subclassed
# Protocol methods a class defines itself; `__repr__` and the like every object has.
PROTOCOL = {"__init__", "__getitem__", "__contains__", "__len__", "__iter__", "__next__", "__call__", "__enter__",
            "__exit__"}


def decorators(node: ast.AST) -> set[str]:
    return {ast.unparse(d).rsplit(".", 1)[-1] for d in getattr(node, "decorator_list", [])}


def stub_parameters(node: ast.FunctionDef, *, method: bool) -> list[tuple[str, inspect._ParameterKind, object]]:
    """(name, kind, default) of each parameter, `self` left out; a missing default is `empty`."""
    a, p = node.args, inspect.Parameter
    kinds = [p.POSITIONAL_ONLY] * len(a.posonlyargs) + [p.POSITIONAL_OR_KEYWORD] * len(a.args)
    defaults = [None] * (len(kinds) - len(a.defaults)) + a.defaults
    found = list(zip(a.posonlyargs + a.args, kinds, defaults))
    found += [(a.vararg, p.VAR_POSITIONAL, None)]
    found += [(v, p.KEYWORD_ONLY, d) for v, d in zip(a.kwonlyargs, a.kw_defaults)]
    found += [(a.kwarg, p.VAR_KEYWORD, None)]
    found = [(v.arg, k, p.empty if d is None else ast.literal_eval(d)) for v, k, d in found if v]
    return found[1:] if method else found


def runtime_parameters(signature: inspect.Signature, *, method: bool) -> list[tuple[str, inspect._ParameterKind, object]]:
    found = [(p.name, p.kind, p.default) for p in signature.parameters.values()]
    return found[1:] if method else found


def check_function(name: str, stubs: list[ast.FunctionDef], runtime: object, *, method: bool) -> None:
    expected = runtime_parameters(inspect.signature(runtime), method=method)  # type: ignore[arg-type]
    # Overloads narrow types, not parameters: the last (general) one is exact, others omit defaults.
    assert stub_parameters(stubs[-1], method=method) == expected, name
    for overload in stubs[:-1]:
        for got, want in zip(stub_parameters(overload, method=method), expected, strict=True):
            assert got[:2] == want[:2] and got[2] in (inspect.Parameter.empty, want[2]), (name, got, want)


def grouped(body: list[ast.stmt]) -> dict[str, list[ast.AST]]:
    groups: dict[str, list[ast.AST]] = {}
    for node in body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            groups.setdefault(node.name, []).append(node)
        elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            groups.setdefault(node.target.id, []).append(node)
        elif isinstance(node, ast.Assign):
            groups.setdefault(node.targets[0].id, []).append(node)  # type: ignore[attr-defined]
    return groups


TOP = grouped(STUB.body)
EXPORTED = list(native.__all__)


def test_the_package_ships_the_stub_and_its_marker():  # the stub's __all__: test_module
    assert (PACKAGE / "py.typed").is_file() and TOP["__all__"]


@pytest.mark.parametrize("name", EXPORTED)
def test_each_exported_name_matches_the_module(name):
    (node, *overloads) = TOP[name]
    runtime = getattr(native, name)
    if isinstance(node, ast.FunctionDef):
        assert "overload" in decorators(node) or not overloads, name
        check_function(name, [node, *overloads], runtime, method=False)
    elif isinstance(node, ast.ClassDef):
        check_class(node, runtime)
    else:
        assert isinstance(node, ast.AnnAssign) and ast.unparse(node.annotation) == f"Final[{type(runtime).__name__}]"


def check_class(node: ast.ClassDef, runtime: type) -> None:
    assert [ast.unparse(base) for base in node.bases] == [
        base.__name__ for base in runtime.__bases__ if base is not object
    ], node.name
    assert ("final" in decorators(node)) == (not runtime.__flags__ & BASETYPE), node.name
    members = grouped(node.body)
    for member, (first, *more) in members.items():
        if isinstance(first, ast.FunctionDef) and "property" in decorators(first):
            assert inspect.isdatadescriptor(vars(runtime)[member]), (node.name, member)
        elif member == "__init__":
            assert stub_parameters(first, method=True) == runtime_parameters(inspect.signature(runtime), method=False)
        else:
            check_function(f"{node.name}.{member}", [first, *more], vars(runtime)[member], method=True)
    public = {n for n in vars(runtime) if not n.startswith("_") or n in PROTOCOL}
    if issubclass(runtime, BaseException):
        assert node.body and isinstance(node.body[0], ast.Expr) and not members, node.name
        return
    assert public == set(members) - {"__init__"}, node.name
    if "__init__" not in members:
        with pytest.raises(TypeError):
            runtime()


def test_names_only_for_type_checkers_are_marked_absent_at_run_time_and_offered_by_the_package():
    # The private functions that the command line calls are real, and stay out of `__all__`.
    private = {name for name in TOP if name.startswith("_") and isinstance(TOP[name][0], ast.FunctionDef)}
    assert private == {"_walk_blocks", "_cbf_parts"} and all(callable(getattr(native, n)) for n in private)
    extra = set(TOP) - set(EXPORTED) - {"__all__"} - private
    assert {"RfcValueDict", "RfcDocumentDict", "RfcHeaderDict", "Compression"} <= extra
    for name in extra:
        (node,) = TOP[name]
        is_alias = isinstance(node, ast.AnnAssign) and ast.unparse(node.annotation) == "TypeAlias"
        assert is_alias or "type_check_only" in decorators(node), name
        assert not hasattr(native, name) and not hasattr(dral, name), name
    package = ast.parse((PACKAGE / "__init__.py").read_text(encoding="utf-8"))
    offered = {alias.asname for node in ast.walk(package) if isinstance(node, ast.ImportFrom)
               for alias in node.names if alias.asname}
    assert offered == {name for name in extra if not name.startswith("_")}


def test_the_typed_program_runs_and_uses_every_name_and_member():
    typed_usage.main()
    source = pathlib.Path(typed_usage.__file__).read_text(encoding="utf-8")
    used = set(re.findall(r"\b\w+\b", source))
    for name in EXPORTED:
        (node, *_) = TOP[name]
        members = grouped(node.body) if isinstance(node, ast.ClassDef) else {}
        assert name in used and set(members) - {"__init__", "__getitem__", "__contains__", "__len__", "__iter__"} <= used, name


def test_mypy_strict_accepts_the_package_and_the_typed_program(tmp_path):
    env = {**os.environ, "MYPY_FORCE_COLOR": "0"}
    # The package is named as a module: a path in site-packages would make mypy take its neighbours
    # for the user's own. One outside site-packages is found through MYPYPATH.
    if PACKAGE.parent.name not in ("site-packages", "dist-packages"):
        env["MYPYPATH"] = str(PACKAGE.parent)
    version = f"{sys.version_info.major}.{sys.version_info.minor}"
    # mypy takes a package or files, not both.
    for target in (["-p", "dral"], [typed_usage.__file__]):
        command = [sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(tmp_path)]
        command += ["--python-version", version, *target]
        run = subprocess.run(command, capture_output=True, text=True, env=env)
        assert run.returncode == 0, run.stdout + run.stderr
        assert "Success: no issues found in" in run.stdout
