// The Python extension module `difrax`: the functions `read` and `read_bytes`,
// the class `Pattern` with its read-only `x` and `y`, and `__version__`.
//
// A thin layer over the library: arguments are bound and converted here, the
// library does the loading on the calling thread (the interpreter lock stays
// held), and a library `Error` becomes OSError or ValueError. The module keeps
// no state; the functions find the `Pattern` class as the module's attribute.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "difrax/difrax.hpp"
#include "load/points.hpp"

namespace {

// ---------------------------------------------------------------------------
// Exceptions

// The text as a Python str; library texts are UTF-8, anything else is replaced.
PyObject* text_object(std::string_view text) {
    return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

// Raises `type(message)`, the exception built from its one argument.
void raise_with_message(PyObject* type, std::string_view message) {
    PyObject* value = text_object(message);
    if (value == nullptr) return;
    PyErr_SetObject(type, value);
    Py_DECREF(value);
}

// An I/O failure becomes OSError with the system's own text (errno, strerror
// and filename stay None); every other failure becomes ValueError with the
// error's display text.
void to_py_err(const difrax::Error& error) {
    if (error.kind() == difrax::Error::Kind::Io)
        raise_with_message(PyExc_OSError, error.message());
    else
        raise_with_message(PyExc_ValueError, error.display());
}

// Adds "while processing '{name}'" to the notes of the pending exception. Should
// adding the note fail, the original exception is kept as it is.
void note_argument(const char* name) {
#if PY_VERSION_HEX >= 0x030C0000
    PyObject* exc = PyErr_GetRaisedException();
#else
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback != nullptr) PyException_SetTraceback(value, traceback);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    PyObject* exc = value;
#endif
    if (exc == nullptr) return;
    PyObject* done = PyObject_CallMethod(exc, "add_note", "s", (std::string("while processing '") + name + "'").c_str());
    if (done == nullptr)
        PyErr_Clear();
    else
        Py_DECREF(done);
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exc);
#else
    PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exc))), exc, PyException_GetTraceback(exc));
#endif
}

// TypeError "'{type}' object is not an instance of '{expected}'", or
// "'None' is not an instance of '{expected}'".
void raise_wrong_type(PyObject* object, const char* expected) {
    if (object == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
        return;
    }
    PyObject* name = PyType_GetQualName(Py_TYPE(object));
    if (name == nullptr) return;
    PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", name, expected);
    Py_DECREF(name);
}

// ---------------------------------------------------------------------------
// Binding arguments to parameters

// A callable's parameters: the first `positional` may be passed by position or
// keyword and are required; the rest are keyword-only and optional.
struct Parameters {
    const char* function;  // as shown in messages, e.g. "read()"
    const char* const* names;
    int count;
    int positional;
};

const char* plural(Py_ssize_t n) { return n == 1 ? "" : "s"; }

int parameter_named(const Parameters& params, PyObject* keyword) {
    for (int i = 0; i < params.count; ++i)
        if (PyUnicode_CompareWithASCIIString(keyword, params.names[i]) == 0) return i;
    return -1;
}

// Places one keyword argument; fails the way the interpreter does for an
// unknown or repeated name.
bool bind_keyword(const Parameters& params, PyObject* keyword, PyObject* value, PyObject** bound) {
    if (!PyUnicode_Check(keyword)) {
        PyErr_Format(PyExc_TypeError, "%s keywords must be strings", params.function);
        return false;
    }
    int i = parameter_named(params, keyword);
    if (i < 0) {
        PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", params.function, keyword);
        return false;
    }
    if (bound[i] != nullptr) {
        PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", params.function, params.names[i]);
        return false;
    }
    bound[i] = value;
    return true;
}

// After the keywords: too many positional arguments, then missing required ones.
bool check_counts(const Parameters& params, Py_ssize_t nargs, PyObject** bound) {
    if (nargs > params.positional) {
        // As the interpreter says it, naming keyword-only arguments given too:
        // "read() takes 1 positional argument but 2 positional arguments (and
        // 1 keyword-only argument) were given".
        Py_ssize_t keyword_only = 0;
        for (int i = params.positional; i < params.count; ++i) keyword_only += bound[i] != nullptr;
        std::string given;
        if (keyword_only > 0)
            given = std::string(" positional argument") + plural(nargs) + " (and " + std::to_string(keyword_only) +
                    " keyword-only argument" + plural(keyword_only) + ")";
        PyErr_Format(PyExc_TypeError, "%s takes %d positional argument%s but %zd%s were given", params.function,
                     params.positional, plural(params.positional), nargs, given.c_str());
        return false;
    }
    // At most two positional parameters, so the names join with " and ".
    std::string list;
    Py_ssize_t missing = 0;
    for (int i = 0; i < params.positional; ++i) {
        if (bound[i] != nullptr) continue;
        list += std::string(missing++ > 0 ? " and '" : "'") + params.names[i] + "'";
    }
    if (missing == 0) return true;
    PyErr_Format(PyExc_TypeError, "%s missing %zd required positional argument%s: %s", params.function, missing,
                 plural(missing), list.c_str());
    return false;
}

void bind_positional(const Parameters& params, PyObject* const* args, Py_ssize_t nargs, PyObject** bound) {
    for (Py_ssize_t i = 0; i < nargs && i < params.positional; ++i) bound[i] = args[i];
}

// Vectorcall form: keyword names in a tuple, their values after the positionals.
bool bind(const Parameters& params, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, PyObject** bound) {
    bind_positional(params, args, nargs, bound);
    Py_ssize_t nkw = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k)
        if (!bind_keyword(params, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], bound)) return false;
    return check_counts(params, nargs, bound);
}

// Classic form: a tuple and a dict of keywords.
bool bind(const Parameters& params, PyObject* args, PyObject* kwargs, PyObject** bound) {
    Py_ssize_t nargs = PyTuple_GET_SIZE(args);
    bind_positional(params, PySequence_Fast_ITEMS(args), nargs, bound);
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject *keyword, *value;
        while (PyDict_Next(kwargs, &pos, &keyword, &value))
            if (!bind_keyword(params, keyword, value, bound)) return false;
    }
    return check_counts(params, nargs, bound);
}

// ---------------------------------------------------------------------------
// Converting arguments; each failure is noted with the parameter's name

// A str (or subclass) as its UTF-8 text; lone surrogates fail to encode.
std::optional<std::string_view> text_argument(PyObject* object, const char* name) {
    if (!PyUnicode_Check(object)) {
        raise_wrong_type(object, "str");
        note_argument(name);
        return std::nullopt;
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
    if (utf8 == nullptr) {
        note_argument(name);
        return std::nullopt;
    }
    return std::string_view(utf8, static_cast<std::size_t>(size));
}

// The buffer of a bytes object (or subclass), borrowed without copying.
std::optional<std::span<const std::byte>> bytes_argument(PyObject* object, const char* name) {
    if (!PyBytes_Check(object)) {
        raise_wrong_type(object, "bytes");
        note_argument(name);
        return std::nullopt;
    }
    const char* data = PyBytes_AsString(object);
    Py_ssize_t size = PyBytes_Size(object);
    if (data == nullptr || size < 0) {
        note_argument(name);
        return std::nullopt;
    }
    return std::span<const std::byte>(reinterpret_cast<const std::byte*>(data), static_cast<std::size_t>(size));
}

// Anything usable as an index, from 0 to 2**64 - 1; the interpreter's own
// TypeError or OverflowError otherwise.
bool index_argument(PyObject* object, std::uint64_t& index) {
    if (object == nullptr) return true;
    PyObject* integer = PyNumber_Index(object);
    if (integer == nullptr) {
        note_argument("index");
        return false;
    }
    unsigned long long value = PyLong_AsUnsignedLongLong(integer);
    Py_DECREF(integer);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        note_argument("index");
        return false;
    }
    index = value;
    return true;
}

// None (or not given) leaves the block unchosen; otherwise a str.
bool block_argument(PyObject* object, std::optional<std::string>& block) {
    if (object == nullptr || object == Py_None) return true;
    auto text = text_argument(object, "block");
    if (!text) return false;
    block.emplace(*text);
    return true;
}

// The keyword-only options shared by both load functions.
bool options_arguments(PyObject* index, PyObject* block, difrax::ReadOptions& options) {
    return index_argument(index, options.index) && block_argument(block, options.block);
}

// Appends a value; memory the system refuses is a MemoryError.
bool push_value(std::vector<double>& values, double value) noexcept {
    try {
        values.push_back(value);
        return true;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
        return false;
    } catch (const std::length_error&) {
        PyErr_NoMemory();
        return false;
    }
}

// A sequence other than str, each item converted as float() would.
bool sequence_argument(PyObject* object, const char* name, std::vector<double>& values) {
    if (PyUnicode_Check(object)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        note_argument(name);
        return false;
    }
    if (!PySequence_Check(object)) {
        raise_wrong_type(object, "Sequence");
        note_argument(name);
        return false;
    }
    // The length is only a hint, and a sequence may claim any length: room
    // is made for at most 2^20 values at once, and more grows as items come.
    Py_ssize_t size = PyObject_Size(object);
    if (size < 0) {
        PyErr_Clear();
    } else {
        try {
            values.reserve(std::min(static_cast<std::size_t>(size), std::size_t{1} << 20));
        } catch (const std::bad_alloc&) {
            // Growing as the items come reports it, if it persists.
        }
    }
    PyObject* iterator = PyObject_GetIter(object);
    if (iterator == nullptr) {
        note_argument(name);
        return false;
    }
    for (;;) {
        PyObject* item;
#if PY_VERSION_HEX >= 0x030E0000
        if (PyIter_NextItem(iterator, &item) <= 0) break;
#else
        item = PyIter_Next(iterator);
        if (item == nullptr) break;
#endif
        double value = PyFloat_AsDouble(item);
        Py_DECREF(item);
        if (value == -1.0 && PyErr_Occurred()) break;
        if (!push_value(values, value)) break;
    }
    Py_DECREF(iterator);
    if (PyErr_Occurred()) {
        note_argument(name);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Class Pattern

struct PatternObject {
    PyObject_HEAD
    difrax::Pattern pattern;  // constructed in place right after allocation
};

// A new instance of `type` owning `pattern`.
PyObject* wrap(PyTypeObject* type, difrax::Pattern&& pattern) {
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    new (&reinterpret_cast<PatternObject*>(self)->pattern) difrax::Pattern(std::move(pattern));
    return self;
}

constexpr const char* pattern_names[] = {"x", "y"};
// Named as the interpreter names a class's constructor in its messages; the
// counts are those of the signature shown, Pattern(x, y).
constexpr Parameters pattern_params{"Pattern.__new__()", pattern_names, 2, 2};

PyObject* pattern_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* bound[2] = {};
    if (!bind(pattern_params, args, kwargs, bound)) return nullptr;
    // Converting x may run Python code; y stays referenced meanwhile.
    Py_INCREF(bound[0]);
    Py_INCREF(bound[1]);
    std::vector<double> x, y;
    bool converted = sequence_argument(bound[0], "x", x) && sequence_argument(bound[1], "y", y);
    Py_DECREF(bound[0]);
    Py_DECREF(bound[1]);
    if (!converted) return nullptr;
    auto pattern = difrax::Pattern::create(std::move(x), std::move(y));
    if (!pattern) {
        to_py_err(pattern.error());
        return nullptr;
    }
    return wrap(type, std::move(*pattern));
}

void pattern_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<PatternObject*>(self)->pattern.~Pattern();
    type->tp_free(self);
    Py_DECREF(type);
}

// A new list of floats; the caller's changes never reach the pattern.
// Intensities repeat (a background of a few hundred counts holds each value
// many times), and floats are immutable: with `repeats`, equal values share
// one float object, found in a small table of the ones made last, keyed by
// their bits. The table borrows its objects from the list being built.
PyObject* float_list(std::span<const double> values, bool repeats) {
    PyObject* list = PyList_New(static_cast<Py_ssize_t>(values.size()));
    if (list == nullptr) return nullptr;
    difrax::advise_huge_pages(reinterpret_cast<PyListObject*>(list)->ob_item, values.size() * sizeof(PyObject*));
    if (!repeats) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            PyObject* item = PyFloat_FromDouble(values[i]);
            if (item == nullptr) {
                Py_DECREF(list);
                return nullptr;
            }
            PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
        }
        return list;
    }
    constexpr int table_bits = 10;
    std::array<PyObject*, std::size_t{1} << table_bits> made{};
    // Read only where `made` holds an object, so never before it is written.
    std::array<std::uint64_t, std::size_t{1} << table_bits> made_bits;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto bits = std::bit_cast<std::uint64_t>(values[i]);
        const std::size_t slot = (bits * 0x9E3779B97F4A7C15ull) >> (64 - table_bits);
        PyObject* item = made[slot];
        if (item != nullptr && made_bits[slot] == bits) {
            Py_INCREF(item);
        } else {
            item = PyFloat_FromDouble(values[i]);
            if (item == nullptr) {
                Py_DECREF(list);
                return nullptr;
            }
            made[slot] = item;
            made_bits[slot] = bits;
        }
        PyList_SET_ITEM(list, static_cast<Py_ssize_t>(i), item);
    }
    return list;
}

// x is strictly increasing: no value repeats.
PyObject* pattern_x(PyObject* self, void*) {
    return float_list(reinterpret_cast<PatternObject*>(self)->pattern.x(), false);
}
PyObject* pattern_y(PyObject* self, void*) {
    return float_list(reinterpret_cast<PatternObject*>(self)->pattern.y(), true);
}

PyGetSetDef pattern_getset[] = {
    {"x", pattern_x, nullptr, "Diffraction angle 2θ, in degrees, strictly increasing.", nullptr},
    {"y", pattern_y, nullptr, "Intensity in the file's units (counts or counts per second).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot pattern_slots[] = {
    {Py_tp_doc, const_cast<char*>("Pattern(x, y)\n--\n\n"
                                  "One diffraction pattern. Extra file columns are deliberately not returned.")},
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_new, reinterpret_cast<void*>(pattern_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(pattern_dealloc)},
    {Py_tp_getset, pattern_getset},
    {0, nullptr},
};

// Instances hold no Python references, so the type does not take part in
// garbage collection; it cannot be subclassed or changed after creation.
PyType_Spec pattern_spec = {
    "difrax.Pattern",
    static_cast<int>(sizeof(PatternObject)),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
    pattern_slots,
};

// ---------------------------------------------------------------------------
// Functions read and read_bytes

// The class `Pattern` as the module holds it: the functions are bound to the
// module and look it up for each result instead of keeping it anywhere else.
PyTypeObject* pattern_class(PyObject* module) {
    PyObject* found = PyObject_GetAttrString(module, "Pattern");
    if (found == nullptr) return nullptr;
    if (!PyType_Check(found) ||
        PyType_GetSlot(reinterpret_cast<PyTypeObject*>(found), Py_tp_dealloc) != reinterpret_cast<void*>(pattern_dealloc)) {
        Py_DECREF(found);
        PyErr_SetString(PyExc_RuntimeError, "difrax.Pattern no longer holds the module's Pattern class");
        return nullptr;
    }
    return reinterpret_cast<PyTypeObject*>(found);
}

// A load result as a new `Pattern` of `module`, or the raised error.
PyObject* load_result(PyObject* module, difrax::Result<difrax::Pattern>&& result) {
    if (!result) {
        to_py_err(result.error());
        return nullptr;
    }
    PyTypeObject* type = pattern_class(module);
    if (type == nullptr) return nullptr;
    PyObject* self = wrap(type, std::move(*result));
    Py_DECREF(type);
    return self;
}

// Runs one load of the library. Should the system refuse the memory a load
// asks for, the caller gets a MemoryError instead of the interpreter ending
// with an uncaught exception.
template <class Load>
PyObject* guarded_load(PyObject* module, Load&& load) noexcept {
    try {
        return load_result(module, load());
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::length_error&) {
        return PyErr_NoMemory();
    }
}

constexpr const char* read_names[] = {"path", "index", "block"};
constexpr Parameters read_params{"read()", read_names, 3, 1};

PyObject* read(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* bound[3] = {};
    if (!bind(read_params, args, nargs, kwnames, bound)) return nullptr;
    auto path = text_argument(bound[0], "path");
    if (!path) return nullptr;
    difrax::ReadOptions options;
    if (!options_arguments(bound[1], bound[2], options)) return nullptr;
    return guarded_load(module, [&] { return difrax::read_with_options(*path, options); });
}

constexpr const char* read_bytes_names[] = {"data", "filename", "index", "block"};
constexpr Parameters read_bytes_params{"read_bytes()", read_bytes_names, 4, 2};

PyObject* read_bytes(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* bound[4] = {};
    if (!bind(read_bytes_params, args, nargs, kwnames, bound)) return nullptr;
    auto data = bytes_argument(bound[0], "data");
    if (!data) return nullptr;
    auto filename = text_argument(bound[1], "filename");
    if (!filename) return nullptr;
    difrax::ReadOptions options;
    if (!options_arguments(bound[2], bound[3], options)) return nullptr;
    return guarded_load(module, [&] { return difrax::read_bytes_with_options(*data, *filename, options); });
}

PyMethodDef read_def = {
    "read", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read)), METH_FASTCALL | METH_KEYWORDS,
    "read(path, *, index=0, block=None)\n--\n\n"
    "Load one XRD pattern as x (2theta degrees) and y (intensity).",
};

PyMethodDef read_bytes_def = {
    "read_bytes", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_bytes)),
    METH_FASTCALL | METH_KEYWORDS,
    "read_bytes(data, filename, *, index=0, block=None)\n--\n\n"
    "Load bytes using content detection and a filename hint.",
};

// ---------------------------------------------------------------------------
// Module

// Appends `name` to `__all__` (created by the first addition), then sets the
// attribute. Steals `value`.
bool add(PyObject* module, PyObject*& all, const char* name, PyObject* value) {
    if (value == nullptr) return false;
    PyObject* key = PyUnicode_FromStringAndSize(name, static_cast<Py_ssize_t>(std::string_view(name).size()));
    if (key == nullptr) {
        Py_DECREF(value);
        return false;
    }
    PyUnicode_InternInPlace(&key);
    bool ok = true;
    if (all == nullptr) {
        all = PyList_New(0);
        ok = all != nullptr && PyObject_SetAttrString(module, "__all__", all) == 0;
    }
    ok = ok && PyList_Append(all, key) == 0 && PyObject_SetAttr(module, key, value) == 0;
    Py_DECREF(key);
    Py_DECREF(value);
    return ok;
}

PyObject* function(PyMethodDef* def, PyObject* module) {
    PyObject* module_name = PyModule_GetNameObject(module);
    if (module_name == nullptr) return nullptr;
    PyObject* fn = PyCMethod_New(def, module, module_name, nullptr);
    Py_DECREF(module_name);
    return fn;
}

int exec_module(PyObject* module) {
    if (!PyType_IsSubtype(Py_TYPE(module), &PyModule_Type)) {
        raise_wrong_type(module, "module");
        return -1;
    }
    PyObject* all = nullptr;
    PyObject* pattern_type = PyType_FromSpec(&pattern_spec);
    bool ok = pattern_type != nullptr && add(module, all, "Pattern", Py_NewRef(pattern_type)) &&
              add(module, all, "__version__", PyUnicode_FromString("1.0.0")) &&
              add(module, all, "read", function(&read_def, module)) &&
              add(module, all, "read_bytes", function(&read_bytes_def, module));
    Py_XDECREF(pattern_type);
    Py_XDECREF(all);
    return ok ? 0 : -1;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
#ifdef Py_mod_gil
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "difrax",
    "",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_difrax(void) { return PyModuleDef_Init(&module_def); }
