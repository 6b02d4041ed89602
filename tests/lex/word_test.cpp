// Words: labels, words quoted by "=>", keywords by group and by their own
// cases, CORE:: and the overrides of built-ins, sub and format
// declarations, sub calls, method calls, indirect objects and bare words.
#include <map>

#include "lex/read_fixture.h"

#include "ds/src/prxgv.h"
#include "ds/src/prxhv.h"
#include "ds/src/prxpad.h"

namespace lextest {
// Constant values of subs, as the tests set them.
std::map<CV*, SV*> constant_subs;
}  // namespace lextest

// The constant value of a sub: the double answers from the tests' table.
extern "C" SV* __wrap__Z14cv_const_valueP7PERLGCBP2CV(PERLGCB*, CV* cv)
{
    auto it = lextest::constant_subs.find(cv);
    return it == lextest::constant_subs.end() ? nullptr : it->second;
}

namespace lextest {
namespace {

struct Case {
    const char* text;
    const char* stream;
};

class Word : public Reader {
protected:
    void TearDown() override
    {
        constant_subs.clear();
        Reader::TearDown();
    }

    // Defines the sub of a name, with a prototype when given.
    CV* define_sub(const char* name, const char* proto = nullptr, bool imported = false)
    {
        GV* gv = gv_fetch_by_name(gcb, name, GV_ADD, SVt_PVCV);
        SV* sv = sv_new_undef(gcb, 0);
        sv_upgrade_body(gcb, sv, SVt_PVCV);
        if (proto)
            sv_set_bytes(gcb, sv, proto, std::strlen(proto));
        gv_gp(gv)->gp_cv = sv_as<CV>(sv);
        if (imported)
            gv_body(gv)->gvflags |= GVf_IMPORT_CV;
        return sv_as<CV>(sv);
    }

    void streams(std::initializer_list<Case> cases, bool eval = true)
    {
        for (const Case& c : cases)
            EXPECT_EQ(tokens(c.text, eval), c.stream) << c.text;
    }

    void warnings_on() { compile_cop.cop_warnings = reinterpret_cast<SV*>(WARNINGS_ALL); }
};

TEST_F(Word, Labels)
{
    streams({{"foo: while (1) {}", "STATEMENT_LABEL(foo) KW_WHILE@1 ( TERM_OP('1') ) { ; } ; EOF"},
             {"FOO : 1", "STATEMENT_LABEL(FOO) TERM_OP('1') ; EOF"},
             {"q: x :", "TERM_OP(' x ') ; EOF"},
             {"foo::bar", "BAREWORD('foo::bar' bare) ; EOF"}});
    // Not at the start of a statement, a word and ":" are no label.
    open("1 ? a : b");
    EXPECT_EQ(read_rest(), "TERM_OP('1') ? BAREWORD('a' bare) : BAREWORD('b' bare) ; EOF");
}

TEST_F(Word, WordsBeforeFatCommaAreQuoted)
{
    streams({{"print => 1", "BAREWORD('print' bare) , TERM_OP('1') ; EOF"},
             {"if => 1", "BAREWORD('if' bare) , TERM_OP('1') ; EOF"},
             {"foo=>1", "BAREWORD('foo' bare) , TERM_OP('1') ; EOF"},
             {"(q => 1)", "( BAREWORD('q' bare) , TERM_OP('1') ) ; EOF"}});
}

TEST_F(Word, KeywordGroups)
{
    streams({{"abs 1", "NAMED_UNARY(abs) TERM_OP('1') ; EOF"},
             {"abs(1)", "FUNC_OPT_ARG(abs) ( TERM_OP('1') ) ; EOF"},
             {"abs (1)", "FUNC_OPT_ARG(abs) ( TERM_OP('1') ) ; EOF"},
             {"defined $x", "NAMED_UNARY(defined) $ BAREWORD('x' entered) ; EOF"},
             {"readpipe 1", "NAMED_UNARY(backtick) TERM_OP('1') ; EOF"},
             {"getc", "NAMED_UNARY(getc) ; EOF"},
             {"time", "FUNC_NOARGS(time) ; EOF"},
             {"times", "FUNC_NOARGS(tms) ; EOF"},
             {"wantarray", "FUNC_NOARGS(wantarray) ; EOF"},
             {"join 1", "LIST_OP(join) TERM_OP('1') ; EOF"},
             {"join(1)", "FUNC_PAREN(join) ( TERM_OP('1') ) ; EOF"},
             {"join\n(1)", "FUNC_PAREN(join) ( TERM_OP('1') ) ; EOF"},
             {"getsockopt 1", "LIST_OP(gsockopt) TERM_OP('1') ; EOF"},
             {"socketpair 1", "LIST_OP(sockpair) TERM_OP('1') ; EOF"},
             {"opendir 1", "LIST_OP(open_dir) TERM_OP('1') ; EOF"},
             {"grep 1", "LIST_OP(grepstart) TERM_OP('1') ; EOF"},
             {"map 1", "LIST_OP(mapstart) TERM_OP('1') ; EOF"},
             {"printf 1", "LIST_OP(prtf) TERM_OP('1') ; EOF"},
             {"system 1", "LIST_OP(system) TERM_OP('1') ; EOF"},
             {"return 1", "LIST_OP(return) TERM_OP('1') ; EOF"}});
    open("join 1");
    EXPECT_EQ(next(), "LIST_OP(join)");
    EXPECT_EQ(gcb->expect, XTERM);
    EXPECT_EQ(gcb->last_list_op, OP_JOIN);
    EXPECT_EQ(gcb->last_list_op_pos, gcb->prev_token_pos);
    open("print 1");
    next();
    EXPECT_EQ(gcb->expect, XREF);
    open("abs 1");
    next();
    EXPECT_EQ(gcb->expect, XTERM);
    EXPECT_EQ(gcb->last_unary_pos, gcb->prev_token_pos);
    EXPECT_EQ(gcb->last_list_op, OP_ABS);
}

TEST_F(Word, OperatorWords)
{
    streams({{"1 and 2", "TERM_OP('1') LOW_AND TERM_OP('2') ; EOF"},
             {"1 or 2", "TERM_OP('1') LOW_OR(or) TERM_OP('2') ; EOF"},
             {"1 xor 2", "TERM_OP('1') LOW_OR(xor) TERM_OP('2') ; EOF"},
             {"not 1", "LOW_NOT TERM_OP('1') ; EOF"},
             {"not (1)", "FUNC_OPT_ARG(not) ( TERM_OP('1') ) ; EOF"},
             {"1 cmp 2", "TERM_OP('1') EQ_OP(scmp) TERM_OP('2') ; EOF"},
             {"1 eq 2", "TERM_OP('1') EQ_OP(seq) TERM_OP('2') ; EOF"},
             {"1 ne 2", "TERM_OP('1') EQ_OP(sne) TERM_OP('2') ; EOF"},
             {"1 lt 2", "TERM_OP('1') REL_OP(slt) TERM_OP('2') ; EOF"},
             {"1 gt 2", "TERM_OP('1') REL_OP(sgt) TERM_OP('2') ; EOF"},
             {"1 le 2", "TERM_OP('1') REL_OP(sle) TERM_OP('2') ; EOF"},
             {"1 ge 2", "TERM_OP('1') REL_OP(sge) TERM_OP('2') ; EOF"},
             {"1 x 2", "TERM_OP('1') MUL_OP(repeat) TERM_OP('2') ; EOF"},
             {"x3", "BAREWORD('x3' bare) ; EOF"},
             {"x", "BAREWORD('x' bare) ; EOF"}});
}

TEST_F(Word, StatementWords)
{
    streams({{"if (1) {} elsif (2) {} else {}",
              "KW_IF@1 ( TERM_OP('1') ) { ; } KW_ELSIF@1 ( TERM_OP('2') ) { ; } KW_ELSE { ; } ; EOF"},
             {"unless (1) {}", "KW_UNLESS@1 ( TERM_OP('1') ) { ; } ; EOF"},
             {"until (1) {}", "KW_UNTIL@1 ( TERM_OP('1') ) { ; } ; EOF"},
             {"for my $i (1) {}", "KW_FOR@1 KW_MY(1) $ LEXICAL_VAR(padany 1) ( TERM_OP('1') ) { ; } ; EOF"},
             {"foreach $i (1) {}", "KW_FOR@1 $ BAREWORD('i' entered) ( TERM_OP('1') ) { ; } ; EOF"},
             {"for (;;) {}", "KW_FOR@1 ( ; ; ) { ; } ; EOF"},
             {"while (1) {} continue {}",
              "KW_WHILE@1 ( TERM_OP('1') ) { ; } KW_CONTINUE { ; } ; EOF"},
             {"do {1}", "KW_DO { TERM_OP('1') ; } ; EOF"},
             {"do foo", "KW_DO BAREWORD('foo' bare) ; EOF"},
             {"do $f", "KW_DO $ BAREWORD('f' entered) ; EOF"},
             {"last FOO", "LOOP_EXIT(last) BAREWORD('FOO' bare) ; EOF"},
             {"next", "LOOP_EXIT(next) ; EOF"},
             {"redo L", "LOOP_EXIT(redo) BAREWORD('L' bare) ; EOF"},
             {"goto &f", "LOOP_EXIT(goto) & BAREWORD('f' entered) ; EOF"},
             {"dump", "LOOP_EXIT(dump) ; EOF"},
             {"last if 1", "LOOP_EXIT(last) KW_IF@1 TERM_OP('1') ; EOF"},
             {"local $x", "KW_LOCAL(0) $ BAREWORD('x' entered) ; EOF"},
             {"eval { 1 }", "NAMED_UNARY(entereval) { TERM_OP('1') ; } ; EOF"},
             {"eval(1)", "FUNC_OPT_ARG(entereval) ( TERM_OP('1') ) ; EOF"},
             {"package Foo::Bar;", "KW_PACKAGE BAREWORD('Foo::Bar' bare) ; EOF"}});
    open("eval { 1 }");
    next();
    EXPECT_EQ(gcb->expect, XTERMBLOCK);
    open("do {1}");
    next();
    EXPECT_EQ(gcb->expect, XTERMBLOCK);
    open("for my $x (1) {}", false);
    EXPECT_EQ(tokens("for foo (1) {}", false), "! Missing $ on loop variable.");
}

TEST_F(Word, UseNoAndRequire)
{
    gcb->expect = XSTATE;
    streams({{"use strict;", "KW_USE(1) BAREWORD(null) BAREWORD('strict' bare) ; EOF"},
             {"use Foo 1.5 qw(a);",
              "KW_USE(1) BAREWORD('1.5') BAREWORD('Foo' bare) ( TERM_OP('a') ) ; EOF"},
             {"use 5.006;", "KW_USE(1) BAREWORD(null) BAREWORD('5.006') ; EOF"},
             {"no warnings;", "KW_USE(0) BAREWORD(null) BAREWORD('warnings' bare) ; EOF"},
             {"require Foo::Bar;", "NAMED_UNARY(require) BAREWORD('Foo::Bar' bare) ; EOF"},
             {"require 'x.pl';", "NAMED_UNARY(require) TERM_OP('x.pl') ; EOF"}});
    EXPECT_NE(gv_stash_by_name(gcb, "Foo::Bar", 0), nullptr) << "require creates the package";
    queued_errors.clear();
    open("1; use strict;");
    next();
    next();
    EXPECT_EQ(next(), "KW_USE(1)");
    EXPECT_EQ(queued_errors.size(), 1u);
    EXPECT_EQ(queued_errors[0].substr(0, 31), "\"use\" not allowed in expression");
    queued_errors.clear();
    open("require <x>;");
    EXPECT_EQ(next(), "NAMED_UNARY(require)");
    ASSERT_EQ(queued_errors.size(), 1u);
    EXPECT_EQ(queued_errors[0].substr(0, 20), "<> should be quotes ");
}

TEST_F(Word, QuoteWords)
{
    streams({{"q{a}", "TERM_OP('a') ; EOF"},
             {"qq{a$x}", "FUNC_PAREN(stringify) ( TERM_OP('a') ADD_OP(concat) $ BAREWORD('x' entered) ) ; EOF"},
             {"qx{ls}", "FUNC_PAREN(backtick) ( TERM_OP('ls') ) ; EOF"},
             {"qw(a b\tc)", "( TERM_OP(list('a', 'b', 'c')) ) ; EOF"},
             {"qw()", "( ) ; EOF"},
             {"qw(a\\\\b)", "( TERM_OP('a\\b') ) ; EOF"},
             {"m{a}g", "PATTERN_OP(match 0x100) ( TERM_OP('a') ) ; EOF"},
             {"s/a/b/", "PATTERN_OP(subst 0x0) ( TERM_OP('a') , TERM_OP('b') ) ; EOF"},
             {"tr/a/b/", "PATTERN_OP(trans) ( TERM_OP('a') , TERM_OP('b') ) ; EOF"},
             {"y/a/b/", "PATTERN_OP(trans) ( TERM_OP('a') , TERM_OP('b') ) ; EOF"},
             {"s#a#b#", "PATTERN_OP(subst 0x0) ( TERM_OP('a') , TERM_OP('b') ) ; EOF"}});
    EXPECT_EQ(tokens("q{a", false), "! Can't find string terminator \"}\" anywhere before EOF.");
    gcb->err.len = 0;
    warnings_on();
    first("qw(a,b c#d)", 2);
    EXPECT_EQ(take_warnings(), "Possible attempt to separate words with commas.\n");
}

TEST_F(Word, SpecialLiterals)
{
    compile_cop.cop_line = 7;
    gcb->current_package_name = pv("main");
    EXPECT_EQ(first("__LINE__", 1), "TERM_OP('7')");
    EXPECT_EQ(first("__PACKAGE__", 1), "TERM_OP('main')");
    EXPECT_EQ(first("__FILE__", 1), "TERM_OP(undef)");
    EXPECT_EQ(tokens("1; __END__ junk ("), "TERM_OP('1') ; ; EOF");
    EXPECT_EQ(tokens("__DATA__\n)"), "; EOF");
}

TEST_F(Word, CoreNames)
{
    streams({{"CORE::print 1", "LIST_OP(print) TERM_OP('1') ; EOF"},
             {"CORE::length $x", "NAMED_UNARY(length) $ BAREWORD('x' entered) ; EOF"},
             {"CORE", "BAREWORD('CORE' bare) ; EOF"},
             {"CORE => 1", "BAREWORD('CORE' bare) , TERM_OP('1') ; EOF"}});
    EXPECT_EQ(tokens("CORE::foo", false), "! CORE::foo is not a keyword.");
    gcb->err.len = 0;
    EXPECT_EQ(tokens("CORE::GLOBAL::die", false), "! CORE::GLOBAL is not a keyword.");
}

TEST_F(Word, OverridesOfBuiltins)
{
    // An imported sub wins over the built-in; a sub that is only defined
    // is hidden by it, with a warning.
    define_sub("open", nullptr, true);
    EXPECT_EQ(tokens("open 1"), "SUB_CALL_MARK BAREWORD(rv2cv p0x81(gv)) TERM_OP('1') ; EOF");
    define_sub("close");
    warnings_on();
    EXPECT_EQ(tokens("close 1"), "NAMED_UNARY(close) TERM_OP('1') ; EOF");
    EXPECT_EQ(take_warnings(), "Ambiguous call resolved as CORE::close(), qualify as such or use &.\n");
    EXPECT_EQ(tokens("CORE::close 1"), "NAMED_UNARY(close) TERM_OP('1') ; EOF");
    EXPECT_EQ(take_warnings(), "");
    // Where an operator is expected the built-in always stands.
    EXPECT_EQ(tokens("1 x 2"), "TERM_OP('1') MUL_OP(repeat) TERM_OP('2') ; EOF");
    // CORE::GLOBAL:: overrides by import.
    define_sub("CORE::GLOBAL::die", nullptr, true);
    EXPECT_EQ(first("die 1", 2), "SUB_CALL_MARK BAREWORD(rv2cv p0x81(gv))");
    EXPECT_EQ(first("warn 1", 1), "LIST_OP(warn)");
}

TEST_F(Word, LockIsWeak)
{
    EXPECT_EQ(first("lock $x", 1), "NAMED_UNARY(lock)");
    define_sub("lock");
    EXPECT_EQ(first("lock $x", 1), "SUB_CALL_MARK");
    HV* inc = gv_ensure_hash(gcb, gv_fetch_by_name(gcb, "INC", GV_ADD, SVt_PVHV)) ? gv_gp(gv_fetch_by_name(gcb, "INC", 0, SVt_PVHV))->gp_hv : nullptr;
    ASSERT_NE(inc, nullptr);
    hv_store_str(gcb, inc, "Thread.pm", 9, pv("Thread.pm"), 0);
    EXPECT_EQ(first("lock $x", 1), "NAMED_UNARY(lock)");
}

TEST_F(Word, SubCalls)
{
    define_sub("foo");
    define_sub("none", "");
    define_sub("one", "$");
    define_sub("blk", "&@");
    streams({{"foo 1", "SUB_CALL_MARK BAREWORD(rv2cv p0x81(gv)) TERM_OP('1') ; EOF"},
             {"foo(1)", "& BAREWORD('foo' bare) ( TERM_OP('1') ) ; EOF"},
             {"none + 1", "SUB_CALL_NOARGS(rv2cv p0x81(gv)) ADD_OP(add) TERM_OP('1') ; EOF"},
             {"one 1", "SUB_CALL_UNARY(rv2cv p0x81(gv)) TERM_OP('1') ; EOF"},
             {"blk { 1 } 2", "SUB_CALL_BLOCK(rv2cv p0x81(gv)) { TERM_OP('1') ; } TERM_OP('2') ; EOF"},
             {"blk 1", "SUB_CALL_MARK BAREWORD(rv2cv p0x81(gv)) TERM_OP('1') ; EOF"},
             {"print foo(1)", "LIST_OP(print) & BAREWORD('foo' bare) ( TERM_OP('1') ) ; EOF"}});
    open("blk {");
    next();
    EXPECT_EQ(str(gcb->sub_name), "__ANON__");
    open("foo 1");
    next();
    EXPECT_EQ(gcb->last_list_op, OP_ENTERSUB);
    EXPECT_EQ(gcb->expect, XTERM);
}

TEST_F(Word, ConstantSubs)
{
    CV* pi = define_sub("PI", "");
    constant_subs[pi] = pv("3.14");
    streams({{"PI", "BAREWORD('3.14') ; EOF"},
             {"PI()", "BAREWORD('3.14') ; EOF"},
             {"PI( )", "BAREWORD('3.14') ; EOF"},
             {"PI(1)", "& BAREWORD('PI' bare) ( TERM_OP('1') ) ; EOF"}});
}

TEST_F(Word, MethodCalls)
{
    streams({{"new Foo", "METHOD_NAME('new' bare) BAREWORD('Foo' bare) ; EOF"},
             {"new Foo (1)", "METHOD_NAME_PAREN('new' bare) BAREWORD('Foo' bare) ( TERM_OP('1') ) ; EOF"},
             {"new Foo:: (1)", "METHOD_NAME_PAREN('new' bare) BAREWORD('Foo' bare) ( TERM_OP('1') ) ; EOF"},
             {"new Foo => 1", "BAREWORD('new' bare) BAREWORD('Foo' bare) , TERM_OP('1') ; EOF"},
             {"meth $obj 1", "METHOD_NAME('meth' bare) $ BAREWORD('obj' entered) TERM_OP('1') ; EOF"},
             {"meth {$obj} 1", "METHOD_NAME('meth' bare) { $ BAREWORD('obj' entered) ; } TERM_OP('1') ; EOF"}});
    open("meth $obj");
    EXPECT_EQ(next(), "METHOD_NAME('meth' bare)");
    EXPECT_EQ(gcb->last_list_op, OP_METHOD);
    EXPECT_EQ(gcb->expect, XBLOCK);
    // A sub of the second word's name makes it no class.
    define_sub("Bar");
    EXPECT_EQ(first("new Bar", 1), "BAREWORD('new' bare)");
}

TEST_F(Word, IndirectObjects)
{
    streams({{"print STDERR 1", "LIST_OP(print) BAREWORD('STDERR' bare) TERM_OP('1') ; EOF"},
             {"print STDERR", "LIST_OP(print) BAREWORD('STDERR' bare) ; EOF"},
             {"sort byname @x",
              "LIST_OP(sort) BAREWORD('byname' bare) @ BAREWORD('x' entered) ; EOF"}});
    open("print STDERR 1");
    next();
    next();
    EXPECT_EQ(gcb->expect, XTERM);
}

TEST_F(Word, BareWords)
{
    streams({{"foo", "BAREWORD('foo' bare) ; EOF"},
             {"Foo::Bar", "BAREWORD('Foo::Bar' bare) ; EOF"},
             {"Foo'Bar", "BAREWORD('Foo::Bar' bare) ; EOF"},
             {"Foo::", "BAREWORD('Foo' bare) ; EOF"},
             {"::foo", "BAREWORD('::foo' bare) ; EOF"}});
    gcb->compile_hints |= HINT_STRICT_SUBS;
    EXPECT_EQ(first("foo", 1), "BAREWORD('foo' bare strict)");
    gcb->compile_hints &= ~HINT_STRICT_SUBS;
    warnings_on();
    first("foo", 1);
    EXPECT_EQ(take_warnings(), "Unquoted string \"foo\" may clash with future reserved word.\n");
    first("Foo", 1);
    EXPECT_EQ(take_warnings(), "");
    first("Nope::", 1);
    EXPECT_EQ(take_warnings(), "Bareword \"Nope::\" refers to nonexistent package.\n");
    gv_stash_by_name(gcb, "Yes", 1);
    first("Yes::", 1);
    EXPECT_EQ(take_warnings(), "");
    EXPECT_EQ(tokens("Foo::$x", false), "! Bad name after Foo::.");
}

TEST_F(Word, SubDeclarations)
{
    gcb->current_package_name = pv("main");
    streams({{"sub foo { 1 }", "KW_SUB BAREWORD('foo' bare) { TERM_OP('1') ; } ; EOF"},
             {"sub foo ($$) ;", "KW_SUB BAREWORD('foo' bare) TERM_OP('$$') ; EOF"},
             {"sub foo ( $ ; @ ) ;", "KW_SUB BAREWORD('foo' bare) TERM_OP('$;@') ; EOF"},
             {"sub A::b {}", "KW_SUB BAREWORD('A::b' bare) { ; } ; EOF"},
             {"$x = sub { 1 }", "$ BAREWORD('x' entered) ASSIGN_OP(0) KW_ANON_SUB { TERM_OP('1') ; } ; EOF"},
             {"$x = sub ($) { 1 }",
              "$ BAREWORD('x' entered) ASSIGN_OP(0) KW_ANON_SUB TERM_OP('$') { TERM_OP('1') ; } ; EOF"},
             {"BEGIN { 1 }", "KW_SUB BAREWORD('BEGIN' bare) { TERM_OP('1') ; } ; EOF"},
             {"END {}", "KW_SUB BAREWORD('END' bare) { ; } ; EOF"},
             {"my sub foo {}", "KW_MY_SUB BAREWORD('foo' bare) { ; } ; EOF"},
             {"format STDOUT =\n.\n", "KW_FORMAT BAREWORD('STDOUT' bare) { ; } ; EOF"},
             {"format =\nab\n.\n",
              "KW_FORMAT { ; LIST_OP(formline) TERM_OP('ab\n') ; } ; EOF"}});
    open("sub foo {}");
    next();
    EXPECT_EQ(str(gcb->sub_name), "main::foo");
    EXPECT_EQ(gcb->expect, XBLOCK);
    open("sub A::b {}");
    next();
    EXPECT_EQ(str(gcb->sub_name), "A::b");
    open("$x = sub {}");
    next();
    next();
    next();
    EXPECT_EQ(next(), "KW_ANON_SUB");
    EXPECT_EQ(str(gcb->sub_name), "__ANON__");
    EXPECT_EQ(gcb->expect, XTERMBLOCK);
    open("1 + BEGIN");
    EXPECT_EQ(read_rest(), "TERM_OP('1') ADD_OP(add) BAREWORD('BEGIN' bare) ; EOF");
    EXPECT_EQ(tokens("sub foo ($", false), "! Prototype not terminated.");
    gcb->err.len = 0;
    EXPECT_EQ(tokens("my sub {}", false), "! Missing name in \"my sub\".");
}

TEST_F(Word, DeclarationsWithAClass)
{
    gv_stash_by_name(gcb, "Dog", 1);
    open("my Dog $spot");
    EXPECT_EQ(next(), "KW_MY(1)");
    EXPECT_EQ(gcb->declaring, KEY_my);
    EXPECT_EQ(gcb->declaring_package, gv_stash_by_name(gcb, "Dog", 0));
    open("our $x");
    next();
    EXPECT_EQ(gcb->declaring, KEY_our);
    queued_errors.clear();
    open("my Cat $c");
    next();
    ASSERT_EQ(queued_errors.size(), 1u);
    EXPECT_EQ(queued_errors[0].substr(0, 16), "No such class Ca");
}

TEST_F(Word, SortAndPrintChecks)
{
    streams({{"sort @x", "LIST_OP(sort) @ BAREWORD('x' entered) ; EOF"},
             {"sort { $a } @x", "LIST_OP(sort) { $ BAREWORD('a' entered) ; } @ BAREWORD('x' entered) ; EOF"}});
    EXPECT_EQ(tokens("sort;", false), "! sort is now a reserved word.");
    gcb->err.len = 0;
    EXPECT_EQ(tokens("print FOO, 1", false), "! No comma allowed after filehandle.");
    gcb->err.len = 0;
    EXPECT_EQ(tokens("print length, 1", false, 3), "LIST_OP(print) NAMED_UNARY(length) ,");
    EXPECT_EQ(tokens("sort foo, 1", false), "! No comma allowed after subroutine name.");
    gcb->err.len = 0;
    define_sub("FOO");
    EXPECT_EQ(tokens("print FOO, 1", false, 1), "LIST_OP(print)");
}

TEST_F(Word, WarningsOfKeywordArguments)
{
    warnings_on();
    first("umask 22", 1);
    EXPECT_EQ(take_warnings(), "umask: argument is missing initial 0.\n");
    first("umask(022)", 1);
    EXPECT_EQ(take_warnings(), "");
    first("chmod 644, $f", 1);
    EXPECT_EQ(take_warnings(), "chmod() mode argument is missing initial 0.\n");
    first("chmod 0644, $f", 1);
    EXPECT_EQ(take_warnings(), "");
    first("open FOO || die", 1);
    EXPECT_EQ(take_warnings(), "Precedence problem: open FOO should be open(FOO).\n");
    first("open(FOO) || die", 1);
    EXPECT_EQ(take_warnings(), "");
    first("chdir $d", 1);
    EXPECT_NE(gv_fetch_by_name(gcb, "ENV", 0, SVt_PVHV), nullptr);
    first("write", 1);
    EXPECT_NE(gv_fetch_by_name(gcb, "\f", 0, SVt_PV), nullptr);
    first("dbmopen %h, 1, 2", 1);
    EXPECT_NE(gv_fetch_by_name(gcb, "AnyDBM_File::ISA", 0, SVt_PVAV), nullptr);
}

}  // namespace
}  // namespace lextest
