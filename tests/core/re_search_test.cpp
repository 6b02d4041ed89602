// The literal searches against a plain search: a literal found through the
// byte-pair scan of the fixed-string search, and a case-blind literal found
// through the start-class scan, over subjects that put candidates on both
// sides of every sixteen-byte step and at the very end.
#include <random>
#include <string>

#include "re_fixture.h"

namespace retest {
namespace {

// The leftmost start of needle in subject, case-blind over ASCII letters
// when fold; -1 when none.
int32_t naive_find(const std::string& subject, const std::string& needle, bool fold)
{
    auto same = [&](char x, char y) {
        if (!fold)
            return x == y;
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
        return lower(x) == lower(y);
    };
    for (size_t s = 0; s + needle.size() <= subject.size(); s++) {
        size_t k = 0;
        while (k < needle.size() && same(subject[s + k], needle[k]))
            k++;
        if (k == needle.size())
            return static_cast<int32_t>(s);
    }
    return -1;
}

TEST_F(Engine, LiteralSearchesFindTheLeftmostOccurrence)
{
    std::mt19937 rng(5);
    const char alphabet[] = {'a', 'b', 'A', 'B', 'z', '\n'};
    for (int round = 0; round < 3000; round++) {
        size_t n = rng() % 80;
        std::string subject;
        for (size_t i = 0; i < n; i++)
            subject += alphabet[rng() % sizeof alphabet];
        std::string needle;
        size_t len = 1 + rng() % 7;
        if (n >= len && rng() % 2) {
            needle = subject.substr(rng() % (n - len + 1), len);
        } else {
            for (size_t i = 0; i < len; i++)
                needle += alphabet[rng() % 5];
        }
        if (needle.find('\n') != std::string::npos)
            continue;  // the pattern text is the literal: no newline in it
        bool fold = rng() % 2;
        SCOPED_TRACE(testing::Message() << "/" << needle << "/" << (fold ? "i" : "") << " on "
                                        << testing::PrintToString(subject));
        re_compiled* rx = compile(needle, fold ? "i" : "");
        ASSERT_NE(rx, nullptr) << err_text();
        int32_t want = naive_find(subject, needle, fold);
        int32_t r = match(rx, subject);
        ASSERT_EQ(r, want >= 0 ? 1 : 0);
        if (r == 1) {
            EXPECT_EQ(rx->start_offsets[0], want);
        }
        pregfree(gcb, rx);
    }
}

}  // namespace
}  // namespace retest
