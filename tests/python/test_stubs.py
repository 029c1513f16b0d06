"""The type stubs (difrax-stubs) against the module they describe: the same
names, signatures and properties, shipped beside the module, and usable by
mypy in strict mode."""

import ast
import importlib.metadata
import inspect
import subprocess
import sys
import types
from pathlib import Path

import pytest

import difrax

STUBS = Path(__file__).resolve().parents[2] / "difrax-stubs"
TREE = ast.parse((STUBS / "__init__.pyi").read_text(encoding="utf-8"))


def stub_definitions(body):
    """The names a stub body defines: functions, classes and annotated names."""
    found = {}
    for node in body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            found[node.name] = node
        elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            found[node.target.id] = node
    return found


TOP = stub_definitions(TREE.body)
PATTERN = TOP["Pattern"]
PATTERN_BODY = stub_definitions(PATTERN.body)


def stub_all():
    for node in TREE.body:
        if isinstance(node, ast.Assign) and any(getattr(t, "id", None) == "__all__" for t in node.targets):
            return ast.literal_eval(node.value)
    return None


def decorator_names(node):
    return {ast.unparse(d) for d in node.decorator_list}


def stub_parameters(function, skip_first=False):
    """(name, kind, default) of each parameter of a stub function."""
    args = function.args
    positional = args.posonlyargs + args.args
    defaults = [inspect.Parameter.empty] * (len(positional) - len(args.defaults))
    defaults += [ast.literal_eval(d) for d in args.defaults]
    P = inspect.Parameter
    params = [
        (a.arg, P.POSITIONAL_ONLY if i < len(args.posonlyargs) else P.POSITIONAL_OR_KEYWORD, d)
        for i, (a, d) in enumerate(zip(positional, defaults))
    ]
    if args.vararg:
        params.append((args.vararg.arg, P.VAR_POSITIONAL, P.empty))
    for a, d in zip(args.kwonlyargs, args.kw_defaults):
        params.append((a.arg, P.KEYWORD_ONLY, P.empty if d is None else ast.literal_eval(d)))
    if args.kwarg:
        params.append((args.kwarg.arg, P.VAR_KEYWORD, P.empty))
    return params[1:] if skip_first else params


def runtime_parameters(obj):
    return [(p.name, p.kind, p.default) for p in inspect.signature(obj).parameters.values()]


def test_all_and_public_names_match():
    assert stub_all() == difrax.__all__
    public = {name for name in vars(difrax) if not name.startswith("_")} | {"__version__"}
    assert set(TOP) == set(difrax.__all__) == public
    assert isinstance(difrax.__version__, str)
    assert ast.unparse(TOP["__version__"].annotation) == "str"


@pytest.mark.parametrize("name", ["read", "read_bytes"])
def test_function_signatures_match(name):
    assert isinstance(TOP[name], ast.FunctionDef)
    assert stub_parameters(TOP[name]) == runtime_parameters(getattr(difrax, name))


def test_pattern_constructor_matches():
    # The runtime class is built by __new__ and keeps object's __init__.
    assert "__new__" in vars(difrax.Pattern) and difrax.Pattern.__init__ is object.__init__
    assert "__init__" not in PATTERN_BODY
    assert stub_parameters(PATTERN_BODY["__new__"], skip_first=True) == runtime_parameters(difrax.Pattern)


def test_pattern_properties_match_and_are_read_only():
    runtime = {name for name, value in vars(difrax.Pattern).items() if isinstance(value, types.GetSetDescriptorType)}
    properties = {name for name, node in PATTERN_BODY.items() if "property" in decorator_names(node)}
    assert properties == runtime == {"x", "y"}
    setters = [node for node in PATTERN.body if isinstance(node, ast.FunctionDef) and decorator_names(node) - {"property"}]
    assert setters == []
    public_methods = {name for name in PATTERN_BODY if not name.startswith("_")}
    assert public_methods == properties


def test_pattern_finality_matches():
    # The class cannot be subclassed at run time; the stub says so with @final.
    with pytest.raises(TypeError):
        type("Sub", (difrax.Pattern,), {})
    assert "final" in decorator_names(PATTERN)


def test_stub_package_is_typed():
    assert (STUBS / "py.typed").is_file()


# --- the installed stub package --------------------------------------------------


def installed_files():
    try:
        return {str(f) for f in importlib.metadata.files("difrax") or ()}
    except importlib.metadata.PackageNotFoundError:
        return None


INSTALLED = installed_files()
needs_install = pytest.mark.skipif(INSTALLED is None, reason="difrax is not installed as a distribution")


@needs_install
def test_stub_package_is_installed_beside_the_module():
    assert {"difrax-stubs/__init__.pyi", "difrax-stubs/py.typed"} <= INSTALLED
    installed = Path(difrax.__file__).parent / "difrax-stubs"
    assert (installed / "__init__.pyi").read_bytes() == (STUBS / "__init__.pyi").read_bytes()


EXAMPLE = '''\
import difrax

pattern: difrax.Pattern = difrax.read("scan.xrdml", index=1)
xs: list[float] = pattern.x
ys: list[float] = pattern.y
with open("run.ras", "rb") as f:
    second = difrax.read_bytes(f.read(), "run.ras", index=1, block=None)
made = difrax.Pattern([10, 10.5], (153.0, 160))
version: str = difrax.__version__
names: list[str] = difrax.__all__

# Each misuse below must be reported with exactly this error code: strict
# mode includes --warn-unused-ignores, so an ignore that is not needed fails.
difrax.read(b"scan.xy")  # type: ignore[arg-type]
difrax.read("scan.xy", 1)  # type: ignore[call-arg]
difrax.read("scan.xy", indx=1)  # type: ignore[call-arg]
difrax.read_bytes(bytearray(b"1 2"), "a.xy")  # type: ignore[arg-type]
difrax.Pattern("12", "34")  # type: ignore[arg-type]
pattern.x = []  # type: ignore[misc]
first: str = pattern.y[0]  # type: ignore[assignment]
'''


def run_mypy(args, cwd):
    return subprocess.run([sys.executable, "-m", *args], cwd=cwd, capture_output=True, text=True)


@needs_install
def test_mypy_strict_accepts_the_example(tmp_path):
    pytest.importorskip("mypy")
    (tmp_path / "example.py").write_text(EXAMPLE, encoding="utf-8")
    result = run_mypy(["mypy", "--strict", "--cache-dir", str(tmp_path / "cache"), "example.py"], tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


@needs_install
def test_stubtest_finds_no_difference(tmp_path):
    pytest.importorskip("mypy")
    result = run_mypy(["mypy.stubtest", "difrax"], tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr
