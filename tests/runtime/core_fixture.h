// An interpreter that compiles op trees with the builders and runs them
// through the run loop: the stacks fixture with the real op tables, the
// pattern engine's hooks, an empty compile pad, $@ and the record separator,
// and helpers that build the common leaves and run a program.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "ds/src/prxop.h"
#include "ds/src/prxpad.h"
#include "ds/src/prxpp.h"
#include "support/compile_pad.h"

namespace runtime {

class Run : public prxtest::CompilePad {
protected:
    void SetUp() override;
    void TearDown() override;

    // Leaves.
    OP* konst(int64_t n) { return op_new_value(gcb, OP_CONST, 0, sv_new_from_int(gcb, n)); }
    OP* kstr(const char* s) { return op_new_value(gcb, OP_CONST, 0, sv_new_from_bytes(gcb, s, std::strlen(s))); }
    OP* knum(double d) { return op_new_value(gcb, OP_CONST, 0, sv_new_from_double(gcb, d)); }
    OP* gvop(const char* name) { return op_new_glob(gcb, OP_GV, 0, gv_fetch_by_name(gcb, name, GV_ADD, SVt_PV)); }
    // $name.
    OP* var(const char* name) { return op_new_scalar_deref(gcb, gvop(name)); }
    // A lexical declared in the pad (its slot), and a padsv op of a slot.
    uint32_t my(const char* name) { return pad_declare_my(gcb, name); }
    OP* lex(uint32_t slot)
    {
        OP* o = op_new_base(gcb, OP_PADSV, 0);
        o->op_targ = slot;
        return o;
    }
    OP* assign(OP* left, OP* right) { return op_new_assign(gcb, 0, left, 0, right); }
    // left OP= right.
    OP* assign_op(int32_t type, OP* left, OP* right) { return op_new_assign(gcb, 0, left, type, right); }
    OP* binop(int32_t type, OP* a, OP* b) { return op_new_binary(gcb, type, 0, a, b); }
    OP* stmt(OP* o, char* label = nullptr) { return op_new_statement(gcb, 0, label, o); }
    // A sequence of statements.
    OP* seq(std::initializer_list<OP*> stmts);
    // A block: { statements }.
    OP* block(std::initializer_list<OP*> stmts);
    // A label as the builders take it (pool memory).
    char* label(const char* text) { return pool_strdup(gcb, text); }

    // foreach [label:] [var] (list) { body }, as the grammar builds it.
    OP* foreach(const char* lbl, OP* var_op, OP* list, std::initializer_list<OP*> body);
    // while (cond) { body } (cond none: forever), as the grammar builds it.
    OP* loop_while(const char* lbl, OP* cond, std::initializer_list<OP*> body);
    // if-modifier: cond and op.
    OP* and_then(OP* cond, OP* then) { return op_new_logical(gcb, OP_AND, 0, cond, then); }
    // last/next/redo with or without a label.
    OP* loopex(int32_t type, const char* lbl = nullptr) { return op_new_loop_exit(gcb, type, lbl ? kstr(lbl) : nullptr); }
    // (a, b, ...) as a list.
    OP* list(std::initializer_list<OP*> items);

    // Runs a program made of the statements; returns the jump code (0 when it
    // ran to its end).
    int32_t run_program(OP* statements);

    // The scalar of a global, and its string.
    SV* global(const char* name) { return gv_gp(gv_fetch_by_name(gcb, name, GV_ADD, SVt_PV))->gp_sv; }
    std::string gstr(const char* name) { return str(global(name)); }
    // $@ as text.
    std::string errtext() { return str(gv_gp(gcb->error_glob)->gp_sv); }

    OP* root = nullptr;
};

}  // namespace runtime
