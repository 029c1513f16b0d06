"""The module surface: contents, signatures, argument rules, errors, Pattern."""

import inspect
import pathlib

import pytest

import difrax

XY = b"10 1\n11 2\n"


def test_contents_in_order():
    assert difrax.__all__ == ["Pattern", "__version__", "read", "read_bytes"]
    assert difrax.__version__ == "1.0.0"
    assert difrax.__doc__ == ""
    assert [name for name in vars(difrax) if name in difrax.__all__] == difrax.__all__


@pytest.mark.parametrize(
    "obj, signature, doc",
    [
        (difrax.read, "(path, *, index=0, block=None)",
         "Load one XRD pattern as x (2theta degrees) and y (intensity)."),
        (difrax.read_bytes, "(data, filename, *, index=0, block=None)",
         "Load bytes using content detection and a filename hint."),
        (difrax.Pattern, "(x, y)",
         "One diffraction pattern. Extra file columns are deliberately not returned."),
    ],
)
def test_signatures_and_docstrings(obj, signature, doc):
    assert obj.__text_signature__ == signature
    assert obj.__doc__ == doc
    assert str(inspect.signature(obj)) == signature
    assert obj.__module__ == "difrax"
    assert getattr(obj, "__self__", difrax) is difrax


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: difrax.read("a.xy", 1), "read() takes 1 positional argument but 2 were given"),
        (lambda: difrax.read(), "read() missing 1 required positional argument: 'path'"),
        (lambda: difrax.read("a.xy", foo=1), "read() got an unexpected keyword argument 'foo'"),
        (lambda: difrax.read("a.xy", path="b.xy"), "read() got multiple values for argument 'path'"),
        (lambda: difrax.read_bytes(),
         "read_bytes() missing 2 required positional arguments: 'data' and 'filename'"),
        (lambda: difrax.read_bytes(XY), "read_bytes() missing 1 required positional argument: 'filename'"),
        (lambda: difrax.read_bytes(XY, "a", 0), "read_bytes() takes 2 positional arguments but 3 were given"),
        (lambda: difrax.Pattern([1.0]), "Pattern() missing 1 required positional argument: 'y'"),
        (lambda: difrax.Pattern([1.0], [1.0], z=1), "Pattern() got an unexpected keyword argument 'z'"),
    ],
)
def test_binding_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message
    assert not hasattr(info.value, "__notes__")


@pytest.mark.parametrize(
    "call, exc_type, message, name",
    [
        (lambda: difrax.read(b"a.xy"), TypeError, "'bytes' object is not an instance of 'str'", "path"),
        (lambda: difrax.read(pathlib.Path("a.xy")), TypeError,
         f"'{type(pathlib.Path()).__qualname__}' object is not an instance of 'str'", "path"),
        (lambda: difrax.read(None), TypeError, "'None' is not an instance of 'str'", "path"),
        (lambda: difrax.read("a\udc80.xy"), UnicodeEncodeError, None, "path"),
        (lambda: difrax.read_bytes(bytearray(XY), "a.xy"), TypeError,
         "'bytearray' object is not an instance of 'bytes'", "data"),
        (lambda: difrax.read_bytes(memoryview(XY), "a.xy"), TypeError,
         "'memoryview' object is not an instance of 'bytes'", "data"),
        (lambda: difrax.read_bytes(XY, 3), TypeError, "'int' object is not an instance of 'str'", "filename"),
        (lambda: difrax.read_bytes(XY, "a.xy", index=-1), OverflowError, None, "index"),
        (lambda: difrax.read_bytes(XY, "a.xy", index=2**64), OverflowError, None, "index"),
        (lambda: difrax.read_bytes(XY, "a.xy", index=1.0), TypeError, None, "index"),
        (lambda: difrax.read_bytes(XY, "a.xy", block=b"x"), TypeError,
         "'bytes' object is not an instance of 'str'", "block"),
        (lambda: difrax.read("a.xy", block="\ud800"), UnicodeEncodeError, None, "block"),
        (lambda: difrax.Pattern("ab", [1.0]), TypeError, "Can't extract `str` to `Vec`", "x"),
        (lambda: difrax.Pattern([1.0], 5), TypeError, "'int' object is not an instance of 'Sequence'", "y"),
        (lambda: difrax.Pattern([1.0], None), TypeError, "'None' is not an instance of 'Sequence'", "y"),
        (lambda: difrax.Pattern([1.0, "a"], [1.0, 2.0]), TypeError, None, "x"),
    ],
)
def test_conversion_errors_carry_a_note(call, exc_type, message, name):
    with pytest.raises(exc_type) as info:
        call()
    if message is not None:
        assert str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{name}'"]


def test_arguments_convert_in_order():
    # path fails first, before index and block are looked at.
    with pytest.raises(TypeError) as info:
        difrax.read(1, index=-1, block=2)
    assert info.value.__notes__ == ["while processing 'path'"]
    with pytest.raises(OverflowError) as info:
        difrax.read_bytes(XY, "a.xy", index=-1, block=2)
    assert info.value.__notes__ == ["while processing 'index'"]


class Index:
    def __index__(self):
        return 0


class StrPath(str):
    pass


@pytest.mark.parametrize("index", [0, False, Index(), 2**64 - 1])
def test_index_accepts_integers_up_to_u64_max(index):
    if index == 2**64 - 1:
        # The conversion succeeds; the single-pattern XY reader refuses it.
        with pytest.raises(ValueError, match="index must be 0"):
            difrax.read_bytes(XY, "a.xy", index=index)
    else:
        assert difrax.read_bytes(XY, "a.xy", index=index).x == [10.0, 11.0]


def test_subclasses_and_none_block_accepted():
    class Data(bytes):
        pass

    pattern = difrax.read_bytes(Data(XY), StrPath("a.xy"), block=None)
    assert pattern.y == [1.0, 2.0]


@pytest.mark.parametrize(
    "name, message",
    [
        ("missing.xy", "No such file or directory (os error 2)"),
        ("", "Is a directory (os error 21)"),
        ("a\0b.xy", "file name contained an unexpected NUL byte"),
    ],
)
def test_io_errors_are_plain_oserror(tmp_path, name, message):
    with pytest.raises(OSError) as info:
        difrax.read(str(tmp_path / name))
    assert type(info.value) is OSError
    assert info.value.args == (message,)
    assert (info.value.errno, info.value.strerror, info.value.filename) == (None, None, None)


@pytest.mark.parametrize(
    "data, message",
    [
        (b"", "Parse error: ASCII: no complete x/y pattern found"),
        (b"10 nan\n", "Parse error: ASCII pattern contains a non-finite value"),
        (b"1 1\n\x00\n", "Unknown format"),
        (b"\xff\xfe1", "Parse error: truncated UTF-16 text"),
    ],
)
def test_library_errors_are_valueerror(data, message):
    with pytest.raises(ValueError) as info:
        difrax.read_bytes(data, "a.xy")
    assert str(info.value) == message
    assert info.value.args == (message,)


def test_pattern_constructor():
    pattern = difrax.Pattern([1.0, 2.0], [3.0, 4.0])
    assert pattern.x == [1.0, 2.0]
    assert pattern.y == [3.0, 4.0]
    assert type(difrax.Pattern(x=(1, 2), y=range(2)).x[0]) is float
    assert difrax.Pattern([Index()], [1]).x == [0.0]


@pytest.mark.parametrize(
    "x, y, message",
    [
        ([2.0, 1.0], [3.0, 4.0], "x values must be finite and strictly increasing"),
        ([1.0, 1.0], [3.0, 4.0], "x values must be finite and strictly increasing"),
        ([1.0, float("nan")], [3.0, 4.0], "x values must be finite and strictly increasing"),
        ([], [], "pattern contains no points"),
        ([1.0, 2.0], [1.0], "x and y must have the same length"),
        ([1.0], [float("inf")], "y values must be finite"),
    ],
)
def test_pattern_constructor_validates_without_reversal(x, y, message):
    with pytest.raises(ValueError) as info:
        difrax.Pattern(x, y)
    assert str(info.value) == f"Parse error: {message}"


def test_attribute_lists_are_fresh_and_read_only():
    pattern = difrax.Pattern([1.0, 2.0], [3.0, 4.0])
    first = pattern.x
    assert first is not pattern.x
    first.append(5.0)
    assert pattern.x == [1.0, 2.0]
    for name in ("x", "y"):
        with pytest.raises(AttributeError):
            setattr(pattern, name, [0.0])
    with pytest.raises(AttributeError):
        pattern.z = 1
    assert difrax.Pattern.__bases__ == (object,)
    assert not difrax.Pattern.__flags__ & (1 << 14)  # instances are not garbage collected
    assert difrax.Pattern.x.__doc__ == "Diffraction angle 2θ, in degrees, strictly increasing."
    assert difrax.Pattern.y.__doc__ == "Intensity in the file's units (counts or counts per second)."
