#include "interp.h"

#include "objects.h"
#include "ops.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <type_traits>

namespace kestrun::vbscript {

namespace {

constexpr int kMaxDepth = 2000;
constexpr uintptr_t kMaxStackBytes = 3u << 20; // well inside an 8 MiB thread stack
// Room kept free below the deepest procedure call for the work done between two calls
// (expressions, built-ins, the error's unwinding).
constexpr uintptr_t kStackReserve = 256u << 10;

ScriptError named(int32_t number, std::u16string_view name) {
    return ScriptError(number, errorDescription(number) + u": '" + std::u16string(name) + u"'");
}

// Evaluates call arguments: a variable is passed by address, anything else through a temporary.
class ArgBuf {
public:
    // With `byRef` (a procedure's parameters), array elements go to ByRef parameters by address.
    ArgBuf(Interp &in, const std::vector<ExprPtr> &args,
           const std::vector<uint8_t> *byRef = nullptr)
        : n_(args.size()) {
        Value *t = tmp_;
        Value **p = ptr_;
        if (n_ > kInline) {
            tmpV_.resize(n_);
            ptrV_.resize(n_);
            t = tmpV_.data();
            p = ptrV_.data();
        }
        for (size_t i = 0; i < n_; ++i) {
            Expr *e = args[i].get();
            if (!e) {
                t[i] = Value::error(kMissing);
                p[i] = &t[i];
                continue;
            }
            if (Value *r = e->ref(in)) {
                p[i] = r;
            } else if (Value *el = byRef && i < byRef->size() && (*byRef)[i] ? elementRef(in, e)
                                                                             : nullptr) {
                p[i] = el;
            } else {
                t[i] = e->eval(in);
                p[i] = &t[i];
            }
        }
    }
    ~ArgBuf() {
        for (Value &h : held_)
            --h.a()->locks;
    }
    ArgBuf(const ArgBuf &) = delete;
    ArgBuf &operator=(const ArgBuf &) = delete;
    Args args() const { return Args(n_ > kInline ? ptrV_.data() : ptr_, n_); }

private:
    Value *elementRef(Interp &in, Expr *e) {
        Value hold;
        Value *el = e->elementRef(in, hold);
        if (el)
            held_.push_back(std::move(hold));
        return el;
    }

    static constexpr size_t kInline = 4;
    size_t n_;
    Value tmp_[kInline];
    Value *ptr_[kInline] = {};
    std::vector<Value> tmpV_;
    std::vector<Value *> ptrV_;
    std::vector<Value> held_; // locked arrays whose elements were passed
};

bool conversionOnly(const std::u16string &lname) {
    return lname == u"cbyte" || lname == u"ccur" || lname == u"cdate" || lname == u"cdbl" ||
           lname == u"cint" || lname == u"clng" || lname == u"csng";
}

// Restores the running frame and depth when a procedure ends, normally or not.
struct FrameGuard {
    Interp &in;
    Frame *saved;
    ~FrameGuard() {
        in.frame = saved;
        --in.depth;
    }
};

} // namespace

// ---------------------------------------------------------------- helpers

bool truthy(Interp &in, const Value &v) {
    if (v.type() == VType::Boolean)
        return v.b();
    if (v.isNull())
        return false;
    return toBool(in, v);
}

void storeVar(Interp &in, Value &var, const Value &v, bool isSet) {
    if (isSet) {
        if (!v.isObject())
            raise(err::ObjectRequired);
        var = v;
    } else if (v.isObject()) {
        var = scalar(in, v);
    } else {
        var = v;
        var.dropFixed();
    }
}

Value &arrayElement(Interp &in, Value &arr, Args idx) {
    ArrayRep *a = arr.mutableArray();
    if (idx.size() != a->dims.size())
        raise(err::Subscript);
    size_t off = 0, mul = 1;
    for (size_t d = 0; d < idx.size(); ++d) {
        int32_t i = toLong(in, *idx[d]);
        if (i < 0 || i >= a->dims[d])
            raise(err::Subscript);
        off += static_cast<size_t>(i) * mul;
        mul *= static_cast<size_t>(a->dims[d]);
    }
    return a->data[off];
}

Value indexValue(Interp &in, const Value &v, Args args) {
    if (args.empty())
        return v;
    if (v.isArray()) {
        const ArrayRep *a = v.a();
        if (args.size() != a->dims.size())
            raise(err::Subscript);
        size_t off = 0, mul = 1;
        for (size_t d = 0; d < args.size(); ++d) {
            const Value &x = *args[d];
            int32_t i = x.isInteger() ? x.intValue() : toLong(in, x);
            if (i < 0 || i >= a->dims[d])
                raise(err::Subscript);
            off += static_cast<size_t>(i) * mul;
            mul *= static_cast<size_t>(a->dims[d]);
        }
        return a->data[off];
    }
    if (v.isObject()) {
        if (!v.o())
            raise(err::ObjectNotSet);
        Value keep = v;
        return keep.o()->get(in, u"", args);
    }
    raise(err::TypeMismatch);
}

void Expr::assign(Interp &, const Value &, bool) {
    raise(err::IllegalAssign);
}

bool Expr::truth(Interp &in) {
    return truthy(in, eval(in));
}

// ---------------------------------------------------------------- names

void NameExpr::resolve(Interp &in) {
    if (auto it = in.globalIndex.find(lname); it != in.globalIndex.end()) {
        kind = NameKind::Global;
        slot = it->second;
        return;
    }
    if (auto it = in.procs.find(lname); it != in.procs.end()) {
        kind = NameKind::Proc;
        proc = it->second;
        return;
    }
    if ((builtin = findBuiltin(lname))) {
        kind = NameKind::Builtin;
        return;
    }
    if (findConstant(lname, constant)) {
        kind = NameKind::Constant;
        return;
    }
    if (fallbackSlot >= 0 && !explicitOn) {
        kind = NameKind::Local;
        slot = fallbackSlot;
        return;
    }
    if (explicitOn)
        throw named(err::Undefined, name);
    kind = NameKind::Global;
    slot = in.globalSlot(lname, true);
}

Value *NameExpr::variable(Interp &in) {
    switch (kind) {
    case NameKind::Local:
    case NameKind::RetVal:
        return in.frame->vars[slot];
    case NameKind::Global:
        return &in.globals[static_cast<size_t>(slot)];
    case NameKind::Field:
        if (!in.frame->me)
            raise(err::ObjectRequired);
        return &in.frame->me->fields[static_cast<size_t>(slot)];
    case NameKind::Unresolved:
        resolve(in);
        return variable(in);
    default:
        return nullptr;
    }
}

Value *NameExpr::ref(Interp &in) {
    return variable(in);
}

const Value *NameExpr::peek(Interp &in) {
    switch (kind) {
    case NameKind::Local:
    case NameKind::RetVal:
        return in.frame->vars[slot];
    case NameKind::Global:
        return &in.globals[static_cast<size_t>(slot)];
    case NameKind::Constant:
        return &constant;
    case NameKind::Field:
    case NameKind::Unresolved:
        return variable(in);
    default:
        return nullptr;
    }
}

Value NameExpr::eval(Interp &in) {
    switch (kind) {
    case NameKind::Local:
    case NameKind::RetVal:
        return *in.frame->vars[slot];
    case NameKind::Global:
        return in.globals[static_cast<size_t>(slot)];
    case NameKind::Field:
        return *variable(in);
    case NameKind::Proc:
        return in.callProc(*proc, nullptr, {});
    case NameKind::MeMember:
        if (!in.frame->me)
            raise(err::ObjectRequired);
        return in.frame->me->get(in, lname, {});
    case NameKind::Builtin:
        if (builtin->minArgs > 0)
            throw named(err::WrongArgs, name);
        if (lname == u"randomize") // a statement, not a function
            throw named(err::TypeMismatch, name);
        return builtin->fn(in, {});
    case NameKind::Constant:
        return constant;
    case NameKind::Unresolved:
        resolve(in);
        return eval(in);
    }
    return {};
}

void NameExpr::assign(Interp &in, const Value &v, bool isSet) {
    if (kind == NameKind::Local) {
        Value &var = *in.frame->vars[slot];
        if (!v.isObject() && !isSet) {
            var = v;
            var.dropFixed();
        } else
            storeVar(in, var, v, isSet);
        return;
    }
    if (Value *var = variable(in)) {
        storeVar(in, *var, v, isSet);
        return;
    }
    if (kind == NameKind::MeMember) {
        if (!in.frame->me)
            raise(err::ObjectRequired);
        in.frame->me->put(in, lname, {}, v, isSet);
        return;
    }
    throw named(err::IllegalAssign, name);
}

// ---------------------------------------------------------------- members and calls

Value MemberExpr::target(Interp &in) {
    Value obj;
    if (object) {
        obj = object->eval(in);
    } else {
        if (!in.frame->with)
            raise(err::ObjectRequired);
        obj = in.frame->with->object;
    }
    if (!obj.isObject())
        raise(err::ObjectRequired);
    if (!obj.o())
        raise(err::ObjectNotSet);
    return obj;
}

Value MemberExpr::eval(Interp &in) {
    Value obj = target(in);
    return obj.o()->get(in, lname, {});
}

void MemberExpr::assign(Interp &in, const Value &v, bool isSet) {
    Value obj = target(in);
    obj.o()->put(in, lname, {}, v, isSet);
}

void CallExpr::classify() {
    name_ = dynamic_cast<NameExpr *>(callee.get());
    member_ = dynamic_cast<MemberExpr *>(callee.get());
    classified_ = true;
}

Value CallExpr::eval(Interp &in) {
    if (!classified_)
        classify();
    if (auto *n = name_) {
        if (n->kind == NameKind::Unresolved) {
            try {
                n->resolve(in);
            } catch (const ScriptError &e) {
                // An unknown name used as a call is reported like the language does.
                if (e.number == err::Undefined && (parens || !args.empty()))
                    throw named(err::TypeMismatch, n->name);
                throw;
            }
        }
        const std::vector<uint8_t> *byRef =
            n->kind == NameKind::Proc || n->kind == NameKind::RetVal ? &n->proc->byRef : nullptr;
        ArgBuf buf(in, args, byRef);
        switch (n->kind) {
        case NameKind::Proc:
            return in.callProc(*n->proc, nullptr, buf.args());
        case NameKind::RetVal:
            return in.callProc(*n->proc, in.frame->me, buf.args());
        case NameKind::MeMember:
            if (!in.frame->me)
                raise(err::ObjectRequired);
            return in.frame->me->get(in, n->lname, buf.args());
        case NameKind::Builtin: {
            const Builtin *b = n->builtin;
            int na = static_cast<int>(args.size());
            if (na < b->minArgs || (b->maxArgs >= 0 && na > b->maxArgs))
                throw named(err::WrongArgs, n->name);
            // The numeric conversions return types a statement cannot discard; the
            // conversion runs first, so a bad argument reports its own error.
            if (statement && conversionOnly(n->lname)) {
                b->fn(in, buf.args());
                raise(err::UnsupportedType);
            }
            if (!statement && n->lname == u"randomize") // a statement, not a function
                throw named(err::TypeMismatch, n->name);
            return b->fn(in, buf.args());
        }
        case NameKind::Constant:
            if (!args.empty())
                raise(err::TypeMismatch);
            return n->constant;
        default: {
            Value *var = n->variable(in);
            if (!var->isArray() && !var->isObject() && !args.empty())
                throw named(err::TypeMismatch, n->name);
            if (var->isObject() && args.empty() && (parens || statement)) {
                // `o()` calls the object's default member.
                if (!var->o())
                    raise(err::ObjectNotSet);
                Value keep = *var;
                return keep.o()->get(in, u"", {});
            }
            return indexValue(in, *var, buf.args());
        }
        }
    }
    if (auto *m = member_) {
        Value obj = m->target(in);
        ArgBuf buf(in, args);
        return obj.o()->get(in, m->lname, buf.args());
    }
    Value v = callee->eval(in);
    ArgBuf buf(in, args);
    return indexValue(in, v, buf.args());
}

Value *CallExpr::elementRef(Interp &in, Value &hold) {
    auto *n = dynamic_cast<NameExpr *>(callee.get());
    if (!n || args.empty())
        return nullptr;
    if (n->kind == NameKind::Unresolved) {
        try {
            n->resolve(in);
        } catch (const ScriptError &) {
            return nullptr; // evaluating it reports the error as a call would
        }
    }
    Value *var = n->variable(in);
    if (!var || !var->isArray())
        return nullptr;
    ArgBuf idx(in, args);
    Value &el = arrayElement(in, *var, idx.args());
    hold = *var;
    ++hold.a()->locks;
    return &el;
}

void CallExpr::assign(Interp &in, const Value &v, bool isSet) {
    if (auto *n = dynamic_cast<NameExpr *>(callee.get())) {
        if (n->kind == NameKind::Unresolved)
            n->resolve(in);
        ArgBuf buf(in, args);
        if (n->kind == NameKind::MeMember) {
            if (!in.frame->me)
                raise(err::ObjectRequired);
            in.frame->me->put(in, n->lname, buf.args(), v, isSet);
            return;
        }
        Value *var = n->variable(in);
        if (!var)
            throw named(err::IllegalAssign, n->name);
        if (var->isArray()) {
            Value &slot = arrayElement(in, *var, buf.args());
            storeVar(in, slot, v, isSet);
            return;
        }
        if (var->isObject() && var->o()) {
            Value keep = *var;
            keep.o()->put(in, u"", buf.args(), v, isSet);
            return;
        }
        if (var->isObject())
            raise(err::ObjectNotSet);
        throw named(err::TypeMismatch, n->name);
    }
    if (auto *m = dynamic_cast<MemberExpr *>(callee.get())) {
        Value obj = m->target(in);
        ArgBuf buf(in, args);
        obj.o()->put(in, m->lname, buf.args(), v, isSet);
        return;
    }
    Value obj = callee->eval(in);
    ArgBuf buf(in, args);
    if (!obj.isObject() || !obj.o())
        raise(err::IllegalAssign);
    obj.o()->put(in, u"", buf.args(), v, isSet);
}

// ---------------------------------------------------------------- operators

namespace {

Value fitSum(int64_t r, bool isLong) {
    if (!isLong && r >= -32768 && r <= 32767)
        return Value::integer(static_cast<int16_t>(r));
    if (r >= INT32_MIN && r <= INT32_MAX)
        return Value::lng(static_cast<int32_t>(r));
    return Value::dbl(static_cast<double>(r));
}

bool isIntLike(const Value &v) {
    return v.type() == VType::Integer || v.type() == VType::Long;
}

bool isCompare(Op op) {
    return op >= Op::Eq && op <= Op::Ge;
}

} // namespace

Value BinaryExpr::eval(Interp &in) {
    // Operands held in variables or literals are read in place instead of copied. The left
    // one is copied after all when the right one has to be evaluated (it might change it).
    const Value *pa = lhs->peek(in);
    const Value *pb = rhs->peek(in);
    Value ta, tb;
    if (!pa) {
        ta = lhs->eval(in);
        pa = &ta;
    }
    if (!pb) {
        if (pa != &ta) {
            ta = *pa;
            pa = &ta;
        }
        tb = rhs->eval(in);
        pb = &tb;
    }
    return apply(in, *pa, *pb);
}

Value BinaryExpr::apply(Interp &in, const Value &a, const Value &b) {
    if (isIntLike(a) && isIntLike(b)) {
        int64_t x = a.intValue(), y = b.intValue();
        bool isLong = a.type() == VType::Long || b.type() == VType::Long;
        switch (op) {
        case Op::Add:
            return fitSum(x + y, isLong);
        case Op::Sub:
            return fitSum(x - y, isLong);
        case Op::Mul:
            return fitSum(x * y, isLong);
        case Op::Eq:
            return Value::boolean(x == y);
        case Op::Ne:
            return Value::boolean(x != y);
        case Op::Lt:
            return Value::boolean(x < y);
        case Op::Gt:
            return Value::boolean(x > y);
        case Op::Le:
            return Value::boolean(x <= y);
        case Op::Ge:
            return Value::boolean(x >= y);
        default:
            break;
        }
    } else if (a.type() == VType::Double && (b.type() == VType::Double || isIntLike(b))) {
        double x = a.d(), y = b.type() == VType::Double ? b.d() : b.intValue();
        // A result out of the Double range is the general rules' overflow error.
        switch (op) {
        case Op::Add:
            if (double r = x + y; std::isfinite(r))
                return Value::dbl(r);
            break;
        case Op::Sub:
            if (double r = x - y; std::isfinite(r))
                return Value::dbl(r);
            break;
        case Op::Mul:
            if (double r = x * y; std::isfinite(r))
                return Value::dbl(r);
            break;
        case Op::Lt:
            return Value::boolean(x < y);
        case Op::Gt:
            return Value::boolean(x > y);
        default:
            break;
        }
    } else if (op == Op::Concat && a.isString() && b.isString()) {
        checkJoinedLength(a.s().size(), b.s().size());
        std::u16string s;
        s.reserve(a.s().size() + b.s().size());
        s += a.s();
        s += b.s();
        return Value::str(std::move(s));
    }
    if (isCompare(op) && a.isString() != b.isString() && (lhs->isLiteral() || rhs->isLiteral())) {
        // A literal compared with a value of the other kind is converted to that kind.
        const Value &s = a.isString() ? a : b;
        const Value &o = a.isString() ? b : a;
        bool strIsLiteral = a.isString() ? lhs->isLiteral() : rhs->isLiteral();
        double unused;
        // A Boolean against a text that is no number follows the general rule (a text is
        // greater than any number): `"true" <> True`.
        bool general = o.type() == VType::Boolean && strIsLiteral && !parseNumber(s.s(), unused);
        if (!general && !o.isNull() && !o.isEmpty() && !o.isObject() && !o.isArray()) {
            int c;
            if (strIsLiteral) {
                double d;
                if (!parseNumber(s.s(), d))
                    raise(err::TypeMismatch);
                double x = toDouble(in, o);
                c = x < d ? -1 : x > d ? 1 : 0; // number against text
                if (a.isString())
                    c = -c;
            } else {
                std::u16string t = toStr(in, o);
                int r = t.compare(s.s());
                r = r < 0 ? -1 : r > 0 ? 1 : 0;
                c = a.isString() ? -r : r;
            }
            switch (op) {
            case Op::Eq:
                return Value::boolean(c == 0);
            case Op::Ne:
                return Value::boolean(c != 0);
            case Op::Lt:
                return Value::boolean(c < 0);
            case Op::Gt:
                return Value::boolean(c > 0);
            case Op::Le:
                return Value::boolean(c <= 0);
            default:
                return Value::boolean(c >= 0);
            }
        }
    }
    return binaryOp(in, op, a, b);
}

Value UnaryExpr::eval(Interp &in) {
    Value v = operand->eval(in);
    if (isNot) {
        if (v.type() == VType::Boolean)
            return Value::boolean(!v.b());
        return logicalNot(in, v);
    }
    if (v.type() == VType::Long && v.l() != INT32_MIN)
        return Value::lng(-v.l());
    if (v.type() == VType::Double)
        return Value::dbl(-v.d());
    return negate(in, v);
}

Value NewExpr::eval(Interp &in) {
    return in.newInstance(lname);
}

Value MeExpr::eval(Interp &in) {
    if (!in.frame->me) {
        if (!in.scriptObject.isObject())
            in.scriptObject = Value::object(new ScriptObject);
        return in.scriptObject;
    }
    return Value::object(in.frame->me);
}

// ---------------------------------------------------------------- statements

Flow CallStmt::exec(Interp &in) {
    call->eval(in);
    return Flow::Normal;
}

Flow AssignStmt::exec(Interp &in) {
    Value v = value->eval(in);
    if (name && (name->kind == NameKind::Local || name->kind == NameKind::RetVal) && !isSet &&
        !v.isObject()) {
        v.dropFixed();
        *in.frame->vars[name->slot] = std::move(v);
        return Flow::Normal;
    }
    target->assign(in, v, isSet);
    return Flow::Normal;
}

Flow AppendStmt::exec(Interp &in) {
    Value tail = value->eval(in);
    Value *var = target->ref(in);
    if (var && var->isString() && !tail.isObject() && !tail.isArray()) {
        if (tail.isString()) {
            checkJoinedLength(var->s().size(), tail.s().size());
            var->mutableString().append(tail.s());
        } else if (!tail.isNull()) {
            std::u16string text = toStr(in, tail);
            checkJoinedLength(var->s().size(), text.size());
            var->mutableString().append(text);
        }
        return Flow::Normal;
    }
    Value head = target->eval(in);
    target->assign(in, binaryOp(in, Op::Concat, head, tail), false);
    return Flow::Normal;
}

namespace {

// Runs the header of a block statement (a condition, a loop's bounds). Under On Error Resume Next
// a failure is recorded and false returned: the statement then goes on with the first statement
// of its body, which is the next statement after the failing one.
template <class Body> bool headerRuns(Interp &in, Body &&body) {
    if (!in.frame->resumeNext) {
        body();
        return true;
    }
    try {
        body();
        return true;
    } catch (ScriptError &e) {
        if (e.fatal)
            throw;
        if (!e.line)
            e.line = in.curLine;
        in.setError(e);
        return false;
    }
}

} // namespace

Flow IfStmt::exec(Interp &in) {
    for (size_t i = 0; i < conds.size(); ++i) {
        bool hit = false;
        if (!headerRuns(in, [&] { hit = conds[i]->truth(in); }) || hit)
            return in.execBlock(blocks[i]);
    }
    return in.execBlock(elseBlock);
}

Flow SelectStmt::exec(Interp &in) {
    Value v;
    if (!headerRuns(in, [&] {
            v = test->eval(in);
            if (v.isObject())
                v = scalar(in, v);
        }))
        return in.execBlock(blocks.empty() ? elseBlock : blocks[0]);
    for (size_t c = 0; c < cases.size(); ++c) {
        for (const CaseItem &it : cases[c]) {
            bool hit = false;
            bool ran = headerRuns(in, [&] {
                Value x = it.value->eval(in);
                if (it.hasIs) {
                    hit = truthy(in, binaryOp(in, it.isOp, v, x));
                } else if (it.upper) {
                    Value y = it.upper->eval(in);
                    hit =
                        !v.isNull() && compareValues(in, v, x) >= 0 && compareValues(in, v, y) <= 0;
                } else {
                    hit = equalForSelect(in, v, x);
                }
            });
            if (!ran || hit)
                return in.execBlock(blocks[c]);
        }
    }
    return in.execBlock(elseBlock);
}

Flow ForStmt::exec(Interp &in) {
    Value start, end, stepv;
    Value *counter = nullptr;
    bool ok = headerRuns(in, [&] {
        start = scalar(in, from->eval(in));
        end = scalar(in, to->eval(in));
        stepv = step ? scalar(in, step->eval(in)) : Value::integer(1);
        counter = var->ref(in);
        if (!counter)
            raise(err::InvalidCall);
        if (!(isIntLike(start) && isIntLike(end) && isIntLike(stepv)) &&
            (start.isNull() || end.isNull() || stepv.isNull()))
            raise(err::InvalidNull);
    });
    if (!ok) { // resumed into the body, which then runs once
        Flow f = in.execBlock(body);
        return f == Flow::ExitFor ? Flow::Normal : f;
    }
    if (isIntLike(start) && isIntLike(end) && isIntLike(stepv)) {
        bool isLong = start.type() == VType::Long || stepv.type() == VType::Long;
        int64_t i = start.intValue(), e = end.intValue(), st = stepv.intValue();
        if (st >= 0 ? i > e : i < e) // runs no time: the counter stays as it was
            return Flow::Normal;
        *counter = fitSum(i, isLong);
        // A body of one statement runs without the block's loop while no error is resumed.
        Stmt *only = body.size() == 1 ? body[0].get() : nullptr;
        while (st >= 0 ? i <= e : i >= e) {
            in.tick();
            Flow f;
            if (only && !in.frame->resumeNext) {
                in.curLine = only->line;
                f = only->exec(in);
            } else {
                f = in.execBlock(body);
            }
            if (f == Flow::ExitFor)
                break;
            if (f != Flow::Normal)
                return f;
            if (counter->isInteger())
                i = counter->intValue() + st;
            else
                i = static_cast<int64_t>(toDouble(in, *counter)) + st;
            if (i > INT32_MAX || i < INT32_MIN) {
                *counter = Value::dbl(static_cast<double>(i));
                if (st >= 0 ? i <= e : i >= e)
                    raise(err::Overflow);
                break;
            }
            // The counter is updated in place: no temporary value per step.
            if (!isLong && counter->type() != VType::Long && i >= INT16_MIN && i <= INT16_MAX)
                counter->setInteger(static_cast<int16_t>(i));
            else
                counter->setLong(static_cast<int32_t>(i));
        }
        return Flow::Normal;
    }
    double e = toDouble(in, end), st = toDouble(in, stepv);
    Value first = start.isString() ? Value::dbl(toDouble(in, start)) : start;
    double i0 = toDouble(in, first);
    if (st >= 0 ? i0 > e : i0 < e) // runs no time: the counter stays as it was
        return Flow::Normal;
    *counter = std::move(first);
    while (true) {
        double i = toDouble(in, *counter);
        if (st >= 0 ? i > e : i < e)
            break;
        in.tick();
        Flow f = in.execBlock(body);
        if (f == Flow::ExitFor)
            break;
        if (f != Flow::Normal)
            return f;
        counter = var->ref(in);
        *counter = binaryOp(in, Op::Add, *counter, stepv);
    }
    return Flow::Normal;
}

Flow ForEachStmt::exec(Interp &in) {
    Value coll;
    std::vector<Value> items;
    bool ok = headerRuns(in, [&] {
        coll = collection->eval(in);
        if (!coll.isArray() && !coll.isObject())
            raise(err::NotCollection);
        if (coll.isObject() && !coll.o())
            raise(err::ObjectNotSet);
        if (coll.isObject())
            items = coll.o()->enumerate(in);
    });
    if (!ok) { // resumed into the body, which then runs once
        Flow f = in.execBlock(body);
        return f == Flow::ExitFor ? Flow::Normal : f;
    }
    auto body1 = [&](const Value &item) -> Flow {
        in.tick();
        var->assign(in, item, item.isObject());
        return in.execBlock(body);
    };
    if (coll.isArray()) {
        Value hold = coll; // the loop walks the array as it was when the loop began
        const ArrayRep *a = hold.a();
        for (size_t i = 0; i < a->data.size(); ++i) {
            Flow f = body1(a->data[i]);
            if (f == Flow::ExitFor)
                break;
            if (f != Flow::Normal)
                return f;
        }
        return Flow::Normal;
    }
    for (const Value &item : items) {
        Flow f = body1(item);
        if (f == Flow::ExitFor)
            break;
        if (f != Flow::Normal)
            return f;
    }
    return Flow::Normal;
}

Flow DoStmt::exec(Interp &in) {
    while (true) {
        in.tick();
        if (cond && !atEnd) {
            bool c = cond->truth(in);
            if (until ? c : !c)
                break;
        }
        Flow f = in.execBlock(body);
        if (f == Flow::ExitDo)
            break;
        if (f != Flow::Normal)
            return f;
        if (cond && atEnd) {
            bool c = cond->truth(in);
            if (until ? c : !c)
                break;
        }
    }
    return Flow::Normal;
}

Flow WithStmt::exec(Interp &in) {
    Value obj = object->eval(in);
    if (!obj.isObject())
        raise(err::ObjectRequired);
    Frame *f = in.frame;
    WithLink link{std::move(obj), f->with};
    f->with = &link;
    struct Pop {
        Frame *f;
        WithLink *outer;
        ~Pop() { f->with = outer; }
    } pop{f, link.outer};
    return in.execBlock(body);
}

Flow OnErrorStmt::exec(Interp &in) {
    in.frame->resumeNext = resume;
    in.clearError();
    return Flow::Normal;
}

namespace {

ArrayRep *newArray(Interp &in, const std::vector<ExprPtr> &dims, bool fixed) {
    auto *a = new ArrayRep;
    Value hold = Value::array(a);
    constexpr uint64_t kMaxElements = uint64_t{1} << 27;
    uint64_t total = 1;
    for (const auto &d : dims) {
        // Counts are worked out in 64 bits: an upper bound of 2147483647 has 2^31 elements.
        int64_t count = int64_t{toLong(in, d->eval(in))} + 1;
        if (count < 0)
            raise(err::Subscript);
        if (count > static_cast<int64_t>(kMaxElements))
            raise(err::OutOfMemory);
        total *= static_cast<uint64_t>(count);
        if (total > kMaxElements)
            raise(err::OutOfMemory);
        a->dims.push_back(static_cast<int32_t>(count));
    }
    a->data.resize(dims.empty() ? 0 : static_cast<size_t>(total));
    a->fixed = fixed && !dims.empty();
    ++a->refs; // survives `hold`
    return a;
}

} // namespace

Flow DimStmt::exec(Interp &in) {
    for (DimItem &item : items) {
        if (!item.isArray)
            continue;
        Value *var = item.target->ref(in);
        if (!var)
            raise(err::IllegalAssign);
        if (!redim) {
            *var = Value::array(newArray(in, item.dims, true));
            continue;
        }
        if (var->isArray() && (var->a()->fixed || var->a()->locks))
            raise(err::ArrayFixed);
        Value fresh = Value::array(newArray(in, item.dims, false));
        if (preserve && var->isArray() && !var->a()->dims.empty()) {
            const ArrayRep *old = var->a();
            ArrayRep *nw = fresh.a();
            if (old->dims.size() != nw->dims.size())
                raise(err::Subscript);
            for (size_t d = 0; d + 1 < old->dims.size(); ++d)
                if (old->dims[d] != nw->dims[d])
                    raise(err::Subscript);
            // Only the last dimension may change, so elements keep their offsets.
            size_t n = std::min(old->data.size(), nw->data.size());
            for (size_t i = 0; i < n; ++i)
                nw->data[i] = old->data[i];
        }
        *var = std::move(fresh);
    }
    return Flow::Normal;
}

Flow MidStmt::exec(Interp &in) {
    Value *var = target->ref(in);
    if (!var)
        raise(err::IllegalAssign);
    int32_t from = toLong(in, start->eval(in));
    Value lenv = length ? length->eval(in) : Value();
    int32_t count = length ? toLong(in, lenv) : -1;
    Value text = value->eval(in);
    if (var->isNull() || text.isNull())
        raise(err::InvalidNull);
    std::u16string s = toStr(in, *var);
    std::u16string r = toStr(in, text);
    if (from < 1 || static_cast<size_t>(from) > s.size() || (length && count < 0))
        raise(err::InvalidCall);
    size_t at = static_cast<size_t>(from - 1);
    size_t n = std::min(r.size(), s.size() - at);
    if (length)
        n = std::min(n, static_cast<size_t>(count));
    s.replace(at, n, r, 0, n);
    *var = Value::str(std::move(s));
    return Flow::Normal;
}

Flow EraseStmt::exec(Interp &in) {
    for (auto &t : targets) {
        Value *var = t->ref(in);
        if (!var || !var->isArray())
            raise(err::TypeMismatch);
        if (var->a()->locks)
            raise(err::ArrayFixed);
        ArrayRep *a = var->mutableArray();
        if (a->fixed) {
            for (auto &v : a->data)
                v = Value();
        } else {
            a->dims.clear();
            a->data.clear();
        }
    }
    return Flow::Normal;
}

// ---------------------------------------------------------------- the interpreter

Interp::Interp() : frame(&globalFrame) {
    errObject = Value::object(new ErrObject);
    dialogs = makeDesktopDialogs();
}

Interp::~Interp() {
    // Objects of this engine released just before, inside a release still in progress, go
    // while the engine they refer to is there.
    flushReleases();
    frame = &globalFrame;
    // Move the globals out first so that Class_Terminate code sees valid (empty) slots.
    std::vector<Value> doomed;
    for (auto &g : globals)
        doomed.push_back(std::move(g));
    doomed.clear();
    // Objects kept alive only by reference cycles: empty them so that they go away.
    std::vector<Value> cyclic;
    for (Object *o : live)
        cyclic.push_back(Value::object(o));
    for (auto &v : cyclic)
        static_cast<TrackedObject *>(v.o())->dropContents();
    cyclic.clear();
    globals.clear();
}

void Interp::track(Object *o) {
    live.insert(o);
}
void Interp::untrack(Object *o) {
    live.erase(o);
}

void Interp::markStack() {
    char probe = 0;
    uintptr_t here = reinterpret_cast<uintptr_t>(&probe);
    uintptr_t limit = here > kMaxStackBytes ? here - kMaxStackBytes : 0;
    uintptr_t low = threadStackLow();
    if (low && low + kStackReserve > limit)
        limit = std::min(here, low + kStackReserve);
    stackLimit = limit;
}

Interp::HostCall Interp::enter() {
    lastCheck_ = std::chrono::steady_clock::now();
    deadline_ = lastCheck_ + timeLimit;
    // The first checks come soon, whatever a step costs; the stride grows while steps are fast.
    stride_ = kFirstStride;
    expired_ = false;
    running_ = true;
    ticks_ = granted_ =
        hasBudget_ ? static_cast<int32_t>(std::min<uint64_t>(budget_, stride_)) : stride_;
    depth = 0;
    globalFrame.resumeNext = false; // On Error Resume Next lasts for one block of code
    frame = &globalFrame;
    return HostCall{*this};
}

void Interp::setStepBudget(uint64_t steps) {
    budget_ = steps;
    hasBudget_ = steps > 0;
    ticks_ = granted_ = hasBudget_ ? static_cast<int32_t>(std::min<uint64_t>(steps, kStepsPerCheck))
                                   : kStepsPerCheck;
}

void Interp::stop(std::u16string description) {
    // Once stopped, every later check stops again at once: a terminator or a resumed statement
    // that swallowed the error does not get the script going again.
    if (!expired_) {
        stopReason_ = std::move(description);
        stopLine_ = curLine;
    }
    expired_ = true;
    ticks_ = granted_ = 1;
    ScriptError e(err::Stopped, stopReason_, stopLine_);
    e.fatal = true;
    throw e;
}

void Interp::checkLimits() {
    if (!running_ && !hasBudget_) { // code run for the host between its calls: no limit
        ticks_ = granted_ = kStepsPerCheck;
        return;
    }
    if (expired_)
        stop({});
    if (hasBudget_) {
        uint64_t used = static_cast<uint64_t>(granted_ - ticks_);
        budget_ = used >= budget_ ? 0 : budget_ - used;
        if (budget_ == 0)
            stop(u"The script was stopped: it ran out of its step budget");
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline_)
        stop(u"The script was stopped: it ran longer than " +
             asciiToU16(std::to_string(timeLimit.count())) + u" ms");
    // Slow steps (joining huge texts, filling huge arrays) shorten the stride between clock
    // reads, so that such a script still stops close to its limit rather than thousands of slow
    // steps later; fast steps lengthen it again. The clock is read about every millisecond at
    // most, which costs nothing measurable.
    const auto since = now - lastCheck_;
    lastCheck_ = now;
    if (since > std::chrono::milliseconds(2))
        stride_ = std::max<int32_t>(1, stride_ / 16);
    else if (since < std::chrono::microseconds(200))
        stride_ = std::min<int32_t>(kStepsPerCheck, stride_ * 2);
    ticks_ = granted_ =
        hasBudget_ ? static_cast<int32_t>(std::min<uint64_t>(budget_, stride_)) : stride_;
}

Value Interp::callProc(Proc &p, Instance *me, Args args) {
    if (args.size() != p.byRef.size())
        throw named(err::WrongArgs, p.name);
    auto fill = [](const void *ctx, Interp &, const Proc &p, Value *store, Value **ptrs) {
        const Args &args = *static_cast<const Args *>(ctx);
        for (size_t i = 0; i < args.size(); ++i) {
            const Value &arg = *args[i];
            if (isMissing(arg))
                continue; // a left-out argument: the parameter stays Empty
            if (p.byRef[i]) {
                ptrs[i] = args[i];
            } else {
                store[i] = arg;
                store[i].dropFixed();
            }
        }
    };
    return callProcFilled(p, me, fill, &args);
}

Value Interp::callProcFilled(Proc &p, Instance *me, ArgFiller fill, const void *ctx) {
    tick();
    char probe = 0;
    uintptr_t here = reinterpret_cast<uintptr_t>(&probe);
    if (depth == 0) // the outermost call measures the stack from here, on whichever thread
        markStack();
    if (depth >= kMaxDepth || here < stackLimit)
        raise(err::OutOfStack);
    // The frame's variables live on the machine stack up to kInline slots, made only for the
    // slots the procedure has; each slot's pointer starts at its own variable.
    constexpr int kInline = 16;
    struct Slots {
        explicit Slots(int n) : n(n) {
            if (n > kInline) {
                heap = std::make_unique<Value[]>(static_cast<size_t>(n));
                ptrHeap = std::make_unique<Value *[]>(static_cast<size_t>(n));
                store = heap.get();
                ptrs = ptrHeap.get();
                for (int i = 0; i < n; ++i)
                    ptrs[i] = store + i;
                return;
            }
            store = std::launder(reinterpret_cast<Value *>(raw));
            ptrs = ptrInline;
            for (int i = 0; i < n; ++i)
                ptrs[i] = new (store + i) Value();
        }
        ~Slots() {
            if (!heap)
                for (int i = n; i-- > 0;)
                    store[i].~Value();
        }
        Slots(const Slots &) = delete;
        Slots &operator=(const Slots &) = delete;
        int n;
        alignas(Value) unsigned char raw[kInline * sizeof(Value)];
        Value *ptrInline[kInline];
        std::unique_ptr<Value[]> heap;
        std::unique_ptr<Value *[]> ptrHeap;
        Value *store;
        Value **ptrs;
    } slots(p.slots);
    Value **ptrs = slots.ptrs;
    fill(ctx, *this, p, slots.store, ptrs);
    Frame fr;
    fr.vars = ptrs;
    fr.me = me;
    fr.proc = &p;
    Value keepMe = me ? Value::object(me) : Value();
    int savedLine = curLine;
    ++depth;
    {
        FrameGuard guard{*this, frame};
        frame = &fr;
        try {
            execBlock(p.body);
        } catch (ScriptError &e) {
            if (!e.line)
                e.line = curLine;
            throw;
        }
    }
    curLine = savedLine;
    if (p.retSlot >= 0)
        return std::move(*ptrs[p.retSlot]);
    return {};
}

Flow Interp::execBlock(const Block &b) {
    for (const auto &s : b) {
        curLine = s->line;
        if (!frame->resumeNext) {
            Flow f = s->exec(*this);
            if (f != Flow::Normal)
                return f;
            continue;
        }
        try {
            Flow f = s->exec(*this);
            if (f != Flow::Normal)
                return f;
        } catch (ScriptError &e) {
            if (e.fatal)
                throw;
            if (!e.line)
                e.line = curLine;
            setError(e);
        }
    }
    return Flow::Normal;
}

void Interp::setError(const ScriptError &e) {
    errNumber = e.number;
    errDescription = e.description;
    errHelpFile = e.helpFile;
    errHelpContext = e.helpContext;
    errSourceByScript = e.scriptSource;
    errDescriptionByScript = e.scriptDescription;
    errSource = e.source.empty()
                    ? (e.compile ? u"VBScript compilation error" : u"VBScript runtime error")
                    : e.source;
}

void Interp::clearError() {
    errNumber = 0;
    errDescription.clear();
    errSource.clear();
    errHelpFile.clear();
    errHelpContext = 0;
    errSourceByScript = errDescriptionByScript = false;
}

int Interp::globalSlot(const std::u16string &lname, bool create) {
    auto it = globalIndex.find(lname);
    if (it != globalIndex.end())
        return it->second;
    if (!create)
        return -1;
    int slot = static_cast<int>(globals.size());
    globals.emplace_back();
    globalIndex.emplace(lname, slot);
    return slot;
}

void Interp::install(std::unique_ptr<Program> prog, bool keep) {
    for (auto &p : prog->procs)
        procs[p->lname] = p.get();
    for (auto &c : prog->classes)
        classes[c->lname] = c.get();
    for (auto &g : prog->globals)
        if (!procs.count(g))
            globalSlot(g, true);
    // Code that defines procedures or classes stays; code run by Execute/ExecuteGlobal that
    // defines nothing goes away once it ran, so that running code in a loop does not pile up.
    compileProgram(*this, *prog);
    Program *raw = prog.get();
    if (keep || !prog->procs.empty() || !prog->classes.empty())
        programs.push_back(std::move(prog));
    // Statements of code run by Execute share the frame of the procedure that runs them.
    execBlock(raw->body);
}

// Runs `body` as a call from the host: the time limit starts, a stop that came inside (and that
// a Class_Terminate dropped) is raised at the end, and an error leaves the engine at its global
// frame with the line it came from.
template <class Body> auto Interp::hostCall(Body &&body) -> decltype(body()) {
    HostCall call = enter();
    try {
        if constexpr (std::is_void_v<decltype(body())>) {
            body();
            if (expired_)
                stop({});
        } else {
            auto r = body();
            if (expired_)
                stop({});
            return r;
        }
    } catch (ScriptError &e) {
        if (!e.line)
            e.line = curLine;
        frame = &globalFrame;
        throw;
    }
}

void Interp::addCode(std::u16string_view code) {
    hostCall([&] { install(parseProgram(code), true); });
}

void Interp::executeStatement(std::u16string_view code) {
    addCode(code);
}

Value Interp::run(std::u16string_view name, std::vector<Value> args) {
    auto it = procs.find(lowerAscii(name));
    if (it == procs.end())
        throw named(err::ProcNotDefined, name);
    std::vector<Value *> ptrs;
    for (auto &a : args)
        ptrs.push_back(&a);
    return hostCall([&] {
        curLine = it->second->line;
        return callProc(*it->second, nullptr, Args(ptrs.data(), ptrs.size()));
    });
}

Value Interp::evaluate(std::u16string_view expression) {
    return hostCall([&] { return evalLocal(expression); });
}

template <class Body> auto Interp::memberCall(const Value &obj, Body &&body) -> decltype(body()) {
    if (!obj.isObject())
        raise(err::ObjectRequired);
    if (!obj.o())
        raise(err::ObjectNotSet);
    if (running_) // a call back into the running script
        return body();
    return hostCall(std::forward<Body>(body));
}

Value Interp::callMember(const Value &obj, std::u16string_view name, Args args) {
    Value keep = obj;
    return memberCall(keep, [&] { return keep.o()->get(*this, lowerAscii(name), args); });
}

void Interp::putMember(const Value &obj, std::u16string_view name, Args args, const Value &v,
                       bool isSet) {
    Value keep = obj;
    memberCall(keep, [&] { keep.o()->put(*this, lowerAscii(name), args, v, isSet); });
}

std::vector<Value> Interp::enumerateMember(const Value &obj) {
    Value keep = obj;
    return memberCall(keep, [&] { return keep.o()->enumerate(*this); });
}

void Interp::execGlobal(std::u16string_view code) {
    Frame *saved = frame;
    Frame global;
    frame = &global;
    struct Restore {
        Interp &in;
        Frame *saved;
        ~Restore() { in.frame = saved; }
    } restore{*this, saved};
    int line = curLine;
    install(parseProgram(code), false);
    curLine = line;
}

void Interp::execLocal(std::u16string_view code) {
    ParseScope scope{frame->proc, frame->me ? frame->me->cls_ : nullptr};
    int line = curLine;
    install(parseProgram(code, false, scope), false);
    curLine = line;
}

Value Interp::evalLocal(std::u16string_view expression) {
    ParseScope scope{frame->proc, frame->me ? frame->me->cls_ : nullptr};
    std::vector<NameExpr *> names;
    ExprPtr e = parseExpression(expression, names, scope);
    return e->eval(*this);
}

Value Interp::newInstance(const std::u16string &lname) {
    auto it = classes.find(lname);
    if (it == classes.end()) {
        if (lname == u"regexp")
            return makeRegExp(*this);
        raise(err::ClassNotDefined);
    }
    ClassDef &cls = *it->second;
    auto *inst = new Instance(*this, cls);
    Value v = Value::object(inst);
    for (size_t i = 0; i < cls.fields.size(); ++i) {
        const FieldDecl &f = cls.fields[i];
        if (f.isArray)
            inst->fields[i] = Value::array(newArray(*this, f.dims, !f.dims.empty()));
    }
    if (cls.init)
        callProc(*cls.init, inst, {});
    return v;
}

Value Interp::createObject(const std::u16string &progId, std::u16string_view server) {
    std::u16string l = lowerAscii(progId);
    if (server.empty()) {
        if (l == u"scripting.dictionary")
            return Value::object(new Dictionary(*this));
        if (l == u"vbscript.regexp")
            return makeRegExp(*this);
    }
    if (objects)
        return objects->createObject(*this, progId, server);
    throw ScriptError(err::CannotCreate,
                      errorDescription(err::CannotCreate) + u": '" + progId + u"'");
}

Value Interp::getObject(std::u16string_view path, std::u16string_view progId) {
    if (objects)
        return objects->getObject(*this, path, progId);
    if (path.empty() && !progId.empty())
        return createObject(std::u16string(progId));
    throw ScriptError(err::CannotCreate);
}

} // namespace kestrun::vbscript
