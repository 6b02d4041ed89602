// The grammar parser: an LALR(1) driver over the generated tables of
// prxgramtab.inc, with its error recovery, and the actions of the 193 rules.
#include <cstdint>
#include <cstring>

#include "prxlex.h"
#include "prxop.h"
#include "prxpad.h"
#include "prxpool.h"
#include "prxscope.h"
#include "prxsv.h"

namespace {

#include "prxgramtab.inc"

static_assert(GRAM_STATES == 391 && GRAM_RULES == 194 && GRAM_NONTERMINALS == 56);
static_assert(GRAM_MAX_TOKEN == DEREF_ARROW && GRAM_FINAL_STATE == 1);
static_assert(sizeof gram_table == sizeof gram_check && sizeof gram_table / sizeof gram_table[0] == GRAM_TABLE_HIGH + 1);

constexpr int32_t STACK_STEP = 300;    // initial size of both stacks, in entries
constexpr int32_t START_SYMBOL = 0;
constexpr int32_t NO_LINE = 65535;

}  // namespace

// A value the error recovery dropped (a discarded token, or a popped stack
// entry), kept until the parse ends: the lexer may still be filling in the
// op (the pattern or transliteration op of a construct it is sub-lexing).
struct grammar_dropped_value {
    grammar_dropped_value* next;
    token_val value;
    uint8_t kind;               // value_kind
};

// One parse: its stacks and the parser fields of the enclosing parse. The
// save stack owns it from the start of the parse; grammar_stack_free ends it.
struct grammar_parse_record {
    int16_t* states;            // state stack; kept current across growth so unwinding frees it
    token_val* values;          // value stack, parallel to states
    grammar_dropped_value* dropped;  // values the error recovery dropped, freed when the parse ends
    int32_t owned_top;          // entries 1 to this hold values no action has taken yet
    int32_t running;            // the parse has not returned: a jump that finds it set left it
    int32_t saved_debug;        // the six parser fields of the enclosing parse
    int32_t saved_error_count;
    int32_t saved_error_flag;
    int32_t saved_lookahead;
    token_val saved_rule_value;
    token_val saved_token_value;
};
static_assert(std::is_standard_layout_v<grammar_parse_record> && std::is_trivially_copyable_v<grammar_parse_record>);

namespace {

// ---- tables -------------------------------------------------------------------

// The packed-table entry of the row at base for symbol (a token code, or a
// state for goto rows), when the row has one. Rows never share a base, so an
// entry whose check value equals the symbol belongs to this row.
constexpr bool packed_entry(int32_t base, int32_t symbol, int32_t* out)
{
    if (base == 0)
        return false;
    int32_t n = base + symbol;
    if (n < 0 || n > GRAM_TABLE_HIGH || gram_check[n] != symbol)
        return false;
    *out = gram_table[n];
    return true;
}

// Token rows only know codes up to the highest named token; any other code
// has no entry anywhere, which makes it a syntax error.
bool token_entry(const int16_t* bases, int32_t state, int32_t token, int32_t* out)
{
    return token <= GRAM_MAX_TOKEN && packed_entry(bases[state], token, out);
}

// ---- what the value stack holds ---------------------------------------------------

// What the value of a grammar symbol is: an op the stack owns, a pool text it
// owns (a statement label), or nothing owned (an integer, or a stale word).
enum value_kind : uint8_t { VALUE_NONE, VALUE_OP, VALUE_TEXT };

// Token codes above 256 by the value column of prxtoken.def; characters,
// the end and the error token carry nothing owned.
constexpr value_kind VALUE_KIND_op = VALUE_OP, VALUE_KIND_text = VALUE_TEXT, VALUE_KIND_ival = VALUE_NONE,
                     VALUE_KIND_none = VALUE_NONE;

constexpr value_kind token_kind(int32_t token)
{
    switch (token) {
#define PRX_TOKEN(name, code, value) \
    case code:                       \
        return VALUE_KIND_##value;
#include "prxtoken.def"
#undef PRX_TOKEN
    default:
        return VALUE_NONE;
    }
}

// Nonterminals in the order of the %type lines of prxgram.y (the generator
// numbers them so). Must stay in step with those lines and with the rule
// actions: the starts hold an integer floor in the op's place, the
// declarations keep a stale $1 or null, the label holds its text.
constexpr value_kind nonterminal_kinds[] = {
    VALUE_NONE, VALUE_NONE, VALUE_NONE, VALUE_NONE, VALUE_NONE, VALUE_NONE,  // program .. format_start
    VALUE_NONE, VALUE_NONE,                                                  // block_start loop_block_start
    VALUE_OP, VALUE_OP, VALUE_OP, VALUE_OP, VALUE_OP, VALUE_OP, VALUE_OP,   // block .. else_part
    VALUE_OP, VALUE_OP, VALUE_OP, VALUE_OP, VALUE_OP, VALUE_OP, VALUE_OP, VALUE_OP,  // expr .. glob_var
    VALUE_OP, VALUE_OP, VALUE_OP, VALUE_OP, VALUE_OP, VALUE_OP,             // routine_ref .. inverted_expr
    VALUE_OP, VALUE_OP, VALUE_OP, VALUE_OP,                                 // scoped_*
    VALUE_OP, VALUE_OP, VALUE_OP, VALUE_OP, VALUE_OP,                       // opt_list_expr .. method_ref
    VALUE_OP, VALUE_OP, VALUE_OP, VALUE_OP, VALUE_OP, VALUE_OP,             // format_name .. my_scalar
    VALUE_OP, VALUE_OP, VALUE_NONE, VALUE_OP, VALUE_OP, VALUE_TEXT,         // attribute_list .. label
    VALUE_NONE, VALUE_NONE, VALUE_NONE, VALUE_NONE, VALUE_NONE, VALUE_NONE,  // program_start .. block_arg_sub
};
static_assert(sizeof nonterminal_kinds == GRAM_NONTERMINALS);
// Spot checks of the numbering against the rules' left sides.
static_assert(gram_lhs[2] == 0 && gram_lhs[4] == 6 && gram_lhs[6] == 7 && gram_lhs[3] == 8 && gram_lhs[56] == 3 &&
              gram_lhs[57] == 4 && gram_lhs[58] == 5 && gram_lhs[44] == 49 && gram_lhs[54] == 46 &&
              gram_lhs[55] == 51 && gram_lhs[69] == 52 && gram_lhs[72] == 53 && gram_lhs[87] == 55 &&
              gram_lhs[175] == 48 && gram_lhs[171] == 47);

// The kind of the value pushed with each state: that of the symbol by which
// the state is entered (every state but the first has exactly one). The
// error token's entry shares the lookahead's value, so it owns nothing.
struct state_kinds {
    value_kind kind[GRAM_STATES];
    bool consistent;
};

constexpr state_kinds compute_state_kinds()
{
    // Rows never share a base: the owner of a packed entry is the row whose
    // base is the entry's index less its check value. Owners are states
    // (shift rows) or 1000 + a nonterminal (goto rows); reduce rows stay
    // unowned, and so their entries are not read.
    constexpr int32_t LOW = -(GRAM_MAX_TOKEN + GRAM_STATES);
    constexpr int32_t SPAN = GRAM_TABLE_HIGH + 1 - LOW;
    int32_t owner[SPAN] = {};
    for (int32_t& x : owner)
        x = -1;
    for (int32_t st = 0; st < GRAM_STATES; st++)
        if (gram_sindex[st] != 0 && gram_sindex[st] - LOW < SPAN && gram_sindex[st] >= LOW)
            owner[gram_sindex[st] - LOW] = st;
    for (int32_t a = 0; a < GRAM_NONTERMINALS; a++)
        if (gram_gindex[a] != 0 && gram_gindex[a] - LOW < SPAN && gram_gindex[a] >= LOW)
            owner[gram_gindex[a] - LOW] = 1000 + a;

    int32_t symbol[GRAM_STATES] = {};
    for (int32_t& x : symbol)
        x = -1;
    bool ok = true;
    auto enter = [&](int32_t state, int32_t sym) {
        if (state <= 0 || state >= GRAM_STATES)
            return;
        if (symbol[state] >= 0 && symbol[state] != sym)
            ok = false;
        symbol[state] = sym;
    };
    for (int32_t n = 0; n <= GRAM_TABLE_HIGH; n++) {
        int32_t base = n - gram_check[n];
        if (base < LOW || base - LOW >= SPAN)
            continue;
        int32_t row = owner[base - LOW];
        if (row < 0)
            continue;
        if (row < 1000) {
            if (gram_check[n] <= GRAM_MAX_TOKEN)
                enter(gram_table[n], gram_check[n]);
        } else {
            enter(gram_table[n], row);
        }
    }
    for (int32_t a = 0; a < GRAM_NONTERMINALS; a++)
        enter(gram_dgoto[a], 1000 + a);
    state_kinds k{};
    for (int32_t st = 0; st < GRAM_STATES; st++) {
        int32_t sym = symbol[st];
        if (st > 0 && sym < 0)
            ok = false;  // every state but the first is entered by some symbol
        k.kind[st] = sym >= 1000 ? nonterminal_kinds[sym - 1000] : sym > 256 ? token_kind(sym) : VALUE_NONE;
    }
    k.consistent = ok;
    return k;
}

constexpr state_kinds STATE_KINDS = compute_state_kinds();
static_assert(STATE_KINDS.consistent);
static_assert(STATE_KINDS.kind[GRAM_FINAL_STATE] == VALUE_NONE);

// Frees a value the parse owns and is dropping. Pad slots are not given
// back: a parse that drops values is abandoned, and its pads go with it.
void discard_value(PERLGCB* gcb, value_kind kind, token_val v)
{
    if (kind == VALUE_OP && v.op) {
        SV** pad = gcb->curpad;
        gcb->curpad = nullptr;
        op_free_tree(gcb, v.op);
        gcb->curpad = pad;
    } else if (kind == VALUE_TEXT && v.pval) {
        pool_free(gcb, v.pval);
    }
}

// Keeps a value the error recovery drops until the parse ends (see
// grammar_dropped_value).
void defer_value(PERLGCB* gcb, grammar_parse_record* rec, value_kind kind, token_val v)
{
    if (kind == VALUE_NONE || (kind == VALUE_OP && !v.op) || (kind == VALUE_TEXT && !v.pval))
        return;
    auto* d = static_cast<grammar_dropped_value*>(pool_malloc(gcb, sizeof(grammar_dropped_value)));
    d->next = rec->dropped;
    d->value = v;
    d->kind = kind;
    rec->dropped = d;
}

// The parse has ended, normally or by giving up: the lexer is done with its
// text, and the dropped values can go.
void free_dropped(PERLGCB* gcb, grammar_parse_record* rec)
{
    // The list is newest first: free in the order the values were dropped.
    grammar_dropped_value* oldest = nullptr;
    while (grammar_dropped_value* d = rec->dropped) {
        rec->dropped = d->next;
        d->next = oldest;
        oldest = d;
    }
    rec->dropped = oldest;
    while (grammar_dropped_value* d = rec->dropped) {
        rec->dropped = d->next;
        discard_value(gcb, static_cast<value_kind>(d->kind), d->value);
        pool_free(gcb, d);
    }
}

// Frees the values of the tokens the lexer queued for the parse and the
// parse never read (a name and a prototype after "sub", the pieces of an
// interpolated string): the parse is over, and the queue with it.
void discard_queued(PERLGCB* gcb)
{
    while (gcb->queued_count > 0) {
        int32_t n = --gcb->queued_count;
        discard_value(gcb, token_kind(gcb->queued_types[n]), gcb->queued_values[n]);
    }
}

// ---- stacks ---------------------------------------------------------------------

struct Stacks {
    grammar_parse_record* rec;
    int32_t top;        // index of the top entry
    int32_t capacity;   // entries allocated in each stack
};

// Allocates both stacks with STACK_STEP entries or doubles them, so that a
// parse as deep as its text takes linear time. A failed allocation is
// reported and leaves the blocks the record holds intact.
bool grow(PERLGCB* gcb, Stacks& s)
{
    if (s.capacity > INT32_MAX / 2) {
        compile_error(gcb, "Out of memory for yacc stack");
        return false;
    }
    int32_t n = s.capacity ? s.capacity * 2 : STACK_STEP;
    int32_t was = gcb->no_memory_ok;
    gcb->no_memory_ok = 1;
    auto* states = static_cast<int16_t*>(pool_realloc(gcb, s.rec->states, uint64_t(n) * sizeof(int16_t)));
    if (states)
        s.rec->states = states;
    auto* values = states ? static_cast<token_val*>(pool_realloc(gcb, s.rec->values, uint64_t(n) * sizeof(token_val)))
                          : nullptr;
    if (values)
        s.rec->values = values;
    gcb->no_memory_ok = was;
    if (!values) {
        compile_error(gcb, "Out of memory for yacc stack");
        return false;
    }
    s.capacity = n;
    return true;
}

bool push(PERLGCB* gcb, Stacks& s, int32_t state, token_val value)
{
    if (s.top + 1 >= s.capacity && !grow(gcb, s))
        return false;
    s.top++;
    s.rec->states[s.top] = static_cast<int16_t>(state);
    s.rec->values[s.top] = value;
    s.rec->owned_top = s.top;
    return true;
}

// Gives the parse up: frees what the stack, an unshifted lookahead and the
// lexer's queue own, which no action has taken, and returns the parse's failure result.
int32_t abandon(PERLGCB* gcb, Stacks& s)
{
    free_dropped(gcb, s.rec);
    for (; s.top > 0; s.top--)
        discard_value(gcb, STATE_KINDS.kind[s.rec->states[s.top]], s.rec->values[s.top]);
    if (gcb->parse_lookahead > 0)
        discard_value(gcb, token_kind(gcb->parse_lookahead), gcb->token_value);
    gcb->parse_lookahead = -1;
    discard_queued(gcb);
    s.rec->owned_top = 0;
    s.rec->running = 0;
    return 1;
}

// Frees what a parse left by a jump still owns: the stack entries below the
// running action's operands (or the whole stack, when the lexer jumped), a
// lookahead the action ran with, the tokens the lexer queued, and the values the error recovery dropped
// (the lexer that was filling one in is done with it now).
void discard_owned(PERLGCB* gcb, grammar_parse_record* rec)
{
    if (!rec->running)
        return;
    rec->running = 0;
    free_dropped(gcb, rec);
    for (; rec->owned_top > 0; rec->owned_top--)
        discard_value(gcb, STATE_KINDS.kind[rec->states[rec->owned_top]], rec->values[rec->owned_top]);
    if (gcb->parse_lookahead > 0)
        discard_value(gcb, token_kind(gcb->parse_lookahead), gcb->token_value);
    gcb->parse_lookahead = -1;
    discard_queued(gcb);
}

}  // namespace

void grammar_stack_free(PERLGCB* gcb, void* record)
{
    auto* rec = static_cast<grammar_parse_record*>(record);
    // Left by a jump (a fatal error in the lexer or in an action): what no
    // action took goes now. The action's own operands stay: they may already
    // belong to what it built (a BEGIN block that died belongs to its sub).
    discard_owned(gcb, rec);
    pool_free(gcb, rec->states);
    pool_free(gcb, rec->values);
    gcb->parse_debug = rec->saved_debug;
    gcb->parse_error_count = rec->saved_error_count;
    gcb->parse_error_flag = rec->saved_error_flag;
    gcb->parse_lookahead = rec->saved_lookahead;
    gcb->parse_rule_value = rec->saved_rule_value;
    gcb->token_value = rec->saved_token_value;
    pool_free(gcb, rec);
}

namespace {

// ---- rule actions -----------------------------------------------------------------

// The word of a bare-word constant op.
bool word_is(PERLGCB* gcb, OP* op, const char* word)
{
    if (!op || op->op_type != OP_CONST)
        return false;
    uint64_t len = 0;
    const char* text = sv_text(gcb, reinterpret_cast<op_value*>(op)->op_sv, &len);
    return len == std::strlen(word) && std::memcmp(text, word, len) == 0;
}

// BEGIN, END, INIT, CHECK and the implicit block of a use run once, at a
// time of their own.
void mark_compiling_sub_special(PERLGCB* gcb)
{
    if (gcb->compile_cv)
        cv_body(gcb->compile_cv)->cvflags |= CVf_UNIQUE;
}

void lower_statement_line(PERLGCB* gcb, int32_t line)
{
    if (gcb->statement_line > line)
        gcb->statement_line = line;
}

// A sub called by its block-taking do form: "do NAME(...)" and "do $code(...)".
OP* do_sub_call(PERLGCB* gcb, OP* code, int32_t deref_flags, OP* args, bool append)
{
    OP* cv = op_scalar_context(gcb, op_new_code_deref(gcb, deref_flags, op_scalar_context(gcb, code)));
    OP* list = append ? op_list_append(gcb, OP_LIST, args, cv) : op_list_prepend(gcb, OP_LIST, args, cv);
    OP* call = op_new_unary(gcb, OP_ENTERSUB, OPf_SPECIAL | OPf_STACKED, list);
    warn_deprecated(gcb, "\"do\" to call subroutines");
    return call;
}

// A binary operator whose operands are both put in scalar context first.
OP* scalar_binary(PERLGCB* gcb, int32_t type, OP* left, OP* right)
{
    left = op_scalar_context(gcb, left);
    right = op_scalar_context(gcb, right);
    return op_new_binary(gcb, type, 0, left, right);
}

// An element of an array reference: $ref->[i], $x[i][j].
OP* ref_array_element(PERLGCB* gcb, OP* ref, OP* index)
{
    OP* av = op_ref_context_one(gcb, op_new_array_deref(gcb, ref), OP_RV2AV);
    return op_new_binary(gcb, OP_AELEM, 0, av, op_scalar_context(gcb, index));
}

OP* ref_hash_element(PERLGCB* gcb, OP* ref, OP* key)
{
    OP* hv = op_ref_context_one(gcb, op_new_hash_deref(gcb, ref), OP_RV2HV);
    gcb->expect = XOPERATOR;
    return op_new_binary(gcb, OP_HELEM, 0, hv, op_join_subscript(gcb, key));
}

// A call through a code reference: $code->(...), $x{f}(...).
OP* ref_call(PERLGCB* gcb, OP* ref, OP* args)
{
    OP* cv = op_new_code_deref(gcb, 0, op_scalar_context(gcb, ref));
    return op_new_unary(gcb, OP_ENTERSUB, OPf_STACKED, args ? op_list_append(gcb, OP_LIST, args, cv) : cv);
}

// A method call: the invocant and the arguments, then the method.
OP* method_call(PERLGCB* gcb, OP* invocant, OP* args, OP* method)
{
    OP* list = op_list_prepend(gcb, OP_LIST, invocant, args);
    return op_convert_list(gcb, OP_ENTERSUB, OPf_STACKED,
                           op_list_append(gcb, OP_LIST, list, op_new_unary(gcb, OP_METHOD, 0, method)));
}

// A list operator with a handle or block in the indirect-object slot.
OP* list_call_with_object(PERLGCB* gcb, int32_t type, OP* object, OP* args)
{
    OP* handle = op_new_glob_deref(gcb, type, object);
    return op_convert_list(gcb, type, OPf_STACKED, op_list_prepend(gcb, OP_LIST, handle, args));
}

// ++ and -- on either side.
OP* increment(PERLGCB* gcb, int32_t type, OP* target)
{
    return op_new_unary(gcb, type, 0, op_lvalue_context(gcb, op_scalar_context(gcb, target), type));
}

// The action of rule r (a GramRule). v[k] is the value of the k-th right-hand symbol; the
// result goes to parse_rule_value, which holds $1 (or nothing) on entry.
void rule_action(PERLGCB* gcb, int32_t r, token_val* v)
{
    token_val& out = gcb->parse_rule_value;
    switch (r) {
    case RULE_program_start__empty:
        gcb->expect = XSTATE;
        break;
    case RULE_program__program_start_line_sequence:
        op_new_program(gcb, v[2].op);
        break;
    case RULE_block__LBRACE_block_start_line_sequence_RBRACE:
    case RULE_loop_block__LBRACE_loop_block_start_line_sequence_RBRACE:
        lower_statement_line(gcb, v[1].ival);
        out.op = op_close_block(gcb, v[2].ival, v[3].op);
        break;
    case RULE_block_start__empty:
        out.op = nullptr;
        out.ival = op_open_block(gcb, 1);
        break;
    case RULE_loop_block_start__empty:
        out.op = nullptr;
        out.ival = op_open_block(gcb, 0);
        break;
    case RULE_line_sequence__empty:
        out.op = nullptr;
        break;
    case RULE_line_sequence__line_sequence_declaration:
        out.op = v[1].op;
        break;
    case RULE_line_sequence__line_sequence_line:
        out.op = op_list_concat(gcb, OP_LINESEQ, v[1].op, v[2].op);
        gcb->pad_reset_pending = 1;
        if (v[1].op && v[2].op)
            gcb->compile_hints |= HINT_BLOCK_SCOPE;
        break;
    case RULE_line__label_conditional:
        out.op = op_new_statement(gcb, 0, v[1].pval, v[2].op);
        break;
    case RULE_line__label_SEMI:
        out.op = v[1].pval ? op_new_statement(gcb, 0, v[1].pval, op_new_base(gcb, OP_NULL, 0)) : nullptr;
        gcb->expect = XSTATE;
        break;
    case RULE_line__label_side_effect_SEMI:
        out.op = op_new_statement(gcb, 0, v[1].pval, v[2].op);
        gcb->expect = XSTATE;
        break;
    case RULE_side_effect__error:
        out.op = nullptr;
        break;
    case RULE_side_effect__expr_KW_IF_expr:
        out.op = op_new_logical(gcb, OP_AND, 0, v[3].op, v[1].op);
        break;
    case RULE_side_effect__expr_KW_UNLESS_expr:
        out.op = op_new_logical(gcb, OP_OR, 0, v[3].op, v[1].op);
        break;
    case RULE_side_effect__expr_KW_WHILE_expr:
        out.op = op_new_loop(gcb, OPf_PARENS, 1, op_scalar_context(gcb, v[3].op), v[1].op);
        break;
    case RULE_side_effect__expr_KW_UNTIL_inverted_expr:
        out.op = op_new_loop(gcb, OPf_PARENS, 1, v[3].op, v[1].op);
        break;
    case RULE_side_effect__expr_KW_FOR_expr:
        out.op = op_new_foreach(gcb, 0, nullptr, v[2].ival, nullptr, v[3].op, v[1].op, nullptr);
        break;
    case RULE_else_part__empty:
        out.op = nullptr;
        break;
    case RULE_else_part__KW_ELSE_loop_block:
        if (v[2].op)
            v[2].op->op_flags |= OPf_PARENS;
        out.op = op_new_scope(gcb, v[2].op);
        break;
    case RULE_else_part__KW_ELSIF_LPAREN_scoped_expr_RPAREN_loop_block_else_part: {
        gcb->statement_line = v[1].ival;
        OP* then = op_new_scope(gcb, v[5].op);
        out.op = op_new_conditional(gcb, 0, v[3].op, then, v[6].op);
        gcb->compile_hints |= HINT_BLOCK_SCOPE;
        break;
    }
    case RULE_conditional__KW_IF_LPAREN_block_start_scoped_expr_RPAREN_loop_block_else_part:
    case RULE_conditional__KW_UNLESS_LPAREN_block_start_scoped_inverted_expr_RPAREN_loop_block_else_part: {
        gcb->statement_line = v[1].ival;
        OP* then = op_new_scope(gcb, v[6].op);
        out.op = op_close_block(gcb, v[3].ival, op_new_conditional(gcb, 0, v[4].op, then, v[7].op));
        break;
    }
    case RULE_continue_part__empty:
        out.op = nullptr;
        break;
    case RULE_continue_part__KW_CONTINUE_block:
        out.op = op_new_scope(gcb, v[2].op);
        break;
    case RULE_loop_statement__label_KW_WHILE_LPAREN_block_start_scoped_opt_expr_true_RPAREN_loop_block_continue_part:
    case RULE_loop_statement__label_KW_UNTIL_LPAREN_block_start_scoped_inverted_expr_RPAREN_loop_block_continue_part: {
        gcb->statement_line = v[2].ival;
        OP* loop = op_new_while(gcb, 0, 1, nullptr, v[2].ival, v[5].op, v[7].op, v[8].op);
        out.op = op_close_block(gcb, v[4].ival, op_new_statement(gcb, 0, v[1].pval, loop));
        break;
    }
    case RULE_loop_statement__label_KW_FOR_KW_MY_block_start_my_scalar_LPAREN_scoped_expr_RPAREN_loop_block_continue_part: {
        OP* loop = op_new_foreach(gcb, 0, v[1].pval, v[2].ival, v[5].op, v[7].op, v[9].op, v[10].op);
        out.op = op_close_block(gcb, v[4].ival, loop);
        break;
    }
    case RULE_loop_statement__label_KW_FOR_scalar_var_LPAREN_block_start_scoped_expr_RPAREN_loop_block_continue_part: {
        OP* var = op_lvalue_context(gcb, v[3].op, OP_ENTERLOOP);
        OP* loop = op_new_foreach(gcb, 0, v[1].pval, v[2].ival, var, v[6].op, v[8].op, v[9].op);
        out.op = op_close_block(gcb, v[5].ival, loop);
        break;
    }
    case RULE_loop_statement__label_KW_FOR_LPAREN_block_start_scoped_expr_RPAREN_loop_block_continue_part: {
        OP* loop = op_new_foreach(gcb, 0, v[1].pval, v[2].ival, nullptr, v[5].op, v[7].op, v[8].op);
        out.op = op_close_block(gcb, v[4].ival, loop);
        break;
    }
    case RULE_loop_statement__label_KW_FOR_LPAREN_block_start_scoped_opt_side_effect_SEMI_scoped_opt_expr_true_SEMI_scoped_opt_side_effect_RPAREN_loop_block: {
        OP* cond = op_scalar_context(gcb, v[7].op);
        OP* step = op_scalar_context(gcb, v[9].op);
        OP* loop = op_new_while(gcb, 0, 1, nullptr, v[2].ival, cond, v[11].op, step);
        gcb->statement_line = v[2].ival;
        OP* init = op_scalar_context(gcb, v[5].op);
        OP* seq = op_list_append(gcb, OP_LINESEQ, init, loop);
        out.op = op_close_block(gcb, v[4].ival, op_new_statement(gcb, 0, v[1].pval, seq));
        break;
    }
    case RULE_loop_statement__label_block_continue_part: {
        OP* loop = op_new_while(gcb, 0, 1, nullptr, NO_LINE, nullptr, v[2].op, v[3].op);
        out.op = op_new_statement(gcb, 0, v[1].pval, loop);
        break;
    }
    case RULE_opt_side_effect__empty:
        out.op = nullptr;
        break;
    case RULE_opt_expr_true__empty: {  // an empty condition is true
        char one[] = "1";
        OP* op = nullptr;
        scan_num(gcb, one, &op);
        out.op = op;
        break;
    }
    case RULE_inverted_expr__expr:
        out.op = op_new_not(gcb, op_scalar_context(gcb, v[1].op));
        break;
    case RULE_scoped_expr__expr:
    case RULE_scoped_opt_side_effect__opt_side_effect:
    case RULE_scoped_opt_expr_true__opt_expr_true:
    case RULE_scoped_inverted_expr__inverted_expr:
        out.op = v[1].op;
        pad_intro_pending(gcb);
        break;
    case RULE_label__empty:
        out.pval = nullptr;
        break;
    case RULE_declaration__format_decl:
    case RULE_declaration__routine_decl:
    case RULE_declaration__my_routine_decl:
    case RULE_declaration__package_decl:
    case RULE_declaration__use_decl:
        out.op = nullptr;
        out.ival = 0;
        break;
    case RULE_format_decl__KW_FORMAT_format_start_format_name_block:
        format_define(gcb, v[2].ival, v[3].op, v[4].op);
        break;
    case RULE_format_name__empty:
        out.op = nullptr;
        break;
    case RULE_my_routine_decl__KW_MY_SUB_routine_start_routine_name_prototype_attribute_list_routine_body:
        sub_declare_my(gcb, v[2].ival, v[3].op, v[4].op, v[5].op, v[6].op);
        break;
    case RULE_routine_decl__KW_SUB_routine_start_routine_name_prototype_attribute_list_routine_body:
        sub_define(gcb, v[2].ival, v[3].op, v[4].op, v[5].op, v[6].op);
        break;
    case RULE_routine_start__empty:
        out.op = nullptr;
        out.ival = start_sub_compile(gcb, 0, 0);
        break;
    case RULE_anon_sub_start__empty:
        out.op = nullptr;
        out.ival = start_sub_compile(gcb, 0, 4);
        break;
    case RULE_format_start__empty:
        out.op = nullptr;
        out.ival = start_sub_compile(gcb, 1, 0);
        break;
    case RULE_routine_name__BAREWORD:
        if (word_is(gcb, v[1].op, "BEGIN") || word_is(gcb, v[1].op, "END") || word_is(gcb, v[1].op, "INIT") ||
            word_is(gcb, v[1].op, "CHECK"))
            mark_compiling_sub_special(gcb);
        out.op = v[1].op;
        break;
    case RULE_prototype__TERM_OP:
        // Only the lexer's prototype text is one: any other term here (such
        // as "<>" after the name) is not, and must not be read as text.
        if (v[1].op->op_type != OP_CONST) {
            compile_error(gcb, "syntax error");
            op_free_tree(gcb, v[1].op);
            out.op = nullptr;
        }
        break;
    case RULE_prototype__empty:
    case RULE_attribute_list__empty:
    case RULE_attribute_list__ATTR_COLON:
    case RULE_my_attr_list__ATTR_COLON:
        out.op = nullptr;
        break;
    case RULE_attribute_list__ATTR_COLON_TERM_OP:
    case RULE_my_attr_list__ATTR_COLON_TERM_OP:
        out.op = v[2].op;
        break;
    case RULE_routine_body__SEMI:
        out.op = nullptr;
        gcb->expect = XSTATE;
        break;
    case RULE_package_decl__KW_PACKAGE_BAREWORD_SEMI:
        op_set_package(gcb, v[2].op);
        break;
    case RULE_package_decl__KW_PACKAGE_SEMI:
        op_set_package(gcb, nullptr);
        break;
    case RULE_use_start__empty:  // the use's implicit BEGIN block
        mark_compiling_sub_special(gcb);
        break;
    case RULE_use_decl__KW_USE_routine_start_use_start_BAREWORD_BAREWORD_opt_list_expr_SEMI:
        op_use_module(gcb, v[1].ival, v[2].ival, v[4].op, v[5].op, v[6].op);
        break;
    case RULE_expr__expr_LOW_AND_expr:
        out.op = op_new_logical(gcb, OP_AND, 0, v[1].op, v[3].op);
        break;
    case RULE_expr__expr_LOW_OR_expr:
        out.op = op_new_logical(gcb, v[2].ival, 0, v[1].op, v[3].op);
        break;
    case RULE_arg_expr__arg_expr_COMMA:
        out.op = v[1].op;
        break;
    case RULE_arg_expr__arg_expr_COMMA_term:
        out.op = op_list_append(gcb, OP_LIST, v[1].op, v[3].op);
        break;
    case RULE_list_call__LIST_OP_indirect_object_arg_expr:
        out.op = list_call_with_object(gcb, v[1].ival, v[2].op, v[3].op);
        break;
    case RULE_list_call__FUNC_PAREN_LPAREN_indirect_object_expr_RPAREN:
        out.op = list_call_with_object(gcb, v[1].ival, v[3].op, v[4].op);
        break;
    case RULE_list_call__term_DEREF_ARROW_method_ref_LPAREN_opt_list_expr_comma_RPAREN:
        out.op = method_call(gcb, op_scalar_context(gcb, v[1].op), v[5].op, v[3].op);
        break;
    case RULE_list_call__term_DEREF_ARROW_method_ref:
        out.op = method_call(gcb, op_scalar_context(gcb, v[1].op), nullptr, v[3].op);
        break;
    case RULE_list_call__METHOD_NAME_indirect_object_opt_list_expr:
        out.op = method_call(gcb, v[2].op, v[3].op, v[1].op);
        break;
    case RULE_list_call__METHOD_NAME_PAREN_indirect_object_LPAREN_opt_list_expr_comma_RPAREN:
        out.op = method_call(gcb, v[2].op, v[4].op, v[1].op);
        break;
    case RULE_list_call__LIST_OP_opt_list_expr:
        out.op = op_convert_list(gcb, v[1].ival, 0, v[2].op);
        break;
    case RULE_list_call__FUNC_PAREN_LPAREN_opt_list_expr_comma_RPAREN:
        out.op = op_convert_list(gcb, v[1].ival, 0, v[3].op);
        break;
    case RULE_block_arg_sub__empty:
        // Between the block and the arguments of a block call: the block on
        // the stack becomes an anonymous sub.
        v[0].op = op_new_anon_sub(gcb, v[-1].ival, nullptr, nullptr, v[0].op);
        out.op = nullptr;
        break;
    case RULE_list_call__SUB_CALL_BLOCK_anon_sub_start_block_block_arg_sub_opt_list_expr: {
        OP* args = op_list_prepend(gcb, OP_LIST, v[3].op, v[5].op);
        out.op = op_new_unary(gcb, OP_ENTERSUB, OPf_STACKED, op_list_append(gcb, OP_LIST, args, v[1].op));
        break;
    }
    case RULE_subscripted__glob_var_LBRACE_expr_SEMI_RBRACE:
        out.op = op_new_binary(gcb, OP_GELEM, 0, v[1].op, op_scalar_context(gcb, v[3].op));
        break;
    case RULE_subscripted__scalar_var_LBRACKET_expr_RBRACKET: {
        OP* av = oopsAV(gcb, v[1].op);
        out.op = op_new_binary(gcb, OP_AELEM, 0, av, op_scalar_context(gcb, v[3].op));
        break;
    }
    case RULE_subscripted__term_DEREF_ARROW_LBRACKET_expr_RBRACKET:
        out.op = ref_array_element(gcb, v[1].op, v[4].op);
        break;
    case RULE_subscripted__subscripted_LBRACKET_expr_RBRACKET:
        out.op = ref_array_element(gcb, v[1].op, v[3].op);
        break;
    case RULE_subscripted__scalar_var_LBRACE_expr_SEMI_RBRACE: {
        OP* hv = oopsHV(gcb, v[1].op);
        gcb->expect = XOPERATOR;
        out.op = op_new_binary(gcb, OP_HELEM, 0, hv, op_join_subscript(gcb, v[3].op));
        break;
    }
    case RULE_subscripted__term_DEREF_ARROW_LBRACE_expr_SEMI_RBRACE:
        out.op = ref_hash_element(gcb, v[1].op, v[4].op);
        break;
    case RULE_subscripted__subscripted_LBRACE_expr_SEMI_RBRACE:
        out.op = ref_hash_element(gcb, v[1].op, v[3].op);
        break;
    case RULE_subscripted__term_DEREF_ARROW_LPAREN_RPAREN:
    case RULE_subscripted__subscripted_LPAREN_RPAREN:
        out.op = ref_call(gcb, v[1].op, nullptr);
        break;
    case RULE_subscripted__term_DEREF_ARROW_LPAREN_expr_RPAREN:
        out.op = ref_call(gcb, v[1].op, v[4].op);
        break;
    case RULE_subscripted__subscripted_LPAREN_expr_RPAREN:
        out.op = ref_call(gcb, v[1].op, v[3].op);
        break;
    case RULE_term__term_ASSIGN_OP_term:
        out.op = op_new_assign(gcb, OPf_STACKED, v[1].op, v[2].ival, v[3].op);
        break;
    case RULE_term__term_MUL_OP_term:  // the left operand of x keeps its context
        if (v[2].ival == OP_REPEAT) {
            out.op = op_new_binary(gcb, OP_REPEAT, 0, v[1].op, op_scalar_context(gcb, v[3].op));
            break;
        }
        [[fallthrough]];
    case RULE_term__term_POW_OP_term:
    case RULE_term__term_ADD_OP_term:
    case RULE_term__term_SHIFT_OP_term:
    case RULE_term__term_REL_OP_term:
    case RULE_term__term_EQ_OP_term:
    case RULE_term__term_BIT_AND_OP_term:
    case RULE_term__term_BIT_OR_OP_term:
        out.op = scalar_binary(gcb, v[2].ival, v[1].op, v[3].op);
        break;
    case RULE_term__term_RANGE_OP_term: {
        OP* left = op_scalar_context(gcb, v[1].op);
        OP* right = op_scalar_context(gcb, v[3].op);
        out.op = op_new_range(gcb, v[2].ival, left, right);
        break;
    }
    case RULE_term__term_LOGICAL_AND_term:
        out.op = op_new_logical(gcb, OP_AND, 0, v[1].op, v[3].op);
        break;
    case RULE_term__term_LOGICAL_OR_term:
        out.op = op_new_logical(gcb, OP_OR, 0, v[1].op, v[3].op);
        break;
    case RULE_term__term_QUESTION_term_COLON_term:
        out.op = op_new_conditional(gcb, 0, v[1].op, v[3].op, v[5].op);
        break;
    case RULE_term__term_BIND_OP_term:
        out.op = op_new_binding(gcb, v[2].ival, v[1].op, v[3].op);
        break;
    case RULE_term__MINUS_term:
        out.op = op_new_unary(gcb, OP_NEGATE, 0, op_scalar_context(gcb, v[2].op));
        break;
    case RULE_term__PLUS_term:
        out.op = v[2].op;
        break;
    case RULE_term__BANG_term:
        out.op = op_new_unary(gcb, OP_NOT, 0, op_scalar_context(gcb, v[2].op));
        break;
    case RULE_term__TILDE_term:
        out.op = op_new_unary(gcb, OP_COMPLEMENT, 0, op_scalar_context(gcb, v[2].op));
        break;
    case RULE_term__REF_GEN_term:
        out.op = op_new_unary(gcb, OP_REFGEN, 0, op_lvalue_context(gcb, v[2].op, OP_REFGEN));
        break;
    case RULE_term__term_POST_INC:
        out.op = increment(gcb, OP_POSTINC, v[1].op);
        break;
    case RULE_term__term_POST_DEC:
        out.op = increment(gcb, OP_POSTDEC, v[1].op);
        break;
    case RULE_term__PRE_INC_term:
        out.op = increment(gcb, OP_PREINC, v[2].op);
        break;
    case RULE_term__PRE_DEC_term:
        out.op = increment(gcb, OP_PREDEC, v[2].op);
        break;
    case RULE_term__KW_LOCAL_term:
        out.op = op_apply_local(gcb, v[2].op, v[1].ival);
        break;
    case RULE_term__LPAREN_expr_RPAREN:
    case RULE_my_term__LPAREN_expr_RPAREN:
        out.op = op_mark_parens(gcb, v[2].op);
        break;
    case RULE_term__LPAREN_RPAREN:
    case RULE_my_term__LPAREN_RPAREN:
        out.op = op_mark_parens(gcb, op_new_stub(gcb));
        break;
    case RULE_term__LBRACKET_expr_RBRACKET:
        out.op = op_new_anon_list(gcb, v[2].op);
        break;
    case RULE_term__LBRACKET_RBRACKET:
        out.op = op_new_anon_list(gcb, nullptr);
        break;
    case RULE_term__ANON_HASH_OPEN_expr_SEMI_RBRACE:
        out.op = op_new_anon_hash(gcb, v[2].op);
        break;
    case RULE_term__ANON_HASH_OPEN_SEMI_RBRACE:
        out.op = op_new_anon_hash(gcb, nullptr);
        break;
    case RULE_term__KW_ANON_SUB_anon_sub_start_prototype_attribute_list_block:
        out.op = op_new_anon_sub(gcb, v[2].ival, v[3].op, v[4].op, v[5].op);
        break;
    case RULE_term__array_last_index:
        out.op = op_new_unary(gcb, OP_AV2ARYLEN, 0, op_ref_context_one(gcb, v[1].op, OP_AV2ARYLEN));
        break;
    case RULE_term__LPAREN_expr_RPAREN_LBRACKET_expr_RBRACKET:
        out.op = op_new_slice(gcb, 0, v[5].op, v[2].op);
        break;
    case RULE_term__LPAREN_RPAREN_LBRACKET_expr_RBRACKET:
        out.op = op_new_slice(gcb, 0, v[4].op, nullptr);
        break;
    case RULE_term__array_var_LBRACKET_expr_RBRACKET: {
        OP* mark = op_new_base(gcb, OP_PUSHMARK, 0);
        OP* keys = op_list_context(gcb, v[3].op);
        OP* av = op_ref_context_one(gcb, v[1].op, OP_ASLICE);
        out.op = op_list_prepend(gcb, OP_ASLICE, mark, op_new_list(gcb, OP_ASLICE, 0, keys, av));
        break;
    }
    case RULE_term__array_var_LBRACE_expr_SEMI_RBRACE: {
        OP* mark = op_new_base(gcb, OP_PUSHMARK, 0);
        OP* keys = op_list_context(gcb, v[3].op);
        OP* hv = op_ref_context_one(gcb, oopsHV(gcb, v[1].op), OP_HSLICE);
        out.op = op_list_prepend(gcb, OP_HSLICE, mark, op_new_list(gcb, OP_HSLICE, 0, keys, hv));
        gcb->expect = XOPERATOR;
        break;
    }
    case RULE_term__routine_ref:
        out.op = op_new_unary(gcb, OP_ENTERSUB, 0, op_scalar_context(gcb, v[1].op));
        break;
    case RULE_term__routine_ref_LPAREN_RPAREN:
        out.op = op_new_unary(gcb, OP_ENTERSUB, OPf_STACKED, op_scalar_context(gcb, v[1].op));
        break;
    case RULE_term__routine_ref_LPAREN_expr_RPAREN: {
        OP* cv = op_scalar_context(gcb, v[1].op);
        out.op = op_new_unary(gcb, OP_ENTERSUB, OPf_STACKED, op_list_append(gcb, OP_LIST, v[3].op, cv));
        break;
    }
    case RULE_term__SUB_CALL_MARK_BAREWORD_opt_list_expr: {
        OP* cv = op_scalar_context(gcb, v[2].op);
        out.op = op_new_unary(gcb, OP_ENTERSUB, OPf_STACKED, op_list_append(gcb, OP_LIST, v[3].op, cv));
        break;
    }
    case RULE_term__KW_DO_term:
        out.op = op_new_dofile(gcb, v[2].op);
        break;
    case RULE_term__KW_DO_block:
        out.op = op_new_unary(gcb, OP_NULL, OPf_SPECIAL, op_new_scope(gcb, v[2].op));
        break;
    case RULE_term__KW_DO_BAREWORD_LPAREN_RPAREN:
        out.op = do_sub_call(gcb, v[2].op, 2048, nullptr, false);
        break;
    case RULE_term__KW_DO_BAREWORD_LPAREN_expr_RPAREN:
        out.op = do_sub_call(gcb, v[2].op, 2048, v[4].op, true);
        break;
    case RULE_term__KW_DO_scalar_var_LPAREN_RPAREN:
        out.op = do_sub_call(gcb, v[2].op, 0, nullptr, false);
        break;
    case RULE_term__KW_DO_scalar_var_LPAREN_expr_RPAREN:
        out.op = do_sub_call(gcb, v[2].op, 0, v[4].op, false);
        break;
    case RULE_term__LOOP_EXIT:
        out.op = op_new_base(gcb, v[1].ival, OPf_SPECIAL);
        gcb->compile_hints |= HINT_BLOCK_SCOPE;
        break;
    case RULE_term__LOOP_EXIT_term:
        out.op = op_new_loop_exit(gcb, v[1].ival, v[2].op);
        break;
    case RULE_term__LOW_NOT_arg_expr:
        out.op = op_new_unary(gcb, OP_NOT, 0, op_scalar_context(gcb, v[2].op));
        break;
    case RULE_term__NAMED_UNARY:
    case RULE_term__FUNC_NOARGS:
    case RULE_term__FUNC_NOARGS_LPAREN_RPAREN:
        out.op = op_new_base(gcb, v[1].ival, 0);
        break;
    case RULE_term__NAMED_UNARY_block:
    case RULE_term__NAMED_UNARY_term:
        out.op = op_new_unary(gcb, v[1].ival, 0, v[2].op);
        break;
    case RULE_term__SUB_CALL_UNARY_term: {
        OP* cv = op_scalar_context(gcb, v[1].op);
        out.op = op_new_unary(gcb, OP_ENTERSUB, OPf_STACKED, op_list_append(gcb, OP_LIST, v[2].op, cv));
        break;
    }
    case RULE_term__SUB_CALL_NOARGS:
        out.op = op_new_unary(gcb, OP_ENTERSUB, OPf_STACKED, op_scalar_context(gcb, v[1].op));
        break;
    case RULE_term__FUNC_OPT_ARG_LPAREN_RPAREN:
        out.op = op_new_base(gcb, v[1].ival, OPf_SPECIAL);
        break;
    case RULE_term__FUNC_OPT_ARG_LPAREN_expr_RPAREN:
        out.op = op_new_unary(gcb, v[1].ival, 0, v[3].op);
        break;
    case RULE_term__PATTERN_OP_LPAREN_term_RPAREN:
        out.op = op_pattern_runtime(gcb, v[1].op, v[3].op, nullptr);
        break;
    case RULE_term__PATTERN_OP_LPAREN_term_COMMA_term_RPAREN:
        out.op = op_pattern_runtime(gcb, v[1].op, v[3].op, v[5].op);
        break;
    case RULE_my_attr_term__KW_MY_my_term_my_attr_list:
        out.op = op_declare_my_with_attrs(gcb, v[2].op, v[3].op);
        break;
    case RULE_my_attr_term__KW_MY_my_term:
        out.op = op_apply_local(gcb, v[2].op, v[1].ival);
        break;
    case RULE_opt_list_expr__empty:
    case RULE_opt_list_expr_comma__empty:
        out.op = nullptr;
        break;
    case RULE_opt_list_expr_comma__expr_COMMA:
        out.op = v[1].op;
        break;
    case RULE_my_scalar__scalar_var:
        gcb->declaring = 0;
        out.op = op_declare_my(gcb, v[1].op);
        break;
    case RULE_routine_ref__AMP_indirect_object:  // the "&" carries the flag word
        out.op = op_new_code_deref(gcb, v[1].ival, v[2].op);
        break;
    case RULE_scalar_var__DOLLAR_indirect_object:
        out.op = op_new_scalar_deref(gcb, v[2].op);
        break;
    case RULE_array_var__AT_indirect_object:
    case RULE_array_last_index__ARRAY_LAST_INDEX_indirect_object:
        out.op = op_new_array_deref(gcb, v[2].op);
        break;
    case RULE_hash_var__PERCENT_indirect_object:
        out.op = op_new_hash_deref(gcb, v[2].op);
        break;
    case RULE_glob_var__STAR_indirect_object:
        out.op = op_new_glob_deref(gcb, 0, v[2].op);
        break;
    case RULE_indirect_object__BAREWORD:
    case RULE_indirect_object__scalar_var:
        out.op = op_scalar_context(gcb, v[1].op);
        break;
    case RULE_indirect_object__block:
        out.op = op_new_scope(gcb, v[1].op);
        break;
    default:  // the rules that keep $1
        break;
    }
}

}  // namespace

int32_t grammar_parse(PERLGCB* gcb)
{
    auto* rec = static_cast<grammar_parse_record*>(pool_malloc(gcb, sizeof(grammar_parse_record)));
    rec->states = nullptr;
    rec->values = nullptr;
    rec->dropped = nullptr;
    rec->owned_top = 0;
    rec->running = 1;
    rec->saved_debug = gcb->parse_debug;
    rec->saved_error_count = gcb->parse_error_count;
    rec->saved_error_flag = gcb->parse_error_flag;
    rec->saved_lookahead = gcb->parse_lookahead;
    rec->saved_rule_value = gcb->parse_rule_value;
    rec->saved_token_value = gcb->token_value;
    save_push_destructor(gcb, grammar_stack_free, rec);
    // A declaration belongs to the text being parsed: a parse starts with
    // none, and the one an enclosing parse was reading comes back with the
    // scope's end, also when a jump (no memory midway through a my) ends
    // this parse before its rule could clear it.
    save_push_i32(gcb, &gcb->declaring);
    save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->declaring_package));
    gcb->declaring = 0;
    gcb->declaring_package = nullptr;

    gcb->parse_error_count = 0;
    gcb->parse_error_flag = 0;
    gcb->parse_lookahead = -1;

    Stacks s{rec, -1, 0};
    token_val none;
    none.op = nullptr;
    if (!push(gcb, s, 0, none)) {
        rec->running = 0;
        return 1;
    }

    for (;;) {
        int32_t state = s.rec->states[s.top];
        int32_t rule = gram_defred[state];
        int32_t next = 0;
        if (rule == 0) {
            if (gcb->parse_lookahead < 0) {
                int32_t token = yylex(gcb);
                gcb->parse_lookahead = token < 0 ? 0 : token;
            }
            int32_t token = gcb->parse_lookahead;
            if (token_entry(gram_sindex, state, token, &next)) {
                if (!push(gcb, s, next, gcb->token_value))
                    return abandon(gcb, s);
                gcb->parse_lookahead = -1;
                if (gcb->parse_error_flag > 0)
                    gcb->parse_error_flag--;
                continue;
            }
            if (!token_entry(gram_rindex, state, token, &rule)) {
                // No shift and no reduction: a syntax error.
                if (gcb->parse_error_flag == 0) {
                    compile_error(gcb, "syntax error");
                    gcb->parse_error_count++;
                }
                if (gcb->parse_error_flag == 3) {
                    // Still recovering: drop the token, unless it ends the input.
                    if (token == 0)
                        return abandon(gcb, s);
                    defer_value(gcb, s.rec, token_kind(token), gcb->token_value);
                    gcb->parse_lookahead = -1;
                    continue;
                }
                gcb->parse_error_flag = 3;
                // Unwind to the nearest state that shifts the error token.
                for (;;) {
                    if (token_entry(gram_sindex, s.rec->states[s.top], TOKEN_ERROR, &next))
                        break;
                    if (s.top == 0)
                        return abandon(gcb, s);
                    defer_value(gcb, s.rec, STATE_KINDS.kind[s.rec->states[s.top]], s.rec->values[s.top]);
                    s.top--;
                    s.rec->owned_top = s.top;
                }
                if (!push(gcb, s, next, gcb->token_value))
                    return abandon(gcb, s);
                continue;
            }
        }

        // Reduce by rule: the action sees $1 .. $n through v.
        int32_t len = gram_len[rule];
        token_val* v = s.rec->values + (s.top - len);
        if (len > 0)
            gcb->parse_rule_value = v[1];
        else
            gcb->parse_rule_value.op = nullptr;
        // $1 .. $n are the action's from here: a jump out of it frees only
        // the entries below them.
        s.rec->owned_top = s.top - len;
        rule_action(gcb, rule, v);
        // An action may have run a nested parse, but that one has its own
        // stacks: ours are where they were.
        s.top -= len;
        int32_t lhs = gram_lhs[rule];
        int32_t below = s.rec->states[s.top];
        if (below == 0 && lhs == START_SYMBOL) {
            if (!push(gcb, s, GRAM_FINAL_STATE, gcb->parse_rule_value))
                return abandon(gcb, s);
            if (gcb->parse_lookahead < 0) {
                int32_t token = yylex(gcb);
                gcb->parse_lookahead = token < 0 ? 0 : token;
            }
            if (gcb->parse_lookahead == 0) {
                free_dropped(gcb, s.rec);
                s.rec->running = 0;
                return 0;
            }
            continue;
        }
        if (!packed_entry(gram_gindex[lhs], below, &next))
            next = gram_dgoto[lhs];
        if (!push(gcb, s, next, gcb->parse_rule_value)) {
            discard_value(gcb, STATE_KINDS.kind[next], gcb->parse_rule_value);
            return abandon(gcb, s);
        }
    }
}
