// Recursive-descent parser producing the tree of ast.h, with local names resolved to slots.
#include "ast.h"
#include "errors.h"
#include "lexer.h"

#include <unordered_set>

namespace kestrun::vbscript {

namespace {

const std::unordered_set<std::u16string> kReserved = {
    u"and",      u"byref",    u"byval",    u"call",    u"case",   u"class",    u"const",  u"dim",
    u"do",       u"each",     u"else",     u"elseif",  u"empty",  u"end",      u"eqv",    u"erase",
    u"error",    u"exit",     u"explicit", u"false",   u"for",    u"function", u"get",    u"goto",
    u"if",       u"imp",      u"in",       u"is",      u"let",    u"loop",     u"me",     u"mod",
    u"new",      u"next",     u"not",      u"nothing", u"null",   u"on",       u"option", u"or",
    u"preserve", u"private",  u"public",   u"redim",   u"resume", u"select",   u"set",    u"step",
    u"sub",      u"then",     u"to",       u"true",    u"until",  u"wend",     u"while",  u"with",
    u"xor",      u"property", u"default"};

// Keywords that may still be used as plain names.
bool reservedName(const std::u16string &l) {
    if (l == u"error" || l == u"property" || l == u"default" || l == u"get" || l == u"let" ||
        l == u"explicit" || l == u"step" || l == u"preserve")
        return false;
    return kReserved.count(l) != 0;
}

struct PendingName {
    NameExpr *name;
    Proc *proc;
};

class Parser {
public:
    Parser(std::vector<Token> toks, Program &prog, ParseScope scope)
        : t_(std::move(toks)), prog_(prog), outer_(scope) {
        if (uintptr_t low = threadStackLow())
            stackFloor_ = low + kStackReserve;
    }

    void parseAll() {
        skipEnds();
        while (cur().kind != Tok::End) {
            StmtPtr s = parseStatement();
            if (s)
                prog_.body.push_back(std::move(s));
            endStatement();
            skipEnds();
        }
        prependHoisted(prog_.body);
        finishNames(topNames_, nullptr, false);
    }

    ExprPtr parseLoneExpression(std::vector<NameExpr *> &names) {
        skipEnds();
        ExprPtr e = parseExpr();
        skipEnds();
        if (cur().kind != Tok::End)
            fail(err::ExpEndOfStmt);
        finishNames(topNames_, nullptr, false);
        for (auto &p : topNames_)
            names.push_back(p.name);
        return e;
    }

private:
    // ---- token helpers ----
    const Token &cur() const { return t_[p_]; }
    const Token &peek(size_t k = 1) const { return t_[std::min(p_ + k, t_.size() - 1)]; }
    void next() {
        if (p_ + 1 < t_.size())
            ++p_;
    }
    [[noreturn]] void fail(int32_t number) const {
        ScriptError e(number);
        e.line = cur().line;
        e.compile = true;
        throw e;
    }
    bool atEnd() const { return cur().kind == Tok::EndStmt || cur().kind == Tok::End; }
    bool acceptKw(std::u16string_view k) {
        if (cur().kw(k)) {
            next();
            return true;
        }
        return false;
    }
    void expectKw(std::u16string_view k, int32_t number) {
        if (!acceptKw(k))
            fail(number);
    }
    bool accept(std::u16string_view p) {
        if (cur().is(p)) {
            next();
            return true;
        }
        return false;
    }
    void expect(std::u16string_view p, int32_t number) {
        if (!accept(p))
            fail(number);
    }
    void skipEnds() {
        while (cur().kind == Tok::EndStmt)
            next();
    }
    void endStatement() {
        if (cur().kind == Tok::End || blockEnd())
            return;
        if (cur().kind != Tok::EndStmt)
            fail(err::ExpEndOfStmt);
        next();
    }
    // `End Sub`, `End If`, ... right after a statement on the same line (`x = 1 End Sub`) ends
    // the statement like a line break would.
    bool blockEnd() const {
        if (!cur().kw(u"end"))
            return false;
        const Token &w = peek();
        return w.kw(u"sub") || w.kw(u"function") || w.kw(u"property") || w.kw(u"class") ||
               w.kw(u"if") || w.kw(u"select") || w.kw(u"with");
    }
    // `Property` is a plain name unless Get, Let or Set follows.
    static bool startsProperty(const Token &next) {
        return next.kw(u"get") || next.kw(u"let") || next.kw(u"set");
    }
    bool stmtEnds() const { return atEnd() || cur().kw(u"else") || blockEnd(); }
    std::u16string ident() {
        if (cur().kind != Tok::Ident || reservedName(cur().lname))
            fail(err::ExpIdent);
        std::u16string s = cur().text;
        next();
        return s;
    }

    // ---- names ----
    NameExpr *newName(int line, const std::u16string &name, ExprPtr &out) {
        auto n = std::make_unique<NameExpr>(line, name);
        n->explicitOn = prog_.explicitOn;
        NameExpr *raw = n.get();
        if (proc_)
            procNames_.push_back({raw, proc_});
        else
            topNames_.push_back({raw, nullptr});
        out = std::move(n);
        return raw;
    }

    // Declares a variable in the current scope.
    void declare(const std::u16string &lname) {
        if (proc_) {
            proc_->addLocal(lname);
        } else if (cls_) {
            // class fields are declared by the member parser
        } else {
            prog_.globals.push_back(lname);
        }
    }

    bool resolveLocal(NameExpr *n, Proc *pr) {
        if (pr->retSlot >= 0 && n->lname == pr->lname) {
            n->kind = NameKind::RetVal;
            n->slot = pr->retSlot;
            n->proc = pr;
            return true;
        }
        auto it = pr->locals.find(n->lname);
        if (it == pr->locals.end())
            return false;
        n->kind = NameKind::Local;
        n->slot = it->second;
        return true;
    }

    static bool resolveMember(NameExpr *n, ClassDef *cls) {
        auto it = cls->members.find(n->lname);
        if (it == cls->members.end())
            return false;
        if (it->second.field >= 0) {
            n->kind = NameKind::Field;
            n->slot = it->second.field;
        } else {
            n->kind = NameKind::MeMember;
        }
        return true;
    }

    // Resolves names against procedure locals and class members; names left over inside a
    // procedure get a slot for an implicit local when `fallback` is set.
    void finishNames(std::vector<PendingName> &names, ClassDef *cls, bool fallback) {
        std::unordered_map<Proc *, std::unordered_map<std::u16string, int>> slots;
        for (auto &pn : names) {
            NameExpr *n = pn.name;
            if (n->kind != NameKind::Unresolved || n->fallbackSlot >= 0)
                continue;
            if (pn.proc && resolveLocal(n, pn.proc))
                continue;
            if (cls && resolveMember(n, cls))
                continue;
            if (!pn.proc && outer_.proc && resolveLocal(n, outer_.proc))
                continue;
            if (!pn.proc && outer_.cls && resolveMember(n, outer_.cls))
                continue;
            if (fallback && pn.proc) {
                auto &fb = slots[pn.proc];
                auto it = fb.find(n->lname);
                if (it == fb.end())
                    it = fb.emplace(n->lname, pn.proc->slots++).first;
                n->fallbackSlot = it->second;
            }
        }
    }

    // ---- statements ----
    StmtPtr parseStatement() {
        Nest guard(*this);
        const Token &tk = cur();
        int line = tk.line;
        if (tk.is(u"."))
            return parseSimple(line, false);
        if (tk.kind != Tok::Ident)
            fail(tk.kind == Tok::Literal ? err::ExpStatement : err::Syntax);
        const std::u16string &k = tk.lname;
        if (k == u"dim") {
            next();
            return parseDim(line, false, false);
        }
        if (k == u"redim") {
            next();
            bool preserve = acceptKw(u"preserve");
            return parseDim(line, true, preserve);
        }
        if (k == u"const") {
            next();
            return parseConst(line);
        }
        if (k == u"public" || k == u"private") {
            bool isPublic = k == u"public";
            next();
            if (cur().kw(u"default") || cur().kw(u"function") || cur().kw(u"sub") ||
                (cur().kw(u"property") && startsProperty(peek()))) {
                bool isDefault = acceptKw(u"default");
                if (isDefault && !isPublic)
                    fail(err::Syntax);
                parseProcDef(isPublic, isDefault);
                return nullptr;
            }
            if (cur().kw(u"const")) {
                next();
                return parseConst(line);
            }
            return parseDim(line, false, false);
        }
        if (k == u"function" || k == u"sub" || (k == u"property" && startsProperty(peek()))) {
            parseProcDef(true, false);
            return nullptr;
        }
        if (k == u"class") { // classes, like procedures, may be written inside blocks
            if (proc_ || cls_)
                fail(err::Syntax);
            parseClass();
            return nullptr;
        }
        if (k == u"if")
            return parseIf(line);
        if (k == u"select")
            return parseSelect(line);
        if (k == u"for")
            return parseFor(line);
        if (k == u"do")
            return parseDo(line);
        if (k == u"while")
            return parseWhile(line);
        if (k == u"with")
            return parseWith(line);
        if (k == u"exit")
            return parseExit(line);
        if (k == u"on") {
            next();
            expectKw(u"error", err::Syntax);
            if (acceptKw(u"resume")) {
                expectKw(u"next", err::Syntax);
                return std::make_unique<OnErrorStmt>(line, true);
            }
            expectKw(u"goto", err::Syntax);
            if (!(cur().kind == Tok::Literal && cur().value.isInteger() &&
                  cur().value.intValue() == 0))
                fail(err::Syntax);
            next();
            return std::make_unique<OnErrorStmt>(line, false);
        }
        if (k == u"call") {
            next();
            ExprPtr e = parsePostfix();
            auto *ce = dynamic_cast<CallExpr *>(e.get());
            if (!ce)
                e = std::make_unique<CallExpr>(line, std::move(e));
            return std::make_unique<CallStmt>(line, std::move(e));
        }
        if (k == u"set") {
            next();
            return parseSimple(line, true);
        }
        if (k == u"erase") {
            next();
            auto st = std::make_unique<EraseStmt>(line);
            do {
                ExprPtr e;
                newName(cur().line, ident(), e);
                st->targets.push_back(std::move(e));
            } while (accept(u","));
            return st;
        }
        if (k == u"option") {
            next();
            expectKw(u"explicit", err::Syntax);
            prog_.explicitOn = true;
            return nullptr;
        }
        if (k == u"let") {
            next();
            return parseSimple(line, false);
        }
        if (k == u"stop" && (peek().kind == Tok::EndStmt || peek().kind == Tok::End)) {
            next(); // a breakpoint for a debugger; there is none
            return nullptr;
        }
        if (k == u"next")
            fail(err::UnexpectedNext);
        if (k == u"loop")
            fail(err::LoopWithoutDo);
        if (reservedName(k) && k != u"me")
            fail(err::ExpStatement);
        return parseSimple(line, false);
    }

    StmtPtr parseSimple(int line, bool isSet) {
        ExprPtr target = parsePostfix();
        if (accept(u"=")) {
            ExprPtr value = parseExpr();
            if (auto *mid = midTarget(target.get())) {
                auto st = std::make_unique<MidStmt>(line);
                st->target = std::move(mid->args[0]);
                st->start = std::move(mid->args[1]);
                if (mid->args.size() == 3)
                    st->length = std::move(mid->args[2]);
                st->value = std::move(value);
                discarded_.push_back(std::move(target)); // its names are listed for resolution
                return st;
            }
            auto *tn = dynamic_cast<NameExpr *>(target.get());
            if (tn)
                implicitGlobal(tn->lname);
            if (!isSet && tn) {
                if (ExprPtr tail = appendTail(value, tn->lname)) {
                    // The rest of the expression stays alive: its names are still listed for
                    // resolution.
                    discarded_.push_back(std::move(value));
                    return std::make_unique<AppendStmt>(line, std::move(target), std::move(tail));
                }
            }
            return std::make_unique<AssignStmt>(line, std::move(target), std::move(value), isSet);
        }
        if (isSet)
            fail(err::ExpEqual);
        auto *ce = dynamic_cast<CallExpr *>(target.get());
        if (stmtEnds()) {
            if (ce && ce->parens && ce->args.size() >= 2)
                fail(err::ParensOnSub);
            // `Sub (x)`: the parentheses belong to the argument, which is passed by value.
            if (ce && ce->parens && ce->args.size() == 1 && ce->args[0]) {
                int l = ce->args[0]->line;
                ce->args[0] = std::make_unique<ParenExpr>(l, std::move(ce->args[0]));
            }
            if (!ce)
                target = std::make_unique<CallExpr>(line, std::move(target));
            return std::make_unique<CallStmt>(line, std::move(target));
        }
        auto call = std::make_unique<CallExpr>(line, nullptr);
        if (ce && ce->parens) {
            if (ce->args.size() != 1)
                fail(err::ExpEndOfStmt);
            injected_ = std::make_unique<ParenExpr>(line, std::move(ce->args[0]));
            call->callee = std::move(ce->callee);
            call->args.push_back(parseExpr());
            if (!accept(u","))
                goto done;
        } else {
            call->callee = std::move(target);
        }
        do {
            if (cur().is(u",")) {
                call->args.push_back(nullptr); // omitted argument
                continue;
            }
            call->args.push_back(parseExpr());
        } while (accept(u","));
    done:
        if (!stmtEnds())
            fail(err::ExpEndOfStmt);
        return std::make_unique<CallStmt>(line, std::move(call));
    }

    // `Mid(v, start[, length])` on the left of `=`, or null.
    CallExpr *midTarget(Expr *target) {
        auto *ce = dynamic_cast<CallExpr *>(target);
        if (!ce)
            return nullptr;
        auto *n = dynamic_cast<NameExpr *>(ce->callee.get());
        if (!n || (n->lname != u"mid" && n->lname != u"midb"))
            return nullptr;
        if (ce->args.size() < 2 || ce->args.size() > 3 || !ce->args[0] || !ce->args[1] ||
            (ce->args.size() == 3 && !ce->args[2]))
            fail(err::Syntax);
        if (!dynamic_cast<NameExpr *>(ce->args[0].get()))
            fail(err::Syntax);
        return ce;
    }

    // A top-level assignment to an undeclared name creates a global (without Option Explicit).
    void implicitGlobal(const std::u16string &lname) {
        if (!proc_ && !cls_ && !prog_.explicitOn)
            prog_.globals.push_back(lname);
    }

    // For `v = v & a & b ...` returns `a & b ...` (detached from `value`), else null.
    ExprPtr appendTail(ExprPtr &value, const std::u16string &lname) {
        std::vector<BinaryExpr *> chain;
        Expr *e = value.get();
        while (auto *b = dynamic_cast<BinaryExpr *>(e)) {
            if (b->op != Op::Concat)
                break;
            chain.push_back(b);
            e = b->lhs.get();
        }
        auto *ln = dynamic_cast<NameExpr *>(e);
        if (chain.empty() || !ln || ln->lname != lname)
            return nullptr;
        // chain.back() is the innermost `v & a`; fold the right operands left to right.
        ExprPtr tail = std::move(chain.back()->rhs);
        for (size_t i = chain.size() - 1; i-- > 0;) {
            int l = tail->line;
            tail = std::make_unique<BinaryExpr>(l, Op::Concat, std::move(tail),
                                                std::move(chain[i]->rhs));
        }
        return tail;
    }

    StmtPtr parseDim(int line, bool redim, bool preserve) {
        auto st = std::make_unique<DimStmt>(line);
        st->redim = redim;
        st->preserve = preserve;
        do {
            int l = cur().line;
            std::u16string name = ident();
            std::u16string lname = lowerAscii(name);
            DimItem item;
            if (accept(u"(")) {
                item.isArray = true;
                if (!accept(u")")) {
                    do {
                        item.dims.push_back(parseExpr());
                    } while (accept(u","));
                    expect(u")", err::ExpRParen);
                }
            } else if (redim) {
                fail(err::ExpLParen);
            }
            if (cls_ && !proc_) {
                addField(lname, item, true);
                continue;
            }
            if (!redim || !proc_)
                declare(lname);
            newName(l, name, item.target);
            st->items.push_back(std::move(item));
        } while (accept(u","));
        if (cls_ && !proc_)
            return nullptr;
        return st;
    }

    void addField(const std::u16string &lname, DimItem &item, bool isPublic) {
        if (cls_->members.count(lname))
            fail(err::Redefined);
        ClassMember m;
        m.field = static_cast<int>(cls_->fields.size());
        m.isPublic = isPublic;
        cls_->members.emplace(lname, m);
        FieldDecl f;
        f.lname = lname;
        f.isArray = item.isArray;
        f.dims = std::move(item.dims);
        cls_->fields.push_back(std::move(f));
    }

    // Constants are known in their whole scope, even where the statement never runs (`If False
    // Then Const C = 1`): their assignments move to the start of the script or procedure.
    StmtPtr parseConst(int) {
        do {
            int l = cur().line;
            std::u16string name = ident();
            expect(u"=", err::ExpEqual);
            ExprPtr value = parseExpr();
            declare(lowerAscii(name));
            ExprPtr target;
            newName(l, name, target);
            hoisted_.push_back(
                std::make_unique<AssignStmt>(l, std::move(target), std::move(value), false));
        } while (accept(u","));
        return nullptr;
    }

    void prependHoisted(Block &body) {
        body.insert(body.begin(), std::make_move_iterator(hoisted_.begin()),
                    std::make_move_iterator(hoisted_.end()));
        hoisted_.clear();
    }

    Block parseBlock() {
        Block b;
        while (true) {
            skipEnds();
            if (cur().kind == Tok::End)
                return b;
            const Token &tk = cur();
            if (tk.kind == Tok::Ident &&
                (tk.lname == u"end" || tk.lname == u"else" || tk.lname == u"elseif" ||
                 tk.lname == u"loop" || tk.lname == u"next" || tk.lname == u"wend" ||
                 tk.lname == u"case"))
                return b;
            StmtPtr s = parseStatement();
            if (s)
                b.push_back(std::move(s));
            endStatement();
        }
    }

    void expectEnd(std::u16string_view what, int32_t number) {
        if (!acceptKw(u"end"))
            fail(err::ExpEnd);
        if (!acceptKw(what))
            fail(number);
    }

    StmtPtr parseIf(int line) {
        next();
        auto st = std::make_unique<IfStmt>(line);
        st->conds.push_back(parseExpr());
        expectKw(u"then", err::ExpThen);
        if (cur().kind != Tok::EndStmt || cur().colon) {
            // Single-line form.
            if (cur().kind == Tok::EndStmt)
                next();
            st->blocks.push_back(parseLineStatements());
            if (acceptKw(u"else"))
                st->elseBlock = parseLineStatements();
            if (cur().kw(u"end") && peek().kw(u"if")) {
                next();
                next();
            }
            return st;
        }
        st->blocks.push_back(parseBlock());
        while (true) {
            if (acceptKw(u"elseif")) {
                st->conds.push_back(parseExpr());
                expectKw(u"then", err::ExpThen);
                st->blocks.push_back(parseBlock());
                continue;
            }
            if (acceptKw(u"else")) {
                if (cur().kw(u"if")) { // "Else If" on one line is a nested If
                    StmtPtr inner = parseIf(cur().line);
                    st->elseBlock.push_back(std::move(inner));
                    skipEnds();
                    expectEnd(u"if", err::ExpIf);
                    return st;
                }
                st->elseBlock = parseBlock();
            }
            break;
        }
        expectEnd(u"if", err::ExpIf);
        return st;
    }

    Block parseLineStatements() {
        Block b;
        while (!(cur().kind == Tok::End || (cur().kind == Tok::EndStmt && !cur().colon) ||
                 cur().kw(u"else"))) {
            if (cur().kind == Tok::EndStmt) {
                next();
                continue;
            }
            if (cur().kw(u"end") && peek().kw(u"if"))
                break;
            StmtPtr s = parseStatement();
            if (s)
                b.push_back(std::move(s));
        }
        return b;
    }

    StmtPtr parseSelect(int line) {
        next();
        expectKw(u"case", err::ExpCase);
        auto st = std::make_unique<SelectStmt>(line);
        st->test = parseExpr();
        endStatement();
        skipEnds();
        while (acceptKw(u"case")) {
            if (acceptKw(u"else")) {
                st->hasElse = true;
                st->elseBlock = parseBlock();
                break;
            }
            std::vector<CaseItem> items;
            do {
                CaseItem it;
                if (acceptKw(u"is")) {
                    it.hasIs = true;
                    const Token &op = cur();
                    if (op.is(u"="))
                        it.isOp = Op::Eq;
                    else if (op.is(u"<>"))
                        it.isOp = Op::Ne;
                    else if (op.is(u"<"))
                        it.isOp = Op::Lt;
                    else if (op.is(u">"))
                        it.isOp = Op::Gt;
                    else if (op.is(u"<="))
                        it.isOp = Op::Le;
                    else if (op.is(u">="))
                        it.isOp = Op::Ge;
                    else
                        fail(err::Syntax);
                    next();
                    it.value = parseConcatLevel();
                } else {
                    it.value = parseExpr();
                    if (acceptKw(u"to"))
                        it.upper = parseExpr();
                }
                items.push_back(std::move(it));
            } while (accept(u","));
            st->cases.push_back(std::move(items));
            st->blocks.push_back(parseBlock());
        }
        expectEnd(u"select", err::ExpSelect);
        return st;
    }

    StmtPtr parseFor(int line) {
        next();
        if (acceptKw(u"each")) {
            auto st = std::make_unique<ForEachStmt>(line);
            int l = cur().line;
            std::u16string name = ident();
            implicitGlobal(lowerAscii(name));
            newName(l, name, st->var);
            expectKw(u"in", err::ExpIn);
            st->collection = parseExpr();
            ++forDepth_;
            st->body = parseBlock();
            --forDepth_;
            expectKw(u"next", err::ExpNext);
            if (cur().kind == Tok::Ident && !atEnd())
                next();
            return st;
        }
        auto st = std::make_unique<ForStmt>(line);
        int l = cur().line;
        std::u16string name = ident();
        implicitGlobal(lowerAscii(name));
        newName(l, name, st->var);
        expect(u"=", err::ExpEqual);
        st->from = parseExpr();
        expectKw(u"to", err::ExpTo);
        st->to = parseExpr();
        if (acceptKw(u"step"))
            st->step = parseExpr();
        ++forDepth_;
        st->body = parseBlock();
        --forDepth_;
        expectKw(u"next", err::ExpNext);
        if (cur().kind == Tok::Ident)
            next(); // optional counter name after Next
        return st;
    }

    StmtPtr parseDo(int line) {
        next();
        auto st = std::make_unique<DoStmt>(line);
        if (cur().kw(u"while") || cur().kw(u"until")) {
            st->until = cur().kw(u"until");
            next();
            st->cond = parseExpr();
        } else if (!atEnd()) {
            fail(err::ExpWhileUntil);
        }
        ++doDepth_;
        st->body = parseBlock();
        --doDepth_;
        expectKw(u"loop", err::ExpLoop);
        if (cur().kw(u"while") || cur().kw(u"until")) {
            if (st->cond)
                fail(err::ExpEndOfStmt);
            st->until = cur().kw(u"until");
            next();
            st->cond = parseExpr();
            st->atEnd = true;
        }
        return st;
    }

    StmtPtr parseWhile(int line) {
        next();
        auto st = std::make_unique<DoStmt>(line);
        st->cond = parseExpr();
        st->body = parseBlock();
        expectKw(u"wend", err::ExpWend);
        return st;
    }

    StmtPtr parseWith(int line) {
        next();
        auto st = std::make_unique<WithStmt>(line);
        st->object = parseExpr();
        st->body = parseBlock();
        expectEnd(u"with", err::ExpWith);
        return st;
    }

    StmtPtr parseExit(int line) {
        next();
        if (acceptKw(u"for")) {
            if (!forDepth_)
                fail(err::InvalidExit);
            return std::make_unique<ExitStmt>(line, Flow::ExitFor);
        }
        if (acceptKw(u"do")) {
            if (!doDepth_)
                fail(err::InvalidExit);
            return std::make_unique<ExitStmt>(line, Flow::ExitDo);
        }
        const Token &k = cur();
        if (k.kw(u"function") || k.kw(u"sub") || k.kw(u"property")) {
            ProcKind want = proc_ ? proc_->kind : ProcKind::Sub;
            bool ok = proc_ &&
                      ((k.kw(u"function") && want == ProcKind::Function) ||
                       (k.kw(u"sub") && want == ProcKind::Sub) ||
                       (k.kw(u"property") && want != ProcKind::Function && want != ProcKind::Sub));
            if (!ok)
                fail(err::InvalidExit);
            next();
            return std::make_unique<ExitStmt>(line, Flow::ExitProc);
        }
        fail(err::InvalidExit);
    }

    // Procedures may also be written inside blocks (`If ... Then Sub S ... End Sub`); they
    // belong to the script all the same, whether or not the block runs.
    void parseProcDef(bool isPublic, bool isDefault) {
        if (proc_)
            fail(err::Syntax);
        auto pr = std::make_unique<Proc>();
        pr->line = cur().line;
        pr->isPublic = isPublic;
        pr->isDefault = isDefault;
        pr->cls = cls_;
        std::u16string endWord;
        if (acceptKw(u"function")) {
            pr->kind = ProcKind::Function;
            endWord = u"function";
        } else if (acceptKw(u"sub")) {
            pr->kind = ProcKind::Sub;
            endWord = u"sub";
        } else {
            expectKw(u"property", err::Syntax);
            if (!cls_)
                fail(err::InsideClass);
            if (acceptKw(u"get"))
                pr->kind = ProcKind::PropGet;
            else if (acceptKw(u"let"))
                pr->kind = ProcKind::PropLet;
            else if (acceptKw(u"set"))
                pr->kind = ProcKind::PropSet;
            else
                fail(err::ExpLetSetGet);
            endWord = u"property";
        }
        if (isDefault && pr->kind != ProcKind::Function && pr->kind != ProcKind::PropGet &&
            pr->kind != ProcKind::Sub)
            fail(err::Syntax);
        pr->name = ident();
        pr->lname = lowerAscii(pr->name);
        if (accept(u"(")) {
            if (!accept(u")")) {
                do {
                    bool byRef = true;
                    if (acceptKw(u"byval"))
                        byRef = false;
                    else
                        acceptKw(u"byref");
                    std::u16string pn = lowerAscii(ident());
                    if (accept(u"("))
                        expect(u")", err::ExpRParen);
                    if (pr->locals.count(pn))
                        fail(err::Redefined);
                    pr->addLocal(pn);
                    pr->byRef.push_back(byRef);
                } while (accept(u","));
                expect(u")", err::ExpRParen);
            }
        }
        if ((pr->kind == ProcKind::PropLet || pr->kind == ProcKind::PropSet) && pr->byRef.empty())
            fail(err::PropertyNeedsArg);
        if (pr->kind == ProcKind::Function || pr->kind == ProcKind::PropGet)
            pr->retSlot = pr->slots++;
        pr->explicitOn = prog_.explicitOn;
        // The body may begin on the header's line without a separator (`Sub S() x = 1 End Sub`).
        if (cur().kind == Tok::EndStmt)
            next();
        proc_ = pr.get();
        auto saveFor = forDepth_, saveDo = doDepth_;
        forDepth_ = doDepth_ = 0;
        Block outerHoisted = std::move(hoisted_);
        hoisted_.clear();
        pr->body = parseBlock();
        prependHoisted(pr->body);
        hoisted_ = std::move(outerHoisted);
        forDepth_ = saveFor;
        doDepth_ = saveDo;
        proc_ = nullptr;
        expectEnd(endWord, endWord == u"function" ? err::ExpFunction
                           : endWord == u"sub"    ? err::ExpSub
                                                  : err::ExpProperty);
        // Inside a class, names that are not locals wait for the end of the class.
        finishNames(procNames_, nullptr, !cls_);
        if (cls_)
            for (auto &pn : procNames_)
                if (pn.name->kind == NameKind::Unresolved)
                    classNames_.push_back(pn);
        procNames_.clear();
        if (cls_) {
            registerMember(std::move(pr));
        } else {
            // A later definition of the same name replaces the earlier one.
            std::erase_if(prog_.procs, [&](const auto &p) { return p->lname == pr->lname; });
            prog_.procs.push_back(std::move(pr));
        }
    }

    void registerMember(std::unique_ptr<Proc> pr) {
        ClassMember &m = cls_->members[pr->lname];
        if (m.field >= 0)
            fail(err::Redefined);
        if (pr->lname == u"class_initialize" || pr->lname == u"class_terminate") {
            if (!pr->byRef.empty())
                fail(err::InitTermArgs);
            (pr->lname == u"class_initialize" ? cls_->init : cls_->term) = pr.get();
        }
        switch (pr->kind) {
        case ProcKind::Sub:
        case ProcKind::Function:
            if (m.method || m.get || m.let || m.set)
                fail(err::Redefined);
            m.method = pr.get();
            break;
        case ProcKind::PropGet:
            if (m.get || m.method)
                fail(err::Redefined);
            m.get = pr.get();
            break;
        case ProcKind::PropLet:
            if (m.let || m.method)
                fail(err::Redefined);
            m.let = pr.get();
            break;
        case ProcKind::PropSet:
            if (m.set || m.method)
                fail(err::Redefined);
            m.set = pr.get();
            break;
        }
        m.isPublic = pr->isPublic;
        if (pr->isDefault) {
            if (!cls_->defaultMember.empty() && cls_->defaultMember != pr->lname)
                fail(err::MultipleDefault);
            cls_->defaultMember = pr->lname;
        }
        cls_->procs.push_back(std::move(pr));
    }

    void parseClass() {
        next();
        auto cd = std::make_unique<ClassDef>();
        cd->name = ident();
        cd->lname = lowerAscii(cd->name);
        endStatement();
        cls_ = cd.get();
        while (true) {
            skipEnds();
            if (cur().kind == Tok::End)
                fail(err::ExpEnd);
            if (cur().kw(u"end"))
                break;
            const Token &tk = cur();
            if (tk.kw(u"public") || tk.kw(u"private")) {
                bool isPublic = tk.kw(u"public");
                next();
                if (cur().kw(u"default") || cur().kw(u"function") || cur().kw(u"sub") ||
                    (cur().kw(u"property") && startsProperty(peek()))) {
                    bool isDefault = acceptKw(u"default");
                    parseProcDef(isPublic, isDefault);
                } else {
                    parseFieldList(isPublic);
                }
            } else if (tk.kw(u"dim")) {
                next();
                parseFieldList(true);
            } else if (tk.kw(u"function") || tk.kw(u"sub") ||
                       (tk.kw(u"property") && startsProperty(peek()))) {
                parseProcDef(true, false);
            } else if (tk.kw(u"const")) {
                fail(err::Syntax);
            } else {
                fail(err::ExpStatement);
            }
            endStatement();
        }
        next();
        expectKw(u"class", err::ExpClass);
        finishNames(classNames_, cls_, true);
        classNames_.clear();
        cls_ = nullptr;
        for (auto &c : prog_.classes)
            if (c->lname == cd->lname)
                fail(err::Redefined);
        prog_.classes.push_back(std::move(cd));
    }

    void parseFieldList(bool isPublic) {
        do {
            std::u16string lname = lowerAscii(ident());
            DimItem item;
            if (accept(u"(")) {
                item.isArray = true;
                if (!accept(u")")) {
                    do {
                        item.dims.push_back(parseExpr());
                    } while (accept(u","));
                    expect(u")", err::ExpRParen);
                }
            }
            addField(lname, item, isPublic);
        } while (accept(u","));
    }

    // Bounds the parser's recursion so that hostile nesting cannot exhaust the stack.
    struct Nest {
        Parser &p;
        explicit Nest(Parser &p) : p(p) {
            char probe = 0;
            // Nesting is bounded by count and, on threads with small stacks, by the stack left.
            if (++p.nest_ > kMaxNesting || reinterpret_cast<uintptr_t>(&probe) < p.stackFloor_) {
                ScriptError e(err::OutOfStack);
                e.line = p.cur().line;
                e.compile = true;
                throw e;
            }
        }
        ~Nest() { --p.nest_; }
    };
    static constexpr int kMaxNesting = 250;
    static constexpr uintptr_t kStackReserve = 64u << 10;

    // ---- expressions ----
    ExprPtr parseExpr() {
        Nest guard(*this);
        return parseImp();
    }

    ExprPtr binary(Op op, ExprPtr l, ExprPtr r) {
        int line = l->line;
        return std::make_unique<BinaryExpr>(line, op, std::move(l), std::move(r));
    }

    ExprPtr parseImp() {
        ExprPtr l = parseEqv();
        while (acceptKw(u"imp"))
            l = binary(Op::Imp, std::move(l), parseEqv());
        return l;
    }
    ExprPtr parseEqv() {
        ExprPtr l = parseXor();
        while (acceptKw(u"eqv"))
            l = binary(Op::Eqv, std::move(l), parseXor());
        return l;
    }
    ExprPtr parseXor() {
        ExprPtr l = parseOr();
        while (acceptKw(u"xor"))
            l = binary(Op::Xor, std::move(l), parseOr());
        return l;
    }
    ExprPtr parseOr() {
        ExprPtr l = parseAnd();
        while (acceptKw(u"or"))
            l = binary(Op::Or, std::move(l), parseAnd());
        return l;
    }
    ExprPtr parseAnd() {
        ExprPtr l = parseNot();
        while (acceptKw(u"and"))
            l = binary(Op::And, std::move(l), parseNot());
        return l;
    }
    ExprPtr parseNot() {
        Nest guard(*this);
        if (cur().kw(u"not")) {
            int line = cur().line;
            next();
            return std::make_unique<UnaryExpr>(line, true, parseNot());
        }
        return parseCompare();
    }
    ExprPtr parseCompare() {
        ExprPtr l = parseConcatLevel();
        while (true) {
            const Token &tk = cur();
            Op op;
            if (tk.is(u"="))
                op = Op::Eq;
            else if (tk.is(u"<>"))
                op = Op::Ne;
            else if (tk.is(u"<"))
                op = Op::Lt;
            else if (tk.is(u">"))
                op = Op::Gt;
            else if (tk.is(u"<="))
                op = Op::Le;
            else if (tk.is(u">="))
                op = Op::Ge;
            else if (tk.kw(u"is"))
                op = Op::Is;
            else
                return l;
            next();
            l = binary(op, std::move(l), parseConcatLevel());
        }
    }
    ExprPtr parseConcatLevel() {
        ExprPtr l = parseAdd();
        while (accept(u"&"))
            l = binary(Op::Concat, std::move(l), parseAdd());
        return l;
    }
    ExprPtr parseAdd() {
        ExprPtr l = parseMod();
        while (true) {
            if (accept(u"+"))
                l = binary(Op::Add, std::move(l), parseMod());
            else if (accept(u"-"))
                l = binary(Op::Sub, std::move(l), parseMod());
            else
                return l;
        }
    }
    ExprPtr parseMod() {
        ExprPtr l = parseIntDiv();
        while (acceptKw(u"mod"))
            l = binary(Op::Mod, std::move(l), parseIntDiv());
        return l;
    }
    ExprPtr parseIntDiv() {
        ExprPtr l = parseMul();
        while (accept(u"\\"))
            l = binary(Op::IntDiv, std::move(l), parseMul());
        return l;
    }
    ExprPtr parseMul() {
        ExprPtr l = parseUnary();
        while (true) {
            if (accept(u"*"))
                l = binary(Op::Mul, std::move(l), parseUnary());
            else if (accept(u"/"))
                l = binary(Op::Div, std::move(l), parseUnary());
            else
                return l;
        }
    }
    ExprPtr parseUnary() {
        Nest guard(*this);
        int line = cur().line;
        if (cur().kw(u"not")) { // `a + Not b`
            next();
            return std::make_unique<UnaryExpr>(line, true, parseUnary());
        }
        return parsePow();
    }
    // The sign belongs to the operand of `^`: `-3 ^ 2` is 9 and `2 ^ -1` is 0.5, as the
    // language's engine evaluates them.
    ExprPtr parsePowOperand() {
        Nest guard(*this);
        int line = cur().line;
        if (accept(u"-"))
            return std::make_unique<UnaryExpr>(line, false, parsePowOperand());
        if (accept(u"+"))
            return parsePowOperand();
        return parsePostfix();
    }
    ExprPtr parsePow() {
        ExprPtr l = parsePowOperand();
        while (accept(u"^"))
            l = binary(Op::Pow, std::move(l), parsePowOperand());
        return l;
    }

    ExprPtr parsePostfix() {
        ExprPtr e;
        if (injected_) {
            e = std::move(injected_);
        } else if (cur().is(u".")) {
            int line = cur().line;
            next();
            if (cur().kind != Tok::Ident)
                fail(err::ExpIdent);
            e = std::make_unique<MemberExpr>(line, nullptr, cur().text);
            next();
        } else {
            e = parsePrimary();
        }
        bool callable = dynamic_cast<NameExpr *>(e.get()) || dynamic_cast<MemberExpr *>(e.get()) ||
                        dynamic_cast<CallExpr *>(e.get()) || dynamic_cast<MeExpr *>(e.get()) ||
                        dynamic_cast<ParenExpr *>(e.get());
        while (callable) {
            if (cur().is(u".") && !cur().spaceBefore) {
                int line = cur().line;
                next();
                if (cur().kind != Tok::Ident)
                    fail(err::ExpIdent);
                e = std::make_unique<MemberExpr>(line, std::move(e), cur().text);
                next();
            } else if (cur().is(u"(")) {
                // `(f)(x)`, `((a))(0)`: the parentheses around a callee change nothing.
                while (auto *pe = dynamic_cast<ParenExpr *>(e.get())) {
                    ExprPtr inner = std::move(pe->inner);
                    e = std::move(inner);
                }
                auto call = std::make_unique<CallExpr>(cur().line, std::move(e));
                call->parens = true;
                call->spaceBeforeParen = cur().spaceBefore;
                next();
                if (!accept(u")")) {
                    do {
                        if (cur().is(u",") || cur().is(u")")) {
                            call->args.push_back(nullptr);
                            continue;
                        }
                        call->args.push_back(parseExpr());
                    } while (accept(u","));
                    expect(u")", err::ExpRParen);
                }
                e = std::move(call);
            } else {
                break;
            }
        }
        return e;
    }

    ExprPtr parsePrimary() {
        const Token &tk = cur();
        int line = tk.line;
        if (tk.kind == Tok::Literal) {
            Value v = tk.value;
            next();
            return std::make_unique<LiteralExpr>(line, std::move(v));
        }
        if (tk.is(u"(")) {
            next();
            ExprPtr e = parseExpr();
            expect(u")", err::ExpRParen);
            return std::make_unique<ParenExpr>(line, std::move(e));
        }
        if (tk.kind != Tok::Ident)
            fail(err::ExpExpr);
        const std::u16string &k = tk.lname;
        if (k == u"true" || k == u"false") {
            bool b = k == u"true";
            next();
            return std::make_unique<LiteralExpr>(line, Value::boolean(b));
        }
        if (k == u"empty") {
            next();
            return std::make_unique<LiteralExpr>(line, Value());
        }
        if (k == u"null") {
            next();
            return std::make_unique<LiteralExpr>(line, Value::null());
        }
        if (k == u"nothing") {
            next();
            return std::make_unique<LiteralExpr>(line, Value::nothing());
        }
        if (k == u"new") {
            next();
            return std::make_unique<NewExpr>(line, ident());
        }
        if (k == u"me") {
            next();
            return std::make_unique<MeExpr>(line);
        }
        if (reservedName(k))
            fail(err::ExpExpr);
        std::u16string name = tk.text;
        next();
        ExprPtr out;
        newName(line, name, out);
        return out;
    }

    std::vector<Token> t_;
    size_t p_ = 0;
    Program &prog_;
    ParseScope outer_;
    Proc *proc_ = nullptr;
    ClassDef *cls_ = nullptr;
    ExprPtr injected_;
    std::vector<PendingName> topNames_, procNames_, classNames_;
    int forDepth_ = 0, doDepth_ = 0;
    int nest_ = 0;
    uintptr_t stackFloor_ = 0; // nesting below this stack address is refused
    std::vector<ExprPtr> discarded_;
    Block hoisted_; // constant assignments of the scope being parsed
};

} // namespace

std::unique_ptr<Program> parseProgram(std::u16string_view code, bool explicitDefault,
                                      ParseScope scope) {
    auto prog = std::make_unique<Program>();
    prog->explicitOn = explicitDefault;
    Parser p(tokenize(code), *prog, scope);
    p.parseAll();
    return prog;
}

ExprPtr parseExpression(std::u16string_view code, std::vector<NameExpr *> &names,
                        ParseScope scope) {
    Program prog;
    Parser p(tokenize(code), prog, scope);
    return p.parseLoneExpression(names);
}

} // namespace kestrun::vbscript
