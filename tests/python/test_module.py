"""The module surface: contents, signatures, argument binding and conversion,
errors and their notes, the Pattern class and its lists."""

import inspect
import pathlib

import pytest

import difrax
from difrax import Pattern, read, read_bytes

XY = b"10 1\n11 2\n"
Text, Data = type("Text", (str,), {}), type("Data", (bytes,), {})
Index = type("Index", (), {"__index__": lambda self: 0})
# A sequence whose length is far beyond any memory: only its items count.
Boastful = type("Boastful", (), {"__len__": lambda self: 2**62, "__getitem__": lambda self, i: [0, 1][i]})


def test_contents_in_order():
    assert difrax.__all__ == ["Pattern", "__version__", "read", "read_bytes"]
    assert [name for name in vars(difrax) if name in difrax.__all__] == difrax.__all__
    assert (difrax.__version__, difrax.__doc__) == ("1.0.0", "")


@pytest.mark.parametrize(
    "obj, signature, doc",
    [
        (read, "(path, *, index=0, block=None)", "Load one XRD pattern as x (2theta degrees) and y (intensity)."),
        (read_bytes, "(data, filename, *, index=0, block=None)",
         "Load bytes using content detection and a filename hint."),
        (Pattern, "(x, y)", "One diffraction pattern. Extra file columns are deliberately not returned."),
    ],
)
def test_signatures_and_docstrings(obj, signature, doc):
    assert (obj.__text_signature__, str(inspect.signature(obj)), obj.__doc__) == (signature, signature, doc)
    assert obj.__module__ == "difrax"
    assert getattr(obj, "__self__", difrax) is difrax


def read_like(path, *, index=0, block=None): ...
def read_bytes_like(data, filename, *, index=0, block=None): ...


@pytest.mark.parametrize(
    "args, kwargs",
    [((), {}), (("a", 1), {}), (("a", 1), {"index": 0}), (("a", 1, 2), {"index": 0, "block": None}),
     (("a", 1, 2, 3), {"block": None}), ((), {"index": 0}), (("a",), {"bogus": 1}), (("a",), {"path": "b"}),
     (("a", 1), {"bogus": 1}), (("a", 1), {"filename": "b"})],
)
def test_binding_faults_read_as_the_interpreter_words_them(args, kwargs):
    compared = 0
    for function, like in ((read, read_like), (read_bytes, read_bytes_like)):
        try:
            like(*args, **kwargs)
            continue  # binds: a fault of conversion, if any
        except TypeError as error:
            expected = error.args[0].replace("_like(", "(")
        with pytest.raises(TypeError) as got:
            function(*args, **kwargs)
        assert got.value.args == (expected,)
        compared += 1
    assert compared > 0


@pytest.mark.parametrize(
    "call, exc_type, message, note",
    [
        # Binding faults carry no note (their texts are compared with the interpreter's above).
        (lambda: Pattern([1.0]), TypeError, "Pattern.__new__() missing 1 required positional argument: 'y'", None),
        (lambda: Pattern([1.0], [1.0], z=1), TypeError, "Pattern.__new__() got an unexpected keyword argument 'z'",
         None),
        # Conversion: a note names the argument.
        (lambda: read(b"a.xy"), TypeError, "'bytes' object is not an instance of 'str'", "path"),
        (lambda: read(pathlib.Path("a.xy")), TypeError,
         f"'{type(pathlib.Path()).__qualname__}' object is not an instance of 'str'", "path"),
        (lambda: read(None), TypeError, "'None' is not an instance of 'str'", "path"),
        (lambda: read("a\udc80.xy"), UnicodeEncodeError, None, "path"),
        (lambda: read_bytes(bytearray(XY), "a.xy"), TypeError, "'bytearray' object is not an instance of 'bytes'",
         "data"),
        (lambda: read_bytes(XY, 3), TypeError, "'int' object is not an instance of 'str'", "filename"),
        (lambda: read_bytes(XY, "a.xy", index=-1), OverflowError, None, "index"),
        (lambda: read_bytes(XY, "a.xy", index=2**64), OverflowError, None, "index"),
        (lambda: read_bytes(XY, "a.xy", index=1.0), TypeError, None, "index"),
        (lambda: read_bytes(XY, "a.xy", block=b"x"), TypeError, "'bytes' object is not an instance of 'str'", "block"),
        (lambda: read("a.xy", block="\ud800"), UnicodeEncodeError, None, "block"),
        (lambda: Pattern("ab", [1.0]), TypeError, "Can't extract `str` to `Vec`", "x"),
        (lambda: Pattern([1.0, "a"], [1.0, 2.0]), TypeError, None, "x"),
        (lambda: Pattern([1.0], 5), TypeError, "'int' object is not an instance of 'Sequence'", "y"),
        # Arguments convert in order: the first bad one is reported.
        (lambda: read(1, index=-1, block=2), TypeError, None, "path"),
        (lambda: read_bytes(XY, "a.xy", index=-1, block=2), OverflowError, None, "index"),
        # Files that cannot be read: a plain OSError with the system's text.
        (lambda: read("/nonexistent/missing.xy"), OSError, "No such file or directory (os error 2)", None),
        (lambda: read("a\0b.xy"), OSError, "file name contained an unexpected NUL byte", None),
        # The library's refusals: a ValueError with its display text.
        (lambda: read_bytes(b"", "a.xy"), ValueError, "Parse error: ASCII: no complete x/y pattern found", None),
        (lambda: read_bytes(b"1 1\n\x00\n", "a.xy"), ValueError, "Unknown format", None),
        # The largest index converts; the single-pattern reader then refuses it.
        (lambda: read_bytes(XY, "a.xy", index=2**64 - 1), ValueError,
         "Parse error: this format has one pattern; index must be 0", None),
        (lambda: Pattern([2.0, 1.0], [3.0, 4.0]), ValueError,
         "Parse error: x values must be finite and strictly increasing", None),
        (lambda: Pattern([], []), ValueError, "Parse error: pattern contains no points", None),
        (lambda: Pattern([1.0, 2.0], [1.0]), ValueError, "Parse error: x and y must have the same length", None),
        (lambda: Pattern([1.0], [float("inf")]), ValueError, "Parse error: y values must be finite", None),
    ],
)
def test_errors(call, exc_type, message, note):
    with pytest.raises(exc_type) as info:
        call()
    error = info.value
    assert type(error) is exc_type
    if message is not None:
        assert error.args == (message,)
    assert getattr(error, "__notes__", None) == (note and [f"while processing '{note}'"])
    if exc_type is OSError:
        assert (error.errno, error.strerror, error.filename) == (None, None, None)


@pytest.mark.parametrize(
    "call, x",
    [
        (lambda: read_bytes(XY, "a.xy", index=False), [10.0, 11.0]),
        (lambda: read_bytes(Data(XY), Text("a.xy"), index=Index(), block=None), [10.0, 11.0]),
        (lambda: read_bytes(XY, "", block="anything"), [10.0, 11.0]),
        (lambda: Pattern(x=(1, 2), y=range(2)), [1.0, 2.0]),
        (lambda: Pattern([Index(), True], [1, 2.5]), [0.0, 1.0]),
        (lambda: Pattern(Boastful(), [1, 2.5]), [0.0, 1.0]),
    ],
)
def test_accepted_arguments(call, x):
    result = call().x
    assert result == x and all(type(v) is float for v in result)


def test_lists_are_fresh_exact_and_read_only():
    # Equal values may share one float object; values that differ in their bits
    # must not, even where they compare equal (signed zeros: hex() tells them
    # apart) or take the same slot of the module's table (1.0 and 2264.0).
    y = [0.0, -0.0, 0.0, 5e-324, 1.0, 1.0000000000000002, 1.0, 2264.0, -0.0] * 300
    x = [float(i) for i in range(len(y))]
    pattern = Pattern(x, y)
    for name, values in (("x", x), ("y", y)):
        first = getattr(pattern, name)
        assert [v.hex() for v in first] == [v.hex() for v in values] and first is not getattr(pattern, name)
        first.append(5.0)
        assert getattr(pattern, name) == values
        with pytest.raises(AttributeError):
            setattr(pattern, name, [0.0])
    with pytest.raises(AttributeError):
        pattern.z = 1
    assert Pattern.__bases__ == (object,)
    assert not Pattern.__flags__ & (1 << 14)  # instances are not garbage collected
    assert Pattern.x.__doc__ == "Diffraction angle 2θ, in degrees, strictly increasing."
    assert Pattern.y.__doc__ == "Intensity in the file's units (counts or counts per second)."
