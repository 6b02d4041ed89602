// pcre2_filter: the peer of prxmatch over a piped file, in the same shape:
// one line of standard input is one subject, and one position (1-based, 0
// for no match) is printed per line, through buffered output.
//
//   pcre2_filter [--per-line] [--caseless] PATTERN
//
// Without --per-line the pattern is compiled once, as at a cached call site;
// with it the pattern is compiled, matched and freed on every line, as at a
// releasing one.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

namespace {

struct Compiled {
    pcre2_code* code = nullptr;
    pcre2_match_data* md = nullptr;
};

bool compile(const std::string& pattern, uint32_t options, Compiled* c)
{
    int err = 0;
    PCRE2_SIZE off = 0;
    c->code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), options, &err, &off, nullptr);
    if (!c->code)
        return false;
    c->md = pcre2_match_data_create_from_pattern(c->code, nullptr);
    return c->md != nullptr;
}

void release(Compiled* c)
{
    pcre2_match_data_free(c->md);
    pcre2_code_free(c->code);
    c->md = nullptr;
    c->code = nullptr;
}

// The position of the first match in the line, 1-based, or 0.
unsigned long position(const Compiled& c, const std::string& line)
{
    int rc = pcre2_match(c.code, reinterpret_cast<PCRE2_SPTR>(line.data()), line.size(), 0, 0, c.md, nullptr);
    return rc > 0 ? static_cast<unsigned long>(pcre2_get_ovector_pointer(c.md)[0]) + 1 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    bool per_line = false;
    uint32_t options = 0;
    const char* pattern = nullptr;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--per-line") == 0)
            per_line = true;
        else if (std::strcmp(argv[i], "--caseless") == 0)
            options |= PCRE2_CASELESS;
        else
            pattern = argv[i];
    }
    if (!pattern) {
        std::fprintf(stderr, "usage: pcre2_filter [--per-line] [--caseless] PATTERN\n");
        return 2;
    }
    std::ios::sync_with_stdio(false);
    static char out_buffer[1 << 16];
    std::setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);

    Compiled once;
    if (!per_line && !compile(pattern, options, &once)) {
        std::fprintf(stderr, "pcre2_filter: the pattern does not compile\n");
        return 1;
    }
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (per_line) {
            Compiled c;
            if (!compile(pattern, options, &c)) {
                std::fprintf(stderr, "pcre2_filter: the pattern does not compile\n");
                return 1;
            }
            std::printf("%lu\n", position(c, line));
            release(&c);
        } else {
            std::printf("%lu\n", position(once, line));
        }
    }
    if (!per_line)
        release(&once);
    std::fflush(stdout);
    return 0;
}
