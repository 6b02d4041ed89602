// rexeval: evaluates program texts in one interpreter made through rexhost's
// entry table, the way a host holding an interpreter does.
//
//   rexeval [TEXT...]
//
// Without texts, each line of standard input is one text. Input bytes may be
// written as %HH; for each text one line is printed: the text the eval entry
// returns, a TAB, and the text of $@, both with the bytes 0x00-0x1F,
// 0x7F-0xFF and '%' written as %HH. What the interpreter writes to its
// captured streams goes to standard error in the host log's form.
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "host/prxabi.h"
#include "hostsim/hostsim.h"

namespace {

int hex_value(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'f')
        return (c | 0x20) - 'a' + 10;
    return -1;
}

std::string unescape(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        if (s[i] == '%' && i + 2 < s.size()) {
            int hi = hex_value(s[i + 1]);
            int lo = hex_value(s[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

std::string escape(const char* p, size_t n)
{
    std::string out;
    for (size_t i = 0; i < n; i++) {
        unsigned char c = static_cast<unsigned char>(p[i]);
        if (c < 0x20 || c >= 0x7F || c == '%') {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

int usage()
{
    std::fprintf(stderr,
                 "usage: rexeval [TEXT...]\n"
                 "  Evaluates each TEXT (or each line of standard input) in one interpreter and\n"
                 "  prints the result, a TAB and $@, with control bytes, bytes above 0x7E and\n"
                 "  '%%' written as %%HH. Input may use the same escapes.\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> texts;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            usage();
            return 0;
        }
        texts.push_back(unescape(a));
    }

    hostsim::Host& h = hostsim::host();
    h.echo = &std::cerr;
    h.fatal_exits = true;
    h.lean();
    hostsim::buffer_output();
    hostsim::LoadedModule* mod = h.load("REXHOST ");
    const rexhost_entry_table* table = nullptr;
    if (mod && mod->initialised) {
        HostEntry* group = h.vec.groups[REXHOST_GROUP];
        if (group)
            table = reinterpret_cast<const rexhost_entry_table*>(reinterpret_cast<void* const*>(group) - 3);
    }
    if (!table) {
        std::fprintf(stderr, "rexeval: the module rexhost could not be loaded\n");
        return 1;
    }
    host_task* task = &h.main_task()->handle;
    PERLGCB* interp = table->interp_create(task);
    if (!interp) {
        std::fprintf(stderr, "rexeval: no interpreter could be made\n");
        return 1;
    }
    table->report_notes(task, interp, "REXEVAL");
    table->report_errors(task, interp, "REXEVAL");

    auto one = [&](const std::string& text) {
        const char* result = table->eval_text(interp, text.c_str(), 0);
        const char* err = nullptr;
        int64_t err_len = 0;
        table->get_sv_text(interp, "@", &err, &err_len);
        std::string line = result ? escape(result, std::strlen(result)) : std::string();
        line += '\t';
        line += err ? escape(err, static_cast<size_t>(err_len)) : std::string();
        std::printf("%s\n", line.c_str());
        table->report_notes(task, interp, "REXEVAL");
        table->report_errors(task, interp, "REXEVAL");
    };

    if (texts.empty()) {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            one(unescape(line));
        }
    } else {
        for (const std::string& t : texts)
            one(t);
    }
    table->interp_destroy(interp, task);
    std::fflush(stdout);
    return 0;
}
