// The pattern text parser: every refusal with its status inserts, the
// generated qr expression's effect, and the replacement tokenizer and tree.
#include "bridge_fixture.h"
#include "ds/src/prxre.h"

#include <random>

namespace {

using bridgetest::Bridge;
using bridgetest::len4;

class TextParser : public Bridge {
protected:
    PERLGCB* gcb = nullptr;

    void SetUp() override
    {
        Bridge::SetUp();
        gcb = rexhost_interp_create(task());
        ASSERT_NE(gcb, nullptr);
        ASSERT_EQ(gcb->err.len, 0) << "the interpreter did not start";
    }
    void TearDown() override
    {
        rexhost_interp_destroy(gcb, task());
        Bridge::TearDown();
    }

    struct Parsed {
        uint32_t status;
        re_compiled* pattern;
        ReplaceNode* tree;
    };
    Parsed parse(const std::string& text)
    {
        Parsed p{0, reinterpret_cast<re_compiled*>(1), nullptr};
        p.status = rexhost_parse(gcb, task(), text.data(), text.data() + text.size(), &p.pattern, &p.tree);
        return p;
    }
    void drop(Parsed& p) { rexhost_regfree(gcb, task(), p.pattern, p.tree); }
};

struct Refusal {
    const char* text;
    uint32_t status;
    std::vector<std::string> inserts;  // empty: no status message
};

TEST_F(TextParser, RefusalsAndTheirInserts)
{
    const std::vector<Refusal> cases = {
        {"", 0x80171001, {}},
        {"    ", 0x80171001, {}},
        {"m   ", 0x80171001, {}},
        {"1abc1", 0x8017112C, {"1", len4(5), "1abc1"}},
        {" x/a/ ", 0x8017112C, {"x", len4(4), "x/a/"}},
        {"/abc", 0x8017112D, {"/", len4(4), "/abc"}},
        {"m{a\\}", 0x8017112D, {"}", len4(5), "m{a\\}"}},
        {"/a/g", 0x8017112E, {"g", len4(4), "/a/g"}},
        {"/a/ iC", 0x8017112E, {"C", len4(6), "/a/ iC"}},
        {"/a/q", 0x8017112F, {"q", len4(4), "/a/q"}},
        {"m((?:a))", 0x8017112F, {")", len4(8), "m((?:a))"}},
        {"/a/qi", 0x8017113A, {len4(2), "qi", "/", len4(5), "/a/qi"}},
        {"s/a/b", 0x80171131, {"/", len4(5), "s/a/b"}},
        {"s{a}", 0x80171131, {"}", len4(4), "s{a}"}},
        {"s{a}(b", 0x80171131, {")", len4(6), "s{a}(b"}},
        {"/a$b/", 0x80171133, {len4(5), "/a$b/"}},
        {"m{$x}", 0x80171133, {len4(5), "m{$x}"}},
        {"/a@b/", 0x80171134, {len4(5), "/a@b/"}},
        {"/(?{ 1 })/", 0x80171138, {"(?{})", len4(10), "/(?{ 1 })/"}},
        {"/(??{ 1 })/", 0x80171138, {"(??{})", len4(11), "/(??{ 1 })/"}},
        {"m[(?p{ 1 })]", 0x80171138, {"(?p{})", len4(12), "m[(?p{ 1 })]"}},
        {"/a\\Nb/", 0x80171139, {len4(6), "/a\\Nb/"}},
        {"m<a\\N>", 0x80171139, {len4(6), "m<a\\N>"}},
        // With the backslash as the delimiter every backslash ends the body,
        // as the interpreter reads it: what follows is flags, never code.
        {"\\a\\+s\\u\\Z\\", 0x8017113A, {len4(7), "+s\\u\\Z\\", "\\", len4(10), "\\a\\+s\\u\\Z\\"}},
        {"\\a\\;$_=1\\", 0x8017113A, {len4(6), ";$_=1\\", "\\", len4(9), "\\a\\;$_=1\\"}},
        {"\\a\\\\", 0x8017112F, {"\\", len4(4), "\\a\\\\"}},
        // Between brackets an escaped backslash escapes nothing after it:
        // the ">" ends the body where the interpreter ends the pattern.
        {"m<\\\\>b~1>", 0x8017113A, {len4(4), "b~1>", ">", len4(9), "m<\\\\>b~1>"}},
        // Texts the interpreter would not read as one pattern: "qr_..." is a
        // word, "qr=>" a quoted word, "$}" inside nested braces a variable
        // with a subscript, "@_" an array.
        {"_a_", 0x8017112C, {"_", len4(3), "_a_"}},
        {"=>print(1),local *f=i", 0x8017112C, {"=", len4(21), "=>print(1),local *f=i"}},
        {"m{{$}{print(1)}}", 0x80171133, {len4(16), "m{{$}{print(1)}}"}},
        {"m[[$][print(1)]]", 0x80171133, {len4(16), "m[[$][print(1)]]"}},
        {"/a@_[print(1)]/", 0x80171134, {len4(15), "/a@_[print(1)]/"}},
        // The interpreter drops the backslash of an escaped delimiter: an
        // escaped "$" or "@" delimiter is checked as the bare sign it becomes.
        {"$a\\$x$", 0x80171133, {len4(6), "$a\\$x$"}},
        {"@a\\@b@", 0x80171134, {len4(6), "@a\\@b@"}},
        {"m{@\\{print(1)\\}}", 0x80171134, {len4(16), "m{@\\{print(1)\\}}"}},
        {"$a@\\$b$", 0x80171134, {len4(7), "$a@\\$b$"}},
    };
    for (const Refusal& c : cases) {
        host->status_inserts.clear();
        Parsed p = parse(c.text);
        EXPECT_EQ(p.status, c.status) << c.text;
        EXPECT_EQ(p.pattern, nullptr) << c.text;
        if (c.inserts.empty()) {
            EXPECT_TRUE(host->status_inserts.empty()) << c.text;
        } else {
            ASSERT_EQ(host->status_inserts.size(), 1u) << c.text;
            EXPECT_EQ(host->status_inserts[0], c.inserts) << c.text;
        }
    }
    EXPECT_EQ(gcb->err.len, 0);  // refusals write no captured text
}

// Texts that pass the checks compile through the interpreter.
TEST_F(TextParser, AcceptedTextsCompile)
{
    struct Case {
        const char* text;
        const char* pattern_text;  // the compiled pattern's text
        uint32_t flags;            // of the pattern-flag bits i m s x
    };
    const Case cases[] = {
        {"/a$/", "a$", 0},
        {"'a$b@c'", "a$b@c", 0},
        {"  m /a/  ", "a", 0},
        {"m{a+}ix", "a+", PMf_FOLD | PMf_EXTENDED},
        {"/ab/MS", "ab", PMf_MULTILINE | PMf_SINGLELINE},
        {"m{a{2}}", "a{2}", 0},
        {"m(\\(x\\))", "(x)", 0},  // the delimiter escapes go, as in any qr(...)
        {"/a$|b/", "a$|b", 0},
        {"//", "", 0},
        {"\\a.\\", "a.", 0},
        {"m\\a\\i", "a", PMf_FOLD},
        {"m{a\\\\}", "a\\\\", 0},
        {"m{a{2}$}", "a{2}$", 0},  // "$" before the closer that ends the body
        {"=a=", "a", 0},
        {"$a\\$$", "a$", 0},
        // A ";" closer ends the expression in ";": it still gets its own
        // terminator, so the closer is not read as the statement's end.
        {";a;", "a", 0},
        {" m ;a; ", "a", 0},
        {";a\\;;", "a;", 0},
    };
    for (const Case& c : cases) {
        Parsed p = parse(c.text);
        EXPECT_EQ(p.status, 0u) << c.text;
        ASSERT_NE(p.pattern, nullptr) << c.text << ": " << std::string(gcb->err.buf ? gcb->err.buf : "", gcb->err.len > 0 ? gcb->err.len : 0);
        EXPECT_EQ(std::string(p.pattern->pattern_text, p.pattern->pattern_length), c.pattern_text) << c.text;
        EXPECT_EQ(p.pattern->analysis_flags & (PMf_FOLD | PMf_EXTENDED | PMf_MULTILINE | PMf_SINGLELINE), c.flags)
            << c.text;
        EXPECT_EQ(p.pattern->ref_count, 1) << c.text;  // the bridge's own reference
        EXPECT_FALSE(p.pattern->analysis_flags & RE_KEEP_ONCE) << c.text;
        EXPECT_EQ(p.tree, nullptr) << c.text;
        drop(p);
    }
    Parsed o = parse("/ab/O");
    ASSERT_NE(o.pattern, nullptr);
    EXPECT_TRUE(o.pattern->analysis_flags & RE_KEEP_ONCE);
    drop(o);
}

// A pattern the interpreter cannot compile is no refusal: status 0, the
// message in the captured standard error, no pattern.
TEST_F(TextParser, UncompilablePatternLeavesItsMessage)
{
    Parsed p = parse("/a(/");
    EXPECT_EQ(p.status, 0u);
    EXPECT_EQ(p.pattern, nullptr);
    bool error = false;
    std::string err = hostsim::Host::decode_lines(std::string(gcb->err.buf, gcb->err.len), &error);
    EXPECT_TRUE(error);
    EXPECT_NE(err.find("Unmatched ("), std::string::npos) << err;
    EXPECT_NE(err.find("m/a("), std::string::npos) << err;
    // The interpreter is whole: the next text compiles.
    rexhost_report_errors(task(), gcb, "PRXMATCH");
    Parsed q = parse("/a/");
    ASSERT_NE(q.pattern, nullptr);
    drop(q);
}

// A short rendering of a replacement tree.
std::string show(const ReplaceNode* n)
{
    if (!n)
        return "-";
    switch (n->kind) {
    case RN_UPPER_FIRST: return "u(" + show(n->child) + ")";
    case RN_LOWER_FIRST: return "l(" + show(n->child) + ")";
    case RN_UPPER: return "U(" + show(n->child) + ")";
    case RN_LOWER: return "L(" + show(n->child) + ")";
    case RN_QUOTE: return "Q(" + show(n->child) + ")";
    case RN_GROUP: return "$" + std::to_string(n->number);
    case RN_BACKREF: return "\\" + std::to_string(n->number);
    case RN_LITERAL: return "'" + std::string(n->text ? n->text : "", n->number) + "'";
    case RN_LIST: {
        std::string s = "[";
        int count = 0;
        for (const ReplaceNode* e = n->child; e; e = e->next, count++)
            s += (count ? "," : "") + show(e);
        return s + "]" + (count == n->number ? "" : "!count");
    }
    default: return "?";
    }
}

TEST_F(TextParser, SubstituteTextsGiveTheirReplacementTree)
{
    struct Case {
        const char* text;
        const char* tree;
    };
    const Case cases[] = {
        {"s/(a)/\\U$1\\E!/", "[U($1),'!']"},
        {"s/a/b/", "'b'"},
        {"s/a//", "''"},
        {"s/a/x\\/y/", "'x/y'"},
        {"s{a} {<$1>}", "['<',$1,'>']"},
        {"s{a}[(\\])]", "'(])'"},
        {"s'a'$x@y\\1'", "'$x@y\\1'"},
        {"s/(a)(b)/\\2${1}x/", "[\\2,$1,'x']"},
        {"s/a/\\$5 \\\\ \\@/", "'$5 \\ @'"},
        {"s/(a)/\\u\\L$1xY/", "u(L([$1,'xY']))"},
        {"s/(a)/\\Uab\\Lcd/", "[U('ab'),L('cd')]"},
        {"s/(a)/\\ufoo\\Ebar/", "[u('foo'),'bar']"},
        {"s/(a)/\\Qa.b\\E.c/", "[Q('a.b'),'.c']"},
        {"s/(a)/x\\ny/", "'x\\ny'"},
        {"s\\a\\b\\", "'b'"},
        {"s;a;b;", "'b'"},
        {"s;a;;", "''"},
    };
    for (const Case& c : cases) {
        Parsed p = parse(c.text);
        EXPECT_EQ(p.status, 0u) << c.text;
        EXPECT_NE(p.pattern, nullptr) << c.text;
        EXPECT_EQ(show(p.tree), c.tree) << c.text;
        drop(p);
    }
}

TEST_F(TextParser, ReplacementRefusals)
{
    struct Case {
        const char* text;
        uint32_t status;
    };
    const Case cases[] = {
        {"s/a/$x/", 0x80171135},
        {"s/a/${x}/", 0x80171135},
        {"s/a/b@c/", 0x80171136},
        {"s/a/${1/", 0x80171137},
        {"s/a/x${12/", 0x80171137},
    };
    for (const Case& c : cases) {
        Parsed p = parse(c.text);
        EXPECT_EQ(p.status, c.status) << c.text;
        EXPECT_EQ(p.pattern, nullptr) << c.text;
        EXPECT_EQ(p.tree, nullptr) << c.text;
    }
    // A trailing "$" or "@" is literal.
    Parsed p = parse("s/a/x$/");
    EXPECT_EQ(p.status, 0u);
    EXPECT_EQ(show(p.tree), "'x$'");
    drop(p);
}

// The tokenizer over a replacement text, one token at a time.
TEST_F(TextParser, TokenizerKindsAndValues)
{
    char text[] = "ab\\1$23${4}\\U\\Lx\\E\\Q";
    ReplaceLexer lx{};
    lx.text_start = text;
    lx.text_end = text + sizeof text - 1;
    lx.tok_start = lx.tok_end = text;
    lx.pool = gcb->pool;
    char stack[16] = {0};
    lx.case_stack = stack;
    std::vector<std::pair<int32_t, int32_t>> seen;
    for (int i = 0; i < 12; i++) {
        rexhost_next_token(&lx);
        seen.emplace_back(lx.kind, lx.kind == RN_LITERAL ? static_cast<int32_t>(lx.tok_end - lx.tok_start) : lx.value);
        if (lx.kind == RT_END || lx.kind == RT_ERROR)
            break;
    }
    const std::vector<std::pair<int32_t, int32_t>> want = {
        {RN_LITERAL, 2}, {RN_BACKREF, 1}, {RN_GROUP, 23}, {RN_GROUP, 4}, {RN_UPPER, 0},
        {RT_CASE_END, 0},  // the \L closes the open \U first
        {RN_LOWER, 0},  {RN_LITERAL, 1}, {RT_CASE_END, 0}, {RN_QUOTE, 0}, {RT_END, 0},
    };
    EXPECT_EQ(seen, want);
}

}  // namespace

namespace {

// Texts built at random from delimiters and the pieces that would run or
// interpolate code if any of them escaped the pattern (calls that print,
// subscripts, "=>", escaped delimiters and backslashes): whatever each text
// is refused with or compiles to, none of it may run. The interpreter's
// standard output stays empty.
TEST_F(TextParser, NoTextRunsAsCode)
{
    static const char* const pieces[] = {
        "print(1)", ";print(1);", "print(1)}", "{print(1)}", "[print(1)]", "\\", "\\\\", "$", "@", "{", "}", "[",
        "]", "(", ")", "<", ">", "=>", "=", "_", "#", "'", "\"", "\n", " ", ";", ":", "::", "-", "->", ",", "a",
        "x", "i", "\\Q", "\\E", "?", "!", "%", "&", "*", "+", ".", "/", "^", "`", "|", "~", "$_", "@_", "${",
        "@{", "$x", "\\$", "\\@", "0", "\t", "\r", "s", "m", "e", "&{", "*{", "(?{", "qw", "q", "y",
        "\\{", "\\}", "\\[", "\\]", "\\(", "\\)", "\\<", "\\>",
    };
    static const char delimiters[] = "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~\x01\x7f";
    static const char* const prefixes[] = {"", "", "m", "s", " m"};
    std::mt19937 rng(20261211);
    auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
    for (int i = 0; i < 20000; i++) {
        std::string d(1, delimiters[pick(sizeof delimiters - 1)]);
        std::string c = d == "{" ? "}" : d == "[" ? "]" : d == "(" ? ")" : d == "<" ? ">" : d;
        // The text's own delimiters, bare and escaped, join the pieces.
        const std::string own[] = {d, c, "\\" + d, "\\" + c};
        std::string text = prefixes[pick(5)] + d;
        for (size_t n = 1 + pick(8); n > 0; n--) {
            size_t k = pick(sizeof pieces / sizeof pieces[0] + 8);
            text += k < sizeof pieces / sizeof pieces[0] ? std::string(pieces[k]) : own[k % 4];
        }
        const std::string endings[] = {"", c, c + "i", c + "print(1)" + c, c + c};
        text += endings[pick(5)];
        Parsed p = parse(text);
        if (p.pattern)
            drop(p);
        ASSERT_EQ(gcb->out.len, 0) << "ran as code: " << text;
        gcb->err.len = 0;
    }
}

// Every delimiter with every short sequence of a sign, the delimiter itself
// (bare or escaped), a piece of code and the delimiter again: the places
// where the parser's idea of the body and the interpreter's could part.
TEST_F(TextParser, NoDelimiterSequenceRunsAsCode)
{
    static const char* const signs[] = {"", "$", "@", "\\", "$#", "@$"};
    static const char* const code[] = {"print(1)", "{print(1)}", "[print(1)]"};
    static const char delimiters[] = "!\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~";
    int texts = 0;
    for (const char* dp = delimiters; *dp; dp++) {
        std::string d(1, *dp);
        std::string c = d == "{" ? "}" : d == "[" ? "]" : d == "(" ? ")" : d == "<" ? ">" : d;
        const std::string own[] = {"", d, c, "\\" + d, "\\" + c};
        for (const char* sign : signs)
            for (const std::string& x : own)
                for (const char* k : code)
                    for (const std::string& y : own)
                        for (const std::string& end : {c, c + c}) {
                            std::string text = d + sign + x + k + y + end;
                            Parsed p = parse(text);
                            if (p.pattern)
                                drop(p);
                            ASSERT_EQ(gcb->out.len, 0) << "ran as code: " << text;
                            gcb->err.len = 0;
                            texts++;
                        }
    }
    EXPECT_EQ(texts, 32 * 6 * 5 * 3 * 5 * 2);
}

}  // namespace
