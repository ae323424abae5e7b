#include "objects.h"

#include "errors.h"
#include "interp.h"
#include "ops.h"

namespace kestrun::vbscript {

namespace {

[[noreturn]] void noMember(std::u16string_view type, std::u16string_view name) {
    throw ScriptError(err::NoMember, errorDescription(err::NoMember) + u": '" +
                                         std::u16string(type) + u"." + std::u16string(name) + u"'");
}

const Value &argAt(Args args, size_t i) {
    static const Value empty;
    return i < args.size() ? *args[i] : empty;
}

bool present(Args args, size_t i) {
    return i < args.size() && !isMissing(*args[i]);
}

} // namespace

TrackedObject::TrackedObject(Interp &in) : in_(&in) {
    in.track(this);
}
TrackedObject::~TrackedObject() {
    in_->untrack(this);
}

// ---------------------------------------------------------------- class instances

Instance::Instance(Interp &in, ClassDef &cls) : TrackedObject(in), cls_(&cls) {
    fields.resize(cls.fields.size());
}

const ClassMember &Instance::member(Interp &in, std::u16string_view name) {
    std::u16string key(name.empty() ? std::u16string_view(cls_->defaultMember) : name);
    if (key.empty())
        noMember(cls_->name, u"<default>");
    auto it = cls_->members.find(key);
    bool inside = in.frame->me && in.frame->me->cls_ == cls_;
    if (it == cls_->members.end() || (!it->second.isPublic && !inside))
        noMember(cls_->name, key);
    return it->second;
}

Value Instance::get(Interp &in, std::u16string_view name, Args args) {
    const ClassMember &m = member(in, name);
    if (m.field >= 0)
        return indexValue(in, fields[static_cast<size_t>(m.field)], args);
    if (m.method)
        return in.callProc(*m.method, this, args);
    if (m.get)
        return in.callProc(*m.get, this, args);
    noMember(cls_->name, name);
}

void Instance::put(Interp &in, std::u16string_view name, Args args, const Value &v, bool isSet) {
    const ClassMember &m = member(in, name);
    if (m.field >= 0) {
        Value &f = fields[static_cast<size_t>(m.field)];
        if (args.empty()) {
            storeVar(in, f, v, isSet);
        } else if (f.isArray()) {
            storeVar(in, arrayElement(in, f, args), v, isSet);
        } else if (f.isObject() && f.o()) {
            Value keep = f;
            keep.o()->put(in, u"", args, v, isSet);
        } else {
            raise(err::TypeMismatch);
        }
        return;
    }
    Proc *p = isSet ? m.set : m.let;
    if (!p) {
        if (m.method)
            raise(err::IllegalAssign);
        noMember(cls_->name, name);
    }
    std::vector<Value *> all(args.begin(), args.end());
    Value copy = v;
    all.push_back(&copy);
    in.callProc(*p, this, Args(all.data(), all.size()));
}

void Instance::terminate() {
    if (cls_->term && !terminated) {
        terminated = true;
        Frame *saved = in_->frame;
        int line = in_->curLine;
        // The terminator counts as one level of calls until everything it released has gone:
        // a terminator that creates and drops objects of its own class then ends in error 28
        // instead of nesting without bound.
        if (in_->depth == 0)
            in_->markStack();
        ++in_->depth;
        struct Level {
            Interp &in;
            ~Level() { --in.depth; }
        } level{*in_};
        try {
            in_->callProc(*cls_->term, this, {});
        } catch (...) {
            in_->frame = saved;
            in_->curLine = line;
            throw;
        }
        in_->curLine = line;
    }
}

void Instance::dropContents() {
    std::vector<Value> doomed;
    doomed.swap(fields);
    fields.resize(doomed.size());
}

// ---------------------------------------------------------------- Scripting.Dictionary

std::u16string Dictionary::keyOf(Interp &in, const Value &k) const {
    switch (k.type()) {
    case VType::String:
        return u"s" + (compareMode_ == 1 ? lowerAscii(k.s()) : k.s());
    case VType::Empty:
        return u"e";
    case VType::Null:
        return u"z";
    case VType::Boolean:
        return k.b() ? u"b1" : u"b0";
    case VType::Date:
        return u"d" + formatDouble(k.d(), 17);
    case VType::Object: {
        auto p = reinterpret_cast<uintptr_t>(k.o());
        return u"o" + formatLong(static_cast<int64_t>(p));
    }
    case VType::Array:
        raise(err::TypeMismatch);
    default:
        return u"n" + formatDouble(toDouble(in, k), 17);
    }
}

int Dictionary::find(Interp &in, const Value &k) const {
    auto it = index_.find(keyOf(in, k));
    return it == index_.end() ? -1 : it->second;
}

Value Dictionary::get(Interp &in, std::u16string_view name, Args args) {
    auto arrayOf = [](std::vector<Value> items) {
        auto *a = new ArrayRep;
        a->dims.push_back(static_cast<int32_t>(items.size()));
        a->data = std::move(items);
        return Value::array(a);
    };
    if (name == u"count")
        return Value::lng(static_cast<int32_t>(entries_.size()));
    if (name == u"exists") {
        if (args.size() != 1)
            raise(err::WrongArgs);
        return Value::boolean(find(in, argAt(args, 0)) >= 0);
    }
    if (name == u"add") {
        if (args.size() != 2)
            raise(err::WrongArgs);
        std::u16string key = keyOf(in, argAt(args, 0));
        if (index_.count(key))
            raise(err::KeyExists);
        index_.emplace(key, static_cast<int>(entries_.size()));
        entries_.push_back({argAt(args, 0), argAt(args, 1)});
        return {};
    }
    if (name == u"item" || name.empty()) {
        if (args.size() != 1)
            raise(err::WrongArgs);
        int i = find(in, argAt(args, 0));
        if (i < 0) { // reading a missing key adds it
            index_.emplace(keyOf(in, argAt(args, 0)), static_cast<int>(entries_.size()));
            entries_.push_back({argAt(args, 0), Value()});
            return {};
        }
        return entries_[static_cast<size_t>(i)].item;
    }
    if (name == u"items" || name == u"keys") {
        std::vector<Value> out;
        out.reserve(entries_.size());
        for (auto &e : entries_)
            out.push_back(name == u"items" ? e.item : e.key);
        return arrayOf(std::move(out));
    }
    if (name == u"remove") {
        if (args.size() != 1)
            raise(err::WrongArgs);
        int i = find(in, argAt(args, 0));
        if (i < 0)
            raise(err::ElementNotFound);
        Entry doomed = std::move(entries_[static_cast<size_t>(i)]);
        entries_.erase(entries_.begin() + i);
        index_.clear();
        for (size_t k = 0; k < entries_.size(); ++k)
            index_.emplace(keyOf(in, entries_[k].key), static_cast<int>(k));
        return {};
    }
    if (name == u"removeall") {
        std::vector<Entry> doomed;
        doomed.swap(entries_);
        index_.clear();
        return {};
    }
    if (name == u"comparemode")
        return Value::lng(compareMode_);
    noMember(u"Dictionary", name);
}

void Dictionary::put(Interp &in, std::u16string_view name, Args args, const Value &v, bool isSet) {
    if (name == u"item" || name.empty()) {
        if (args.size() != 1)
            raise(err::WrongArgs);
        Value item;
        storeVar(in, item, v, isSet);
        int i = find(in, argAt(args, 0));
        if (i < 0) {
            index_.emplace(keyOf(in, argAt(args, 0)), static_cast<int>(entries_.size()));
            entries_.push_back({argAt(args, 0), std::move(item)});
        } else {
            entries_[static_cast<size_t>(i)].item = std::move(item);
        }
        return;
    }
    if (name == u"key") {
        if (args.size() != 1)
            raise(err::WrongArgs);
        int i = find(in, argAt(args, 0));
        if (i < 0)
            raise(err::ElementNotFound);
        std::u16string nk = keyOf(in, v);
        if (index_.count(nk))
            raise(err::KeyExists);
        index_.erase(keyOf(in, argAt(args, 0)));
        entries_[static_cast<size_t>(i)].key = v;
        index_.emplace(nk, i);
        return;
    }
    if (name == u"comparemode") {
        if (!entries_.empty())
            raise(err::InvalidCall);
        compareMode_ = toLong(in, v);
        return;
    }
    noMember(u"Dictionary", name);
}

std::vector<Value> Dictionary::enumerate(Interp &) {
    std::vector<Value> keys;
    keys.reserve(entries_.size());
    for (auto &e : entries_)
        keys.push_back(e.key);
    return keys;
}

void Dictionary::dropContents() {
    std::vector<Entry> doomed;
    doomed.swap(entries_);
    index_.clear();
}

// ---------------------------------------------------------------- Err

Value ErrObject::get(Interp &in, std::u16string_view name, Args args) {
    if (name.empty() || name == u"number")
        return Value::lng(in.errNumber);
    if (name == u"description")
        return Value::str(in.errDescription);
    if (name == u"source")
        return Value::str(in.errSource);
    if (name == u"helpfile")
        return Value::str(in.errHelpFile);
    if (name == u"helpcontext")
        return Value::lng(in.errHelpContext);
    if (name == u"clear") {
        in.clearError();
        return {};
    }
    if (name == u"raise") {
        if (args.empty() || args.size() > 5)
            raise(err::WrongArgs);
        ScriptError e(raisedNumber(toLong(in, argAt(args, 0))));
        // What is left out comes from the Err object where the script set it before.
        if (present(args, 1)) {
            e.source = toStr(in, argAt(args, 1));
            e.scriptSource = true;
        } else if (in.errSourceByScript) {
            e.source = in.errSource;
            e.scriptSource = true;
        }
        if (present(args, 2)) {
            e.description = toStr(in, argAt(args, 2));
            e.scriptDescription = true;
        } else if (in.errDescriptionByScript) {
            e.description = in.errDescription;
            e.scriptDescription = true;
        }
        e.helpFile = present(args, 3) ? toStr(in, argAt(args, 3)) : in.errHelpFile;
        e.helpContext = present(args, 4) ? toLong(in, argAt(args, 4)) : in.errHelpContext;
        if (e.source.empty())
            e.source = u"VBScript runtime error";
        throw e;
    }
    noMember(u"Err", name);
}

void ErrObject::put(Interp &in, std::u16string_view name, Args, const Value &v, bool) {
    if (name.empty() || name == u"number")
        in.errNumber = toLong(in, v);
    else if (name == u"description") {
        in.errDescription = toStr(in, v);
        in.errDescriptionByScript = true;
    } else if (name == u"source") {
        in.errSource = toStr(in, v);
        in.errSourceByScript = true;
    } else if (name == u"helpfile")
        in.errHelpFile = toStr(in, v);
    else if (name == u"helpcontext")
        in.errHelpContext = toLong(in, v);
    else
        noMember(u"Err", name);
}

// ---------------------------------------------------------------- the script as an object

Value ScriptObject::get(Interp &in, std::u16string_view name, Args args) {
    std::u16string key(name);
    if (auto it = in.procs.find(key); it != in.procs.end())
        return in.callProc(*it->second, nullptr, args);
    if (auto it = in.globalIndex.find(key); it != in.globalIndex.end())
        return indexValue(in, in.globals[static_cast<size_t>(it->second)], args);
    noMember(u"Object", name);
}

void ScriptObject::put(Interp &in, std::u16string_view name, Args args, const Value &v,
                       bool isSet) {
    auto it = in.globalIndex.find(std::u16string(name));
    if (it == in.globalIndex.end())
        noMember(u"Object", name);
    Value &var = in.globals[static_cast<size_t>(it->second)];
    if (args.empty())
        storeVar(in, var, v, isSet);
    else if (var.isArray())
        storeVar(in, arrayElement(in, var, args), v, isSet);
    else
        raise(err::TypeMismatch);
}

Value ProcRef::get(Interp &in, std::u16string_view name, Args args) {
    if (!name.empty())
        noMember(u"Object", name);
    return in.callProc(*proc_, nullptr, args);
}

// ---------------------------------------------------------------- lists

Value ListObject::get(Interp &in, std::u16string_view name, Args args) {
    if (name == u"count")
        return Value::lng(static_cast<int32_t>(items_.size()));
    if (name.empty() || name == u"item") {
        if (args.size() != 1)
            raise(err::WrongArgs);
        int32_t i = toLong(in, argAt(args, 0));
        if (i < 0 || static_cast<size_t>(i) >= items_.size())
            raise(err::InvalidCall);
        return items_[static_cast<size_t>(i)];
    }
    noMember(type_, name);
}

} // namespace kestrun::vbscript
