// Script-visible objects: class instances, Scripting.Dictionary, the Err object, RegExp.
#pragma once

#include "ast.h"
#include "value.h"

#include <string>
#include <unordered_map>
#include <vector>

namespace kestrun::vbscript {

class Interp;

// Objects that can hold other values take part in breaking reference cycles at teardown.
class TrackedObject : public Object {
public:
    explicit TrackedObject(Interp &in);
    ~TrackedObject() override;
    virtual void dropContents() = 0;

protected:
    Interp *in_; // the interpreter that owns every object it created
};

class Instance : public TrackedObject {
public:
    Instance(Interp &in, ClassDef &cls);
    std::u16string typeName() const override { return cls_->name; }
    Value get(Interp &in, std::u16string_view name, Args args) override;
    void put(Interp &in, std::u16string_view name, Args args, const Value &v, bool isSet) override;
    void terminate() override;
    void dropContents() override;

    ClassDef *cls_;
    std::vector<Value> fields;
    bool terminated = false;

private:
    const ClassMember &member(Interp &in, std::u16string_view name);
};

class Dictionary : public TrackedObject {
public:
    explicit Dictionary(Interp &in) : TrackedObject(in) {}
    std::u16string typeName() const override { return u"Dictionary"; }
    Value get(Interp &in, std::u16string_view name, Args args) override;
    void put(Interp &in, std::u16string_view name, Args args, const Value &v, bool isSet) override;
    std::vector<Value> enumerate(Interp &in) override;
    void dropContents() override;

private:
    std::u16string keyOf(Interp &in, const Value &k) const;
    int find(Interp &in, const Value &k) const;

    struct Entry {
        Value key, item;
    };
    std::vector<Entry> entries_;
    std::unordered_map<std::u16string, int> index_;
    int compareMode_ = 0;
};

class ErrObject : public Object {
public:
    std::u16string typeName() const override { return u"ErrObject"; }
    Value get(Interp &in, std::u16string_view name, Args args) override;
    void put(Interp &in, std::u16string_view name, Args args, const Value &v, bool isSet) override;
};

// A read-only list object (match collections and submatches).
class ListObject : public Object {
public:
    ListObject(std::u16string type, std::vector<Value> items)
        : type_(std::move(type)), items_(std::move(items)) {}
    std::u16string typeName() const override { return type_; }
    Value get(Interp &in, std::u16string_view name, Args args) override;
    std::vector<Value> enumerate(Interp &) override { return items_; }

private:
    std::u16string type_;
    std::vector<Value> items_;
};

// `Me` outside a class: the script itself, whose members are its global procedures and
// variables.
class ScriptObject : public Object {
public:
    std::u16string typeName() const override { return u"Object"; }
    Value get(Interp &in, std::u16string_view name, Args args) override;
    void put(Interp &in, std::u16string_view name, Args args, const Value &v, bool isSet) override;
};

// A procedure taken by GetRef: calling the object (its default member) calls the procedure.
class ProcRef : public Object {
public:
    explicit ProcRef(Proc &p) : proc_(&p) {}
    std::u16string typeName() const override { return u"Object"; }
    Value get(Interp &in, std::u16string_view name, Args args) override;

private:
    Proc *proc_; // owned by the engine's programs, which outlive every value
};

Value makeRegExp(Interp &in);

} // namespace kestrun::vbscript
