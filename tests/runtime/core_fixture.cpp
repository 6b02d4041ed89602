#include "runtime/core_fixture.h"

#include "ds/src/prxav.h"
#include "ds/src/prxgv.h"
#include "ds/src/prxre.h"
#include "ds/src/prxrun.h"

namespace runtime {

void Run::SetUp()
{
    CompilePad::SetUp();
    gcb->run_loop_hook = run_op_loop;
    re_install_hooks(gcb);
    gcb->dump_indent = 4;
    gcb->lex_state = 11;
    gcb->comppad_name_fill = 0;
    gcb->padix = 0;
    gcb->error_glob = gv_fetch_by_name(gcb, "@", GV_ADD, SVt_PV);
    sv_set_bytes(gcb, gv_gp(gcb->error_glob)->gp_sv, "", 0);
    gcb->newline_rs = sv_new_from_bytes(gcb, "\n", 1);
    gcb->rs = sv_refinc(gcb->newline_rs);
    compile_cop.cop_seq = 0;
}

void Run::TearDown()
{
    if (root)
        op_free_tree(gcb, root);
    CompilePad::TearDown();
}

OP* Run::seq(std::initializer_list<OP*> stmts)
{
    OP* o = nullptr;
    for (OP* s : stmts)
        o = op_list_append(gcb, OP_LINESEQ, o, s);
    return o;
}

OP* Run::block(std::initializer_list<OP*> stmts)
{
    int32_t floor = op_open_block(gcb, 1);
    return op_close_block(gcb, floor, seq(stmts));
}

OP* Run::foreach(const char* lbl, OP* var_op, OP* items, std::initializer_list<OP*> body)
{
    int32_t outer = op_open_block(gcb, 1);
    if (var_op)
        var_op = op_lvalue_context(gcb, var_op, OP_ENTERLOOP);
    int32_t inner = op_open_block(gcb, 0);
    OP* block = op_close_block(gcb, inner, seq(body));
    OP* loop = op_new_foreach(gcb, 0, lbl ? label(lbl) : nullptr, 1, var_op, items, block, nullptr);
    return op_close_block(gcb, outer, loop);
}

OP* Run::loop_while(const char* lbl, OP* cond, std::initializer_list<OP*> body)
{
    int32_t outer = op_open_block(gcb, 1);
    int32_t inner = op_open_block(gcb, 0);
    OP* block = op_close_block(gcb, inner, seq(body));
    OP* loop = op_new_while(gcb, 0, 1, nullptr, 1, cond, block, nullptr);
    return op_close_block(gcb, outer, op_new_statement(gcb, 0, lbl ? label(lbl) : nullptr, loop));
}

OP* Run::list(std::initializer_list<OP*> items)
{
    OP* o = nullptr;
    for (OP* i : items)
        o = op_list_append(gcb, OP_LIST, o, i);
    return op_mark_parens(gcb, o);
}

int32_t Run::run_program(OP* statements)
{
    op_new_program(gcb, statements);
    root = gcb->main_root;
    gcb->curpad = av_body(pad)->array;
    gcb->op = gcb->main_start;
    return run([&] { gcb->run_loop_hook(gcb); });
}

}  // namespace runtime
