"""The module surface: contents, signatures, argument binding and conversion,
errors and their notes, the Pattern class and its lists."""

import inspect
import pathlib

import pytest

import difrax

XY = b"10 1\n11 2\n"
ONE_PATTERN = "Parse error: this format has one pattern; index must be 0"
NOT_INCREASING = "Parse error: x values must be finite and strictly increasing"


class Index:
    def __index__(self):
        return 0


class Text(str):
    pass


class Data(bytes):
    pass


def test_contents_in_order():
    assert difrax.__all__ == ["Pattern", "__version__", "read", "read_bytes"]
    assert [name for name in vars(difrax) if name in difrax.__all__] == difrax.__all__
    assert (difrax.__version__, difrax.__doc__) == ("1.0.0", "")


@pytest.mark.parametrize(
    "obj, signature, doc",
    [
        (difrax.read, "(path, *, index=0, block=None)",
         "Load one XRD pattern as x (2theta degrees) and y (intensity)."),
        (difrax.read_bytes, "(data, filename, *, index=0, block=None)",
         "Load bytes using content detection and a filename hint."),
        (difrax.Pattern, "(x, y)", "One diffraction pattern. Extra file columns are deliberately not returned."),
    ],
)
def test_signatures_and_docstrings(obj, signature, doc):
    assert (obj.__text_signature__, str(inspect.signature(obj)), obj.__doc__) == (signature, signature, doc)
    assert obj.__module__ == "difrax"
    assert getattr(obj, "__self__", difrax) is difrax


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: difrax.read("a.xy", 1), "read() takes 1 positional argument but 2 were given"),
        (lambda: difrax.read(), "read() missing 1 required positional argument: 'path'"),
        (lambda: difrax.read("a.xy", foo=1), "read() got an unexpected keyword argument 'foo'"),
        (lambda: difrax.read("a.xy", path="b.xy"), "read() got multiple values for argument 'path'"),
        (lambda: difrax.read_bytes(), "read_bytes() missing 2 required positional arguments: 'data' and 'filename'"),
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
        (lambda: difrax.read_bytes(XY, 3), TypeError, "'int' object is not an instance of 'str'", "filename"),
        (lambda: difrax.read_bytes(XY, "a.xy", index=-1), OverflowError, None, "index"),
        (lambda: difrax.read_bytes(XY, "a.xy", index=2**64), OverflowError, None, "index"),
        (lambda: difrax.read_bytes(XY, "a.xy", index=1.0), TypeError, None, "index"),
        (lambda: difrax.read_bytes(XY, "a.xy", block=b"x"), TypeError, "'bytes' object is not an instance of 'str'",
         "block"),
        (lambda: difrax.read("a.xy", block="\ud800"), UnicodeEncodeError, None, "block"),
        (lambda: difrax.Pattern("ab", [1.0]), TypeError, "Can't extract `str` to `Vec`", "x"),
        (lambda: difrax.Pattern([1.0], 5), TypeError, "'int' object is not an instance of 'Sequence'", "y"),
        (lambda: difrax.Pattern([1.0], None), TypeError, "'None' is not an instance of 'Sequence'", "y"),
        (lambda: difrax.Pattern([1.0, "a"], [1.0, 2.0]), TypeError, None, "x"),
        # Arguments convert in order: the first bad one is reported.
        (lambda: difrax.read(1, index=-1, block=2), TypeError, None, "path"),
        (lambda: difrax.read_bytes(XY, "a.xy", index=-1, block=2), OverflowError, None, "index"),
    ],
)
def test_conversion_errors_carry_a_note(call, exc_type, message, name):
    with pytest.raises(exc_type) as info:
        call()
    if message is not None:
        assert str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{name}'"]


@pytest.mark.parametrize(
    "call, x",
    [
        (lambda: difrax.read_bytes(XY, "a.xy", index=False), [10.0, 11.0]),
        (lambda: difrax.read_bytes(Data(XY), Text("a.xy"), index=Index(), block=None), [10.0, 11.0]),
        (lambda: difrax.read_bytes(XY, "", block="anything"), [10.0, 11.0]),
        (lambda: difrax.Pattern(x=(1, 2), y=range(2)), [1.0, 2.0]),
        (lambda: difrax.Pattern([Index(), True], [1, 2.5]), [0.0, 1.0]),
    ],
)
def test_accepted_arguments(call, x):
    result = call().x
    assert result == x and all(type(v) is float for v in result)


def test_index_converts_up_to_u64_max():
    # The conversion succeeds; the single-pattern XY reader refuses the index.
    with pytest.raises(ValueError, match=f"^{ONE_PATTERN}$"):
        difrax.read_bytes(XY, "a.xy", index=2**64 - 1)


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
    "load, message",
    [
        (lambda: difrax.read_bytes(b"", "a.xy"), "Parse error: ASCII: no complete x/y pattern found"),
        (lambda: difrax.read_bytes(b"1 1\n\x00\n", "a.xy"), "Unknown format"),
        (lambda: difrax.read_bytes(XY, "a.xy", index=1), ONE_PATTERN),
        (lambda: difrax.Pattern([2.0, 1.0], [3.0, 4.0]), NOT_INCREASING),
        (lambda: difrax.Pattern([1.0, float("nan")], [3.0, 4.0]), NOT_INCREASING),
        (lambda: difrax.Pattern([], []), "Parse error: pattern contains no points"),
        (lambda: difrax.Pattern([1.0, 2.0], [1.0]), "Parse error: x and y must have the same length"),
        (lambda: difrax.Pattern([1.0], [float("inf")]), "Parse error: y values must be finite"),
    ],
)
def test_library_errors_are_valueerror(load, message):
    with pytest.raises(ValueError) as info:
        load()
    assert type(info.value) is ValueError and info.value.args == (message,)
    assert not hasattr(info.value, "__notes__")


def test_lists_are_fresh_and_attributes_read_only():
    pattern = difrax.Pattern([1.0, 2.0], [3.0, 4.0])
    for name, values in (("x", [1.0, 2.0]), ("y", [3.0, 4.0])):
        first = getattr(pattern, name)
        assert first == values and first is not getattr(pattern, name)
        first.append(5.0)
        assert getattr(pattern, name) == values
        with pytest.raises(AttributeError):
            setattr(pattern, name, [0.0])
    with pytest.raises(AttributeError):
        pattern.z = 1
    assert difrax.Pattern.__bases__ == (object,)
    assert not difrax.Pattern.__flags__ & (1 << 14)  # instances are not garbage collected
    assert difrax.Pattern.x.__doc__ == "Diffraction angle 2θ, in degrees, strictly increasing."
    assert difrax.Pattern.y.__doc__ == "Intensity in the file's units (counts or counts per second)."


def test_repeated_values_keep_their_exact_bits():
    # Equal values may share one float object; values that compare equal but
    # differ in their bits (signed zeros) must not: hex() tells them apart.
    y = [0.0, -0.0, 0.0, 5e-324, 1.0, 1.0000000000000002, 1.0, -0.0] * 300
    x = [float(i) for i in range(len(y))]
    got = difrax.Pattern(x, y).y
    assert [v.hex() for v in got] == [v.hex() for v in y]
