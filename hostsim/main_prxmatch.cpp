// prxmatch: calls the host function PRXMATCH the way the host does, one call
// per source at one call site, and prints each result; the host log goes to
// standard error.
//
//   prxmatch [--kind LETTER] [--constant] PATTERN [SOURCE...]
//   prxmatch [--kind LETTER] [--slot PATTERN]... --id N [SOURCE...]
//
// Without sources, each line of standard input is one source.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "hostsim/hostsim.h"
#include "matchmod/mm.h"
#include "matchmod/mmsession.h"

// The support library linked into this program fills session slots the way
// the host functions that register patterns do.
extern "C" const TOV_Image_Information* mcn_main(void* host, void* module);

namespace {

int usage()
{
    std::fprintf(stderr,
                 "usage: prxmatch [--kind LETTER] [--constant] PATTERN [SOURCE...]\n"
                 "       prxmatch [--kind LETTER] [--slot PATTERN]... --id N [SOURCE...]\n"
                 "  Calls PRXMATCH once per SOURCE (or per line of standard input) at one call\n"
                 "  site and prints the result: the position, 0, or . when it is missing,\n"
                 "  followed by the status when it is not 0. The host log goes to standard error.\n"
                 "  --kind    the call-site kind: a letter or a byte such as 0x88 (default X)\n"
                 "  --constant  the pattern argument is constant at the call site\n"
                 "  --id N    the first argument is the pattern id N (. for a missing value)\n"
                 "  --slot P  compile P into the next free pattern slot first\n");
    return 2;
}

bool missing(double d)
{
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return ((bits >> 52) & 0x7FF) == 0x7FF;
}

void write_result(double d)
{
    if (missing(d))
        std::putchar('.');
    else
        std::printf("%.17g", d);
}

// Compiles a pattern into the next free slot of the session; returns its id.
int32_t fill_slot(host_task* task, const std::string& pattern)
{
    int32_t id = prx_slot_alloc(task);
    if (id < 1)
        return id;
    PrxSlot* slot = &xk_session_of(task)->slots->slots[id - 1];
    host_pool* pool = task->allocator;
    auto* rec = static_cast<PrxCompiled*>(pool->alloc(pool, sizeof(PrxCompiled), POOL_ALLOC_ZERO6));
    if (!rec)
        return -1;
    xkLoadModule(REXHOST_INTERFACE_ID, "REXHOST ", 2);
    uint32_t status =
        rexhost_compile(rec, task, pattern.data(), static_cast<int32_t>(pattern.size()), "PRXMATCH", 1);
    slot->in_use = rec;
    slot->compiled = rec;
    std::fprintf(stderr, "prxmatch: slot %d holds %s", id, pattern.c_str());
    if (status)
        std::fprintf(stderr, " (compile status 0x%08X)", status);
    std::fputc('\n', stderr);
    return id;
}

}  // namespace

int main(int argc, char** argv)
{
    uint8_t kind = 'X';
    bool constant = false;
    bool by_id = false;
    double id = 0;
    std::vector<std::string> slot_patterns;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--kind") {
            const char* v = value();
            if (!v || !*v)
                return usage();
            if (std::strlen(v) == 1)
                kind = static_cast<uint8_t>(v[0]);
            else
                kind = static_cast<uint8_t>(std::strtoul(v, nullptr, 0));
        } else if (a == "--constant") {
            constant = true;
        } else if (a == "--id") {
            const char* v = value();
            if (!v)
                return usage();
            by_id = true;
            id = std::strcmp(v, ".") == 0 ? NAN : std::strtod(v, nullptr);
        } else if (a == "--slot") {
            const char* v = value();
            if (!v)
                return usage();
            slot_patterns.push_back(v);
        } else if (a == "--help" || a == "-h") {
            usage();
            return 0;
        } else if (a == "--") {
            for (i++; i < argc; i++)
                positional.push_back(argv[i]);
        } else {
            positional.push_back(a);
        }
    }
    if (!by_id && positional.empty())
        return usage();

    hostsim::Host& h = hostsim::host();
    h.echo = &std::cerr;
    h.fatal_exits = true;
    // A person reads the log as it goes; nothing reads the recorders, and the
    // pools need no test checks: memory stays flat over any number of calls.
    h.lean();
    hostsim::buffer_output();
    hostsim::FunctionModule fm = h.load_function_module("MATCHMOD");
    if (fm.count != 1 || fm.callbacks.empty() || std::string(fm.descriptors[0].name) != "PRXMATCH") {
        std::fprintf(stderr, "prxmatch: the module matchmod offers no PRXMATCH\n");
        return 1;
    }
    xk_func_callback prxmatch = fm.callbacks[0];
    host_task* task = &h.main_task()->handle;

    if (!slot_patterns.empty()) {
        mcn_main(&h.vec, nullptr);
        for (const std::string& p : slot_patterns) {
            if (fill_slot(task, p) < 1) {
                std::fprintf(stderr, "prxmatch: no slot for %s\n", p.c_str());
                return 1;
            }
        }
    }

    std::string pattern = by_id ? std::string() : positional.front();
    std::vector<std::string> sources(positional.begin() + (by_id ? 0 : 1), positional.end());
    bool from_stdin = sources.empty();

    // One call site: the record, and so the cached compiled pattern, stays.
    XkFuncCall call{};
    XkValue arg1{};
    XkValue arg2{};
    call.task = task;
    call.kind = kind;
    call.arg_flags = static_cast<uint8_t>((by_id ? XKARG_NUMERIC : 0) | (constant ? XKARG_CONSTANT : 0));
    call.arg1 = &arg1;
    call.arg2 = &arg2;
    if (by_id) {
        arg1.number = id;
    } else {
        arg1.text = pattern.data();
        arg1.length = static_cast<int64_t>(pattern.size());
    }

    auto one = [&](const std::string& source) {
        arg2.text = source.data();
        arg2.length = static_cast<int64_t>(source.size());
        call.err_flags = 0;
        double result = 0;
        uint32_t status = prxmatch(&call, &result, nullptr, nullptr);
        write_result(result);
        if (status)
            std::printf("\tstatus 0x%08X", status);
        std::putchar('\n');
    };

    if (from_stdin) {
        std::string line;
        while (std::getline(std::cin, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            one(line);
        }
    } else {
        for (const std::string& s : sources)
            one(s);
    }
    std::fflush(stdout);
    return 0;
}
