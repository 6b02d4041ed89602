// Program texts of the built-ins on text and binary data evaluated whole:
// substr and index, pack and unpack round trips and byte orders, formline,
// transliteration with its flags, ranges and split in one expression, and
// the glob operator, which starts no process.
#include "runtime/agg_eval_cases.h"

namespace {

using Case = runtime::TextCase;

class BuiltinText : public runtime::TextTable {};

TEST_F(BuiltinText, ObservableJoins)
{
    const Case cases[] = {
        {"join '|', substr('abcdef', 2), substr('abcdef', -2), substr('abcdef', 1, -2), index('hello', 'l'), "
         "rindex('hello', 'l'), index('hello', ''), rindex('hello', '')",
         "cdef|ef|bcd|2|3|0|5"},
        {"join ',', map { unpack('H*', $_) } pack('A5', 'ab'), pack('a5', 'ab'), pack('Z5', 'abcdef'), pack('w', 300)",
         "6162202020,6162000000,6162636400,822c"},
        {"$^A = ''; formline('@<<< @>>>', 'abc', 'de'); $^A", "abc    de"},
        {"my $s = 'hello'; ($s =~ tr/a-z/A-Z/) . $s", "5HELLO"},
        {"join ';', join(',', 'x' .. 'ab'), join(',', '01' .. '03'), join(',', 3 .. 1)", "x,y,z,aa,ab;01,02,03;"},
        {"join ';', join('|', split(//, 'abc')), join('|', split(/,/, 'a,b,,,')), "
         "scalar(my @f = split(/,/, 'a,b,,,', -1)), join('|', split(' ', '  a b  c '))",
         "a|b|c;a|b;5;a|b|c"},
    };
    expect_all(cases);
}

// n and N are big-endian, v and V little-endian, in both directions.
TEST_F(BuiltinText, NetworkAndVaxByteOrders)
{
    const Case cases[] = {
        {"unpack('H*', pack('n', 258))", "0102"},
        {"unpack('H*', pack('v', 258))", "0201"},
        {"unpack('H*', pack('N', 0x01020304))", "01020304"},
        {"unpack('H*', pack('V', 0x01020304))", "04030201"},
        {"join ',', unpack('n v', \"\\x01\\x02\\x01\\x02\")", "258,513"},
        {"join ',', unpack('N V', \"\\x00\\x00\\x01\\x02\\x00\\x00\\x01\\x02\")", "258,33619968"},
        {"join ',', unpack('n v N V', pack('n v N V', 65535, 1, 4294967295, 7))", "65535,1,4294967295,7"},
        {"join ',', unpack('n/a* a', pack('n/a* a', 'hello', 'x'))", "hello,x"},
        {"unpack('H*', pack('n/a*', 'hi'))", "00026869"},
    };
    expect_all(cases);
}

TEST_F(BuiltinText, PackUnpackRoundTrips)
{
    const Case cases[] = {
        {"join ',', unpack('c C s S l L q', pack('c C s S l L q', -1, 255, -2, 65535, -3, 4294967295, -4))",
         "-1,255,-2,65535,-3,4294967295,-4"},
        {"join ',', unpack('f d', pack('f d', 1.5, -2.25))", "1.5,-2.25"},
        {"join ',', unpack('w*', pack('w*', 0, 127, 128, 16383, 16384, 4294967296))", "0,127,128,16383,16384,4294967296"},
        {"unpack('u', pack('u', 'hello world'))", "hello world"},
        {"join ',', unpack('U*', pack('U*', 65, 0x263a))", "65,9786"},
        {"unpack('b*', pack('b*', '1011'))", "10110000"},
        {"unpack('H*', pack('H*', 'c0ffee'))", "c0ffee"},
        {"join ',', unpack('A3 x2 a', 'abcdefg')", "abc,f"},
        {"join ',', unpack('a @1 a', 'abc')", "a,b"},
        {"unpack('%32C*', 'abc')", "294"},
        {"scalar unpack('a2 a2', 'abcd')", "ab"},
    };
    expect_all(cases);
}

// Z0 adds nothing and changes nothing before it; counts too large for 32
// bits die instead of wrapping.
TEST_F(BuiltinText, ZeroWidthAndOverlongCounts)
{
    const Case cases[] = {
        {"unpack('H*', pack('a2 Z0', 'ab'))", "6162"},
        {"unpack('H*', pack('a2 Z0 a1', 'ab', 'unused', 'c'))", "616263"},
        {"length pack('Z0', 'x')", "0"},
        {"eval { pack('a4294967297', 'x') }; $@", "Repeat count in pack overflows.\n"},
        {"eval { pack('x2147483648') }; $@", "Repeat count in pack overflows.\n"},
        {"eval { my @a = unpack('a4294967297', 'x') }; $@", "Repeat count in unpack overflows.\n"},
    };
    expect_all(cases);
}

TEST_F(BuiltinText, TransliterationFlags)
{
    const Case cases[] = {
        {"my $s = 'hello'; my $n = ($s =~ tr/a-y//c); \"$n$s\"", "0hello"},
        {"my $s = 'hello world'; my $n = ($s =~ tr/a-z//c); \"$n\"", "1"},
        {"my $s = 'hello world'; $s =~ tr/a-z/_/c; $s", "hello_world"},
        {"my $s = 'hello'; my $n = ($s =~ tr/l//d); \"$n$s\"", "2heo"},
        {"my $s = 'hello'; $s =~ tr/a-z/A-C/d; $s", ""},
        {"my $s = 'abcde'; $s =~ tr/a-e/AB/d; $s", "AB"},
        {"my $s = 'aabbccdd'; $s =~ tr/a-z//s; $s", "abcd"},
        {"my $s = 'aabbxx'; $s =~ tr/ab/XX/s; $s", "Xxx"},
        {"my $s = 'a  b   c'; $s =~ tr/a-z/ /cs; $s", "a b c"},
        {"my $s = 'a.b.c'; $s =~ tr/.//", "2"},
        {"my $s = 'abc'; $s =~ y/abc/cba/; $s", "cba"},
        {"$_ = 'xyz'; tr/x-z/a-c/; $_", "abc"},
    };
    expect_all(cases);
}

// The swash behind a UTF-8 transliteration comes from the utf8 package,
// which this system does not ship: the test defines a small one that reads
// the compiler's range list ("from\tto\tvalue" lines in hex, "XXXX" for a
// character without a counterpart) and answers blocks of big-endian entries.
const char* const UTF8_PACKAGE =
    "BEGIN { package utf8; "
    "sub SWASHNEW { my ($class, $name, $list, $bits, $none) = @_; my @r; "
    "  for my $line (split /\\n/, $list) { next if $line =~ /^#/; my ($f, $t, $v) = split /\\t/, $line; "
    "    $t = $f if $t eq ''; push @r, [hex($f), hex($t), $v eq 'XXXX' ? $none + 1 : hex($v), $v eq 'XXXX'] } "
    "  return bless { BITS => $bits, NONE => $none, R => \\@r }, $class } "
    "sub SWASHGET { my ($s, $start, $n) = @_; my @e; "
    "  for my $c ($start .. $start + $n - 1) { my $v = $s->{NONE}; "
    "    for my $r (@{$s->{R}}) { if ($c >= $r->[0] && $c <= $r->[1]) { "
    "      $v = $r->[3] ? $r->[2] : $r->[2] + $c - $r->[0]; last } } push @e, $v } "
    "  my $b = $s->{BITS}; return pack($b == 8 ? 'C*' : $b == 16 ? 'n*' : 'N*', @e) } } ";

TEST_F(BuiltinText, TransliterationOfUtf8Ranges)
{
    const Case cases[] = {
        {"my $s = \"\\x{100}\\x{101}abc\"; my $n = ($s =~ tr/\\x{100}-\\x{101}/XY/); \"$n,$s\"", "2,XYabc"},
        {"my $s = 'abc'; my $n = ($s =~ tr/a-c/\\x{100}-\\x{102}/); "
         "join ',', $n, length($s), map { ord(substr($s, $_, 1)) } 0 .. 2",
         "3,3,256,257,258"},
        {"my $s = \"a\\x{100}\\x{101}\\x{102}b\"; $s =~ tr/\\x{100}-\\x{102}/XY/; $s", "aXYYb"},
        {"my $s = \"a\\x{100}\\x{101}\\x{102}b\"; $s =~ tr/\\x{100}-\\x{102}/X/d; $s", "aXb"},
        {"my $s = \"\\x{100}\\x{100}\\x{101}\\x{101}\"; $s =~ tr/\\x{100}-\\x{101}/xy/s; $s", "xy"},
        {"my $s = \"a\\x{263a}b\\x{263a}\"; my $n = ($s =~ tr/\\x{263a}//); $n", "2"},
    };
    for (const Case& c : cases) {
        prxtest::EvalResult r = eval(std::string(UTF8_PACKAGE) + c.text);
        EXPECT_EQ(r.error, "") << c.text;
        EXPECT_EQ(r.value, c.want) << c.text;
    }
}

TEST_F(BuiltinText, NumericBuiltins)
{
    const Case cases[] = {
        {"join ',', hex('0x1f'), hex('1_f'), hex('ff'), oct('0x1f'), oct('755'), oct('0b101'), oct('1_0')",
         "31,31,255,31,493,5,8"},
        {"join ',', int(-3.7), int(3.7), abs(-4), sqrt(16), 2 ** 10", "-3,3,4,4,1024"},
        {"my $z = 0; eval { log($z) }; $@", "Can't take log of 0.\n"},
        {"srand(5); my $a = rand(); srand(5); $a == rand() ? 'same' : 'diff'", "same"},
        {"srand(1); my $r = rand(10); $r >= 0 && $r < 10 ? 'in' : $r", "in"},
    };
    expect_all(cases);
}

// The glob operator's fallback path would build a shell command; no process
// is ever started, so it yields nothing. The module that would override it
// is marked loaded, since this system ships none.
TEST_F(BuiltinText, GlobYieldsNothing)
{
    const Case cases[] = {
        {"BEGIN { $INC{'File/Glob.pm'} = 1 } my @g = <*.c>; scalar(@g)", "0"},
        {"BEGIN { $INC{'File/Glob.pm'} = 1 } my @g = glob('*'); scalar(@g)", "0"},
        {"BEGIN { $INC{'File/Glob.pm'} = 1 } my $g = <*.c>; defined $g ? 'd' : 'u'", "u"},
    };
    expect_all(cases);
}

}  // namespace
