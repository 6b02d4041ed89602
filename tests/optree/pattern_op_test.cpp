// Pattern ops at compile time: a constant pattern compiled at once, the
// run-time compile chain, split's white-space mode, the replacement of s///,
// the binding operators and the byte and UTF-8 tables of tr///.
#include <cstring>
#include <functional>

#include "optree/optree_fixture.h"
#include "optree/tree_shape.h"

#include "ds/src/prxhv.h"
#include "ds/src/prxre.h"

// The swash maker is replaced through the linker: it records what the
// UTF-8 transliteration hands over and gives a reference to an empty hash,
// as the "utf8" package's method would give a swash.
namespace {
namespace swashes {
std::string description;
int32_t bits = 0;
int32_t none = 0;
int32_t calls = 0;
}  // namespace swashes
}  // namespace

extern "C" SV* __wrap__Z9swash_newP7PERLGCBPKcS2_P2SVii(PERLGCB* gcb, const char* pkg, const char* name, SV* listsv,
                                                        int32_t minbits, int32_t none)
{
    uint64_t len = 0;
    const char* p = sv_text(gcb, listsv, &len);
    swashes::description = std::string(pkg) + "|" + name + "|" + std::string(p, len);
    swashes::bits = minbits;
    swashes::none = none;
    swashes::calls++;
    return sv_new_reference_adopting(gcb, as_sv(hv_new_empty(gcb)));
}

namespace {

using optree::exec_order;
using optree::shape;

class PatternOp : public optree::Trees {
public:
    // A match op compiled from a constant text.
    OP* match(const char* text)
    {
        return op_pattern_runtime(gcb, op_new_pattern(gcb, OP_MATCH, 0), kstr(text), nullptr);
    }
    static std::string text_of(re_compiled* rx) { return std::string(rx->pattern_text, rx->pattern_length); }
};

TEST_F(PatternOp, ConstantQrIsCompiledWithItsFlagsAndListedInItsPackage)
{
    OP* o = op_new_pattern(gcb, OP_QR, 0);
    op_pattern* pm = op_as_pattern(o);
    pm->op_pmflags |= PMf_FOLD;
    EXPECT_EQ(op_pattern_runtime(gcb, o, kstr("abc"), nullptr), o);
    ASSERT_NE(pm->op_pmregexp, nullptr);
    EXPECT_EQ(text_of(pm->op_pmregexp), "abc");
    EXPECT_TRUE(pm->op_pmregexp->analysis_flags & PMf_FOLD);
    EXPECT_EQ(pm->op_pmflags, PMf_FOLD);
    EXPECT_FALSE(op_has_kids(o)) << "no run-time chain";
    EXPECT_TRUE(gcb->compile_hints & HINT_BLOCK_SCOPE);
    EXPECT_EQ(hv_body(gcb->main_stash)->pmroot, o);
    EXPECT_EQ(shape(gcb, o), "qr");
    op_free_tree(gcb, o);
    EXPECT_EQ(hv_body(gcb->main_stash)->pmroot, nullptr);
}

TEST_F(PatternOp, HintsOfTheBuildGoIntoThePermanentFlags)
{
    struct Case {
        uint32_t hints;
        int32_t type;
        uint16_t flags;
        bool listed;
    } cases[] = {
        {0, OP_MATCH, 0, true},
        {HINT_RE_TAINT, OP_SUBST, PMf_RETAINT, true},
        {HINT_LOCALE, OP_MATCH, PMf_LOCALE, true},
        {HINT_LOCALE | HINT_RE_TAINT, OP_TRANS, PMf_LOCALE | 0x0001, false},
    };
    for (const Case& c : cases) {
        gcb->compile_hints = c.hints;
        hv_body(gcb->main_stash)->pmroot = nullptr;
        OP* o = op_new_pattern(gcb, c.type, OPf_SPECIAL | (0x40 << 8));
        op_pattern* pm = op_as_pattern(o);
        EXPECT_EQ(pm->op_pmpermflags, c.flags) << c.hints;
        EXPECT_EQ(pm->op_pmflags, c.flags) << c.hints;
        EXPECT_EQ(o->op_flags, OPf_SPECIAL);
        EXPECT_EQ(o->op_private, 0x40);
        EXPECT_EQ(o->op_next, nullptr);
        EXPECT_EQ(hv_body(gcb->main_stash)->pmroot == o, c.listed) << c.type;
        if (!c.listed)
            pool_free(gcb, o);
    }
}

TEST_F(PatternOp, Utf8PatternTextUnlessTheStatementHasTheByteHint)
{
    struct Case {
        bool utf8_value;
        uint32_t hints;
        uint8_t statement_private;
        uint8_t dynflags;
    } cases[] = {
        {false, 0, 0, 0},
        {true, 0, 0, PMdf_UTF8},
        {true, 0, HINT_BYTES, 0},
        {false, HINT_UTF8, HINT_BYTES, PMdf_UTF8},
    };
    for (const Case& c : cases) {
        gcb->compile_hints = c.hints;
        compile_cop.op.op_private = c.statement_private;
        OP* text = kstr("\xc4\x80");
        if (c.utf8_value)
            op_value_sv(text)->flags |= SVf_UTF8;
        OP* o = op_pattern_runtime(gcb, op_new_pattern(gcb, OP_MATCH, 0), text, nullptr);
        EXPECT_EQ(op_as_pattern(o)->op_pmdynflags, c.dynflags) << c.utf8_value << " " << c.hints;
        op_free_tree(gcb, o);
    }
}

// split's first operand is " " alone: then the pattern is \s+ and leading
// white space is skipped. An empty text or several blanks are patterns of
// their own, and only a compiled text of exactly \s+ is the white-space case.
TEST_F(PatternOp, SplitWhiteSpaceModeTakesExactlyOneBlank)
{
    struct Case {
        bool split_operand;
        const char* text;
        uint16_t flags;
        const char* compiled;
    } cases[] = {
        {true, " ", PMf_SKIPWHITE | PMf_WHITE, "\\s+"},
        {true, "", 0, ""},
        {true, "   ", 0, "   "},
        {true, " x", 0, " x"},
        {false, " ", 0, " "},
        {false, "\\s+", PMf_WHITE, "\\s+"},
        {false, "\\s+ ", 0, "\\s+ "},
        {false, "\\s", 0, "\\s"},
    };
    for (const Case& c : cases) {
        OP* o = op_new_pattern(gcb, OP_MATCH, c.split_operand ? OPf_SPECIAL : 0);
        op_pattern_runtime(gcb, o, kstr(c.text), nullptr);
        op_pattern* pm = op_as_pattern(o);
        EXPECT_EQ(pm->op_pmflags, c.flags) << "'" << c.text << "'";
        ASSERT_NE(pm->op_pmregexp, nullptr);
        EXPECT_EQ(text_of(pm->op_pmregexp), c.compiled);
        op_free_tree(gcb, o);
    }
}

TEST_F(PatternOp, RunTimePatternGetsACompileChain)
{
    struct Case {
        uint32_t hints;
        uint16_t pmflags;
        const char* shape;
        const char* order;
        bool special;
    } cases[] = {
        {0, 0, "match(regcomp(regcreset(rv2sv(gv))))", "regcreset gv rv2sv regcomp match", false},
        {0, PMf_KEEP, "match(regcomp(regcreset(rv2sv(gv))))", "regcreset gv rv2sv regcomp match", false},
        {HINT_RE_EVAL, 0, "match(regcomp(rv2sv(gv)))", "gv rv2sv regcomp match", true},
        {HINT_RE_EVAL, PMf_KEEP, "match(regcomp(regcmaybe(rv2sv(gv))))", "regcmaybe gv rv2sv regcomp match", true},
    };
    for (const Case& c : cases) {
        gcb->compile_hints = c.hints;
        OP* o = op_new_pattern(gcb, OP_MATCH, 0);
        op_as_pattern(o)->op_pmflags |= c.pmflags;
        op_pattern_runtime(gcb, o, scalar_var("re"), nullptr);
        EXPECT_EQ(shape(gcb, o), c.shape);
        EXPECT_EQ(op_as_pattern(o)->op_pmregexp, nullptr);
        OP* rcomp = op_first_kid(o);
        EXPECT_EQ(op_other_op(rcomp), o);
        EXPECT_EQ(rcomp->op_private, 1);
        EXPECT_EQ((rcomp->op_flags & OPf_SPECIAL) != 0, c.special);
        EXPECT_EQ(op_want(rcomp), OPf_WANT_SCALAR);
        EXPECT_EQ(exec_order(gcb, op_link_exec_order(gcb, o), o), c.order);
        op_free_tree(gcb, o);
    }
    gcb->compile_hints = HINT_UTF8;
    OP* o = op_pattern_runtime(gcb, op_new_pattern(gcb, OP_MATCH, 0), scalar_var("re"), nullptr);
    EXPECT_EQ(op_as_pattern(o)->op_pmdynflags, PMdf_UTF8);
    op_free_tree(gcb, o);
}

TEST_F(PatternOp, ReplacementIsConstantOrRunsThroughSubstcont)
{
    struct Case {
        const char* what;
        bool runtime_pattern;
        uint16_t eval;
        std::function<OP*(PatternOp*)> repl;
        uint16_t flags;  // CONST and MAYBE_CONST as set
        const char* shape;
        const char* repl_order;  // from REPL_START; empty without substcont
    } cases[] = {
        {"s/x/abc/", false, 0, [](PatternOp* t) { return t->kstr("abc"); }, PMf_CONST, "subst(const)", ""},
        {"s/x/$1/", false, 0, [](PatternOp* t) { return t->scalar_var("1"); }, 0, "subst", "gv rv2sv substcont"},
        {"s/x/$&/", false, 0, [](PatternOp* t) { return t->scalar_var("&"); }, 0, "subst", "gv rv2sv substcont"},
        {"s/x/$y/", false, 0, [](PatternOp* t) { return t->scalar_var("y"); }, PMf_CONST, "subst(rv2sv(gv))", ""},
        {"s/$p/$y/", true, 0, [](PatternOp* t) { return t->scalar_var("y"); }, PMf_MAYBE_CONST,
         "subst(regcomp(regcreset(rv2sv(gv))))", "gv rv2sv substcont"},
        {"s/$p/abc/", true, 0, [](PatternOp* t) { return t->kstr("abc"); }, PMf_CONST,
         "subst(const regcomp(regcreset(rv2sv(gv))))", ""},
        {"s/x/&f . 'a'/", false, 0,
         [](PatternOp* t) {
             OP* code = op_new_unary(t->interp(), OP_RV2CV, 0, t->gvop("f"));
             return op_new_binary(t->interp(), OP_CONCAT, 0, code, t->kstr("a"));
         },
         0, "subst", "gv rv2cv const concat substcont"},
        {"s/x/abc/e", false, PMf_EVAL, [](PatternOp* t) { return t->kstr("abc"); }, 0, "subst", "const substcont"},
    };
    for (const Case& c : cases) {
        OP* o = op_new_pattern(gcb, OP_SUBST, 0);
        op_pattern* pm = op_as_pattern(o);
        pm->op_pmflags |= c.eval;
        op_pattern_runtime(gcb, o, c.runtime_pattern ? scalar_var("p") : kstr("x"), c.repl(this));
        EXPECT_EQ(pm->op_pmflags & (PMf_CONST | PMf_MAYBE_CONST), c.flags) << c.what;
        EXPECT_EQ(pm->op_pmpermflags & (PMf_CONST | PMf_MAYBE_CONST), c.flags) << c.what;
        EXPECT_EQ(shape(gcb, o), c.shape) << c.what;
        if (*c.repl_order) {
            OP* cont = pm->op_pmreplroot;
            ASSERT_NE(cont, nullptr) << c.what;
            EXPECT_EQ(cont->op_type, OP_SUBSTCONT);
            EXPECT_EQ(op_other_op(cont), o);
            EXPECT_EQ(cont->op_next, nullptr);
            EXPECT_EQ(exec_order(gcb, pm->op_pmreplstart), c.repl_order) << c.what;
        } else {
            EXPECT_EQ(pm->op_pmreplroot, nullptr) << c.what;
        }
        op_free_tree(gcb, o);
    }
}

TEST_F(PatternOp, EvaluatedReplacementMovesTheStatementLineToTheEndOfTheConstruct)
{
    compile_cop.cop_line = 3;
    gcb->multi_end_line = 5;
    OP* o = op_new_pattern(gcb, OP_SUBST, 0);
    op_as_pattern(o)->op_pmflags |= PMf_EVAL;
    op_pattern_runtime(gcb, o, kstr("x"), kstr("1"));
    EXPECT_EQ(compile_cop.cop_line, 5);
    op_free_tree(gcb, o);
}

TEST_F(PatternOp, BindingPutsTheSubjectFirst)
{
    struct Case {
        const char* what;
        int32_t type;
        std::function<OP*(PatternOp*)> right;
        const char* shape;
        bool subject_modified;
    } cases[] = {
        {"$x =~ /y/", OP_MATCH, [](PatternOp* t) { return t->match("y"); }, "match(rv2sv(gv))", false},
        {"$x !~ /y/", OP_NOT, [](PatternOp* t) { return t->match("y"); }, "not(match(rv2sv(gv)))", false},
        {"$x =~ $re", OP_MATCH, [](PatternOp* t) { return t->scalar_var("re"); },
         "match(rv2sv(gv) regcomp(regcreset(rv2sv(gv))))", false},
        {"$x =~ s/a/b/", OP_MATCH,
         [](PatternOp* t) {
             return op_pattern_runtime(t->interp(), op_new_pattern(t->interp(), OP_SUBST, 0), t->kstr("a"), t->kstr("b"));
         },
         "subst(rv2sv(gv) const)", true},
    };
    for (const Case& c : cases) {
        OP* o = op_new_binding(gcb, c.type, scalar_var("x"), c.right(this));
        EXPECT_EQ(shape(gcb, o), c.shape) << c.what;
        OP* pm = c.type == OP_NOT ? op_first_kid(o) : o;
        EXPECT_TRUE(pm->op_flags & OPf_STACKED) << c.what;
        EXPECT_EQ((op_first_kid(pm)->op_flags & OPf_MOD) != 0, c.subject_modified) << c.what;
        op_free_tree(gcb, o);
    }
    EXPECT_EQ(warnings(), "");
}

TEST_F(PatternOp, BindingAnAggregateWarnsOnce)
{
    warnings_on();
    struct Case {
        std::function<OP*(PatternOp*)> left;
        std::function<OP*(PatternOp*)> right;
        const char* warning;
    } cases[] = {
        {[](PatternOp* t) { return t->array_var("a"); }, [](PatternOp* t) { return t->match("x"); },
         "Applying pattern match (m//) to @array will act on scalar(@array).\n"},
        {[](PatternOp* t) { return t->array_var("a"); }, [](PatternOp* t) { return t->scalar_var("re"); },
         "Applying pattern match (m//) to @array will act on scalar(@array).\n"},
        {[](PatternOp* t) { return t->hash_var("h"); },
         [](PatternOp* t) {
             return op_pattern_runtime(t->interp(), op_new_pattern(t->interp(), OP_SUBST, 0), t->kstr("a"), t->kstr("b"));
         },
         "Applying substitution (s///) to %hash will act on scalar(%hash).\n"},
    };
    for (const Case& c : cases) {
        uint32_t before = gcb->err.len;
        OP* o = op_new_binding(gcb, OP_MATCH, c.left(this), c.right(this));
        bool error = false;
        EXPECT_EQ(hostsim::Host::decode_lines(std::string(gcb->err.buf + before, gcb->err.len - before), &error),
                  c.warning);
        op_free_tree(gcb, o);
    }
}

// tr/// with byte texts: one table entry per byte, -1 untouched, -2 deleted.
class Trans : public PatternOp {
public:
    OP* tr(const std::string& from, const std::string& to, uint8_t flags)
    {
        int16_t* table = static_cast<int16_t*>(pool_malloc(gcb, 256 * sizeof(int16_t)));
        OP* o = op_new_string(gcb, OP_TRANS, 0, reinterpret_cast<char*>(table));
        o->op_private = flags;
        OP* t = op_new_value(gcb, OP_CONST, 0, sv_new_from_bytes(gcb, from.data(), from.size()));
        OP* r = op_new_value(gcb, OP_CONST, 0, sv_new_from_bytes(gcb, to.data(), to.size()));
        return op_pattern_runtime(gcb, o, t, r);
    }
    static int16_t at(OP* o, uint8_t c) { return reinterpret_cast<int16_t*>(op_string_pv(o))[c]; }
};

TEST_F(Trans, ByteTables)
{
    constexpr uint8_t S = 0x08, D = 0x10, C = 0x20;
    struct Case {
        const char* what;
        std::string from, to;
        uint8_t flags;
        uint8_t privs;  // PRIVATE after
        std::vector<std::pair<uint8_t, int16_t>> entries;
    } cases[] = {
        {"tr/abc//", "abc", "", 0, 0x04, {{'a', 'a'}, {'c', 'c'}, {'d', -1}}},
        {"tr/abc//s", "abc", "", S, S, {{'a', 'a'}, {'d', -1}}},
        {"tr/abc//d", "abc", "", D, D, {{'a', -2}, {'c', -2}, {'d', -1}}},
        {"tr/abc/xy/", "abc", "xy", 0, 0, {{'a', 'x'}, {'b', 'y'}, {'c', 'y'}}},
        {"tr/abc/xy/d", "abc", "xy", D, D, {{'a', 'x'}, {'b', 'y'}, {'c', -2}}},
        {"tr/aba/xyz/", "aba", "xyz", 0, 0, {{'a', 'x'}, {'b', 'y'}}},
        {"tr/a//c", "a", "", C, C, {{'a', -1}, {0, 0}, {'b', 'b'}, {255, 255}}},
        {"tr/ab/x/c", "ab", "x", C, C, {{0, 'x'}, {'a', -1}, {'c', 'x'}, {255, 'x'}}},
        {"tr/ab/xy/cd", "ab", "xy", C | D, C | D, {{0, 'x'}, {1, 'y'}, {2, -2}, {'b', -1}}},
        {"tr/a/\\xe9/", "a", "\xe9", 0, 0x40, {{'a', 0xe9}}},
        {"tr/\\xe9/a/", "\xe9", "a", 0, 0, {{0xe9, 'a'}}},
        {"tr/\\x80//c", "\x80", "\xe9", C, C | 0x40, {{0, 0xe9}, {0x80, -1}, {0x81, 0xe9}}},
    };
    for (const Case& c : cases) {
        gcb->compile_hints = 0;
        OP* o = tr(c.from, c.to, c.flags);
        EXPECT_EQ(o->op_type, OP_TRANS);
        EXPECT_EQ(o->op_private, c.privs) << c.what;
        for (auto [byte, value] : c.entries)
            EXPECT_EQ(at(o, byte), value) << c.what << " byte " << int(byte);
        EXPECT_TRUE(gcb->compile_hints & HINT_BLOCK_SCOPE);
        EXPECT_FALSE(op_has_kids(o));
        op_free_tree(gcb, o);
    }
}

TEST_F(Trans, BindingAnIdenticalTransliterationLeavesTheSubjectUnmodified)
{
    struct Case {
        std::string to;
        bool modified;
    } cases[] = {{"", false}, {"b", true}};
    for (const Case& c : cases) {
        OP* o = op_new_binding(gcb, OP_MATCH, scalar_var("x"), tr("a", c.to, 0));
        EXPECT_EQ(shape(gcb, o), "null(rv2sv(gv) trans)");
        EXPECT_TRUE(o->op_flags & OPf_STACKED);
        EXPECT_TRUE(op_first_kid(o)->op_sibling->op_flags & OPf_STACKED);
        EXPECT_EQ((op_first_kid(o)->op_flags & OPf_MOD) != 0, c.modified) << c.to;
        op_free_tree(gcb, o);
    }
}

// tr/// with a UTF-8 text on either side: the swash description of ranges
// and targets, the bit width, the none value, the FINAL entry, and the
// complement built from the from-text's characters sorted by code point.
TEST_F(Trans, Utf8Tables)
{
    constexpr uint8_t S = 0x08, D = 0x10, C = 0x20;
    const std::string range = "\xFF";  // the lexer's range marker
    struct Case {
        const char* what;
        std::string from, to;
        bool from_utf8, to_utf8;
        uint8_t flags;
        uint8_t privs;
        const char* lines;  // after "utf8||# comment\n"
        int32_t bits, none;
        int64_t final;  // -1: no FINAL entry
    } cases[] = {
        {"tr/\\x{100}/a/", "\xC4\x80", "a", true, false, 0, 0x01, "0100\t\t0061\n", 8, 0x62, -1},
        {"tr/\\x{100}-\\x{102}/a/", "\xC4\x80" + range + "\xC4\x82", "a", true, false, 0, 0x01,
         "0100\t\t0061\n0101\t0102\tXXXX\n", 8, 0x62, 0x61},
        {"tr/\\x{100}-\\x{102}/a/d", "\xC4\x80" + range + "\xC4\x82", "a", true, false, D, 0x01 | D,
         "0100\t\t0061\n0101\t0102\tXXXX\n", 8, 0x62, -1},
        {"tr/\\x{100}//", "\xC4\x80", "", true, false, 0, 0x01 | 0x04, "0100\t\t0100\n", 16, 0x101, -1},
        {"tr/\\x{100}//s", "\xC4\x80", "", true, false, S, 0x01 | S, "0100\t\t0100\n", 16, 0x101, -1},
        {"tr/a/\\x{100}/", "a", "\xC4\x80", false, true, 0, 0x02 | 0x40, "0061\t\t0100\n", 16, 0x101, -1},
        {"tr/\\xe9/\\x{100}/", "\xe9", "\xC4\x80", false, true, 0, 0x02, "00e9\t\t0100\n", 16, 0x101, -1},
        // The complement of "\x{100}a": the ranges around both characters,
        // whatever their written order, so "a" is not translated.
        {"tr/\\x{100}a/X/c", "\xC4\x80" "a", "X", true, false, C, 0x01 | C,
         "0000\t\t0058\n0001\t0060\tXXXX\n0062\t00ff\tXXXX\n0101\t7fffffff\tXXXX\n", 8, 0x59, 0x58},
        {"tr/a\\x{100}/X/c", "a\xC4\x80", "X", true, false, C, 0x01 | C,
         "0000\t\t0058\n0001\t0060\tXXXX\n0062\t00ff\tXXXX\n0101\t7fffffff\tXXXX\n", 8, 0x59, 0x58},
        {"tr/\\x{100}-\\x{1ff}b/X/cd", "\xC4\x80" + range + "\xC7\xBF" "b", "X", true, false, C | D, 0x01 | C | D,
         "0000\t\t0058\n0001\t0061\tXXXX\n0063\t00ff\tXXXX\n0200\t7fffffff\tXXXX\n", 8, 0x59, -1},
    };
    for (const Case& c : cases) {
        swashes::calls = 0;
        int16_t* table = static_cast<int16_t*>(pool_malloc(gcb, 256 * sizeof(int16_t)));
        OP* o = op_new_string(gcb, OP_TRANS, 0, reinterpret_cast<char*>(table));
        o->op_private = c.flags;
        SV* t = sv_new_from_bytes(gcb, c.from.data(), c.from.size());
        SV* r = sv_new_from_bytes(gcb, c.to.data(), c.to.size());
        if (c.from_utf8)
            t->flags |= SVf_UTF8;
        if (c.to_utf8)
            r->flags |= SVf_UTF8;
        o = op_pattern_runtime(gcb, o, op_new_value(gcb, OP_CONST, 0, t), op_new_value(gcb, OP_CONST, 0, r));
        ASSERT_EQ(swashes::calls, 1) << c.what;
        EXPECT_EQ(swashes::description, std::string("utf8||# comment\n") + c.lines) << c.what;
        EXPECT_EQ(swashes::bits, c.bits) << c.what;
        EXPECT_EQ(swashes::none, c.none) << c.what;
        EXPECT_EQ(o->op_private, c.privs) << c.what;
        SV* swash = reinterpret_cast<SV*>(op_string_pv(o));
        SV** final = hv_fetch_str(gcb, sv_as<HV>(sv_rv(swash)), "FINAL", 5, 0);
        EXPECT_EQ(final ? sv_to_int(gcb, *final) : -1, c.final) << c.what;
        op_free_tree(gcb, o);
    }
    EXPECT_EQ(host->messages.size(), 0u) << "the complement is sorted here, not by the host";
}

}  // namespace
