// The generated parse tables: their counts, the tokens they know, and the
// regeneration from the grammar file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

#include "ds/src/prx.h"

namespace {

#include "ds/src/prxgramtab.inc"

TEST(GrammarTables, Counts)
{
    EXPECT_EQ(GRAM_STATES, 391);
    EXPECT_EQ(GRAM_RULES, 194);
    EXPECT_EQ(GRAM_NONTERMINALS, 56);
    EXPECT_EQ(GRAM_MAX_TOKEN, 317);
    EXPECT_EQ(GRAM_FINAL_STATE, 1);
    EXPECT_EQ(GRAM_TABLE_HIGH + 1, 4508);
    // Rule 0 accepts the start symbol: two symbols, no left side.
    EXPECT_EQ(gram_lhs[0], -1);
    EXPECT_EQ(gram_len[0], 2);
    // Rule 2 is the program, the start symbol; rule 193 the last one.
    EXPECT_EQ(gram_lhs[2], 0);
    EXPECT_EQ(gram_len[2], 2);
    EXPECT_EQ(gram_lhs[193], 35);  // indirect_object: LEXICAL_VAR
    EXPECT_EQ(gram_len[193], 1);
    EXPECT_EQ(gram_len[33], 11);   // the three-part for loop
}

// Every packed entry is owned by a token code, a state, or nobody (-1), and
// points at a state or a rule that exists.
TEST(GrammarTables, EntriesAreInRange)
{
    for (int i = 0; i <= GRAM_TABLE_HIGH; i++) {
        EXPECT_GE(gram_check[i], -1) << i;
        EXPECT_LT(gram_check[i], GRAM_STATES) << i;
        if (gram_check[i] >= 0) {
            EXPECT_GE(gram_table[i], 0) << i;
            EXPECT_LT(gram_table[i], GRAM_STATES) << i;
        }
    }
    for (int s = 0; s < GRAM_STATES; s++)
        EXPECT_LT(gram_defred[s], GRAM_RULES) << s;
}

// The precedence-only codes and characters outside the grammar's set have
// no shift or reduce entry in any state.
TEST(GrammarTables, TokensNeverShifted)
{
    for (int token : {299, 310, int('^'), int('#'), int('='), int('<')}) {
        for (int s = 0; s < GRAM_STATES; s++) {
            for (const int16_t* base : {gram_sindex, gram_rindex}) {
                int n = base[s] + token;
                bool owned = base[s] != 0 && n >= 0 && n <= GRAM_TABLE_HIGH && gram_check[n] == token;
                EXPECT_FALSE(owned) << "token " << token << " state " << s;
            }
        }
    }
}

std::string contents(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// The committed tables are what the generator makes of the grammar file,
// with one shift/reduce conflict left to the generator's default. The
// source tree is compiled in, so the test runs wherever byacc and python3
// are installed, under ctest or on its own.
TEST(GrammarTables, RegenerateToTheSameText)
{
    const char* src = PRX_GRAMMAR_SOURCE_DIR;
    if (std::system("command -v byacc >/dev/null 2>&1 && command -v python3 >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "byacc or python3 is not installed";
    char dir[] = "/tmp/prxgramtab.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    std::string out = std::string(dir) + "/prxgramtab.inc";
    std::string report = out + ".report";
    std::string cmd = "python3 " + std::string(src) + "/scripts/gen_grammar.py --report " + out + " >" + report;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    std::string kept = contents(std::string(src) + "/ds/src/prxgramtab.inc");
    std::string made = contents(out);
    std::string said = contents(report);
    std::remove(out.c_str());
    std::remove(report.c_str());
    rmdir(dir);
    EXPECT_EQ(said, "states 391 rules 194 nonterminals 56 table 4508 conflicts 1 shift/reduce conflict\n");
    ASSERT_FALSE(kept.empty());
    EXPECT_FALSE(made.empty());
    EXPECT_TRUE(kept == made);
}

}  // namespace
