// Op records and the five parallel op tables: the record shapes with their
// flag bits, the op types, and the constant images that every interpreter
// copies into its table block.
#pragma once

#include <cstdint>

#include "prx.h"
#include "prxpool.h"

// ---- op records -----------------------------------------------------------
//
// Every shape begins with the base fields (an OP); the longer shapes add
// theirs behind it. All records come zero-filled from the interpreter's pool.

struct OP {
    OP* op_next;           // next op in execution order; a leaf points to itself
    OP* op_sibling;        // next kid of the same parent
    op_run_fn op_ppaddr;   // run-time function of op_type
    uint32_t op_targ;      // pad slot of the target (other uses by type)
    uint16_t op_type;      // row of the op tables; 0 the null op
    uint16_t op_seq;       // peephole order; 65535 never freed
    uint8_t op_flags;      // OPf_* bits
    uint8_t op_private;    // per-type bits
    uint8_t op_static;     // nonzero: the op is never freed (it lives outside any tree)
};
using op_base = OP;

struct op_pad {
    OP op;
    uint32_t op_padix;     // pad slot holding the op's value
};

struct op_unary {
    OP op;
    OP* op_first;
};

struct op_binary {
    OP op;
    OP* op_first;
    OP* op_last;
};

struct op_logical {
    OP op;
    OP* op_first;
    OP* op_other;          // first op of the branch taken when the condition decides so
};

struct op_list {
    OP op;
    OP* op_first;
    OP* op_last;
};

struct op_value {
    OP op;
    SV* op_sv;             // one reference held by the op
};

struct op_string {
    OP op;
    char* op_pv;           // pool string owned by the op (a value on a UTF-8 trans op)
};

struct op_loop {
    OP op;
    OP* op_first;
    OP* op_last;
    OP* op_redoop;
    OP* op_nextop;
    OP* op_lastop;
};

struct op_pattern {
    OP op;
    OP* op_first;
    OP* op_last;
    OP* op_pmreplroot;     // replacement tree of subst; split's target glob on pushre
    OP* op_pmreplstart;    // first op of the replacement, not owned
    op_pattern* op_pmnext; // next pattern op of the same package
    re_compiled* op_pmregexp;  // released through the interpreter's regex free hook
    uint16_t op_pmflags;
    uint16_t op_pmpermflags;
    uint8_t op_pmdynflags; // 0x01 matched once, 0x02 tainted, 0x04 UTF-8 pattern text
    HV* op_pmstash;        // the package whose pattern list holds the op, not counted; null when unlisted
};

// Pattern-op flag bits (PMFLAGS and PM_PERMFLAGS) beside the modifier bits
// of the pattern engine's flag word (PMf_KEEP .. PMf_EXTENDED).
enum : uint16_t {
    PMf_RETAINT = 0x0001,      // pattern taint in force when the op was built
    PMf_ONCE = 0x0002,         // ?...?: match once until reset
    PMf_MAYBE_CONST = 0x0008,  // the replacement holds variables; the pattern is run-time
    PMf_SKIPWHITE = 0x0010,    // split: skip leading white space
    PMf_WHITE = 0x0020,        // the compiled text is exactly \s+
    PMf_CONST = 0x0040,        // the replacement is constant for the op's life
    PMf_EVAL = 0x0400,         // e: the replacement is an expression
};
// PM_DYNFLAGS bits.
enum : uint8_t {
    PMdf_USED = 0x01,
    PMdf_TAINTED = 0x02,
    PMdf_UTF8 = 0x04,
};

// The statement op (op_statement).
struct COP {
    OP op;                 // base fields
    char* cop_label;       // label owned by the op, or null
    HV* cop_stash;         // package in force, not counted
    GV* cop_filegv;        // glob of the source file, one reference
    uint32_t cop_seq;      // statement sequence number
    int32_t cop_arybase;   // array base in force
    uint16_t cop_line;     // source line; 65535 no line
    SV* cop_warnings;      // a WARNINGS_* marker or a bit-string value owned by the op
};
using op_statement = COP;
static_assert(std::is_standard_layout_v<COP> && offsetof(COP, op) == 0);
static_assert(offsetof(op_unary, op_first) == sizeof(OP) && offsetof(op_value, op_sv) == sizeof(OP));
static_assert(offsetof(op_pattern, op_last) == offsetof(op_binary, op_last));
static_assert(offsetof(op_loop, op_last) == offsetof(op_list, op_last));

// Marker values of cop_warnings; they are not values and never released.
constexpr uintptr_t WARNINGS_STD = 0;
constexpr uintptr_t WARNINGS_ALL = 16;
constexpr uintptr_t WARNINGS_NONE = 32;
// Private bit of a statement op: byte semantics in force.
constexpr uint8_t HINT_BYTES = 0x08;

// FLAGS bits.
enum : uint8_t {
    OPf_WANT = 0x03,        // 0 unknown, 1 void, 2 scalar, 3 list
    OPf_WANT_VOID = 0x01,
    OPf_WANT_SCALAR = 0x02,
    OPf_WANT_LIST = 0x03,
    OPf_KIDS = 0x04,
    OPf_PARENS = 0x08,
    OPf_REF = 0x10,
    OPf_MOD = 0x20,
    OPf_STACKED = 0x40,
    OPf_SPECIAL = 0x80,
};

// PRIVATE bits, by the names the op dump prints.
enum : uint8_t {
    OPpTARGET_MY = 0x10,          // the op writes straight into a lexical's pad slot
    OPpLVAL_INTRO = 0x80,         // the op introduces a my or local variable
    OPpDEREF = 0x60,              // autovivify the referenced container as:
    OPpDEREF_AV = 0x20,           //   an array,
    OPpDEREF_HV = 0x40,           //   a hash,
    OPpDEREF_SV = 0x60,           //   a scalar
    OPpLVAL_DEFER = 0x10,         // aelem, helem: create the element only when it is assigned
    OPpMAYBE_LVSUB = 0x08,        // aslice, hslice, padav, padhv, pos, vec, substr, aelem, helem in an lvalue sub
    OPpOUR_INTRO = 0x10,          // rv2sv, rv2av, rv2hv, gvsv: introduced by our
    OPpHINT_STRICT_REFS = 0x02,   // dereference ops under strict refs
    OPpCONST_STRICT = 0x08,       // const: a bareword under strict subs
    OPpCONST_ARYBASE = 0x20,      // const: the array base variable
    OPpCONST_BARE = 0x40,         // const: a bareword
    OPpREPEAT_DOLIST = 0x40,      // repeat: the left side is a list
    OPpASSIGN_HASH = 0x20,        // aassign
    OPpASSIGN_COMMON = 0x40,      // aassign: both sides may share variables
    OPpASSIGN_BACKWARDS = 0x40,   // sassign: operands in reverse order
    OPpTRANS_FROM_UTF8 = 0x01,    // trans: the search list is UTF-8
    OPpTRANS_TO_UTF8 = 0x02,      // trans: the replacement list is UTF-8
    OPpTRANS_IDENTICAL = 0x04,    // trans: every character maps to itself: the value is only counted
    OPpTRANS_SQUASH = 0x08,
    OPpTRANS_DELETE = 0x10,
    OPpTRANS_COMPLEMENT = 0x20,
    OPpTRANS_GROWS = 0x40,        // trans: a UTF-8 result may be longer than the value
    OPpENTERSUB_INARGS = 0x04,    // an lvalue sub call used as an argument
    OPpENTERSUB_AMPER = 0x08,
    OPpENTERSUB_DB = 0x10,
    OPpENTERSUB_HASTARG = 0x20,
    OPpEARLY_CV = 0x20,           // gv: the sub was called before its declaration was seen
    OPpFLIP_LINENUM = 0x40,
    OPpREFCOUNTED = 0x40,         // leavesub, leavesublv, leave, scope, leavewrite, leaveeval: TARG counts the tree
};

// Bits of the argument-class word.
enum : uint32_t {
    OA_MARK = 0x001,            // operands form a list that begins with a pushmark
    OA_FOLDCONST = 0x002,
    OA_RETSCALAR = 0x004,
    OA_TARGET = 0x008,
    OA_RETINTEGER = 0x010,
    OA_OTHERINT = 0x020,        // the integer variant is the next row
    OA_DANGEROUS = 0x040,
    OA_DEFGV = 0x080,
    OA_TARGLEX = 0x100,
    OA_CLASS_SHIFT = 9,         // record class: (word >> 9) & 15
    OA_CLASS_MASK = 0x1E00,
    OA_OPERAND_SHIFT = 13,      // operand classes, 4 bits each
};

// Record classes of the argument-class word, and operand classes.
enum : uint32_t {
    OA_BASEOP = 0, OA_UNOP = 1, OA_BINOP = 2, OA_LOGOP = 3, OA_LISTOP = 4, OA_PMOP = 5, OA_SVOP = 6,
    OA_PADOP = 7, OA_PVOP_OR_SVOP = 8, OA_LOOP = 9, OA_COP = 10, OA_BASEOP_OR_UNOP = 11, OA_FILESTATOP = 12,
    OA_LOOPEXOP = 13,
};
enum : uint32_t {
    OA_SCALAR = 1, OA_LIST = 2, OA_AVREF = 3, OA_HVREF = 4, OA_CVREF = 5, OA_FILEREF = 6, OA_SCALARREF = 7,
    OA_OPTIONAL = 8,
};
// The record class of an argument-class word.
inline uint32_t op_args_record_class(uint32_t word) { return (word >> OA_CLASS_SHIFT) & 15; }
// The class of operand n (0 the first) of an argument-class word: the low 3
// bits the kind, OA_OPTIONAL the optional mark; 0 past the last operand.
inline uint32_t op_args_operand(uint32_t word, int32_t n)
{
    return n < 5 ? (word >> (OA_OPERAND_SHIFT + 4 * n)) & 15 : 0;
}

// ---- the op types ---------------------------------------------------------

enum op_type : uint16_t {
#define PRX_OP(e, name, desc, pp, ck, args) e,
#include "prxop.def"
#undef PRX_OP
    OP_max
};
static_assert(OP_max == 351);

// ---- field access by shape --------------------------------------------------

inline OP*& op_other_op(OP* o) { return reinterpret_cast<op_logical*>(o)->op_other; }
inline char*& op_string_pv(OP* o) { return reinterpret_cast<op_string*>(o)->op_pv; }
inline op_pattern* op_as_pattern(OP* o) { return reinterpret_cast<op_pattern*>(o); }
inline op_loop* op_as_loop(OP* o) { return reinterpret_cast<op_loop*>(o); }
// Rows of the interpreter's copies of the op tables.
inline uint32_t op_args_of(PERLGCB* gcb, int32_t type) { return gcb->op_args_table[type]; }
inline const char* op_desc_of(PERLGCB* gcb, int32_t type) { return gcb->op_desc_table[type]; }
// A zero-filled record of the shape from the interpreter's pool.
template <class Shape>
Shape* op_alloc_record(PERLGCB* gcb)
{
    Shape* rec = static_cast<Shape*>(pool_malloc(gcb, sizeof(Shape)));
    xk_fill(0, rec, static_cast<int32_t>(sizeof(Shape)));
    return rec;
}

// Records a compile error: appends the message to the eval's error text
// inside an eval, else to the error buffer; counts it.
void error_queue(PERLGCB* gcb, SV* message);

// The constant value of a body made of one constant, else null.
SV* op_const_value(PERLGCB* gcb, OP* start, CV* cv);
// The constant value of a sub with an empty prototype whose body is one constant, else null.
SV* cv_const_value(PERLGCB* gcb, CV* cv);
// Warns "Prototype mismatch:" when the old and the new prototype differ.
void cv_check_prototype(PERLGCB* gcb, CV* cv, GV* gv, const char* proto);
// Frees a code or format value's op tree and pad and clears its code fields.
void cv_undefine(PERLGCB* gcb, CV* cv);

// Starts compiling a sub or format body: saves the compile state and makes a
// fresh code value the one being compiled (compile_cv); returns the save-stack
// index from before the call.
int32_t start_sub_compile(PERLGCB* gcb, int32_t is_format, uint32_t flags);
// The end of a sub's compilation, as start_sub_compile's scope runs it (arg
// is the code value): an anonymous sub lets go of its count on the sub
// around it (the pointer stays), and the compilation's reference goes.
void sub_compile_end(PERLGCB* gcb, void* cv);

// A native sub: called with the interpreter and its code value; works on
// the arguments above the top mark.
typedef void (*xsub_fn)(PERLGCB* gcb, CV* cv);
// Installs a native function as the named sub (anonymous without a name);
// file is kept, not copied.
CV* sub_define_xs(PERLGCB* gcb, const char* name, xsub_fn fn, const char* file);
// Defines the named sub from its name op, prototype op and body op (a
// declaration without a body); consumes the ops and unwinds to floor.
CV* sub_define_plain(PERLGCB* gcb, int32_t floor, OP* name, OP* proto, OP* body);
// A value op of the type; the op takes over the value's reference.
OP* op_new_value(PERLGCB* gcb, int32_t type, int32_t flags, SV* sv);
// Frees an op tree (none is ignored).
void op_free_tree(PERLGCB* gcb, OP* op);
// Loads a module as a use statement would; flags 2 imports nothing. Takes
// over the name value; the import values follow the version, ended by null.
void module_load_va(PERLGCB* gcb, uint32_t flags, SV* name, SV* version, ...);

// Compile hints (compile_hints, and the hints a statement records).
enum : uint32_t {
    HINT_INTEGER = 0x1,            // integer arithmetic
    HINT_STRICT_REFS = 0x2,
    HINT_BLOCK_SCOPE = 0x100,      // the block declared something that needs a scope
    HINT_STRICT_SUBS = 0x200,
    // HINT_STRICT_VARS 0x400 lives with the stash look-up (prxgv.h).
    HINT_LOCALE = 0x800,
    HINT_NEW_RE = 0x10000,         // constant overloading of pattern texts
    HINT_LOCALIZE_HH = 0x20000,    // the hint hash is present
    HINT_RE_TAINT = 0x100000,
    HINT_RE_EVAL = 0x200000,
    HINT_UTF8 = 0x800000,          // the source is UTF-8
};

// Formats a compile error and hands it to the lexer's reporter, which counts it.
void op_compile_error(PERLGCB* gcb, const char* fmt, ...);
// The modification count that stands for "any number of values".
constexpr int32_t MODCOUNT_UNLIMITED = 0x3FFFFFFF;

// ---- builders ---------------------------------------------------------------
//
// Every builder returns the op to use, which may be another op than the one
// it built (the check routine's choice). The flags argument carries FLAGS in
// its low byte and, where a builder says so, PRIVATE bits in its second byte.

OP* op_new_base(PERLGCB* gcb, int32_t type, int32_t flags);
OP* op_new_stub(PERLGCB* gcb);
// The op takes over the glob's reference count raised by one.
OP* op_new_glob(PERLGCB* gcb, int32_t type, int32_t flags, GV* gv);
OP* op_new_padref(PERLGCB* gcb, int32_t type, int32_t flags, SV* sv);
// The op takes over the pool string (a value on a UTF-8 trans op).
OP* op_new_string(PERLGCB* gcb, int32_t type, int32_t flags, char* pv);
OP* op_new_unary(PERLGCB* gcb, int32_t type, int32_t flags, OP* first);
OP* op_new_binary(PERLGCB* gcb, int32_t type, int32_t flags, OP* first, OP* last);
OP* op_new_list(PERLGCB* gcb, int32_t type, int32_t flags, OP* first, OP* last);
OP* op_convert_list(PERLGCB* gcb, int32_t type, int32_t flags, OP* op);
OP* op_wrap_in_list(PERLGCB* gcb, OP* op);
OP* op_list_append(PERLGCB* gcb, int32_t type, OP* first, OP* last);
OP* op_list_prepend(PERLGCB* gcb, int32_t type, OP* first, OP* last);
OP* op_list_concat(PERLGCB* gcb, int32_t type, OP* first, OP* last);

// Logical, conditional, loop and assignment builders.
OP* op_new_logical(PERLGCB* gcb, int32_t type, int32_t flags, OP* first, OP* other);
OP* op_new_logical_worker(PERLGCB* gcb, int32_t type, int32_t flags, OP** firstp, OP** otherp);
OP* op_new_conditional(PERLGCB* gcb, int32_t flags, OP* cond, OP* true_op, OP* false_op);
OP* op_new_range(PERLGCB* gcb, int32_t flags, OP* left, OP* right);
OP* op_new_loop(PERLGCB* gcb, int32_t flags, int32_t debuggable, OP* cond, OP* body);
OP* op_new_while(PERLGCB* gcb, int32_t flags, int32_t debuggable, op_loop* loop, int32_t whileline, OP* cond,
                 OP* body, OP* cont);
OP* op_new_foreach(PERLGCB* gcb, int32_t flags, char* label, int32_t forline, OP* var, OP* list, OP* body,
                   OP* cont);
OP* op_new_loop_exit(PERLGCB* gcb, int32_t type, OP* label);
OP* op_new_assign(PERLGCB* gcb, int32_t flags, OP* left, int32_t optype, OP* right);
bool op_assigns_to_list(PERLGCB* gcb, OP* op);

// Freeing, nulling and scopes.
void op_clear_fields(PERLGCB* gcb, OP* op);
void op_nullify(PERLGCB* gcb, OP* op);
OP* op_new_scope(PERLGCB* gcb, OP* op);

// Statements, declarations and dereferences.
OP* op_new_statement(PERLGCB* gcb, int32_t flags, char* label, OP* op);
void op_set_package(PERLGCB* gcb, OP* name);
OP* op_new_dofile(PERLGCB* gcb, OP* term);
OP* op_new_slice(PERLGCB* gcb, int32_t flags, OP* subscript, OP* list);
OP* op_mark_parens(PERLGCB* gcb, OP* op);
OP* op_new_not(PERLGCB* gcb, OP* op);
OP* op_new_scalar_deref(PERLGCB* gcb, OP* op);
OP* op_new_array_deref(PERLGCB* gcb, OP* op);
OP* op_new_hash_deref(PERLGCB* gcb, OP* op);
OP* op_new_glob_deref(PERLGCB* gcb, int32_t type, OP* op);
OP* op_new_code_deref(PERLGCB* gcb, int32_t flags, OP* op);
OP* oopsAV(PERLGCB* gcb, OP* op);
OP* oopsHV(PERLGCB* gcb, OP* op);
OP* op_apply_local(PERLGCB* gcb, OP* op, int32_t lexical);
OP* op_join_subscript(PERLGCB* gcb, OP* op);
bool op_is_scalar_lvalue_type(PERLGCB* gcb, OP* op, int32_t type);

// Context propagation: each returns the op it was given (null stays null)
// unless it says otherwise.
OP* op_scalar_context(PERLGCB* gcb, OP* op);
OP* op_void_context(PERLGCB* gcb, OP* op);
OP* op_list_context(PERLGCB* gcb, OP* op);
OP* op_list_context_kids(PERLGCB* gcb, OP* op);
OP* op_scalar_context_kids(PERLGCB* gcb, OP* op);
OP* op_statement_seq(PERLGCB* gcb, OP* op);
OP* op_ref_context(PERLGCB* gcb, OP* op, int32_t type);
OP* op_ref_context_one(PERLGCB* gcb, OP* op, int32_t type);
// Lvalue context; a bareword is replaced by its filehandle glob or sub call,
// so the caller must take the op returned in place of the one it gave.
[[nodiscard]] OP* op_lvalue_context(PERLGCB* gcb, OP* op, int32_t type);
// Lvalue context on an op that keeps its place in its parent's kid chain:
// nothing is replaced, and a bareword is a constant that cannot be modified.
void op_lvalue_context_kid(PERLGCB* gcb, OP* kid, int32_t type);
OP* op_declare_my(PERLGCB* gcb, OP* op);
OP* op_declare_my_with_attrs(PERLGCB* gcb, OP* op, OP* attrs);
OP* op_declare_kid(PERLGCB* gcb, OP* op, OP* attrs);

// Pattern and transliteration ops.
OP* op_new_pattern(PERLGCB* gcb, int32_t type, int32_t flags);
OP* op_pattern_runtime(PERLGCB* gcb, OP* pm, OP* expr, OP* repl);
OP* op_new_binding(PERLGCB* gcb, int32_t type, OP* left, OP* right);
OP* op_trans_tables(PERLGCB* gcb, OP* trans, OP* from, OP* to);

// Blocks and the program root.
// Begins a block; returns the save-stack index that op_close_block takes back.
int32_t op_open_block(PERLGCB* gcb, int32_t full);
OP* op_close_block(PERLGCB* gcb, int32_t floor, OP* seq);
// Saves the compile hints and gives the hint hash a copy of its own; the
// old ones come back when the scope ends.
void scope_push_compile_hints(PERLGCB* gcb);
// Saves the compile hints for the scope's end: with the hint hash when the
// hints localize it, else the hints word alone.
void scope_save_compile_hints(PERLGCB* gcb);
// Installs the parsed program as the eval root or the main root.
void op_new_program(PERLGCB* gcb, OP* op);
// Links a subtree in execution order; returns its first op.
OP* op_link_exec_order(PERLGCB* gcb, OP* op);

// Constant folding and the peephole pass.
OP* op_fold_constant_subtree(PERLGCB* gcb, OP* op);
OP* op_fold_constant_list(PERLGCB* gcb, OP* op);
void op_peephole(PERLGCB* gcb, OP* first);

// Subroutines, formats, use/no and anonymous constructors.
// The sub being compiled (from start_sub_compile, whose scope holds its one
// reference until floor) becomes the named sub, or is returned with a
// reference for the caller when unnamed; consumes the ops, unwinds to floor.
CV* sub_define(PERLGCB* gcb, int32_t floor, OP* name, OP* proto, OP* attrs, OP* body);
[[noreturn]] void sub_declare_my(PERLGCB* gcb, int32_t floor, OP* name, OP* proto, OP* attrs, OP* body);
CV* sub_define_constant(PERLGCB* gcb, HV* stash, const char* name, SV* sv);
// A new closure of a closure prototype, bound against the prototype's
// outer sub (cv_clone) or the given one.
CV* cv_clone(PERLGCB* gcb, CV* proto);
CV* cv_clone_worker(PERLGCB* gcb, CV* proto, CV* outside);
void format_define(PERLGCB* gcb, int32_t floor, OP* name, OP* block);
void op_use_module(PERLGCB* gcb, int32_t use, int32_t floor, OP* version, OP* name, OP* args);
void sub_attach_attributes(PERLGCB* gcb, HV* stash, SV* target, OP* attrs);
// Applies attributes given as one text of blank-separated words (len 0: up
// to the terminating zero).
void attrs_apply_from_text(PERLGCB* gcb, const char* package, CV* cv, const char* text, int32_t len);
OP* op_new_anon_list(PERLGCB* gcb, OP* list);
OP* op_new_anon_hash(PERLGCB* gcb, OP* list);
OP* op_new_anon_sub(PERLGCB* gcb, int32_t floor, OP* proto, OP* attrs, OP* block);
OP* op_new_anon_sub_plain(PERLGCB* gcb, int32_t floor, OP* proto, OP* block);

// Run-time functions and check routines, every row's (rows that share a
// function declare it again).
#define PRX_OP(e, name, desc, pp, ck, args) \
    OP* pp(PERLGCB* gcb);                     \
    OP* ck(PERLGCB* gcb, OP* op);
#include "prxop.def"
#undef PRX_OP

// The constant images of the five op tables; each interpreter works on its
// own copies (op_*_table in PERLGCB), made by init_table_block.
extern const op_run_fn op_run_function_image[OP_max];
extern const op_check_fn op_check_image[OP_max];
extern const char* const op_name_image[OP_max];
extern const char* const op_desc_image[OP_max];
extern const uint32_t op_args_image[OP_max];

// ---- record access ----------------------------------------------------------

// A file test or stat: on these REF says the op holds its handle's glob in
// VALUE instead of a kid, so no context may set it.
inline bool op_is_file_test(uint32_t type) { return op_check_image[type] == ck_lstat; }

// Kids: every shape with kids keeps FIRST behind the base fields, and the
// binary, list, loop and pattern shapes keep LAST behind it.
inline OP*& op_first_kid(OP* o) { return reinterpret_cast<op_unary*>(o)->op_first; }
inline OP*& op_last_kid(OP* o) { return reinterpret_cast<op_binary*>(o)->op_last; }
inline bool op_has_kids(const OP* o) { return (o->op_flags & OPf_KIDS) != 0; }
inline uint8_t op_want(const OP* o) { return o->op_flags & OPf_WANT; }
inline SV*& op_value_sv(OP* o) { return reinterpret_cast<op_value*>(o)->op_sv; }
// The type an op has or, nulled, had.
inline uint32_t op_real_type(const OP* o) { return o->op_type ? o->op_type : o->op_targ; }
// Sets TYPE and the run-time function of the row together.
inline void op_set_type(PERLGCB* gcb, OP* o, uint32_t type)
{
    o->op_type = static_cast<uint16_t>(type);
    o->op_ppaddr = gcb->op_run_function_table[type];
}
// The counted roots: TARG is the tree's reference count under OPpREFCOUNTED.
inline bool op_is_counted_root_type(uint32_t type)
{
    return type == OP_LEAVESUB || type == OP_LEAVESUBLV || type == OP_LEAVE || type == OP_SCOPE ||
           type == OP_LEAVEWRITE || type == OP_LEAVEEVAL;
}
inline bool op_is_statement_type(uint32_t type)
{
    return type == OP_NEXTSTATE || type == OP_DBSTATE || type == OP_SETSTATE;
}
// Whether a statement's warnings pointer is one of the three markers.
inline bool warnings_is_marker(const SV* w)
{
    uintptr_t v = reinterpret_cast<uintptr_t>(w);
    return v == WARNINGS_STD || v == WARNINGS_ALL || v == WARNINGS_NONE;
}
// Adds a pattern op to the front of a package's pattern list; freeing the
// op takes it out again.
void op_pattern_list_add(PERLGCB* gcb, op_pattern* pm, HV* stash);
// Takes a pattern op out of its package's pattern list.
void op_pattern_list_remove(PERLGCB* gcb, op_pattern* pm);
// Detaches every op of a package's pattern list when the package goes.
void op_pattern_list_detach(PERLGCB* gcb, HV* stash);
