// UTF-8 encoding and decoding, buffer conversions, UTF-16, and UTF-8 string
// values.
#include "fixture.h"

#include "ds/src/prxmsg.h"
#include "ds/src/prxutf8.h"

namespace {

using prxtest::Interp;

class Utf8 : public Interp {
protected:
    std::string enc(uint64_t uv)
    {
        uint8_t buf[16];
        uint8_t* end = utf8_encode(gcb, buf, uv);
        return std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(end - buf));
    }
    const uint8_t* u(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }
    SV* bytes(const std::string& s) { return sv_new_from_bytes(gcb, s.data(), s.size()); }
    SV* utf8(const std::string& s)
    {
        SV* sv = bytes(s);
        sv->flags |= SVf_UTF8;
        return sv;
    }
};

TEST_F(Utf8, EncodeLengthsAtTheBoundaries)
{
    struct Case {
        uint64_t uv;
        size_t len;
    } cases[] = {{0x7F, 1},          {0x80, 2},         {0x7FF, 2},         {0x800, 3},         {0xFFFF, 3},
                 {0x10000, 4},       {0x1FFFFF, 4},     {0x200000, 5},      {0x3FFFFFF, 5},     {0x4000000, 6},
                 {0x7FFFFFFF, 6},    {0x80000000, 7},   {0xFFFFFFFFFull, 7}, {0x1000000000ull, 13},
                 {UINT64_MAX, 13}};
    for (const Case& c : cases) {
        std::string e = enc(c.uv);
        EXPECT_EQ(e.size(), c.len) << std::hex << c.uv;
        EXPECT_EQ(utf8_encoded_length(c.uv), c.len);
        // Every form decodes back with the overlong test in force, the
        // 13-byte one too (its fixed 0x80 bytes are no overlong form).
        int64_t len = 0;
        EXPECT_EQ(utf8_decode(gcb, u(e), e.size(), &len, UTF8_ALLOW_ANYUV), c.uv) << std::hex << c.uv;
        EXPECT_EQ(len, static_cast<int64_t>(c.len));
        EXPECT_EQ(utf8_skip_table[static_cast<uint8_t>(e[0])], c.len);
    }
    EXPECT_EQ(enc(0x80000000), "\xFE\x82\x80\x80\x80\x80\x80");
    EXPECT_EQ(enc(0x1000000000ull), std::string("\xFF\x80\x80\x80\x80\x80\x81\x80\x80\x80\x80\x80\x80", 13));
    int64_t len = 0;
    EXPECT_EQ(utf8_decode(gcb, u(enc(uint64_t{1} << 40)), 13, &len, UTF8_ALLOW_FE_FF), uint64_t{1} << 40);
    EXPECT_EQ(utf8_decode(gcb, u(enc(0x10000)), 4, &len, 0), 0x10000u);
    EXPECT_EQ(enc(UINT64_MAX), "\xFF\x80\x8F\xBF\xBF\xBF\xBF\xBF\xBF\xBF\xBF\xBF\xBF");
    EXPECT_EQ(enc(0xE9), "\xC3\xA9");
    EXPECT_EQ(enc(0x20AC), "\xE2\x82\xAC");
    EXPECT_EQ(err_raw(), "");
}

TEST_F(Utf8, Malformations)
{
    warnings_all();
    set_op(111, "ord", "ord");
    struct Case {
        std::string bytes;
        uint64_t curlen;
        uint32_t flags;
        uint64_t value;
        int64_t len;
        const char* warned;
    } cases[] = {
        {"\xC0\x80", 2, 0, 0, 2, "(2 bytes, need 1)"},
        {"\xC0\x80", 2, 0x100, 0, 2, ""},
        {"\xC1\xBF", 2, 0, 0, 2, "(2 bytes, need 1)"},
        {"\xE0\x80\x80", 3, 0, 0, 3, "(3 bytes, need 1)"},
        {"\x80", 1, 0, 0, 1, "(unexpected continuation byte 0x80)"},
        {"\xE2\x82", 2, 0, 0, 3, "(2 bytes, need 3)"},
        {"\xC3", 1, 0, 0, 2, "(1 byte, need 2)"},
        {"\xED\xA0\x80", 3, 0, 0, 3, "(UTF-16 surrogate 0xd800)"},
        {"\xEF\xBF\xBE", 3, 0, 0, 3, "(byte order mark 0xfffe)"},
        {"\xEF\xBF\xBF", 3, 0, 0, 3, "(character 0xffff)"},
        {"\xED\xA0\x80", 3, 0x1E9, 0xD800, 3, ""},
        {"\xEF\xBF\xBE", 3, 0x1E9, 0xFFFE, 3, ""},
        {"\xEF\xBF\xBF", 3, 0x1E9, 0xFFFF, 3, ""},
        {"\x80", 1, 0x1E9, 0, -1, ""},
        {"\xC3\x28", 2, 0x1E9, 0, -1, ""},
        {"\xC3\x28", 2, 0, 0, 1, "(unexpected non-continuation byte 0x28 after start byte 0xc3)"},
        {"\xE2\x82\x28", 3, 0, 0, 3, "(unexpected non-continuation byte 0x28 after start byte 0xe2)"},
        {"\xFE\x82\x80\x80\x80\x80\x80", 7, 0, 0, 1, "(byte 0xfe)"},
        {"", 0, 0, 0, 1, "(empty string)"},
        {"\xFF\x80\x90\x80\x80\x80\x80\x80\x80\x80\x80\x80\x80", 13, 0xFF, 0, 13,
         "(overflow at 0x400000000000000, byte 0x80)"},
        {"\xFF\x80\x80\x80\x80\x80\x80\x80\x80\x80\x81\xBF\xBF", 13, 0x08, 0, 13, "(13 bytes, need 3)"},
        {"\xFF\x80\x80\x80\x80\x80\x80\x80\x80\x80\x81\xBF\xBF", 13, 0, 0, 1, "(byte 0xff)"},
        {"\xC3\xA9", 2, 0, 0xE9, 2, ""},
    };
    for (const Case& c : cases) {
        gcb->err.len = 0;
        int64_t len = 99;
        EXPECT_EQ(utf8_decode(gcb, u(c.bytes), c.curlen, &len, c.flags), c.value) << c.warned;
        EXPECT_EQ(len, c.len) << c.warned;
        std::string want = *c.warned ? std::string("Malformed UTF-8 character ") + c.warned + " in ord.\n" : "";
        EXPECT_EQ(err_text(), want);
    }
    gcb->err.len = 0;
    gcb->op = nullptr;
    utf8_decode(gcb, u("\x80"), 1, nullptr, 0);
    EXPECT_EQ(err_text(), "Malformed UTF-8 character (unexpected continuation byte 0x80).\n");
    gcb->err.len = 0;
    warnings_none();
    EXPECT_EQ(utf8_decode_simple(gcb, u("\x80"), nullptr), 0u);
    EXPECT_EQ(err_raw(), "");
}

TEST_F(Utf8, Checks)
{
    EXPECT_EQ(utf8_check_char(gcb, u("\xC0\x80")), 0);
    EXPECT_EQ(utf8_check_char(gcb, u("\xE0\x80\x80")), 0);
    EXPECT_EQ(utf8_check_char(gcb, u("\xC3\xA9")), 2);
    EXPECT_EQ(utf8_check_char(gcb, u("a")), 1);
    EXPECT_EQ(utf8_check_char(gcb, u("\xFE\x82\x80\x80\x80\x80\x80")), 0);
    EXPECT_TRUE(utf8_check_string(gcb, u(""), 0));
    EXPECT_TRUE(utf8_check_string(gcb, u("a\xC3\xA9\xE2\x82\xAC"), 0));
    EXPECT_FALSE(utf8_check_string(gcb, u("a\xE2\x82"), 3));
    EXPECT_FALSE(utf8_check_string(gcb, u("\xC3\x28"), 2));
}

TEST_F(Utf8, LengthsDistancesAndSteps)
{
    std::string s = "a\xC3\xA9" "b\xE2\x82\xAC";
    const uint8_t* p = u(s);
    EXPECT_EQ(utf8_length(gcb, p, p + s.size()), 4u);
    EXPECT_EQ(utf8_length(gcb, p, p), 0u);
    EXPECT_EQ(utf8_distance(gcb, p + 7, p), 4);
    EXPECT_EQ(utf8_distance(gcb, p, p + 7), -4);
    EXPECT_EQ(utf8_distance(gcb, p + 3, p + 3), 0);
    EXPECT_EQ(utf8_skip_chars(gcb, p, 3), p + 4);
    EXPECT_EQ(utf8_skip_chars(gcb, p + 7, -2), p + 3);
    EXPECT_EQ(run([&] { utf8_length(gcb, p, p + 5); }), 2);
    EXPECT_EQ(err_text(), "panic: utf8_length: unaligned end.\n");
    gcb->err.len = 0;
    EXPECT_EQ(run([&] { utf8_length(gcb, p + 1, p); }), 2);
    EXPECT_EQ(err_text(), "panic: utf8_length: unexpected end.\n");
    gcb->err.len = 0;
    EXPECT_EQ(run([&] { utf8_distance(gcb, p + 5, p + 1); }), 2);
    EXPECT_EQ(err_text(), "panic: utf8_distance: unaligned end.\n");
}

TEST_F(Utf8, BufferConversions)
{
    std::string e = "\xC3\xA9";
    int64_t len = 2;
    uint8_t* r = utf8_convert_to_bytes(gcb, reinterpret_cast<uint8_t*>(e.data()), &len);
    EXPECT_EQ(len, 1);
    EXPECT_EQ(r[0], 0xE9);
    std::string euro = "\xE2\x82\xAC";
    len = 3;
    EXPECT_EQ(utf8_convert_to_bytes(gcb, reinterpret_cast<uint8_t*>(euro.data()), &len), nullptr);
    EXPECT_EQ(len, -1);
    EXPECT_EQ(euro, "\xE2\x82\xAC");
    std::string overlong = "\xC1\x81";
    len = 2;
    EXPECT_EQ(utf8_convert_to_bytes(gcb, reinterpret_cast<uint8_t*>(overlong.data()), &len), nullptr);

    struct Case {
        std::string in;
        std::string out;
        int32_t flag_after;
        bool same_buffer;
    } copies[] = {
        {"\xC3\xA9" "a", "\xE9" "a", 0, false},
        {"plain", "plain", 0, true},
        {"\xC0\x80", "\xC0\x80", 1, true},   // the overlong leads are never folded
        {"\xC1\xBF", "\xC1\xBF", 1, true},
        {"\xE2\x82\xAC", "\xE2\x82\xAC", 1, true},
        {"\xC3", "\xC3", 1, true},
    };
    for (Case& c : copies) {
        int64_t n = static_cast<int64_t>(c.in.size());
        int32_t flag = 1;
        uint8_t* in = reinterpret_cast<uint8_t*>(c.in.data());
        uint8_t* out = utf8_copy_as_bytes(gcb, in, &n, &flag);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), static_cast<size_t>(n)), c.out);
        EXPECT_EQ(flag, c.flag_after);
        EXPECT_EQ(out == in, c.same_buffer);
    }
    int64_t n = 3;
    uint8_t* up = utf8_copy_from_bytes(gcb, u("a\xE9z"), &n);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(up), static_cast<size_t>(n)), "a\xC3\xA9z");
    EXPECT_EQ(up[n], 0);
}

TEST_F(Utf8, Utf16)
{
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {{std::string("\x00\x41\x00\xE9\x20\xAC", 6), "A\xC3\xA9\xE2\x82\xAC"},
                 {std::string("\xD8\x3D\xDE\x00", 4), "\xF0\x9F\x98\x80"},
                 {std::string("\xDC\x00", 2), "\xED\xB0\x80"},
                 {"", ""}};
    for (Case& c : cases) {
        uint8_t out[32];
        int32_t n = -1;
        uint8_t* end = utf16_to_utf8(gcb, u(c.in), out, static_cast<int32_t>(c.in.size()), &n);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), static_cast<size_t>(n)), c.out);
        EXPECT_EQ(end, out + n);
        std::string le = c.in;
        for (size_t i = 0; i + 1 < le.size(); i += 2)
            std::swap(le[i], le[i + 1]);
        utf16le_to_utf8(gcb, reinterpret_cast<uint8_t*>(le.data()), out, static_cast<int32_t>(le.size()), &n);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), static_cast<size_t>(n)), c.out);
    }
    uint8_t out[32];
    int32_t n;
    EXPECT_EQ(run([&] { utf16_to_utf8(gcb, u(std::string("\xD8\x3D\x00\x41", 4)), out, 4, &n); }), 2);
    EXPECT_EQ(err_text(), "Malformed UTF-16 surrogate.\n");
    gcb->err.len = 0;
    EXPECT_EQ(run([&] { utf16_to_utf8(gcb, u("\xD8\x3D"), out, 2, &n); }), 2);
    EXPECT_EQ(err_text(), "Malformed UTF-16 surrogate.\n");
    gcb->err.len = 0;
    EXPECT_EQ(run([&] { utf16_to_utf8(gcb, u("abc"), out, 3, &n); }), 2);
    EXPECT_EQ(err_text(), "panic: utf16_to_utf8: odd bytelen.\n");
}

TEST_F(Utf8, StringValues)
{
    SV* e = utf8("\xC3\xA9");
    EXPECT_TRUE(sv_convert_to_bytes(gcb, e, 0));
    EXPECT_EQ(str(e), "\xE9");
    EXPECT_FALSE(e->flags & SVf_UTF8);
    SV* euro = utf8("\xE2\x82\xAC");
    EXPECT_FALSE(sv_convert_to_bytes(gcb, euro, 1));
    EXPECT_EQ(str(euro), "\xE2\x82\xAC");
    EXPECT_TRUE(euro->flags & SVf_UTF8);
    set_op(111, "ord", "ord");
    EXPECT_EQ(run([&] { sv_convert_to_bytes(gcb, euro, 0); }), 2);
    EXPECT_EQ(err_text(), "Wide character in ord.\n");
    SV* empty = utf8("");
    EXPECT_TRUE(sv_convert_to_bytes(gcb, empty, 0));
    EXPECT_FALSE(empty->flags & SVf_UTF8);

    SV* abc = bytes("abc");
    char* buf = sv_pv(abc);
    sv_convert_to_utf8(gcb, abc);
    EXPECT_EQ(sv_pv(abc), buf);
    EXPECT_FALSE(abc->flags & SVf_UTF8);
    SV* b = bytes("\xE9");
    sv_convert_to_utf8(gcb, b);
    EXPECT_EQ(str(b), "\xC3\xA9");
    EXPECT_EQ(sv_cur(b), 2u);
    EXPECT_EQ(sv_len(b), 3u);
    EXPECT_TRUE(b->flags & SVf_UTF8);
    // An offset start is given back whole before the buffer is replaced.
    SV* o = bytes("xx\xE9");
    sv_chop_front(gcb, o, sv_pv(o) + 2);
    sv_convert_to_utf8(gcb, o);
    EXPECT_EQ(str(o), "\xC3\xA9");
    SV* enc = bytes("\xE9");
    sv_encode_utf8(gcb, enc);
    EXPECT_EQ(str(enc), "\xC3\xA9");
    EXPECT_FALSE(enc->flags & SVf_UTF8);

    SV* valid = bytes("\xC3\xA9");
    EXPECT_TRUE(sv_mark_utf8_if_valid(gcb, valid));
    EXPECT_TRUE(valid->flags & SVf_UTF8);
    EXPECT_EQ(sv_char_length(gcb, valid), 1u);
    EXPECT_EQ(sv_byte_length(gcb, valid), 2u);
    SV* invalid = bytes("\xC3\x28");
    EXPECT_FALSE(sv_mark_utf8_if_valid(gcb, invalid));
    EXPECT_FALSE(invalid->flags & SVf_UTF8);
    SV* ascii = bytes("abc");
    EXPECT_TRUE(sv_mark_utf8_if_valid(gcb, ascii));
    EXPECT_FALSE(ascii->flags & SVf_UTF8);
    EXPECT_EQ(sv_char_length(gcb, nullptr), 0u);
    EXPECT_EQ(sv_byte_length(gcb, nullptr), 0u);
}

TEST_F(Utf8, ByteOffsetsToCharacters)
{
    SV* sv = utf8("\xC3\xA9" "ab");
    struct Case {
        int32_t in, out;
    } cases[] = {{3, 2}, {1, 1}, {4, 3}, {0, 0}};
    for (const Case& c : cases) {
        int32_t off = c.in;
        sv_pos_b2u(gcb, sv, &off);
        EXPECT_EQ(off, c.out) << c.in;
    }
    SV* zero = utf8(std::string("a\0b", 3));
    int32_t off = 3;
    sv_pos_b2u(gcb, zero, &off);
    EXPECT_EQ(off, 3);
    int32_t bad = 5;
    EXPECT_EQ(run([&] { sv_pos_b2u(gcb, sv, &bad); }), 2);
    EXPECT_EQ(err_text(), "panic: sv_pos_b2u: bad byte offset.\n");
    bad = -1;
    EXPECT_EQ(run([&] { sv_pos_b2u(gcb, sv, &bad); }), 2);
}

TEST_F(Utf8, EqualityAndOrderAcrossForms)
{
    SV* u8 = utf8("\xC3\xA9");
    SV* b = bytes("\xE9");
    EXPECT_EQ(sv_strings_equal(gcb, u8, b), 1);
    EXPECT_EQ(sv_strings_equal(gcb, b, u8), 1);
    EXPECT_EQ(sv_compare_strings(gcb, u8, b), 0);
    EXPECT_EQ(sv_compare_strings(gcb, bytes("\xEA"), u8), 1);
    EXPECT_EQ(sv_strings_equal(gcb, utf8("\xE2\x82\xAC"), bytes("\xE2\x82\xAC")), 1);
    runtime_cop.op.op_private |= HINT_BYTES;
    EXPECT_EQ(sv_strings_equal(gcb, u8, b), 0);
    EXPECT_EQ(sv_compare_strings(gcb, u8, b), -1);
}

TEST_F(Utf8, AppendingAcrossForms)
{
    SV* d = bytes("\xE9");
    sv_append_sv(gcb, d, utf8("\xC3\xA8"));
    EXPECT_EQ(str(d), "\xC3\xA9\xC3\xA8");
    EXPECT_TRUE(d->flags & SVf_UTF8);
    SV* src = bytes("\xE8");
    SV* d2 = utf8("\xC3\xA9");
    sv_append_sv(gcb, d2, src);
    EXPECT_EQ(str(d2), "\xC3\xA9\xC3\xA8");
    EXPECT_EQ(str(src), "\xE8");
    EXPECT_FALSE(src->flags & SVf_UTF8);
    // The formatter on a UTF-8 target.
    SV* target = utf8("");
    sv_append_formatted(gcb, target, "%c|%s", 200, "x");
    EXPECT_EQ(str(target), "\xC3\x88|x");
    SV* t2 = sv_new_head(gcb);
    sv_set_formatted(gcb, t2, "%_!", utf8("\xC3\xA9"));
    EXPECT_EQ(str(t2), "\xC3\xA9!");
    EXPECT_TRUE(t2->flags & SVf_UTF8);
}

}  // namespace
