// The compiler: one pass over a parsed program that replaces hot subtrees by specialised nodes.
//
// The running form is a tree of node objects whose eval/exec are the compiled closures. A
// specialised node reads its operands straight from the frame's slots, an instance's fields or a
// constant, handles the common types inline (Integer/Long with the language's promotion to Long
// and Double, Double), and hands anything else to the general node it replaced, which it owns.
// Falling back is only done before any operand with side effects has been evaluated, or through
// BinaryExpr::apply with the operands already evaluated, so errors, their numbers and lines, and
// On Error Resume Next behave exactly as in the general nodes.
#include "ast.h"
#include "errors.h"
#include "interp.h"
#include "objects.h"
#include "ops.h"

#include <cmath>
#include <new>
#include <typeinfo>

namespace kestrun::vbscript {

namespace {

constexpr size_t kMaxFastArgs = 8;

bool intLike(const Value &v) {
    return v.type() == VType::Integer || v.type() == VType::Long;
}

// Integer sum, difference or product with the language's promotion: Integer while it fits,
// then Long, then Double.
Value fitSum(int64_t r, bool isLong) {
    if (!isLong && r >= INT16_MIN && r <= INT16_MAX)
        return Value::integer(static_cast<int16_t>(r));
    if (r >= INT32_MIN && r <= INT32_MAX)
        return Value::lng(static_cast<int32_t>(r));
    return Value::dbl(static_cast<double>(r));
}

constexpr bool isCompare(Op op) {
    return op >= Op::Eq && op <= Op::Ge;
}

template <class T> bool compare(Op op, T x, T y) {
    switch (op) {
    case Op::Eq:
        return x == y;
    case Op::Ne:
        return x != y;
    case Op::Lt:
        return x < y;
    case Op::Gt:
        return x > y;
    case Op::Le:
        return x <= y;
    default:
        return x >= y;
    }
}

// The fast cases of arithmetic and comparison; false when the general rules must decide.
// Inlined so that nodes made for one operator drop the other cases.
[[gnu::always_inline]] inline bool fastBinary(Op op, const Value &a, const Value &b, Value &out) {
    if (intLike(a) && intLike(b)) {
        int64_t x = a.intValue(), y = b.intValue();
        bool isLong = a.type() == VType::Long || b.type() == VType::Long;
        switch (op) {
        case Op::Add:
            out = fitSum(x + y, isLong);
            return true;
        case Op::Sub:
            out = fitSum(x - y, isLong);
            return true;
        case Op::Mul:
            out = fitSum(x * y, isLong);
            return true;
        case Op::Div:
            if (y == 0)
                return false;
            out = Value::dbl(static_cast<double>(x) / static_cast<double>(y));
            return true;
        default:
            if (!isCompare(op))
                return false;
            out = Value::boolean(compare(op, x, y));
            return true;
        }
    }
    bool da = a.type() == VType::Double, db = b.type() == VType::Double;
    if ((da && (db || intLike(b))) || (db && intLike(a))) {
        double x = da ? a.d() : a.intValue();
        double y = db ? b.d() : b.intValue();
        double r;
        switch (op) {
        case Op::Add:
            r = x + y;
            break;
        case Op::Sub:
            r = x - y;
            break;
        case Op::Mul:
            r = x * y;
            break;
        case Op::Div:
            if (y == 0)
                return false;
            r = x / y;
            break;
        default:
            if (!isCompare(op))
                return false;
            out = Value::boolean(compare(op, x, y));
            return true;
        }
        if (!std::isfinite(r))
            return false; // overflow is the general rules' to report
        out = Value::dbl(r);
        return true;
    }
    if (isCompare(op) && a.isString() && b.isString()) { // binary comparison of texts
        int c = a.s().compare(b.s());
        out = Value::boolean(compare(op, c, 0));
        return true;
    }
    return false;
}

// A compiled comparison as a condition, or -1 when the general rules must decide.
[[gnu::always_inline]] inline int fastCompare(Op op, const Value &a, const Value &b) {
    if (intLike(a) && intLike(b))
        return compare(op, a.intValue(), b.intValue());
    bool da = a.type() == VType::Double, db = b.type() == VType::Double;
    if ((da && (db || intLike(b))) || (db && intLike(a)))
        return compare(op, da ? a.d() : a.intValue(), db ? b.d() : b.intValue());
    if (a.isString() && b.isString())
        return compare(op, a.s().compare(b.s()), 0);
    return -1;
}

// A constant produced by folding. Unlike a literal, it does not take part in the conversion of
// literals compared with values of another kind (neither did the expression it came from).
struct ConstExpr : Expr {
    ConstExpr(int line, Value v) : Expr(line), value(std::move(v)) {}
    Value eval(Interp &) override { return value; }
    const Value *peek(Interp &) override { return &value; }
    Value value;
};

// Where an operand of a compiled node lives.
struct Operand {
    enum class Kind : uint8_t { Slot, Field, Const, Expr };
    Kind kind = Kind::Expr;
    int slot = -1;
    Value constant;
    Expr *expr = nullptr; // owned by the general node

    bool pure() const { return kind != Kind::Expr; }
    // The variable (slots and fields), error 424 for a field read outside an instance.
    Value *var(Interp &in) const {
        if (kind == Kind::Slot)
            return in.frame->vars[slot];
        if (!in.frame->me)
            raise(err::ObjectRequired);
        return &in.frame->me->fields[static_cast<size_t>(slot)];
    }
    // The value where it lives; only for pure operands.
    const Value *peek(Interp &in) const { return kind == Kind::Const ? &constant : var(in); }
};

Operand operandOf(Expr *e) {
    Operand o;
    o.expr = e;
    if (auto *l = dynamic_cast<LiteralExpr *>(e)) {
        o.kind = Operand::Kind::Const;
        o.constant = l->value;
    } else if (auto *c = dynamic_cast<ConstExpr *>(e)) {
        o.kind = Operand::Kind::Const;
        o.constant = c->value;
    } else if (auto *n = dynamic_cast<NameExpr *>(e)) {
        if (n->kind == NameKind::Local || n->kind == NameKind::RetVal) {
            o.kind = Operand::Kind::Slot;
            o.slot = n->slot;
        } else if (n->kind == NameKind::Field) {
            o.kind = Operand::Kind::Field;
            o.slot = n->slot;
        }
    }
    return o;
}

// A node standing in for a general one: everything but evaluation goes to the general node.
struct Compiled : Expr {
    explicit Compiled(ExprPtr g) : Expr(g->line), generic(std::move(g)) {}
    Value *ref(Interp &in) override { return generic->ref(in); }
    const Value *peek(Interp &in) override { return generic->peek(in); }
    Value *elementRef(Interp &in, Value &hold) override { return generic->elementRef(in, hold); }
    void assign(Interp &in, const Value &v, bool isSet) override { generic->assign(in, v, isSet); }
    bool isLiteral() const override { return generic->isLiteral(); }
    ExprPtr generic;
};

struct FastBinary : Compiled {
    FastBinary(ExprPtr g, BinaryExpr *bin)
        : Compiled(std::move(g)), bin(bin), op(bin->op), a(operandOf(bin->lhs.get())),
          b(operandOf(bin->rhs.get())) {}

    // Evaluates the operands in the general node's order: a variable on the left is copied
    // when the right operand has to be evaluated, which might change it.
    void operands(Interp &in, Value &ta, Value &tb, const Value *&pa, const Value *&pb) {
        if (a.pure()) {
            pa = a.peek(in);
            if (!b.pure()) {
                ta = *pa;
                pa = &ta;
            }
        } else {
            ta = a.expr->eval(in);
            pa = &ta;
        }
        if (b.pure()) {
            pb = b.peek(in);
        } else {
            tb = b.expr->eval(in);
            pb = &tb;
        }
    }

    Value eval(Interp &in) override {
        if (!a.pure() && !b.pure()) { // both evaluated (calls, say): their values made in place
            Value x = a.expr->eval(in);
            Value y = b.expr->eval(in);
            Value r;
            if (!fastBinary(op, x, y, r))
                r = bin->apply(in, x, y);
            return r;
        }
        Value ta, tb;
        const Value *pa, *pb;
        operands(in, ta, tb, pa, pb);
        Value r; // the one value returned, made in place
        if (!fastBinary(op, *pa, *pb, r))
            r = bin->apply(in, *pa, *pb);
        return r;
    }

    bool truth(Interp &in) override {
        if (!isCompare(op))
            return truthy(in, eval(in));
        Value ta, tb;
        const Value *pa, *pb;
        operands(in, ta, tb, pa, pb);
        int c = fastCompare(op, *pa, *pb);
        if (c >= 0)
            return c != 0;
        return truthy(in, bin->apply(in, *pa, *pb));
    }

    BinaryExpr *bin;
    Op op;
    Operand a, b;
};

// A binary operation on two variables or constants, made for one operator: the operands are
// read where they live, with no temporaries.
template <Op kOp> struct PureBinary : FastBinary {
    using FastBinary::FastBinary;

    Value eval(Interp &in) override {
        const Value *pa = a.peek(in);
        const Value *pb = b.peek(in);
        Value r; // the one value returned, made in place
        if (!fastBinary(kOp, *pa, *pb, r))
            r = bin->apply(in, *pa, *pb);
        return r;
    }

    bool truth(Interp &in) override {
        if constexpr (!isCompare(kOp)) {
            return truthy(in, eval(in));
        } else {
            const Value *pa = a.peek(in);
            const Value *pb = b.peek(in);
            int c = fastCompare(kOp, *pa, *pb);
            if (c >= 0)
                return c != 0;
            return truthy(in, bin->apply(in, *pa, *pb));
        }
    }
};

// The node of the first operator in kOps that is `bin`'s (the caller passes every one it
// makes nodes for).
template <Op... kOps> ExprPtr pureBinaryFor(ExprPtr &g, BinaryExpr *bin) {
    ExprPtr made;
    ((bin->op == kOps && (made = std::make_unique<PureBinary<kOps>>(std::move(g), bin))) || ...);
    return made;
}

ExprPtr makeBinary(ExprPtr g, BinaryExpr *bin) {
    if (!operandOf(bin->lhs.get()).pure() || !operandOf(bin->rhs.get()).pure())
        return std::make_unique<FastBinary>(std::move(g), bin);
    ExprPtr made = pureBinaryFor<Op::Add, Op::Sub, Op::Mul, Op::Div, Op::Eq, Op::Ne, Op::Lt, Op::Gt,
                                 Op::Le, Op::Ge>(g, bin);
    return made ? std::move(made) : std::make_unique<FastBinary>(std::move(g), bin);
}

// `v(i)` on a local array with one subscript held in a variable or a constant.
struct FastIndex : Compiled {
    FastIndex(ExprPtr g, int slot, Operand idx)
        : Compiled(std::move(g)), slot(slot), idx(std::move(idx)) {}

    Value eval(Interp &in) override {
        const Value *var = in.frame->vars[slot];
        if (var->isArray()) {
            const ArrayRep *ar = var->a();
            const Value *pi = idx.peek(in);
            if (ar->dims.size() == 1 && intLike(*pi)) {
                int32_t i = pi->intValue();
                if (i >= 0 && i < ar->dims[0])
                    return ar->data[static_cast<size_t>(i)];
            }
        }
        return generic->eval(in);
    }

    int slot;
    Operand idx;
};

// Room for a compiled call's argument temporaries, made only for the arguments that need one.
class ArgSpace {
public:
    ArgSpace() = default;
    ArgSpace(const ArgSpace &) = delete;
    ArgSpace &operator=(const ArgSpace &) = delete;
    ~ArgSpace() {
        while (made_ > 0)
            temp(--made_)->~Value();
    }
    Value *make(Value v) {
        Value *p = new (raw_ + made_ * sizeof(Value)) Value(std::move(v));
        ++made_;
        return p;
    }
    Value *ptr[kMaxFastArgs];

private:
    Value *temp(size_t i) {
        return std::launder(reinterpret_cast<Value *>(raw_ + i * sizeof(Value)));
    }
    alignas(Value) unsigned char raw_[kMaxFastArgs * sizeof(Value)];
    size_t made_ = 0;
};

// Arguments of a compiled call: variables by address, everything else through a temporary,
// as the general call passes them.
struct ArgList {
    std::vector<Operand> ops;

    Args fill(Interp &in, ArgSpace &sp) const {
        for (size_t i = 0; i < ops.size(); ++i) {
            const Operand &o = ops[i];
            switch (o.kind) {
            case Operand::Kind::Slot:
            case Operand::Kind::Field:
                sp.ptr[i] = o.var(in);
                break;
            case Operand::Kind::Const:
                sp.ptr[i] = sp.make(o.constant);
                break;
            case Operand::Kind::Expr:
                sp.ptr[i] = sp.make(o.expr->eval(in));
                break;
            }
        }
        return Args(sp.ptr, ops.size());
    }
};

// Whether an argument is passed the same way by ArgList as by the general call: locals, fields
// and constants, or an expression that is never a variable. `elementsByRef`: the callee takes
// array elements by reference (script procedures), so `a(i)` is no plain expression.
bool simpleArg(Expr *e, bool elementsByRef) {
    if (!e)
        return false; // a left-out argument
    Operand o = operandOf(e);
    if (o.pure())
        return true;
    if (dynamic_cast<NameExpr *>(e))
        return false; // a global variable, a procedure, a constant, ...
    if (dynamic_cast<CallExpr *>(e) || dynamic_cast<FastIndex *>(e))
        return !elementsByRef;
    return true;
}

bool simpleArgs(const CallExpr &c, bool elementsByRef, ArgList &out) {
    if (c.args.size() > kMaxFastArgs)
        return false;
    for (const auto &a : c.args) {
        if (!simpleArg(a.get(), elementsByRef))
            return false;
        out.ops.push_back(operandOf(a.get()));
    }
    return true;
}

// A call by name (`f(x)`, or the running function by its own name): a script procedure or a
// built-in function once the name is known, the general call for anything else.
struct NameCall : Compiled {
    NameCall(ExprPtr g, NameExpr *name, ArgList args, bool forProcs)
        : Compiled(std::move(g)), name(name), args(std::move(args)), forProcs(forProcs) {}

    Value eval(Interp &in) override {
        ArgSpace sp;
        size_t n = args.ops.size();
        switch (name->kind) {
        case NameKind::Proc:
        case NameKind::RetVal: {
            Proc &p = *name->proc;
            if (!forProcs || p.byRef.size() != n)
                break; // the general call reports a wrong argument count
            return in.callProcFilled(p, name->kind == NameKind::Proc ? nullptr : in.frame->me,
                                     fillParameters, &args);
        }
        case NameKind::Builtin:
            if (builtinState == 0)
                builtinState = plainBuiltin() ? 1 : 2;
            if (builtinState != 1)
                break;
            return name->builtin->fn(in, args.fill(in, sp));
        default:
            break;
        }
        return generic->eval(in); // resolves the name on first use
    }

    // The argument count fits and the function is no statement-only or conversion one (those
    // the general call checks).
    bool plainBuiltin() const {
        const Builtin *b = name->builtin;
        int na = static_cast<int>(args.ops.size());
        if (na < b->minArgs || (b->maxArgs >= 0 && na > b->maxArgs))
            return false;
        for (std::u16string_view s :
             {u"randomize", u"cbyte", u"ccur", u"cdate", u"cdbl", u"cint", u"clng", u"csng"})
            if (name->lname == s)
                return false;
        return true;
    }

    // The arguments straight into the callee's variables, as the general call passes them:
    // variables by reference (or copied for ByVal), any other value in the parameter's own
    // variable, which a ByRef parameter then refers to as it would to a temporary.
    static void fillParameters(const void *ctx, Interp &in, const Proc &p, Value *store,
                               Value **ptrs) {
        const ArgList &args = *static_cast<const ArgList *>(ctx);
        for (size_t i = 0; i < args.ops.size(); ++i) {
            const Operand &o = args.ops[i];
            switch (o.kind) {
            case Operand::Kind::Slot:
            case Operand::Kind::Field: {
                Value *var = o.var(in);
                if (isMissing(*var))
                    break; // the parameter stays Empty
                if (p.byRef[i]) {
                    ptrs[i] = var;
                } else {
                    store[i] = *var;
                    store[i].dropFixed();
                }
                break;
            }
            case Operand::Kind::Const:
                if (!isMissing(o.constant))
                    store[i] = o.constant;
                break;
            case Operand::Kind::Expr:
                store[i] = o.expr->eval(in);
                if (isMissing(store[i]))
                    store[i] = Value();
                else if (!p.byRef[i])
                    store[i].dropFixed();
                break;
            }
        }
    }

    NameExpr *name;
    ArgList args;
    bool forProcs;        // the arguments pass to script procedures as the general call does
    int builtinState = 0; // 0: not looked at yet, 1: fast, 2: always the general call
};

// `object.member args` on script class instances: the member is looked up once per class seen
// at this call site.
struct MethodCall : Compiled {
    MethodCall(ExprPtr g, MemberExpr *member, ArgList args)
        : Compiled(std::move(g)), member(member), args(std::move(args)) {}

    Value eval(Interp &in) override {
        Value obj = member->target(in);
        ArgSpace sp;
        Args a = args.fill(in, sp);
        Object *o = obj.o();
        if (typeid(*o) == typeid(Instance)) {
            auto *inst = static_cast<Instance *>(o);
            ClassDef *cls = inst->cls_;
            if (cls != cachedClass) {
                auto it = cls->members.find(member->lname);
                cachedMember = it == cls->members.end() ? nullptr : &it->second;
                cachedClass = cls;
            }
            const ClassMember *m = cachedMember;
            if (m && m->field < 0 && (m->isPublic || (in.frame->me && in.frame->me->cls_ == cls))) {
                if (m->method)
                    return in.callProc(*m->method, inst, a);
                if (m->get)
                    return in.callProc(*m->get, inst, a);
            }
        }
        return o->get(in, member->lname, a);
    }

    MemberExpr *member;
    ArgList args;
    ClassDef *cachedClass = nullptr;
    const ClassMember *cachedMember = nullptr;
};

// `x = x op y` for + - * on numbers held in variables or constants: the variable is updated in
// place. False when the general rules must decide. A Double is tried first: it is what a long
// Integer sum becomes. Inlined so that nodes made for one operator drop the other cases.
[[gnu::always_inline]] inline bool accumulate(Op op, Value &x, const Value &y) {
    bool dx = x.type() == VType::Double, dy = y.type() == VType::Double;
    if ((dx && (dy || intLike(y))) || (dy && intLike(x))) {
        double a = dx ? x.d() : x.intValue(), b = dy ? y.d() : y.intValue();
        double r = op == Op::Add ? a + b : op == Op::Sub ? a - b : a * b;
        if (!std::isfinite(r))
            return false;
        x.setDouble(r);
        return true;
    }
    if (intLike(x) && intLike(y)) {
        int64_t a = x.intValue(), b = y.intValue();
        int64_t r = op == Op::Add ? a + b : op == Op::Sub ? a - b : a * b;
        bool isLong = x.type() == VType::Long || y.type() == VType::Long;
        if (!isLong && r >= INT16_MIN && r <= INT16_MAX)
            x.setInteger(static_cast<int16_t>(r));
        else if (r >= INT32_MIN && r <= INT32_MAX)
            x.setLong(static_cast<int32_t>(r));
        else
            x.setDouble(static_cast<double>(r));
        return true;
    }
    return false;
}

// `x = value` on a local, the function's result or a field (Let).
struct FastAssign : Stmt {
    FastAssign(StmtPtr g, AssignStmt *a, Operand target)
        : Stmt(g->line), generic(std::move(g)), assign(a), target(std::move(target)) {
        auto *fb = dynamic_cast<FastBinary *>(a->value.get());
        if (fb && (fb->op == Op::Add || fb->op == Op::Sub || fb->op == Op::Mul) &&
            fb->a.kind == this->target.kind && fb->a.slot == this->target.slot && fb->b.pure())
            update = fb;
    }

    Flow exec(Interp &in) override {
        if (update && (target.kind == Operand::Kind::Slot || in.frame->me)) {
            // Both operands are variables or constants: nothing is evaluated twice on fallback.
            if (accumulate(update->op, *target.var(in), *update->b.peek(in)))
                return Flow::Normal;
        }
        Value v = assign->value->eval(in);
        if (!v.isObject() && (target.kind == Operand::Kind::Slot || in.frame->me)) {
            Value *var = target.var(in);
            v.dropFixed();
            *var = std::move(v);
            return Flow::Normal;
        }
        assign->target->assign(in, v, false);
        return Flow::Normal;
    }

    StmtPtr generic;
    AssignStmt *assign;
    Operand target;
    FastBinary *update = nullptr; // `x = x op y` with y a variable or a constant
};

// `x = x op y` on a local with y a local or a constant, made for one operator.
template <Op kOp> struct SlotUpdate : Stmt {
    SlotUpdate(StmtPtr g, int slot, Operand b)
        : Stmt(g->line), generic(std::move(g)), slot(slot), b(std::move(b)) {}

    Flow exec(Interp &in) override {
        if (accumulate(kOp, *in.frame->vars[slot], *b.peek(in)))
            return Flow::Normal;
        return generic->exec(in); // the general rules decide, or raise the error
    }

    StmtPtr generic;
    int slot;
    Operand b;
};

// `x = y` on locals, or a local set to a constant, for values other than objects and arrays.
struct SlotCopy : Stmt {
    SlotCopy(StmtPtr g, int slot, Operand from)
        : Stmt(g->line), generic(std::move(g)), slot(slot), from(std::move(from)) {}

    Flow exec(Interp &in) override {
        const Value *v = from.peek(in);
        if (v->isObject() || v->isArray())
            return generic->exec(in);
        *in.frame->vars[slot] = *v;
        return Flow::Normal;
    }

    StmtPtr generic;
    int slot;
    Operand from;
};

// `a(i) = value` on a local array with one subscript held in a variable or a constant.
struct FastElementStore : Stmt {
    FastElementStore(StmtPtr g, AssignStmt *a, int slot, Operand idx)
        : Stmt(g->line), generic(std::move(g)), assign(a), slot(slot), idx(std::move(idx)) {}

    Flow exec(Interp &in) override {
        Value v = assign->value->eval(in);
        Value *var = in.frame->vars[slot];
        if (!v.isObject() && var->isArray() && (idx.kind != Operand::Kind::Field || in.frame->me)) {
            ArrayRep *ar = var->a();
            const Value *pi = idx.peek(in);
            // Unshared (references held by locks do not count), as arrayElement requires.
            if (ar->refs - ar->locks <= 1 && ar->dims.size() == 1 && intLike(*pi)) {
                int32_t i = pi->intValue();
                if (i >= 0 && i < ar->dims[0]) {
                    v.dropFixed();
                    ar->data[static_cast<size_t>(i)] = std::move(v);
                    return Flow::Normal;
                }
            }
        }
        assign->target->assign(in, v, false);
        return Flow::Normal;
    }

    StmtPtr generic;
    AssignStmt *assign;
    int slot;
    Operand idx;
};

class Compiler {
public:
    explicit Compiler(Interp &in) : in_(in) {}

    void block(Block &b) {
        for (auto &s : b)
            stmt(s);
    }

private:
    void stmt(StmtPtr &s) {
        Stmt *raw = s.get();
        if (auto *c = dynamic_cast<CallStmt *>(raw)) {
            expr(c->call);
        } else if (auto *a = dynamic_cast<AssignStmt *>(raw)) {
            if (auto *call = dynamic_cast<CallExpr *>(a->target.get()))
                callParts(*call);
            expr(a->value);
            assignment(s, *a);
        } else if (auto *ap = dynamic_cast<AppendStmt *>(raw)) {
            expr(ap->value);
        } else if (auto *i = dynamic_cast<IfStmt *>(raw)) {
            for (auto &c : i->conds)
                expr(c);
            for (auto &b : i->blocks)
                block(b);
            block(i->elseBlock);
        } else if (auto *sel = dynamic_cast<SelectStmt *>(raw)) {
            expr(sel->test);
            for (auto &items : sel->cases)
                for (auto &it : items) {
                    expr(it.value);
                    expr(it.upper);
                }
            for (auto &b : sel->blocks)
                block(b);
            block(sel->elseBlock);
        } else if (auto *f = dynamic_cast<ForStmt *>(raw)) {
            expr(f->from);
            expr(f->to);
            expr(f->step);
            block(f->body);
        } else if (auto *fe = dynamic_cast<ForEachStmt *>(raw)) {
            expr(fe->collection);
            block(fe->body);
        } else if (auto *d = dynamic_cast<DoStmt *>(raw)) {
            expr(d->cond);
            block(d->body);
        } else if (auto *w = dynamic_cast<WithStmt *>(raw)) {
            expr(w->object);
            block(w->body);
        } else if (auto *dim = dynamic_cast<DimStmt *>(raw)) {
            for (auto &item : dim->items)
                for (auto &e : item.dims)
                    expr(e);
        } else if (auto *m = dynamic_cast<MidStmt *>(raw)) {
            expr(m->start);
            expr(m->length);
            expr(m->value);
        }
    }

    void assignment(StmtPtr &s, AssignStmt &a) {
        if (a.isSet)
            return;
        Operand t = operandOf(a.target.get());
        if (t.kind == Operand::Kind::Slot || t.kind == Operand::Kind::Field) {
            int slot = t.slot;
            bool local = t.kind == Operand::Kind::Slot;
            auto fast = std::make_unique<FastAssign>(std::move(s), &a, std::move(t));
            Operand v = operandOf(a.value.get());
            if (FastBinary *u = fast->update; local && u && u->b.kind != Operand::Kind::Field) {
                Operand b = u->b;
                Op op = u->op;
                if (op == Op::Add)
                    s = std::make_unique<SlotUpdate<Op::Add>>(std::move(fast), slot, std::move(b));
                else if (op == Op::Sub)
                    s = std::make_unique<SlotUpdate<Op::Sub>>(std::move(fast), slot, std::move(b));
                else
                    s = std::make_unique<SlotUpdate<Op::Mul>>(std::move(fast), slot, std::move(b));
            } else if (local && (v.kind == Operand::Kind::Slot || v.kind == Operand::Kind::Const)) {
                s = std::make_unique<SlotCopy>(std::move(fast), slot, std::move(v));
            } else {
                s = std::move(fast);
            }
            return;
        }
        auto *call = dynamic_cast<CallExpr *>(a.target.get());
        if (!call || call->args.size() != 1 || !call->args[0])
            return;
        Operand arr = operandOf(call->callee.get());
        Operand idx = operandOf(call->args[0].get());
        if (arr.kind == Operand::Kind::Slot && idx.pure())
            s = std::make_unique<FastElementStore>(std::move(s), &a, arr.slot, std::move(idx));
    }

    // The parts of a call other than its callee name: the object of a member and the arguments.
    void callParts(CallExpr &c) {
        if (auto *m = dynamic_cast<MemberExpr *>(c.callee.get()))
            expr(m->object);
        for (auto &a : c.args)
            expr(a);
    }

    void expr(ExprPtr &e) {
        if (!e)
            return;
        Expr *raw = e.get();
        if (auto *b = dynamic_cast<BinaryExpr *>(raw)) {
            expr(b->lhs);
            expr(b->rhs);
            if (fold(e, operandOf(b->lhs.get()).kind == Operand::Kind::Const &&
                            operandOf(b->rhs.get()).kind == Operand::Kind::Const &&
                            b->op != Op::Is))
                return;
            switch (b->op) {
            case Op::Add:
            case Op::Sub:
            case Op::Mul:
            case Op::Div:
            case Op::Eq:
            case Op::Ne:
            case Op::Lt:
            case Op::Gt:
            case Op::Le:
            case Op::Ge:
                e = makeBinary(std::move(e), b);
                break;
            default:
                break;
            }
        } else if (auto *u = dynamic_cast<UnaryExpr *>(raw)) {
            expr(u->operand);
            fold(e, operandOf(u->operand.get()).kind == Operand::Kind::Const);
        } else if (auto *p = dynamic_cast<ParenExpr *>(raw)) {
            expr(p->inner);
        } else if (auto *m = dynamic_cast<MemberExpr *>(raw)) {
            expr(m->object);
        } else if (auto *c = dynamic_cast<CallExpr *>(raw)) {
            callParts(*c);
            call(e, *c);
        }
    }

    // Replaces a constant subexpression by its value. One that fails keeps failing when it runs,
    // with the error and line of that moment.
    bool fold(ExprPtr &e, bool constant) {
        if (!constant)
            return false;
        try {
            Value v = e->eval(in_);
            if (v.isObject() || v.isArray())
                return false;
            e = std::make_unique<ConstExpr>(e->line, std::move(v));
            return true;
        } catch (const ScriptError &) {
            return false;
        }
    }

    void call(ExprPtr &e, CallExpr &c) {
        if (auto *n = dynamic_cast<NameExpr *>(c.callee.get())) {
            if (n->kind == NameKind::Local || n->kind == NameKind::Field)
                return index(e, c, *n);
            if (n->kind == NameKind::RetVal && c.args.empty())
                return; // the result variable itself
            if (n->kind != NameKind::Unresolved && n->kind != NameKind::RetVal)
                return;
            // An unresolved name turns out a global procedure, a built-in or a variable once
            // it ran; the node handles the first two and falls back for the rest.
            ArgList args;
            if (simpleArgs(c, true, args)) {
                e = std::make_unique<NameCall>(std::move(e), n, std::move(args), true);
                return;
            }
            args.ops.clear();
            if (n->kind == NameKind::Unresolved && simpleArgs(c, false, args))
                e = std::make_unique<NameCall>(std::move(e), n, std::move(args), false);
            return;
        }
        if (auto *m = dynamic_cast<MemberExpr *>(c.callee.get())) {
            ArgList args;
            if (simpleArgs(c, false, args))
                e = std::make_unique<MethodCall>(std::move(e), m, std::move(args));
        }
    }

    void index(ExprPtr &e, CallExpr &c, NameExpr &n) {
        if (n.kind != NameKind::Local || c.args.size() != 1 || !c.args[0])
            return;
        Operand idx = operandOf(c.args[0].get());
        if (idx.pure())
            e = std::make_unique<FastIndex>(std::move(e), n.slot, std::move(idx));
    }

    Interp &in_;
};

} // namespace

void compileProgram(Interp &in, Program &prog) {
    Compiler c(in);
    for (auto &p : prog.procs)
        c.block(p->body);
    for (auto &cls : prog.classes)
        for (auto &p : cls->procs)
            c.block(p->body);
    c.block(prog.body);
}

} // namespace kestrun::vbscript
