// tr/// over UTF-8 texts: the range description handed to utf8->SWASHNEW
// (a double here), its bit width and none value, the FINAL entry, and the
// complement, whose ranges are ordered by code point whatever the order in
// which they were written.
#include <string>
#include <vector>

#include "utf8_methods.h"

#include "ds/src/prxgv.h"
#include "ds/src/prxhv.h"
#include "ds/src/prxop.h"
#include "ds/src/prxpool.h"

namespace {

struct SwashCall {
    std::string list;
    int64_t bits, none;
};

class TransUtf8 : public doubles::Utf8Methods {
protected:
    SV* utf8_method(const std::string& name, const std::vector<SV*>& args) override
    {
        EXPECT_EQ(name, "SWASHNEW");
        EXPECT_EQ(args.size(), 5u);
        calls.push_back({str(args[2]), sv_to_int(gcb, args[3]), sv_to_int(gcb, args[4])});
        return empty_swash();
    }

    // tr/from/to/ with the flags; a text is UTF-8 when it says so.
    OP* tr(const std::string& from, bool from_utf8, const std::string& to, bool to_utf8, uint8_t flags)
    {
        int16_t* table = static_cast<int16_t*>(pool_malloc(gcb, 256 * sizeof(int16_t)));
        OP* o = op_new_string(gcb, OP_TRANS, 0, reinterpret_cast<char*>(table));
        o->op_private = flags;
        SV* t = sv_new_from_bytes(gcb, from.data(), from.size());
        SV* r = sv_new_from_bytes(gcb, to.data(), to.size());
        if (from_utf8)
            t->flags |= SVf_UTF8;
        if (to_utf8)
            r->flags |= SVf_UTF8;
        return op_trans_tables(gcb, o, op_new_value(gcb, OP_CONST, 0, t), op_new_value(gcb, OP_CONST, 0, r));
    }
    // The FINAL entry of the op's swash, or -1.
    int64_t final_of(OP* o)
    {
        SV* swash = reinterpret_cast<SV*>(op_string_pv(o));
        SV** v = hv_fetch_str(gcb, sv_as<HV>(sv_rv(swash)), "FINAL", 5, 0);
        return v ? sv_to_int(gcb, *v) : -1;
    }

    std::vector<SwashCall> calls;
};

TEST_F(TransUtf8, RangeDescriptions)
{
    constexpr uint8_t D = 0x10, C = 0x20;
    struct Case {
        const char* what;
        std::string from;
        bool from_utf8;
        std::string to;
        bool to_utf8;
        uint8_t flags;
        const char* list;
        int64_t bits, none, final;
        uint8_t privs;
    } cases[] = {
        {"tr/\\x{100}/a/", "\xC4\x80", true, "a", false, 0, "# comment\n0100\t\t0061\n", 8, 0x62, -1, 0x01},
        {"tr/\\x{100}-\\x{102}/a-c/", "\xC4\x80\xFF\xC4\x82", true, "a\xFF" "c", false, 0,
         "# comment\n0100\t0102\t0061\n", 8, 0x64, -1, 0x01},
        {"tr/\\x{100}\\x{101}/a/", "\xC4\x80\xC4\x81", true, "a", false, 0, "# comment\n0100\t\t0061\n0101\t\tXXXX\n", 8,
         0x62, 0x61, 0x01},
        {"tr/\\x{100}\\x{101}/a/d", "\xC4\x80\xC4\x81", true, "a", false, D, "# comment\n0100\t\t0061\n0101\t\tXXXX\n", 8,
         0x62, -1, 0x01 | D},
        {"tr/\\x{100}//", "\xC4\x80", true, "", false, 0, "# comment\n0100\t\t0100\n", 16, 0x101, -1, 0x01 | 0x04},
        {"tr/a/\\x{100}/", "a", false, "\xC4\x80", true, 0, "# comment\n0061\t\t0100\n", 16, 0x101, -1, 0x02 | 0x40},
        {"tr/\\xe9/\\x{100}/", "\xE9", false, "\xC4\x80", true, 0, "# comment\n00e9\t\t0100\n", 16, 0x101, -1, 0x02},
        // Written out of order: 'a' must stay out of the complement.
        {"tr/\\x{100}a/X/c", "\xC4\x80" "a", true, "X", false, C,
         "# comment\n0000\t\t0058\n0001\t0060\tXXXX\n0062\t00ff\tXXXX\n0101\t7fffffff\tXXXX\n", 8, 0x59, 0x58, 0x01 | C},
        {"tr/b-da/X/c", "b\xFF" "d" "a", true, "X", false, C,
         "# comment\n0000\t\t0058\n0001\t0060\tXXXX\n0065\t7fffffff\tXXXX\n", 8, 0x59, 0x58, 0x01 | C},
    };
    for (const Case& c : cases) {
        calls.clear();
        OP* o = tr(c.from, c.from_utf8, c.to, c.to_utf8, c.flags);
        ASSERT_EQ(calls.size(), 1u) << c.what;
        EXPECT_EQ(calls[0].list, c.list) << c.what;
        EXPECT_EQ(calls[0].bits, c.bits) << c.what;
        EXPECT_EQ(calls[0].none, c.none) << c.what;
        EXPECT_EQ(final_of(o), c.final) << c.what;
        EXPECT_EQ(o->op_private, c.privs) << c.what;
        op_free_tree(gcb, o);
    }
}

}  // namespace
