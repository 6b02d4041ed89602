// The doubles of gram_doubles.h. Each wrapper serves the recorder when one
// is set and otherwise calls the real routine.
#include "grammar/gram_doubles.h"

#include <cstring>
#include <type_traits>

#include "ds/src/prxlex.h"
#include "ds/src/prxop.h"
#include "ds/src/prxpad.h"
#include "ds/src/prxsv.h"

namespace gram {

Recorder* rec = nullptr;

OP* Recorder::leaf(const std::string& text, uint16_t type)
{
    blocks.emplace_back();
    std::memset(blocks.back().bytes, 0, sizeof blocks.back().bytes);
    OP* op = reinterpret_cast<OP*>(blocks.back().bytes);
    op->op_type = type;
    nodes[op] = Node{text, {}, false, -1};
    return op;
}

OP* Recorder::composite(const std::string& head, std::vector<OP*> kids, int32_t list_type)
{
    OP* op = leaf(head);
    Node& n = nodes[op];
    n.composite = true;
    n.list_type = list_type;
    for (OP* k : kids)
        n.kids.push_back(k);
    return op;
}

std::string Recorder::shape(const OP* op) const
{
    if (!op)
        return "-";
    auto it = nodes.find(op);
    if (it == nodes.end())
        return "?";
    const Node& n = it->second;
    if (!n.composite)
        return n.head;
    std::string s = n.head + "(";
    for (size_t i = 0; i < n.kids.size(); i++)
        s += (i ? ", " : "") + shape(n.kids[i]);
    return s + ")";
}

}  // namespace gram

using gram::rec;

namespace {

std::string name(int32_t type)
{
    return type >= 0 && type < OP_max ? op_name_image[type] : "#" + std::to_string(type);
}

// FLAGS and PRIVATE bits that the grammar passes, as "{stacked,special}".
std::string flags(int32_t f)
{
    std::string s;
    auto add = [&](const char* w) { s += (s.empty() ? "" : ",") + std::string(w); };
    if (f & OPf_PARENS)
        add("parens");
    if (f & OPf_STACKED)
        add("stacked");
    if (f & OPf_SPECIAL)
        add("special");
    if (f >> 8)
        add(("p" + std::to_string(f >> 8)).c_str());
    return s.empty() ? s : "{" + s + "}";
}

std::string S(const OP* op) { return rec->shape(op); }

void log(const std::string& line) { rec->calls.push_back(line); }

OP* node(const std::string& head, std::vector<OP*> kids) { return rec->composite(head, kids); }

bool is_list_of(OP* op, int32_t type)
{
    auto it = rec->nodes.find(op);
    return op && it != rec->nodes.end() && it->second.list_type == type;
}

OP* new_list(int32_t type, OP* first, OP* last)
{
    std::vector<OP*> kids;
    if (first)
        kids.push_back(first);
    if (last)
        kids.push_back(last);
    return rec->composite(name(type), kids, type);
}

}  // namespace

// The double of routine, whose mangled name is sym: the real routine is
// reached while no recorder is set. The double must have the routine's type,
// so that a changed declaration stops the build here. tests/CMakeLists.txt
// wraps exactly the names given to WRAP, and test_grammar_wraps checks that
// each is defined once and called across objects, where the linker can
// redirect the calls.
#define WRAP(routine, ret, sym, params, args)                                                 \
    extern "C" ret __real_##sym params;                                                       \
    static ret recorded_##sym params;                                                         \
    extern "C" ret __wrap_##sym params                                                        \
    {                                                                                         \
        if (!rec)                                                                             \
            return __real_##sym args;                                                         \
        return recorded_##sym args;                                                           \
    }                                                                                         \
    static_assert(std::is_same_v<decltype(&routine), decltype(&__wrap_##sym)>,                \
                  "the double of " #routine " does not match its declaration");               \
    static ret recorded_##sym params

// ---- the token reader and the front end's hooks ----------------------------------

WRAP(yylex, int32_t, _Z5yylexP7PERLGCB, (PERLGCB * gcb), (gcb))
{
    if (rec->next_token >= rec->tokens.size())
        return 0;
    const gram::Token& t = rec->tokens[rec->next_token++];
    gcb->token_value = t.value;
    return t.code;
}

WRAP(compile_error, int32_t, _Z13compile_errorP7PERLGCBPKc, (PERLGCB * gcb, const char* message), (gcb, message))
{
    rec->errors.push_back(message);
    gcb->error_count++;
    return 0;
}

WRAP(warn_deprecated, void, _Z15warn_deprecatedP7PERLGCBPKc, (PERLGCB * gcb, const char* text), (gcb, text))
{
    (void)gcb;
    rec->deprecated.push_back(text);
}

WRAP(scan_num, char*, _Z8scan_numP7PERLGCBPcPP2OP, (PERLGCB * gcb, char* s, OP** out), (gcb, s, out))
{
    (void)gcb;
    *out = rec->leaf(s, OP_CONST);
    log(std::string("scan_num(") + s + ")");
    return s + std::strlen(s);
}

WRAP(start_sub_compile, int32_t, _Z17start_sub_compileP7PERLGCBij, (PERLGCB * gcb, int32_t is_format, uint32_t flags),
     (gcb, is_format, flags))
{
    if (rec->sub_cv)
        gcb->compile_cv = rec->sub_cv;
    int32_t floor = rec->next_floor++;
    log("start_sub_compile(" + std::to_string(is_format) + ", " + std::to_string(flags) + ") -> " +
        std::to_string(floor));
    return floor;
}

WRAP(pad_intro_pending, uint32_t, _Z17pad_intro_pendingP7PERLGCB, (PERLGCB * gcb), (gcb))
{
    (void)gcb;
    log("pad_intro_pending");
    return 0;
}

// ---- blocks, statements and the program -----------------------------------------

WRAP(op_open_block, int32_t, _Z13op_open_blockP7PERLGCBi, (PERLGCB * gcb, int32_t full), (gcb, full))
{
    (void)gcb;
    int32_t floor = rec->next_floor++;
    log("op_open_block(" + std::to_string(full) + ") -> " + std::to_string(floor));
    return floor;
}

WRAP(op_close_block, OP*, _Z14op_close_blockP7PERLGCBiP2OP, (PERLGCB * gcb, int32_t floor, OP* seq), (gcb, floor, seq))
{
    (void)gcb;
    log("op_close_block(" + std::to_string(floor) + ", " + S(seq) + ")");
    return node("block", {seq});
}

WRAP(op_new_scope, OP*, _Z12op_new_scopeP7PERLGCBP2OP, (PERLGCB * gcb, OP* op), (gcb, op))
{
    (void)gcb;
    return node("scope", {op});
}

WRAP(op_new_statement, OP*, _Z16op_new_statementP7PERLGCBiPcP2OP, (PERLGCB * gcb, int32_t f, char* label, OP* op), (gcb, f, label, op))
{
    (void)gcb;
    (void)f;
    return node(label ? std::string("stmt:") + label : "stmt", {op});
}

WRAP(op_new_program, void, _Z14op_new_programP7PERLGCBP2OP, (PERLGCB * gcb, OP* op), (gcb, op))
{
    rec->program = op;
    rec->program_built = true;
    if (rec->on_program)
        rec->on_program(gcb);
}

// ---- leaves, operators and lists -------------------------------------------------

WRAP(op_new_base, OP*, _Z11op_new_baseP7PERLGCBii, (PERLGCB * gcb, int32_t type, int32_t f), (gcb, type, f))
{
    (void)gcb;
    return rec->leaf(name(type) + flags(f));
}

WRAP(op_new_stub, OP*, _Z11op_new_stubP7PERLGCB, (PERLGCB * gcb), (gcb))
{
    (void)gcb;
    return rec->leaf("stub");
}

WRAP(op_new_unary, OP*, _Z12op_new_unaryP7PERLGCBiiP2OP, (PERLGCB * gcb, int32_t type, int32_t f, OP* a), (gcb, type, f, a))
{
    (void)gcb;
    return node(name(type) + flags(f), {a});
}

WRAP(op_new_binary, OP*, _Z13op_new_binaryP7PERLGCBiiP2OPS2_, (PERLGCB * gcb, int32_t type, int32_t f, OP* a, OP* b),
     (gcb, type, f, a, b))
{
    (void)gcb;
    return node(name(type) + flags(f), {a, b});
}

WRAP(op_new_list, OP*, _Z11op_new_listP7PERLGCBiiP2OPS2_, (PERLGCB * gcb, int32_t type, int32_t f, OP* a, OP* b),
     (gcb, type, f, a, b))
{
    (void)gcb;
    (void)f;
    return new_list(type, a, b);
}

WRAP(op_list_append, OP*, _Z14op_list_appendP7PERLGCBiP2OPS2_, (PERLGCB * gcb, int32_t type, OP* a, OP* b), (gcb, type, a, b))
{
    (void)gcb;
    if (!a)
        return b;
    if (!b)
        return a;
    if (is_list_of(a, type) && !(a->op_flags & OPf_PARENS)) {
        rec->nodes[a].kids.push_back(b);
        return a;
    }
    return new_list(type, a, b);
}

WRAP(op_list_prepend, OP*, _Z15op_list_prependP7PERLGCBiP2OPS2_, (PERLGCB * gcb, int32_t type, OP* a, OP* b), (gcb, type, a, b))
{
    (void)gcb;
    if (!a)
        return b;
    if (!b)
        return a;
    if (is_list_of(b, type)) {
        auto& kids = rec->nodes[b].kids;
        kids.insert(kids.begin(), a);
        return b;
    }
    return new_list(type, a, b);
}

WRAP(op_list_concat, OP*, _Z14op_list_concatP7PERLGCBiP2OPS2_, (PERLGCB * gcb, int32_t type, OP* a, OP* b), (gcb, type, a, b))
{
    if (!a)
        return b;
    if (!b)
        return a;
    if (!is_list_of(a, type))
        return __wrap__Z15op_list_prependP7PERLGCBiP2OPS2_(gcb, type, a, b);
    if (!is_list_of(b, type))
        return __wrap__Z14op_list_appendP7PERLGCBiP2OPS2_(gcb, type, a, b);
    auto& kids = rec->nodes[a].kids;
    for (OP* k : rec->nodes[b].kids)
        kids.push_back(k);
    return a;
}

WRAP(op_convert_list, OP*, _Z15op_convert_listP7PERLGCBiiP2OP, (PERLGCB * gcb, int32_t type, int32_t f, OP* op), (gcb, type, f, op))
{
    (void)gcb;
    std::vector<OP*> kids;
    if (is_list_of(op, OP_LIST))
        kids = rec->nodes[op].kids;
    else if (op)
        kids.push_back(op);
    return node(name(type) + flags(f), kids);
}

WRAP(op_mark_parens, OP*, _Z14op_mark_parensP7PERLGCBP2OP, (PERLGCB * gcb, OP* op), (gcb, op))
{
    (void)gcb;
    op->op_flags |= OPf_PARENS;
    return op;
}

// An op tree the parser gives up: its shape is recorded, the stand-in stays.
WRAP(op_free_tree, void, _Z12op_free_treeP7PERLGCBP2OP, (PERLGCB * gcb, OP* op), (gcb, op))
{
    (void)gcb;
    rec->freed.push_back(S(op));
}

// ---- context: the op itself comes back, the call is logged ---------------------

WRAP(op_scalar_context, OP*, _Z17op_scalar_contextP7PERLGCBP2OP, (PERLGCB * gcb, OP* op), (gcb, op))
{
    (void)gcb;
    return op;
}

WRAP(op_list_context, OP*, _Z15op_list_contextP7PERLGCBP2OP, (PERLGCB * gcb, OP* op), (gcb, op))
{
    (void)gcb;
    return op;
}

WRAP(op_ref_context_one, OP*, _Z18op_ref_context_oneP7PERLGCBP2OPi, (PERLGCB * gcb, OP* op, int32_t type), (gcb, op, type))
{
    (void)gcb;
    log("op_ref_context_one(" + S(op) + ", " + name(type) + ")");
    return op;
}

WRAP(op_lvalue_context, OP*, _Z17op_lvalue_contextP7PERLGCBP2OPi, (PERLGCB * gcb, OP* op, int32_t type), (gcb, op, type))
{
    (void)gcb;
    log("op_lvalue_context(" + S(op) + ", " + name(type) + ")");
    return op;
}

WRAP(oopsAV, OP*, _Z6oopsAVP7PERLGCBP2OP, (PERLGCB * gcb, OP* op), (gcb, op))
{
    (void)gcb;
    return node("oopsAV", {op});
}

WRAP(oopsHV, OP*, _Z6oopsHVP7PERLGCBP2OP, (PERLGCB * gcb, OP* op), (gcb, op))
{
    (void)gcb;
    return node("oopsHV", {op});
}

WRAP(op_join_subscript, OP*, _Z17op_join_subscriptP7PERLGCBP2OP, (PERLGCB * gcb, OP* op), (gcb, op))
{
    (void)gcb;
    return op;
}

// ---- the other builders ------------------------------------------------------------

WRAP(op_new_assign, OP*, _Z13op_new_assignP7PERLGCBiP2OPiS2_, (PERLGCB * gcb, int32_t f, OP* l, int32_t type, OP* r),
     (gcb, f, l, type, r))
{
    (void)gcb;
    return node((type ? name(type) + "=" : std::string("assign")) + flags(f), {l, r});
}

WRAP(op_new_logical, OP*, _Z14op_new_logicalP7PERLGCBiiP2OPS2_, (PERLGCB * gcb, int32_t type, int32_t f, OP* a, OP* b),
     (gcb, type, f, a, b))
{
    (void)gcb;
    return node(name(type) + flags(f), {a, b});
}

WRAP(op_new_conditional, OP*, _Z18op_new_conditionalP7PERLGCBiP2OPS2_S2_, (PERLGCB * gcb, int32_t f, OP* c, OP* t, OP* e),
     (gcb, f, c, t, e))
{
    (void)gcb;
    (void)f;
    return node("cond", {c, t, e});
}

WRAP(op_new_range, OP*, _Z12op_new_rangeP7PERLGCBiP2OPS2_, (PERLGCB * gcb, int32_t f, OP* a, OP* b), (gcb, f, a, b))
{
    (void)gcb;
    (void)f;
    return node("range", {a, b});
}

WRAP(op_new_binding, OP*, _Z14op_new_bindingP7PERLGCBiP2OPS2_, (PERLGCB * gcb, int32_t type, OP* a, OP* b), (gcb, type, a, b))
{
    (void)gcb;
    return node("bind:" + name(type), {a, b});
}

WRAP(op_new_not, OP*, _Z10op_new_notP7PERLGCBP2OP, (PERLGCB * gcb, OP* op), (gcb, op))
{
    (void)gcb;
    return node("inverted", {op});
}

WRAP(op_new_loop, OP*, _Z11op_new_loopP7PERLGCBiiP2OPS2_, (PERLGCB * gcb, int32_t f, int32_t d, OP* c, OP* b), (gcb, f, d, c, b))
{
    (void)gcb;
    (void)d;
    return node("loop" + flags(f), {c, b});
}

WRAP(op_new_while, OP*, _Z12op_new_whileP7PERLGCBiiP7op_loopiP2OPS4_S4_,
     (PERLGCB * gcb, int32_t f, int32_t d, op_loop* l, int32_t line, OP* c, OP* b, OP* cont),
     (gcb, f, d, l, line, c, b, cont))
{
    (void)gcb;
    (void)f;
    (void)d;
    (void)l;
    return node("while@" + std::to_string(line), {c, b, cont});
}

WRAP(op_new_foreach, OP*, _Z14op_new_foreachP7PERLGCBiPciP2OPS3_S3_S3_,
     (PERLGCB * gcb, int32_t f, char* label, int32_t line, OP* var, OP* list, OP* body, OP* cont),
     (gcb, f, label, line, var, list, body, cont))
{
    (void)gcb;
    (void)f;
    return node(std::string("foreach") + (label ? ":" + std::string(label) : "") + "@" + std::to_string(line),
                {var, list, body, cont});
}

WRAP(op_new_loop_exit, OP*, _Z16op_new_loop_exitP7PERLGCBiP2OP, (PERLGCB * gcb, int32_t type, OP* op), (gcb, type, op))
{
    (void)gcb;
    return node(name(type), {op});
}

WRAP(op_new_slice, OP*, _Z12op_new_sliceP7PERLGCBiP2OPS2_, (PERLGCB * gcb, int32_t f, OP* a, OP* b), (gcb, f, a, b))
{
    (void)gcb;
    (void)f;
    return node("slice", {a, b});
}

WRAP(op_new_dofile, OP*, _Z13op_new_dofileP7PERLGCBP2OP, (PERLGCB * gcb, OP* op), (gcb, op))
{
    (void)gcb;
    return node("dofile", {op});
}

WRAP(op_new_scalar_deref, OP*, _Z19op_new_scalar_derefP7PERLGCBP2OP, (PERLGCB * gcb, OP* op), (gcb, op))
{
    (void)gcb;
    return rec->leaf("$" + S(op));
}

WRAP(op_new_array_deref, OP*, _Z18op_new_array_derefP7PERLGCBP2OP, (PERLGCB * gcb, OP* op), (gcb, op))
{
    (void)gcb;
    return rec->leaf("@" + S(op));
}

WRAP(op_new_hash_deref, OP*, _Z17op_new_hash_derefP7PERLGCBP2OP, (PERLGCB * gcb, OP* op), (gcb, op))
{
    (void)gcb;
    return rec->leaf("%" + S(op));
}

WRAP(op_new_glob_deref, OP*, _Z17op_new_glob_derefP7PERLGCBiP2OP, (PERLGCB * gcb, int32_t type, OP* op), (gcb, type, op))
{
    (void)gcb;
    return type ? node("handle", {op}) : rec->leaf("*" + S(op));
}

WRAP(op_new_code_deref, OP*, _Z17op_new_code_derefP7PERLGCBiP2OP, (PERLGCB * gcb, int32_t f, OP* op), (gcb, f, op))
{
    (void)gcb;
    return rec->leaf("&" + flags(f) + S(op));
}

WRAP(op_apply_local, OP*, _Z14op_apply_localP7PERLGCBP2OPi, (PERLGCB * gcb, OP* op, int32_t lexical), (gcb, op, lexical))
{
    (void)gcb;
    return node(lexical ? "my" : "local", {op});
}

WRAP(op_declare_my, OP*, _Z13op_declare_myP7PERLGCBP2OP, (PERLGCB * gcb, OP* op), (gcb, op))
{
    (void)gcb;
    return node("my", {op});
}

WRAP(op_declare_my_with_attrs, OP*, _Z24op_declare_my_with_attrsP7PERLGCBP2OPS2_, (PERLGCB * gcb, OP* op, OP* attrs), (gcb, op, attrs))
{
    (void)gcb;
    return node("my", {op, attrs});
}

WRAP(op_new_anon_list, OP*, _Z16op_new_anon_listP7PERLGCBP2OP, (PERLGCB * gcb, OP* op), (gcb, op))
{
    (void)gcb;
    return node("anonlist", {op});
}

WRAP(op_new_anon_hash, OP*, _Z16op_new_anon_hashP7PERLGCBP2OP, (PERLGCB * gcb, OP* op), (gcb, op))
{
    (void)gcb;
    return node("anonhash", {op});
}

WRAP(op_new_anon_sub, OP*, _Z15op_new_anon_subP7PERLGCBiP2OPS2_S2_, (PERLGCB * gcb, int32_t floor, OP* proto, OP* attrs, OP* block),
     (gcb, floor, proto, attrs, block))
{
    (void)gcb;
    log("op_new_anon_sub(" + std::to_string(floor) + ")");
    return node("anonsub", {proto, attrs, block});
}

WRAP(op_pattern_runtime, OP*, _Z18op_pattern_runtimeP7PERLGCBP2OPS2_S2_, (PERLGCB * gcb, OP* pm, OP* expr, OP* repl),
     (gcb, pm, expr, repl))
{
    (void)gcb;
    log("op_pattern_runtime(" + S(pm) + ", " + S(expr) + ", " + S(repl) + ")");
    return repl ? node(S(pm), {expr, repl}) : node(S(pm), {expr});
}

// ---- declarations ----------------------------------------------------------------

WRAP(sub_define, CV*, _Z10sub_defineP7PERLGCBiP2OPS2_S2_S2_, (PERLGCB * gcb, int32_t floor, OP* n, OP* p, OP* a, OP* b),
     (gcb, floor, n, p, a, b))
{
    (void)gcb;
    log("sub_define(" + std::to_string(floor) + ", " + S(n) + ", " + S(p) + ", " + S(a) + ", " + S(b) + ")");
    return nullptr;
}

WRAP(format_define, void, _Z13format_defineP7PERLGCBiP2OPS2_, (PERLGCB * gcb, int32_t floor, OP* n, OP* b), (gcb, floor, n, b))
{
    (void)gcb;
    log("format_define(" + std::to_string(floor) + ", " + S(n) + ", " + S(b) + ")");
}

WRAP(op_set_package, void, _Z14op_set_packageP7PERLGCBP2OP, (PERLGCB * gcb, OP* op), (gcb, op))
{
    (void)gcb;
    log("op_set_package(" + S(op) + ")");
}

WRAP(op_use_module, void, _Z13op_use_moduleP7PERLGCBiiP2OPS2_S2_,
     (PERLGCB * gcb, int32_t use, int32_t floor, OP* version, OP* n, OP* args), (gcb, use, floor, version, n, args))
{
    (void)gcb;
    log("op_use_module(" + std::to_string(use) + ", " + std::to_string(floor) + ", " + S(version) + ", " + S(n) +
        ", " + S(args) + ")");
}
