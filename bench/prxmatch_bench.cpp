// PRXMATCH through the whole host path (the callback, the entry slots, the
// bridge and the engine), one call per line of the corpus, beside PCRE2's
// interpreter doing the same records: a cached call site against PCRE2
// compiling once and matching each record, a releasing call site (kind 'D',
// compiling on every call) against PCRE2 compiling and matching each record;
// then the resident size of one interpreter and its growth over a million
// calls. The summary prints the ratios measured in one run.
//
// The corpus is PRX_BENCH_CORPUS (environment) or the build's default path.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/prxabi.h"
#include "host/xkfunc.h"
#include "hostsim/hostsim.h"
#include "bench/bench_support.h"

#ifdef PRX_HAVE_PCRE2
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#endif

namespace {

struct Case {
    const char* name;
    const char* prx;     // the PRXMATCH pattern text
    const char* pcre;    // the same pattern for PCRE2
    uint32_t options;
};
const Case cases[] = {
    {"literal", "/Holmes/", "Holmes", 0},
    {"class", "/[A-Z][a-z]+ Holmes/", "[A-Z][a-z]+ Holmes", 0},
    {"fold-alt", "/sherlock|watson/i", "sherlock|watson", 0x00000008u /* PCRE2_CASELESS */},
};

std::vector<std::string> records;
hostsim::Host* host = nullptr;
xk_func_callback prxmatch = nullptr;

bool load_corpus()
{
    const char* path = std::getenv("PRX_BENCH_CORPUS");
    std::ifstream in(path ? path : PRX_BENCH_CORPUS, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "prxmatch_bench: corpus not found: %s\n", path ? path : PRX_BENCH_CORPUS);
        return false;
    }
    std::string line;
    while (std::getline(in, line))
        records.push_back(line);
    return true;
}

// One call site of PRXMATCH.
struct Site {
    XkFuncCall call{};
    XkValue pat{};
    XkValue src{};

    Site(const Case& c, bool cached)
    {
        call.task = &host->main_task()->handle;
        call.kind = cached ? 'X' : 'D';
        call.arg_flags = cached ? XKARG_CONSTANT : 0;
        pat.text = c.prx;
        pat.length = static_cast<int64_t>(std::strlen(c.prx));
        call.arg1 = &pat;
        call.arg2 = &src;
    }
    int64_t one(const std::string& r)
    {
        src.text = r.data();
        src.length = static_cast<int64_t>(r.size());
        double result = 0;
        call.err_flags = 0;
        prxmatch(&call, &result, nullptr, nullptr);
        return result > 0;
    }
    int64_t pass()
    {
        int64_t n = 0;
        for (const std::string& r : records)
            n += one(r);
        return n;
    }
};

#ifdef PRX_HAVE_PCRE2
// PCRE2's interpreter: compiled once, or on every record.
struct Peer {
    const Case& c;
    bool recompile;
    pcre2_code* code = nullptr;
    pcre2_match_data* md = nullptr;

    Peer(const Case& cs, bool re) : c(cs), recompile(re)
    {
        if (!recompile)
            compile();
    }
    ~Peer() { release(); }
    void compile()
    {
        int err = 0;
        PCRE2_SIZE off = 0;
        code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(c.pcre), PCRE2_ZERO_TERMINATED, c.options, &err, &off, nullptr);
        md = pcre2_match_data_create_from_pattern(code, nullptr);
    }
    void release()
    {
        pcre2_match_data_free(md);
        pcre2_code_free(code);
        md = nullptr;
        code = nullptr;
    }
    int64_t one(const std::string& r)
    {
        if (recompile)
            compile();
        int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(r.data()), r.size(), 0, 0, md, nullptr);
        if (recompile)
            release();
        return rc > 0;
    }
    int64_t pass()
    {
        int64_t n = 0;
        for (const std::string& r : records)
            n += one(r);
        return n;
    }
};
#endif

// Seconds per pass, measured over at least half a second.
template <class Runner>
double seconds_per_pass(Runner& r, int64_t* matches)
{
    return ::seconds_per_pass([&] { return r.pass(); }, 0.5, matches);
}

// Bytes the interpreter's pools hold (every pool but the host's and the
// tasks' allocators).
uint64_t interpreter_bytes()
{
    uint64_t n = 0;
    for (auto& p : host->pools)
        if (!p->destroyed && p.get() != host->host_pool_ && p->owner != "host" &&
            p.get() != reinterpret_cast<hostsim::Pool*>(host->main_task()->handle.allocator))
            n += p->live_bytes;
    return n;
}

uint64_t resident_kib()
{
    std::ifstream statm("/proc/self/statm");
    uint64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * 4;
}

void summary()
{
    double calls = static_cast<double>(records.size());
    std::printf("\n%-10s %-10s %14s %14s %8s %6s\n", "case", "site", "ours calls/s", "pcre2 calls/s", "ratio", "agree");
    for (const Case& c : cases) {
        for (bool cached : {true, false}) {
            Site s(c, cached);
            int64_t mo = 0;
            double so = seconds_per_pass(s, &mo);
#ifdef PRX_HAVE_PCRE2
            Peer p(c, !cached);
            int64_t mp = 0;
            double sp = seconds_per_pass(p, &mp);
            std::printf("%-10s %-10s %14.0f %14.0f %8.3f %6s\n", c.name, cached ? "cached" : "releasing", calls / so,
                        calls / sp, sp / so, mo == mp ? "yes" : "NO");
#else
            std::printf("%-10s %-10s %14.0f %14s %8s %6s\n", c.name, cached ? "cached" : "releasing", calls / so, "-",
                        "-", "-");
#endif
        }
    }
    std::printf("ratio = PCRE2's time / ours: a cached site aims at 1 or more, a releasing one at 0.1 or more\n");

    // Resident size of one interpreter and its growth over a million calls.
    Site s(cases[1], true);
    s.one(records[0]);
    uint64_t pool_first = interpreter_bytes();
    uint64_t rss_first = resident_kib();
    int64_t done = 0;
    while (done < 1000000)
        for (const std::string& r : records) {
            s.one(r);
            if (++done == 1000000)
                break;
        }
    uint64_t pool_after = interpreter_bytes();
    uint64_t rss_after = resident_kib();
    std::printf("\ninterpreter pool bytes after one call %llu, after a million calls %llu (growth %lld)\n",
                static_cast<unsigned long long>(pool_first), static_cast<unsigned long long>(pool_after),
                static_cast<long long>(pool_after) - static_cast<long long>(pool_first));
    std::printf("process resident KiB after one call %llu, after a million calls %llu\n",
                static_cast<unsigned long long>(rss_first), static_cast<unsigned long long>(rss_after));
}

}  // namespace

int main(int argc, char** argv)
{
    if (!load_corpus())
        return 1;
    host = &hostsim::reset();
    hostsim::FunctionModule fm = host->load_function_module("MATCHMOD");
    if (fm.count != 1) {
        std::fprintf(stderr, "prxmatch_bench: the module matchmod offers no PRXMATCH\n");
        return 1;
    }
    prxmatch = fm.callbacks[0];
    host->record_calls = false;
    for (const Case& c : cases) {
        for (bool cached : {true, false}) {
            std::string site = cached ? "/cached" : "/releasing";
            benchmark::RegisterBenchmark((std::string("prxmatch/") + c.name + site).c_str(), [&c, cached](benchmark::State& st) {
                Site s(c, cached);
                int64_t n = 0;
                for (auto _ : st)
                    benchmark::DoNotOptimize(n = s.pass());
                st.counters["calls/s"] = benchmark::Counter(static_cast<double>(records.size()) * st.iterations(),
                                                            benchmark::Counter::kIsRate);
            });
#ifdef PRX_HAVE_PCRE2
            benchmark::RegisterBenchmark((std::string("pcre2/") + c.name + site).c_str(), [&c, cached](benchmark::State& st) {
                Peer p(c, !cached);
                int64_t n = 0;
                for (auto _ : st)
                    benchmark::DoNotOptimize(n = p.pass());
                st.counters["calls/s"] = benchmark::Counter(static_cast<double>(records.size()) * st.iterations(),
                                                            benchmark::Counter::kIsRate);
            });
#endif
        }
    }
    return run_benchmarks(argc, argv, summary);
}
