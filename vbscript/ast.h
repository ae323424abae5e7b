// Syntax tree of compiled code. Names are resolved to slots once (locals at compile time, globals
// on first execution) so that running the tree does no name lookups in the common case.
#pragma once

#include "ops.h"
#include "value.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace kestrun::vbscript {

struct Proc;
struct ClassDef;
struct Builtin;

enum class Flow : uint8_t { Normal, ExitDo, ExitFor, ExitProc };

struct Expr {
    explicit Expr(int line) : line(line) {}
    virtual ~Expr() = default;
    virtual Value eval(Interp &in) = 0;
    // The variable behind the expression (for ByRef and in-place updates), or null.
    virtual Value *ref(Interp &) { return nullptr; }
    // The value without copying it, where it is held somewhere (variables, literals), or null.
    virtual const Value *peek(Interp &) { return nullptr; }
    // An array element `a(i)` for a ByRef parameter: the array is kept in `hold` and locked
    // until the call ends. Null when the expression is not an element of an array variable.
    virtual Value *elementRef(Interp &, Value &) { return nullptr; }
    virtual void assign(Interp &in, const Value &v, bool isSet);
    virtual bool isLiteral() const { return false; }
    // The value as the condition of If, Do and While (Null counts as false).
    virtual bool truth(Interp &in);
    int line;
};
using ExprPtr = std::unique_ptr<Expr>;

struct Stmt {
    explicit Stmt(int line) : line(line) {}
    virtual ~Stmt() = default;
    virtual Flow exec(Interp &in) = 0;
    int line;
};
using StmtPtr = std::unique_ptr<Stmt>;
using Block = std::vector<StmtPtr>;

struct LiteralExpr : Expr {
    LiteralExpr(int line, Value v) : Expr(line), value(std::move(v)) {}
    Value eval(Interp &) override { return value; }
    const Value *peek(Interp &) override { return &value; }
    bool isLiteral() const override { return true; }
    Value value;
};

// How a name was resolved.
enum class NameKind : uint8_t {
    Unresolved, // look up on first execution
    Local,      // slot of the running procedure
    Field,      // field of Me
    MeMember,   // method or property of Me
    RetVal,     // the running function's own name
    Global,     // global variable slot
    Proc,       // global procedure
    Builtin,    // built-in function
    Constant,   // built-in constant
};

struct NameExpr : Expr {
    NameExpr(int line, std::u16string name)
        : Expr(line), name(std::move(name)), lname(lowerAscii(this->name)) {}
    Value eval(Interp &in) override;
    Value *ref(Interp &in) override;
    const Value *peek(Interp &in) override;
    void assign(Interp &in, const Value &v, bool isSet) override;
    void resolve(Interp &in);
    Value *variable(Interp &in); // null when the name is not a variable

    std::u16string name, lname;
    NameKind kind = NameKind::Unresolved;
    int slot = -1;         // Local/Field/Global/RetVal slot
    int fallbackSlot = -1; // local slot for an undeclared name inside a procedure
    bool explicitOn = false;
    Proc *proc = nullptr; // Proc, RetVal
    const Builtin *builtin = nullptr;
    Value constant;
};

struct MemberExpr : Expr {
    MemberExpr(int line, ExprPtr obj, std::u16string name)
        : Expr(line), object(std::move(obj)), lname(lowerAscii(name)) {}
    Value target(Interp &in); // the object, error 424 when not one
    Value eval(Interp &in) override;
    void assign(Interp &in, const Value &v, bool isSet) override;
    ExprPtr object; // null inside With: the With object
    std::u16string lname;
};

struct CallExpr : Expr {
    CallExpr(int line, ExprPtr callee) : Expr(line), callee(std::move(callee)) {}
    Value eval(Interp &in) override;
    void assign(Interp &in, const Value &v, bool isSet) override;
    Value *elementRef(Interp &in, Value &hold) override;
    ExprPtr callee;
    std::vector<ExprPtr> args;
    bool parens = false;
    bool spaceBeforeParen = false;
    bool statement = false; // the whole statement (`Call f(x)`, `f x`): no value is wanted

private:
    void classify();
    bool classified_ = false;
    NameExpr *name_ = nullptr;     // callee when it is a plain name
    MemberExpr *member_ = nullptr; // callee when it is `object.member`
};

struct ParenExpr : Expr { // a parenthesised argument is passed by value
    ParenExpr(int line, ExprPtr e) : Expr(line), inner(std::move(e)) {}
    Value eval(Interp &in) override { return inner->eval(in); }
    ExprPtr inner;
};

struct BinaryExpr : Expr {
    BinaryExpr(int line, Op op, ExprPtr l, ExprPtr r)
        : Expr(line), op(op), lhs(std::move(l)), rhs(std::move(r)) {}
    Value eval(Interp &in) override;
    // The operator applied to operands already evaluated.
    Value apply(Interp &in, const Value &a, const Value &b);
    Op op;
    ExprPtr lhs, rhs;
};

struct UnaryExpr : Expr {
    UnaryExpr(int line, bool isNot, ExprPtr e) : Expr(line), isNot(isNot), operand(std::move(e)) {}
    Value eval(Interp &in) override;
    bool isNot;
    ExprPtr operand;
};

struct NewExpr : Expr {
    NewExpr(int line, std::u16string cls) : Expr(line), lname(lowerAscii(cls)) {}
    Value eval(Interp &in) override;
    std::u16string lname;
};

struct MeExpr : Expr {
    using Expr::Expr;
    Value eval(Interp &in) override;
};

// ---- statements ----

struct CallStmt : Stmt {
    CallStmt(int line, ExprPtr e) : Stmt(line), call(std::move(e)) {
        if (auto *c = dynamic_cast<CallExpr *>(call.get()))
            c->statement = true;
    }
    Flow exec(Interp &in) override;
    ExprPtr call;
};

struct AssignStmt : Stmt {
    AssignStmt(int line, ExprPtr t, ExprPtr v, bool isSet)
        : Stmt(line), target(std::move(t)), value(std::move(v)), isSet(isSet),
          name(dynamic_cast<NameExpr *>(target.get())) {}
    Flow exec(Interp &in) override;
    ExprPtr target, value;
    bool isSet;
    NameExpr *name; // the target when it is a plain name
};

// `s = s & x` on a plain variable: appends in place when the text is not shared.
struct AppendStmt : Stmt {
    AppendStmt(int line, ExprPtr t, ExprPtr v)
        : Stmt(line), target(std::move(t)), value(std::move(v)) {}
    Flow exec(Interp &in) override;
    ExprPtr target, value; // value is the right operand of '&'
};

struct IfStmt : Stmt {
    using Stmt::Stmt;
    Flow exec(Interp &in) override;
    std::vector<ExprPtr> conds;
    std::vector<Block> blocks;
    Block elseBlock;
};

struct CaseItem {
    ExprPtr value, upper; // `value To upper`
    Op isOp = Op::Eq;     // `Is <op> value`
    bool hasIs = false;
};

struct SelectStmt : Stmt {
    using Stmt::Stmt;
    Flow exec(Interp &in) override;
    ExprPtr test;
    std::vector<std::vector<CaseItem>> cases;
    std::vector<Block> blocks;
    Block elseBlock;
    bool hasElse = false;
};

struct ForStmt : Stmt {
    using Stmt::Stmt;
    Flow exec(Interp &in) override;
    ExprPtr var, from, to, step;
    Block body;
};

struct ForEachStmt : Stmt {
    using Stmt::Stmt;
    Flow exec(Interp &in) override;
    ExprPtr var, collection;
    Block body;
};

struct DoStmt : Stmt {
    using Stmt::Stmt;
    Flow exec(Interp &in) override;
    ExprPtr cond;
    bool until = false; // loop while the condition is false
    bool atEnd = false; // condition after the body
    Block body;
};

struct WithStmt : Stmt {
    using Stmt::Stmt;
    Flow exec(Interp &in) override;
    ExprPtr object;
    Block body;
};

struct ExitStmt : Stmt {
    ExitStmt(int line, Flow f) : Stmt(line), flow(f) {}
    Flow exec(Interp &) override { return flow; }
    Flow flow;
};

struct OnErrorStmt : Stmt {
    OnErrorStmt(int line, bool resume) : Stmt(line), resume(resume) {}
    Flow exec(Interp &in) override;
    bool resume;
};

struct DimItem {
    ExprPtr target;
    std::vector<ExprPtr> dims;
    bool isArray = false;
};

struct DimStmt : Stmt {
    using Stmt::Stmt;
    Flow exec(Interp &in) override;
    std::vector<DimItem> items;
    bool redim = false, preserve = false;
};

// `Mid(v, start[, length]) = text`: overwrites characters of the string variable v in place.
struct MidStmt : Stmt {
    using Stmt::Stmt;
    Flow exec(Interp &in) override;
    ExprPtr target, start, length, value;
};

struct EraseStmt : Stmt {
    using Stmt::Stmt;
    Flow exec(Interp &in) override;
    std::vector<ExprPtr> targets;
};

// ---- procedures, classes, programs ----

enum class ProcKind : uint8_t { Sub, Function, PropGet, PropLet, PropSet };

struct Proc {
    std::u16string name, lname;
    ProcKind kind = ProcKind::Sub;
    std::vector<uint8_t> byRef; // one per parameter: 1 when ByRef
    std::unordered_map<std::u16string, int> locals;
    int slots = 0;
    int retSlot = -1;
    bool isPublic = true;
    bool isDefault = false;
    bool explicitOn = false;
    ClassDef *cls = nullptr;
    Block body;
    int line = 0;

    int addLocal(const std::u16string &lname) {
        auto it = locals.find(lname);
        if (it != locals.end())
            return it->second;
        locals.emplace(lname, slots);
        return slots++;
    }
};

struct ClassMember {
    Proc *method = nullptr; // Sub or Function
    Proc *get = nullptr, *let = nullptr, *set = nullptr;
    int field = -1;
    bool isPublic = true;
};

struct FieldDecl {
    std::u16string lname;
    std::vector<ExprPtr> dims;
    bool isArray = false;
};

struct ClassDef {
    std::u16string name, lname;
    std::vector<FieldDecl> fields;
    std::unordered_map<std::u16string, ClassMember> members;
    std::vector<std::unique_ptr<Proc>> procs;
    Proc *init = nullptr, *term = nullptr;
    std::u16string defaultMember; // lname of the default member, or empty
};

struct Program {
    Block body;
    std::vector<std::unique_ptr<Proc>> procs;
    std::vector<std::unique_ptr<ClassDef>> classes;
    std::vector<std::u16string> globals; // names declared at the top level
    bool explicitOn = false;
};

// Parse context for code run by Execute/Eval inside a procedure.
struct ParseScope {
    Proc *proc = nullptr;
    ClassDef *cls = nullptr;
};

// Turns a parsed program into its running form: subtrees whose operands are locals, fields or
// constants become specialised nodes (integer and floating-point fast paths, direct slot access,
// calls resolved once per call site) and constant subexpressions are folded. Every specialised
// node keeps the node it replaces and falls back to it for anything but its fast cases.
void compileProgram(Interp &in, Program &prog);

// The lowest usable address of the calling thread's stack, or 0 when it cannot be told.
uintptr_t threadStackLow();

std::unique_ptr<Program> parseProgram(std::u16string_view code, bool explicitDefault = false,
                                      ParseScope scope = {});
ExprPtr parseExpression(std::u16string_view code, std::vector<NameExpr *> &names, ParseScope scope);

} // namespace kestrun::vbscript
