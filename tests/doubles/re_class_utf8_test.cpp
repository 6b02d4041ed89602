// The UTF-8 bracket class: the listing text that the compiler hands to
// utf8->SWASHNEW (a double here) and the ANYOFUTF8 node it emits.
#include <string>
#include <vector>

#include "utf8_methods.h"

#include "ds/src/prxbridge.h"
#include "ds/src/prxgv.h"
#include "ds/src/prxhv.h"
#include "ds/src/prxlibc.h"
#include "ds/src/prxop.h"
#include "ds/src/prxre.h"

namespace {

class Utf8Class : public doubles::Utf8Methods {
protected:
    void SetUp() override
    {
        Utf8Methods::SetUp();
        if (!gcb->fold_table)
            gcb->fold_table = fold;
        rexhost_build_fold(gcb);
        re_install_hooks(gcb);
    }
    void TearDown() override
    {
        if (gcb->fold_table == fold)
            gcb->fold_table = nullptr;
        Utf8Methods::TearDown();
    }
    SV* utf8_method(const std::string& name, const std::vector<SV*>& args) override
    {
        if (name == "SWASHNEW" && args.size() == 5) {
            uint64_t len = 0;
            const char* t = sv_text(gcb, args[2], &len);
            listings.emplace_back(t, len);
        }
        if (name != "SWASHGET")
            return empty_swash();
        // Lower case: A-Z, U+00C0-U+00DE and the even code points of
        // U+0100-U+017F map to their partners; 32-bit entries.
        uint64_t start = static_cast<uint64_t>(sv_to_int(gcb, args[1]));
        uint64_t count = static_cast<uint64_t>(sv_to_int(gcb, args[2]));
        std::string v(count * 4, '\0');
        for (uint64_t i = 0; i < count; i++) {
            uint64_t c = start + i, to = 0;
            if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7))
                to = c + 0x20;
            else if (c >= 0x100 && c < 0x180 && !(c & 1))
                to = c + 1;
            v[4 * i + 2] = static_cast<char>(to >> 8);
            v[4 * i + 3] = static_cast<char>(to & 0xFF);
        }
        return sv_new_from_bytes(gcb, v.data(), v.size());
    }
    // Compiles a UTF-8 pattern under the flag letters; null after a jump.
    re_compiled* compile(const std::string& pattern, const char* flags = "", uint16_t more_flags = 0)
    {
        op_pattern pm{};
        pm.op_pmdynflags = 0x04;
        pm.op_pmflags = more_flags;
        for (const char* f = flags; *f; f++)
            pattern_flag_add(gcb, &pm.op_pmflags, *f);
        re_compiled* rx = nullptr;
        int32_t saved = gcb->savestack_ix;
        int32_t c = run([&] { rx = gcb->re_hook_compile(gcb, pattern.data(), pattern.data() + pattern.size(), &pm); });
        if (c)
            leave_scope(gcb, saved);
        return c ? nullptr : rx;
    }
    uint8_t fold[256] = {};
    std::vector<std::string> listings;
};

// What each member writes into the listing, and the node's argument: the
// class flags, then the data-array index of the swash ('s').
TEST_F(Utf8Class, ListingsAndNodes)
{
    struct Case {
        std::string pattern;
        const char* flags;
        std::string listing;  // after "# comment\n"
        uint32_t class_flags;
    };
    const Case cases[] = {
        {"[a\\x{100}-\\x{200}\\w]", "", "0061\n0100\t0200\n+utf8::IsWord\n", 0},
        {"[^\xC3\xA9-\xC4\x80]", "i", "00e9\t0100\n", 0x6},
        // An escaped character stands for itself, decoded whole.
        {"[\\\xC3\xA9" "x]", "", "00e9\n0078\n", 0},
        {"[\\\xE2\x98\xBA]", "", "263a\n", 0},
        // A code point is an unsigned integer of the interpreter.
        {"[\\x{100000041}]", "", "ffffffff\n", 0},
        {"[[:word:][:^space:]\\d\\S]", "", "+utf8::IsWord\n!utf8::IsSpace\n+utf8::IsDigit\n!utf8::IsSpacePerl\n", 0},
        {"[\\p{L}\\P{Lu}\\pN]", "", "+utf8::L\n!utf8::Lu\n+utf8::N\n", 0},
        {"[\\w-z]", "", "+utf8::IsWord\n002D\n007a\n", 0},
        {"[a-\\w]", "", "0061\n002d\n+utf8::IsWord\n", 0},
        {"[]\\x{263a}-]", "", "005d\n263a\n002d\n", 0},
        {"[\\N\\e\\cA\\101\\xE9]", "", "004e\n001b\n0001\n0041\n00e9\n", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        listings.clear();
        re_compiled* rx = compile(c.pattern, c.flags);
        ASSERT_NE(rx, nullptr) << err_text();
        ASSERT_EQ(listings.size(), 1u);
        EXPECT_EQ(listings[0], "# comment\n" + c.listing);
        re_program_node* n = reinterpret_cast<re_program_node*>(rx->program) + 1;
        ASSERT_EQ(n->type, RE_ANYOFUTF8);
        uint32_t arg = re_arg(n);
        EXPECT_EQ(arg & 0xFFFF, c.class_flags);
        ASSERT_NE(rx->data, nullptr);
        ASSERT_LT(arg >> 16, rx->data->count);
        EXPECT_EQ(rx->data->what[arg >> 16], 's');
        pregfree(gcb, rx);
    }
}

// Under /i a UTF-8 literal is folded to lower case when it is compiled: by
// the Unicode case map, or under locale by the host's table below 256.
TEST_F(Utf8Class, FoldedLiterals)
{
    struct Case {
        std::string pattern;
        bool locale;
        std::string text;
    };
    const Case cases[] = {
        {"\xC3\x89\xC4\x80" "A\\x{100}\\xC9", false, "\xC3\xA9\xC4\x81" "a\xC4\x81\xC3\xA9"},
        {"\xC3\x89\xC4\x80" "A\\x{100}\\xC9", true, "\xC3\x89\xC4\x81" "a\xC4\x81\xC3\x89"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.locale);
        re_compiled* rx = compile(c.pattern, "i", c.locale ? 0x0800 : 0);
        ASSERT_NE(rx, nullptr) << err_text();
        re_program_node* n = reinterpret_cast<re_program_node*>(rx->program) + 1;
        EXPECT_EQ(n->type, c.locale ? RE_EXACTFL : RE_EXACTF);
        EXPECT_EQ(std::string(re_text(n), n->flags), c.text);
        pregfree(gcb, rx);
    }
}

}  // namespace
