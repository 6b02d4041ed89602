// The keyword table: numbers and signs of words, words that are not
// keywords, and the deprecated upper-case synonyms.
#include <cstring>

#include "core/fixture.h"
#include "ds/src/prxlexint.h"

namespace {

class Keyword : public prxtest::Interp {
protected:
    int32_t lookup(const char* w) { return keyword_lookup(gcb, w, static_cast<int32_t>(std::strlen(w))); }
};

TEST_F(Keyword, NumbersAndSigns)
{
    struct Case {
        const char* word;
        int32_t number;
    } cases[] = {
        {"qr", 155}, {"m", 126}, {"q", 153}, {"s", 176}, {"y", 251}, {"x", -249}, {"tr", 227},
        {"CORE", -8}, {"CHECK", 18}, {"INIT", 14}, {"BEGIN", 7}, {"END", 10}, {"AUTOLOAD", 6},
        {"DESTROY", 9}, {"__FILE__", -1}, {"__LINE__", -2}, {"__PACKAGE__", -3}, {"__DATA__", 4},
        {"__END__", 5}, {"getc", -74}, {"getsockopt", -99}, {"getprotobynumber", -90},
        {"gethostbyaddr", -78}, {"ge", -73}, {"glob", 100}, {"gmtime", -101}, {"goto", 102},
        {"grep", 103}, {"gt", -104}, {"abs", -19}, {"and", -22}, {"or", -141}, {"not", -137},
        {"xor", -250}, {"cmp", -37}, {"eq", -59}, {"print", 149}, {"printf", 150}, {"sort", 204},
        {"split", 206}, {"defined", 44}, {"undef", 232}, {"scalar", 177}, {"prototype", 151},
        {"study", 211}, {"pos", 148}, {"qw", 157}, {"qx", 158}, {"qq", 154}, {"sub", 212},
        {"my", 133}, {"our", 143}, {"local", 120}, {"lock", -122}, {"wantarray", -245},
        {"while", 247}, {"write", -248}, {"socketpair", -203}, {"setsockopt", -193},
        {"sysread", -217}, {"shift", -194}, {"sprintf", -207}, {"use", 239}, {"no", 136},
        {"require", -169}, {"return", 171}, {"continue", -39}, {"do", 47}, {"dump", -48},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lookup(c.word), c.number) << c.word;
}

TEST_F(Keyword, OrdinaryWordsGiveZero)
{
    for (const char* w : {"", "Eq", "get", "GEX", "LTE", "Foo", "foo", "getfoo", "gets", "F", "H", "J",
                          "_", "__", "__FOO__", "s2", "mm", "xx", "yy", "printx", "prin", "Z", "[", "{",
                          "1abc", "\xC3\xA9", "CORE::", "core"})
        EXPECT_EQ(lookup(w), 0) << w;
}

// Only the given bytes count: a run inside a longer text is looked up as
// the run.
TEST_F(Keyword, LengthBoundsTheWord)
{
    EXPECT_EQ(keyword_lookup(gcb, "getcX", 4), -74);
    EXPECT_EQ(keyword_lookup(gcb, "qrs", 2), 155);
    EXPECT_EQ(keyword_lookup(gcb, "sort", 1), 176);
    EXPECT_EQ(keyword_lookup(gcb, "print", 0), 0);
}

TEST_F(Keyword, DeprecatedSynonymsWarnWhenWarningsAreOn)
{
    struct Case {
        const char* word;
        int32_t number;
    } cases[] = {{"EQ", -59}, {"GE", -73}, {"GT", -104}, {"LE", -116}, {"LT", -125}, {"NE", -134}};
    for (const Case& c : cases) {
        gcb->err.len = 0;
        warnings_none();
        EXPECT_EQ(lookup(c.word), c.number) << c.word;
        EXPECT_EQ(err_text(), "");
        warnings_all();
        EXPECT_EQ(lookup(c.word), c.number) << c.word;
        EXPECT_EQ(err_text(), std::string("Use of ") + c.word + " is deprecated.\n");
    }
}

TEST_F(Keyword, DeprecatedWarningFollowsTheStatementOrTheSwitch)
{
    warnings_std();
    gcb->warn_switch = 0;
    EXPECT_EQ(lookup("NE"), -134);
    EXPECT_EQ(err_text(), "");
    gcb->warn_switch = 1;
    EXPECT_EQ(lookup("NE"), -134);
    EXPECT_EQ(err_text(), "Use of NE is deprecated.\n");
    gcb->err.len = 0;
    warnings_bits({30});
    warn_deprecated(gcb, "comma-less variable list");
    EXPECT_EQ(err_text(), "Use of comma-less variable list is deprecated.\n");
    gcb->err.len = 0;
    warnings_bits({27});
    warn_deprecated(gcb, "comma-less variable list");
    EXPECT_EQ(err_text(), "");
}

// Every numbered entry is found by its own word with its own number, and
// the six numbers of the synonyms are gaps.
TEST_F(Keyword, EntriesRoundTrip)
{
    int32_t found = 0;
    for (int32_t n = 1; n <= 251; n++) {
        const keyword_entry* e = keyword_entry_of(n);
        if (!e)
            continue;
        found++;
        EXPECT_EQ(lookup(e->word), e->number) << e->word;
        EXPECT_EQ(e->number < 0 ? -e->number : e->number, n) << e->word;
    }
    EXPECT_EQ(found, 245);
    for (int32_t n : {0, 11, 12, 13, 15, 16, 17, 252})
        EXPECT_EQ(keyword_entry_of(n), nullptr) << n;
}

}  // namespace
