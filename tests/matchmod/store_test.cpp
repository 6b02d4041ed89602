// Settings from the host: name/value store wrappers, option lookup and the
// 8-bit to UTF-16 conversion.
#include <cstring>

#include "mmfixture.h"

namespace {

using StoreTest = MmTest;

const char16_t NAME[] = u"OSENV.TOV_TEST";

TEST_F(StoreTest, TextReadsStopAtTheCapacity)
{
    tk->set_text("OSENV.TOV_TEST", "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    char16_t buf[40];
    EXPECT_EQ(xknrtget(NAME, 0, buf, 15), 14);
    EXPECT_EQ(std::u16string(buf), u"ABCDEFGHIJKLMN");
    EXPECT_EQ(xknrtget(NAME, 14, buf, 40), 26);
    buf[0] = u'x';
    EXPECT_EQ(xknrtget(NAME, 0, buf, 0), 0);
    EXPECT_EQ(buf[0], u'x');
    EXPECT_EQ(xknrtget(NAME, 0, buf, -3), -3);
    EXPECT_EQ(xknrtget(NAME, 0, buf, 1), 0);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(xknrtget(u"OSENV.NONE", 0, buf, 40), 0);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(xknrtget(nullptr, 0, buf, 40), 0);
    EXPECT_TRUE(tk->prints.empty());
    EXPECT_TRUE(tk->messages.empty());
}

// A store that writes part of a text and then fails: the read counts as
// failed, and the buffer still holds a terminated (empty) text.
TEST_F(StoreTest, FailedTextReadLeavesAnEmptyText)
{
    tk->services.nv_get = [](XkServices*, const char16_t*, int32_t, int32_t, void* value, int64_t size,
                             int64_t* stored) -> uint32_t {
        std::memset(value, 'x', static_cast<size_t>(size));
        *stored = size;
        return 0x803FC0FFu;
    };
    char16_t buf[8];
    std::memset(buf, 'y', sizeof buf);
    EXPECT_EQ(xknrtget(NAME, 0, buf, 8), 0);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(message_codes(), std::vector<uint32_t>{0x803FC0FFu});
}

TEST_F(StoreTest, FailedReadsArePrintedIssuedAndDefaulted)
{
    tk->fail_get[u16("OSENV.TOV_TEST")] = 0x803FC0FFu;
    tk->print_result = 0x803FC0EE;
    char16_t buf[8];
    EXPECT_EQ(xknrtget(NAME, 0, buf, 8), 0);
    EXPECT_EQ(xknrlget(NAME, 0, -5), -5);
    EXPECT_EQ(xknrdget(NAME, 0, 2.5), 2.5);
    EXPECT_EQ(print_texts(4), (std::vector<std::string>{
                                  "xkNameValueGet failed for OSENV.TOV_TEST in xknrtget",
                                  "xkNameValueGet failed for OSENV.TOV_TEST in xknrlget",
                                  "xkNameValueGet failed for OSENV.TOV_TEST in xknrdget",
                              }));
    // The status, then the print's own failure.
    EXPECT_EQ(message_codes(), (std::vector<uint32_t>{0x803FC0FFu, 0x803FC0EEu, 0x803FC0FFu, 0x803FC0EEu,
                                                      0x803FC0FFu, 0x803FC0EEu}));
}

TEST_F(StoreTest, IntegerReadsTakeTextUnderTheIntegerRule)
{
    struct {
        const char* text;
        int64_t want;   // -1 refused (the default comes back)
    } cases[] = {
        {"42", 42},
        {"  42.000  ", 42},
        {"+7", 7},
        {"-12", -12},
        {"42.", 42},
        {"42.5", -1},
        {"4e2", -1},
        {"", -1},
        {"  ", -1},
        {"- 4", -1},
        {"99999999999999999", 9007199254740992ll},
        {"-99999999999999999", -1},
        {"9007199254740992", 9007199254740992ll},
    };
    for (auto& c : cases) {
        tk->set_text("OSENV.TOV_TEST", c.text);
        tk->messages.clear();
        EXPECT_EQ(xknrlget(NAME, 0, -1), c.want) << '"' << c.text << '"';
        if (c.want == -1) {
            ASSERT_EQ(tk->messages.size(), 1u) << c.text;
            EXPECT_EQ(tk->messages[0].code, 0x8C7FE8C8u);
            EXPECT_EQ(tk->messages[0].level, 4);
            EXPECT_EQ(tk->messages[0].text, std::string("The value '") + c.text +
                                                 "' of the setting OSENV.TOV_TEST is not a whole number from "
                                                 "-9007199254740992 to 9007199254740992.");
        } else {
            EXPECT_TRUE(tk->messages.empty()) << c.text;
        }
    }
    EXPECT_EQ(xkWcsToInteger(u"x 42.00", 1), 42);
    EXPECT_EQ(xkWcsToInteger(u"99999999999999999", 0), 9007199254740992ll);
    EXPECT_EQ(xkWcsToInteger(u"4e2", 0), -9007199254740992ll);
    tk->set_int("OSENV.TOV_TEST", -77);
    EXPECT_EQ(xknrlget(NAME, 0, 0), -77);
    tk->set_double("OSENV.TOV_TEST", 3.5);
    EXPECT_EQ(xknrdget(NAME, 0, 0), 3.5);
    EXPECT_EQ(xknrdget(u"OSENV.NONE", 0, 1.25), 1.25);
}

TEST_F(StoreTest, LimitsCountDownToMinusOne)
{
    const char16_t lim[] = u"OSENV.TOV_RNG_NOTE_LIMIT";
    // Not set: the default, and nothing is written.
    EXPECT_EQ(xknrlimit(lim, 0, 100), 100);
    EXPECT_EQ(tk->find("OSENV.TOV_RNG_NOTE_LIMIT"), nullptr);
    tk->declare("OSENV.TOV_RNG_NOTE_LIMIT");
    std::vector<int64_t> got;
    for (int i = 0; i < 103; i++)
        got.push_back(xknrlimit(lim, 0, 100));
    EXPECT_EQ(got[0], 100);
    EXPECT_EQ(got[1], 99);
    EXPECT_EQ(got[100], 0);
    EXPECT_EQ(got[101], -1);
    EXPECT_EQ(got[102], -1);
    // The note comes once, with the call that reads 1.
    ASSERT_EQ(tk->messages.size(), 1u);
    EXPECT_EQ(tk->messages[0].code, 0x8C7FE8CAu);
    EXPECT_EQ(tk->messages[0].level, 2);
    EXPECT_EQ(tk->find("OSENV.TOV_RNG_NOTE_LIMIT")->i, -1);

    // A text limit stays text.
    tk->set_text("OSENV.TOV_RNG_NOTE_LIMIT", "5");
    EXPECT_EQ(xknrlimit(lim, 0, 100), 4);
    EXPECT_EQ(tk->find("OSENV.TOV_RNG_NOTE_LIMIT")->text, u"4");
    EXPECT_EQ(tk->writes.back(), "4");
}

TEST_F(StoreTest, TracesWhenTheDebugSettingIsSet)
{
    tk->declare("OSENV.TOV_XKNR_DEBUG");
    tk->set_text("OSENV.TOV_TEST", "7");
    char16_t buf[8];
    xknrtget(NAME, 0, buf, 8);
    xknrlget(NAME, 0, 0);
    tk->set_double("OSENV.TOV_D", 0.5);
    xknrdget(u"OSENV.TOV_D", 0, 0);
    tk->declare("OSENV.L");
    xknrlimit(u"OSENV.L", 0, 100);
    EXPECT_EQ(print_texts(1), (std::vector<std::string>{
                                  "xknrtget(OSENV.TOV_TEST)='7'",
                                  "xknrlget(OSENV.TOV_TEST)=7",
                                  "xknrdget(OSENV.TOV_D)=                 0.5",
                                  "xknrlset(OSENV.L)=100",
                                  "xknrlimit(OSENV.L)=100",
                              }));
    EXPECT_EQ(print_texts(4), (std::vector<std::string>{
                                  "xkNameValueGet failed for OSENV.L in xknrlimit. The existing value may not be a "
                                  "XKChar string or TOVLONG.",
                              }));
}

int32_t severity(const char16_t* name)
{
    return xknrlook(name, 0, 9, u"ERROR", 4, u"ERRORS", 4, u"WARN", 3, u"WARNING", 3, u"WARNINGS", 3, u"NOTE", 2,
                    u"NOTES", 2, u"YES", 2, u"INFO", 1, u"ALL", 0, nullptr);
}

TEST_F(StoreTest, KeywordLookup)
{
    const char16_t sev[] = u"OSENV.TOV_RNG_SEVERITY";
    EXPECT_EQ(severity(sev), 9);
    tk->set_text("OSENV.TOV_RNG_SEVERITY", "warn   ");
    EXPECT_EQ(severity(sev), 3);
    tk->set_text("OSENV.TOV_RNG_SEVERITY", "All");
    EXPECT_EQ(severity(sev), 0);
    EXPECT_TRUE(tk->messages.empty());
    // A leading blank matches nothing: reported once, cleared, default.
    tk->set_text("OSENV.TOV_RNG_SEVERITY", " warn");
    EXPECT_EQ(severity(sev), 9);
    ASSERT_EQ(tk->messages.size(), 1u);
    EXPECT_EQ(tk->messages[0].code, 0x8C7FE8C9u);
    EXPECT_EQ(tk->messages[0].text,
              "The value ' WARN' of the setting OSENV.TOV_RNG_SEVERITY is not one of its keywords; the setting is "
              "cleared.");
    EXPECT_EQ(tk->find("OSENV.TOV_RNG_SEVERITY")->text, u"");
    EXPECT_EQ(severity(sev), 9);
    EXPECT_EQ(tk->messages.size(), 1u);

    tk->declare("OSENV.TOV_XKNR_DEBUG");
    tk->set_text("OSENV.TOV_RNG_SEVERITY", "note");
    EXPECT_EQ(severity(sev), 2);
    std::vector<std::string> t = print_texts(1);
    ASSERT_GE(t.size(), 3u);
    EXPECT_EQ(t[t.size() - 3], "xknrlook(OSENV.TOV_RNG_SEVERITY) 'NOTE' != 'WARNINGS' 3");
    EXPECT_EQ(t[t.size() - 2], "xknrlook(OSENV.TOV_RNG_SEVERITY) 'NOTE' == 'NOTE' 2");
    EXPECT_EQ(t[t.size() - 1], "xknrlook(OSENV.TOV_RNG_SEVERITY)=2 'NOTE'");
}

TEST_F(StoreTest, OptionLookup)
{
    struct {
        const char* options;
        const char* name;
        int32_t want;
    } cases[] = {
        {"RNGSEED=17 OTHER", "-rngseed", 17},
        {"RNGSEED=17 OTHER", "rngseed", 17},
        {"RNGSEED=17 OTHER", "-  rngseed", 17},
        {"RNGSEED=17 OTHER", "-other", 1},
        {"RNGSEED=17 OTHER", "-rng", 0},
        {"RNGSEED=17 OTHER", "-rngseedx", 0},
        {"RNGSEEDX=4", "-rngseed", 0},
        {"RNGSEED_X=4", "-rngseed", 0},
        {"  RNGSEED  ", "-rngseed", 1},
        {"RNG*", "-rngseed", 1},
        {"RNG*=5", "-rngseedless", 5},
        {"rngseed=-9", "-RNGSEED", -9},
        {"RNGSEED=3 RNGSEED=4", "-rngseed", 4},
        {"RNGSEED=0", "-rngseed", 0},
        {"", "-rngseed", 0},
    };
    for (auto& c : cases) {
        h->option_string = c.options;
        h->clear_records();
        EXPECT_EQ(xkOptionLookup(c.name), c.want) << c.options << " / " << c.name;
        std::vector<unsigned> slots;
        for (auto& call : h->calls)
            if (call.group == 39)
                slots.push_back(call.slot);
        if (c.want)
            EXPECT_EQ(slots, (std::vector<unsigned>{56, 108, 138, 108})) << c.options;
        else
            EXPECT_EQ(slots, (std::vector<unsigned>{56})) << c.options;
    }
}

TEST_F(StoreTest, HostToWide)
{
    char16_t out[8];
    EXPECT_EQ(xkHostToWide("mt\xE9", out, 3), 3);
    EXPECT_EQ(std::u16string(out, 3), u"mt\u00E9");
    tk->convert_result = 0x803FC0ABu;
    EXPECT_EQ(xkHostToWide("mt", out, 2), 0);
    EXPECT_EQ(message_codes(), std::vector<uint32_t>{0x803FC0ABu});
}

}  // namespace
