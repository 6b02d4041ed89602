// rxprobe: drives the pattern engine without the interpreter front end.
//   rxprobe              reads lines "pattern TAB flags TAB subject" (bytes
//                        0x00-0x1F, 0x7F-0xFF and '%' written as %HH) and
//                        prints "start TAB end", "-1 TAB -1", "guard TAB -1"
//                        or "error TAB message" for each; the flag letters
//                        are the pattern's (i m s x), and u compiles and
//                        matches in UTF-8 mode
//   rxprobe --trace      the same, with the matcher's trace of each match
//                        written to standard error before its outcome
//   rxprobe --dump PATTERN [FLAGS]   prints the program dump
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "ds/src/prx.h"
#include "ds/src/prxlibc.h"
#include "ds/src/prxop.h"
#include "ds/src/prxre.h"
#include "hostsim/hostsim.h"
#include "tests/support/engine_interp.h"

extern "C" const struct TOV_Image_Information* mcn_main(void* host, void* module);

namespace {

uint8_t fold[256];

std::string decode(const std::string& s)
{
    auto hex = [](char c) { return c >= '0' && c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '%' && i + 2 < s.size() + 0 + 1 && i + 2 <= s.size() - 1) {
            out += static_cast<char>(hex(s[i + 1]) * 16 + hex(s[i + 2]));
            i += 2;
        } else
            out += s[i];
    }
    return out;
}

std::string encode(const std::string& s)
{
    std::string out;
    char buf[4];
    for (unsigned char c : s) {
        if (c < 0x20 || c >= 0x7F || c == '%') {
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        } else
            out += static_cast<char>(c);
    }
    return out;
}

PERLGCB* fresh_interp() { return prxtest::engine_interp_new(fold); }

void drop_interp(PERLGCB* gcb) { prxtest::engine_interp_free(gcb, fold); }

// A captured stream as plain text, then emptied.
std::string take(prx_capture* cap)
{
    std::string raw = cap->len ? std::string(cap->buf, static_cast<size_t>(cap->len)) : "";
    cap->len = 0;
    std::string out;
    for (size_t i = 0; i < raw.size(); i++) {
        if (raw[i] == '%' && i + 1 < raw.size()) {
            char n = raw[i + 1];
            if (n == 'n' || n == '%') {
                out += n == 'n' ? '\n' : '%';
                i++;
                continue;
            }
            if (n == '1' && i + 2 < raw.size() && raw[i + 2] == 'z') {
                i += 2;
                continue;
            }
        }
        out += raw[i];
    }
    return out;
}

std::string take_err(PERLGCB* gcb) { return take(&gcb->err); }

struct Outcome {
    int32_t code;        // jump code of the compile or the match, 0 when none
    re_compiled* rx;
};

Outcome compile(PERLGCB* gcb, const std::string& pattern, const std::string& flags)
{
    op_pattern pm{};
    for (char f : flags) {
        if (f == 'u')
            pm.op_pmdynflags |= 0x04;  // the pattern text is UTF-8
        else
            pattern_flag_add(gcb, &pm.op_pmflags, f);
    }
    Outcome o{0, nullptr};
    JumpEnv env;
    o.code = jump_run(gcb, &env, true, [&] {
        o.rx = gcb->re_hook_compile(gcb, pattern.data(), pattern.data() + pattern.size(), &pm);
    });
    if (o.code)
        o.rx = nullptr;
    return o;
}

int dump(const std::string& pattern, const std::string& flags)
{
    PERLGCB* gcb = fresh_interp();
    gcb->debug_flags |= 0x200;
    Outcome o = compile(gcb, pattern, flags);
    std::string text = take_err(gcb);
    std::fputs(text.c_str(), stdout);
    if (o.rx)
        gcb->re_hook_free(gcb, o.rx);
    drop_interp(gcb);
    return o.code ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv)
{
    hostsim::Host& h = hostsim::reset();
    mcn_main(&h.vec, nullptr);
    if (argc >= 3 && std::strcmp(argv[1], "--dump") == 0)
        return dump(argv[2], argc >= 4 ? argv[3] : "");
    bool trace = argc >= 2 && std::strcmp(argv[1], "--trace") == 0;
    PERLGCB* gcb = fresh_interp();
    std::string line;
    while (std::getline(std::cin, line)) {
        std::vector<std::string> f;
        size_t p = 0;
        for (;;) {
            size_t t = line.find('\t', p);
            f.push_back(line.substr(p, t == std::string::npos ? std::string::npos : t - p));
            if (t == std::string::npos)
                break;
            p = t + 1;
        }
        while (f.size() < 3)
            f.push_back("");
        std::string pattern = decode(f[0]);
        std::string flags = decode(f[1]);
        std::string subject = decode(f[2]);
        take_err(gcb);
        Outcome o = compile(gcb, pattern, flags);
        if (!o.rx) {
            std::string msg = take_err(gcb);
            while (!msg.empty() && msg.back() == '\n')
                msg.pop_back();
            std::string shown;
            for (char c : msg)
                shown += c == '\n' ? std::string("%0A") : std::string(1, c);
            std::printf("error\t%s\n", shown.c_str());
            drop_interp(gcb);
            gcb = fresh_interp();
            continue;
        }
        gcb->multiline = flags.find('m') != std::string::npos;  // as the match entry sets it
        if (trace) {
            take(&gcb->out);
            gcb->debug_flags |= 0x200;
        }
        int32_t found = 0;
        JumpEnv env;
        int32_t code = jump_run(gcb, &env, true, [&] {
            found = gcb->re_hook_exec(gcb, o.rx, subject.data(), subject.data() + subject.size(), subject.data(), 0,
                                      nullptr, nullptr, 0);
        });
        gcb->multiline = 0;
        if (trace) {
            gcb->debug_flags &= ~0x200u;
            std::fflush(stdout);
            std::string text = take(&gcb->out);
            std::fwrite(text.data(), 1, text.size(), stderr);
        }
        if (code == 4)
            std::printf("guard\t-1\n");
        else if (code) {
            std::string msg = take_err(gcb);
            while (!msg.empty() && msg.back() == '\n')
                msg.pop_back();
            std::printf("error\t%s\n", encode(msg).c_str());
        } else if (found)
            std::printf("%d\t%d\n", o.rx->start_offsets[0], o.rx->end_offsets[0]);
        else
            std::printf("-1\t-1\n");
        std::fflush(stdout);
        if (code) {
            drop_interp(gcb);
            gcb = fresh_interp();
        } else
            gcb->re_hook_free(gcb, o.rx);
    }
    drop_interp(gcb);
    return 0;
}
