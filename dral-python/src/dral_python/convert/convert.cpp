#include "dral_python/convert/convert.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "dral_core/base/limits.hpp"
#include "dral_core/base/small_stack.hpp"
#include "dral_core/encoding/utf8.hpp"
#include "dral_python/convert/object_path.hpp"
#include "dral_python/convert/py_classes.hpp"
#include "dral_python/convert/py_kind.hpp"
#include "dral_python/convert/py_text_forms.hpp"
#include "dral_python/cpython/py_ref.hpp"
#include "dral_python/cpython/py_str.hpp"
#include "dral_python/runtime/errors.hpp"
#include "dral_python/runtime/module_state.hpp"

namespace dral_python {

using dral_core::Value;

PyObject* raise_too_deep() {
    PyErr_SetString(PyExc_RecursionError,
                    "maximum recursion depth exceeded while converting a Python object");
    return nullptr;
}

PyObject* type_name(PyObject* object) {
    return PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__name__");
}

bool raise_dict_changed() {
    PyErr_SetString(PyExc_RuntimeError, "dictionary changed size during iteration");
    return false;
}

namespace {

// Python objects to a Value, depth first. The containers being converted wait on a stack of
// their own rather than in native stack frames, so the depth of the object never decides the
// depth of the call stack: nesting is bounded by the encoder's limit or kMaxNestingDepth, which
// a self-containing object reaches too. Python code may run on the way (the default hook, a
// tzinfo, a dataclass's attributes), so everything open is held and every container is read
// afresh at each step.
class PyToValue {
public:
    PyToValue(const ConvertOptions& options, const HookCalls* made)
        : options_(options),
          made_(made),
          depth_bound_(options.max_depth ? *options.max_depth : dral_core::kMaxNestingDepth) {}

    std::optional<Value> convert(PyObject* root) {
        Element element;
        if (!resolve(root, classify(root), element)) return std::nullopt;
        if (!element.opens) return std::move(element.scalar);
        if (!open(element)) return std::nullopt;
        for (;;) {
            // Plain scalars are added where they are met; the loop comes back here for anything
            // else, and when the container on top is complete.
            Open& top = open_.back();
            PyObject* child = nullptr;
            PyKind kind = PyKind::Null;
            PyRef field_value;
            if (top.from == From::Dict) {
                dral_core::Object& entries = top.target.as_object();
                PyObject* key;
                // The interpreter's own reading, against which the writers' reading of dict
                // tables is checked.
                while (PyDict_Next(top.source.get(), &top.position, &key, &child)) {
                    if (PyDict_GET_SIZE(top.source.get()) != top.size)
                        return fail(raise_dict_changed());
                    if (!read_key(key, top.key)) return std::nullopt;
                    kind = classify(child);
                    if (!is_builtin_scalar(kind)) break;
                    auto value = scalar(child, kind);
                    if (!value) return std::nullopt;
                    entries.emplace_back(std::move(top.key), std::move(*value));
                    child = nullptr;
                }
            } else if (top.from == From::Sequence) {
                dral_core::Array& items = top.target.as_array();
                while (top.position < PySequence_Fast_GET_SIZE(top.source.get())) {
                    child = PySequence_Fast_GET_ITEM(top.source.get(), top.position++);
                    kind = classify(child);
                    if (!is_builtin_scalar(kind)) break;
                    auto value = scalar(child, kind);
                    if (!value) return std::nullopt;
                    items.push_back(std::move(*value));
                    child = nullptr;
                }
            } else if (top.position < PyTuple_GET_SIZE(top.fields.get())) {
                PyObject* name = PyTuple_GET_ITEM(top.fields.get(), top.position++);
                top.key.assign(*utf8_of(name));  // checked when the fields were read
                field_value = PyRef(PyObject_GetAttr(top.source.get(), name));
                if (!field_value) return std::nullopt;
                child = field_value.get();
                kind = classify(child);
            }
            if (child == nullptr) {
                if (top.from == From::Dict && PyDict_GET_SIZE(top.source.get()) != top.size)
                    return fail(raise_dict_changed());
                Value done = close();
                if (open_.empty()) return done;
                add(open_.back(), std::move(done));
                continue;
            }
            if (!resolve(child, kind, element)) return std::nullopt;
            if (element.opens) {
                if (!open(element)) return std::nullopt;
            } else {
                add(open_.back(), std::move(element.scalar));
            }
        }
    }

private:
    enum class From : std::uint8_t { Dict, Sequence, Fields };

    // An object met, and what it converts to: a Value made at once, or a container to open.
    struct Element {
        PyRef object;  // held: the object itself, or what replaced it
        PyKind kind = PyKind::Null;
        PyRef fields;  // of a dataclass
        Value scalar;
        bool opens = false;
    };

    struct Open {
        PyRef source;  // held: Python code may run while it is open
        PyRef fields;  // a dataclass's field names, in the order written
        Value target;
        Py_ssize_t position = 0;  // the next item or field, or PyDict_Next's position
        Py_ssize_t size = 0;      // of a dict when opened: a change is refused
        std::string key;          // of the entry being converted
        From from;
    };

    static std::nullopt_t fail(bool) { return std::nullopt; }

    static std::optional<Value> scalar(PyObject* object, PyKind kind) {
        switch (kind) {
            case PyKind::Null:
                return Value::null();
            case PyKind::Bool:
                return Value::boolean(object == Py_True);
            case PyKind::Int: {
                int overflow;
                long long n = PyLong_AsLongLongAndOverflow(object, &overflow);
                if (overflow > 0) {
                    // Up to 2**64 - 1, as the format holds and loads returns.
                    unsigned long long u = PyLong_AsUnsignedLongLong(object);
                    if (u == static_cast<unsigned long long>(-1) && PyErr_Occurred())
                        return std::nullopt;
                    return Value::uint(u);
                }
                if (overflow < 0) n = PyLong_AsLongLong(object);  // raises the OverflowError
                if (n == -1 && PyErr_Occurred()) return std::nullopt;
                return n < 0 ? Value::integer(n) : Value::uint(static_cast<std::uint64_t>(n));
            }
            case PyKind::Float:
                return Value::floating(PyFloat_AS_DOUBLE(object));
            case PyKind::Str: {
                auto utf8 = utf8_of(object);
                if (!utf8) return std::nullopt;
                return Value::str(std::string(*utf8));
            }
            default: {
                auto* data = reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(object));
                return Value::bytes(dral_core::Bytes(data, data + PyBytes_GET_SIZE(object)));
            }
        }
    }

    // What `object` (of `kind`) converts to, following what stands in for it: an enum member's
    // value, the default hook's result. Each replacement counts as a level of nesting, so that
    // no chain of them goes on for ever.
    bool resolve(PyObject* object, PyKind kind, Element& out) {
        out.object = PyRef::borrow(object);
        out.opens = false;
        PyRef hooked;  // the first object handed to the hook, named if it never converts
        const char* reason = nullptr;
        for (std::uint64_t replaced = 0;; kind = classify(object)) {
            if (is_builtin_scalar(kind)) {
                auto value = scalar(object, kind);
                if (!value) return false;
                out.scalar = std::move(*value);
                return true;
            }
            FormText text;
            Form form = Form::Written;
            switch (kind) {
                case PyKind::Dict:
                case PyKind::List:
                case PyKind::Tuple:
                    return opens(out, kind);
                case PyKind::OrderedDict: {
                    // In its own order, which its dict storage need not follow.
                    PyRef plain(PyDict_New());
                    if (!plain || PyDict_Merge(plain.get(), object, 1) < 0) return false;
                    out.object = std::move(plain);
                    return opens(out, PyKind::Dict);
                }
                case PyKind::Dataclass: {
                    ClassRules rules;
                    if (!rules_for(Py_TYPE(object), rules)) return false;
                    out.fields = std::move(options_.sort_keys ? rules.sorted_fields : rules.fields);
                    return opens(out, kind);
                }
                case PyKind::DateTime:
                case PyKind::Date:
                case PyKind::Time:
                    form = time_text(object, kind, true, text, reason);
                    break;
                case PyKind::Uuid: {
                    ClassRules rules;
                    if (!rules_for(Py_TYPE(object), rules)) return false;
                    form = uuid_text(object, rules.int_slot, text, reason);
                    break;
                }
                case PyKind::Enum: {
                    const AttributeNames* names = attribute_names();
                    if (names == nullptr) return false;
                    PyRef value(PyObject_GetAttr(object, names->enum_value));
                    if (!value) return false;
                    if (++replaced > depth_bound_)
                        return raise_unconvertible(object, path(), "its value nests too deeply");
                    out.object = std::move(value);
                    object = out.object.get();
                    continue;
                }
                case PyKind::Unsupported:
                    form = Form::Refused;
                    break;
                default:  // Failed
                    return false;
            }
            if (form == Form::Written) {
                out.scalar = Value::str(std::string(text.view()));
                return true;
            }
            if (form != Form::Refused) return false;  // NeedsPython never comes when it may run
            if (options_.default_hook == nullptr)
                return raise_unconvertible(object, path(), reason ? reason : "");
            PyObject* first = hooked ? hooked.get() : object;
            if (++replaced > depth_bound_) return refused_by_hook(first, object);
            PyRef result(call_hook(object));
            if (!result) return false;
            if (result.get() == object) return refused_by_hook(first, object);
            if (!hooked) hooked = PyRef::borrow(object);
            out.object = std::move(result);
            object = out.object.get();
            reason = nullptr;
        }
    }

    // A new reference: the result of a call already made for `object` while they come in the
    // order they were made, else the hook's.
    PyObject* call_hook(PyObject* object) {
        if (made_ != nullptr) {
            if (replayed_ < made_->size() && (*made_)[replayed_].first.get() == object)
                return Py_NewRef((*made_)[replayed_++].second.get());
            made_ = nullptr;
        }
        return PyObject_CallOneArg(options_.default_hook, object);
    }

    bool refused_by_hook(PyObject* first, PyObject* returned) {
        PyRef name(type_name(returned));
        PyRef text(name ? PyObject_Str(name.get()) : nullptr);
        const char* utf8 = text ? PyUnicode_AsUTF8(text.get()) : nullptr;
        if (utf8 == nullptr) return false;
        return raise_unconvertible(first, path(), std::string("default returned ") + utf8);
    }

    static bool opens(Element& out, PyKind kind) {
        out.kind = kind;
        out.opens = true;
        return true;
    }

    // The path of the object being converted: the entries and items open down to it, or of the
    // container `levels` up from it.
    std::string path(std::size_t levels = 0) {
        std::string where = "$";
        for (std::size_t i = 0; i + levels < open_.size(); ++i) {
            const Open& level = open_[i];
            if (level.from == From::Sequence)
                append_index(where, static_cast<std::size_t>(level.position - 1));
            else
                append_key(where, level.key);
        }
        return where;
    }

    bool read_key(PyObject* key, std::string& out) {
        auto utf8 = is_str_key(key) ? utf8_of(key) : std::nullopt;
        if (!utf8) return raise_bad_key(path(1));  // the dict's own
        out.assign(*utf8);
        return true;
    }

    bool open(Element& element) {
        if (open_.size() >= depth_bound_) {
            if (!options_.max_depth) {
                raise_too_deep();
                return false;
            }
            std::string message =
                dral_core::DralError::depth_exceeded(open_.size(), depth_bound_).message();
            if (!open_.empty()) message.append(" at ").append(path());
            raise_encode_error(message.c_str());
            return false;
        }
        PyObject* object = element.object.get();
        From from = element.kind == PyKind::Dict        ? From::Dict
                    : element.kind == PyKind::Dataclass ? From::Fields
                                                        : From::Sequence;
        open_.emplace_back();
        Open& top = open_.back();
        top.source = std::move(element.object);
        top.fields = std::move(element.fields);
        top.from = from;
        if (from == From::Sequence) {
            top.target = Value::array({});
            top.target.as_array().reserve(
                static_cast<std::size_t>(PySequence_Fast_GET_SIZE(object)));
        } else {
            top.target = Value::object({});
            top.size =
                from == From::Dict ? PyDict_GET_SIZE(object) : PyTuple_GET_SIZE(top.fields.get());
            top.target.as_object().reserve(static_cast<std::size_t>(top.size));
        }
        return true;
    }

    Value close() {
        Value value = std::move(open_.back().target);
        open_.pop_back();
        if (options_.sort_keys && value.kind() == dral_core::Kind::Object) {
            dral_core::Object& entries = value.as_object();
            std::stable_sort(entries.begin(), entries.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
        }
        return value;
    }

    static void add(Open& parent, Value&& value) {
        if (parent.from == From::Sequence)
            parent.target.as_array().push_back(std::move(value));
        else
            parent.target.as_object().emplace_back(std::move(parent.key), std::move(value));
    }

    const ConvertOptions& options_;
    const HookCalls* made_;
    std::size_t replayed_ = 0;
    std::uint64_t depth_bound_;
    dral_core::SmallStack<Open, 8> open_;
};

PyObject* scalar_to_py(const Value& value) {
    switch (value.kind()) {
        case dral_core::Kind::Null:
            Py_RETURN_NONE;
        case dral_core::Kind::Bool:
            return PyBool_FromLong(value.as_bool());
        case dral_core::Kind::UInt:
            return PyLong_FromUnsignedLongLong(value.as_uint());
        case dral_core::Kind::Int:
            return PyLong_FromLongLong(value.as_int());
        case dral_core::Kind::Float:
            return PyFloat_FromDouble(value.as_float());
        case dral_core::Kind::Str:
            return new_utf8_str(value.as_str());
        case dral_core::Kind::Bytes: {
            const auto& bytes = value.as_bytes();
            return PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<Py_ssize_t>(bytes.size()));
        }
        case dral_core::Kind::Array:
        case dral_core::Kind::Object:
            break;
    }
    Py_RETURN_NONE;
}

// An empty dict, or a list of the array's length whose items are still to be set.
PyObject* new_container(const Value& value) {
    return value.kind() == dral_core::Kind::Array
               ? PyList_New(static_cast<Py_ssize_t>(value.as_array().size()))
               : _PyDict_NewPresized(static_cast<Py_ssize_t>(value.as_object().size()));
}

// The element's Python object, and whether it is a container with elements still to convert.
PyObject* element_to_py(const Value& element, bool& to_fill) {
    to_fill = false;
    if (element.kind() == dral_core::Kind::Array) {
        to_fill = !element.as_array().empty();
    } else if (element.kind() == dral_core::Kind::Object) {
        to_fill = !element.as_object().empty();
    } else {
        return scalar_to_py(element);
    }
    return new_container(element);
}

}  // namespace

PyObject* key_to_py(std::string_view key) {
    if (dral_core::is_ascii(reinterpret_cast<const std::uint8_t*>(key.data()), key.size()))
        return cached_key(key);
    return new_utf8_str(key);
}

bool read_convert_arguments(const Signature& signature, PyObject** args, int default_index,
                            int max_depth_index, ConvertOptions& out) {
    PyObject* hook = args[default_index];
    if (hook != nullptr && hook != Py_None && !PyCallable_Check(hook)) {
        PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be callable or None, not %.200s",
                     signature.function, signature.names[default_index], Py_TYPE(hook)->tp_name);
        return false;
    }
    out.default_hook = hook == Py_None ? nullptr : hook;
    if (max_depth_index < 0) return true;
    auto max_depth = u64_argument(signature, max_depth_index, args[max_depth_index],
                                  dral_core::kDefaultMaxDepth);
    if (!max_depth) return false;
    out.max_depth = std::min<std::uint64_t>(*max_depth, dral_core::kMaxNestingDepth);
    return true;
}

std::optional<Value> py_to_value(PyObject* object, const ConvertOptions& options,
                                 const HookCalls* made) {
    return PyToValue(options, made).convert(object);
}

// Containers are made and put in their parent first, then filled, depth first; the ones being
// filled wait on a stack of their own, so any depth of value fits a small native stack. Only the
// root is owned here: everything else belongs to it from the moment it exists.
PyObject* value_to_py(const Value& value) {
    if (!value.is_container()) return scalar_to_py(value);
    PyRef root(new_container(value));
    if (!root) return nullptr;
    struct Filling {
        const Value* source;
        PyObject* target;  // borrowed from its parent
        std::size_t next;
    };
    dral_core::SmallStack<Filling, 16> open;
    open.push_back({&value, root.get(), 0});
    while (!open.empty()) {
        Filling& top = open.back();
        const Value* nested = nullptr;
        PyObject* made = nullptr;
        bool to_fill = false;
        if (top.source->kind() == dral_core::Kind::Array) {
            const dral_core::Array& items = top.source->as_array();
            while (!to_fill && top.next < items.size()) {
                nested = &items[top.next];
                made = element_to_py(*nested, to_fill);
                if (made == nullptr) return nullptr;
                PyList_SET_ITEM(top.target, static_cast<Py_ssize_t>(top.next++), made);
            }
        } else {
            const dral_core::Object& entries = top.source->as_object();
            while (!to_fill && top.next < entries.size()) {
                const auto& [key, element] = entries[top.next++];
                nested = &element;
                PyRef item(element_to_py(element, to_fill));
                PyRef py_key(item ? key_to_py(key) : nullptr);
                // In entry order, so that a repeated key keeps its first place and its last value.
                if (!py_key || PyDict_SetItem(top.target, py_key.get(), item.get()) < 0)
                    return nullptr;
                made = item.get();  // the dict holds it now
            }
        }
        if (to_fill)
            open.push_back({nested, made, 0});  // `top` is not used past this point
        else
            open.pop_back();
    }
    return root.release();
}

}  // namespace dral_python
