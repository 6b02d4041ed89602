// PRXMATCH through the whole host path (the callback, the entry slots, the
// bridge and the engine), one call per line of the corpus, beside PCRE2's
// interpreter doing the same records, for each call-site kind on its own: a
// cached site (kind 'X', constant argument: compiled once, kept) against
// PCRE2 compiling once, and a releasing site (kind 'D': the pattern compiled
// and released on every call, and with it the task's interpreter built and
// taken down) against PCRE2 compiling, matching and freeing on every call.
// No call-site record, and so no interpreter, stays alive from one
// measurement to the next. Then the interpreter's pool bytes and the
// process's resident size after one call, after a million cached calls and
// after a hundred thousand releasing calls. The summary prints the ratios
// measured in one run.
//
// The corpus is PRX_BENCH_CORPUS (environment) or the build's default path.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "host/prxabi.h"
#include "host/xkfunc.h"
#include "hostsim/hostsim.h"

#ifdef PRX_HAVE_PCRE2
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#endif

namespace {

constexpr uint32_t CASELESS = 0x00000008u;  // PCRE2_CASELESS

struct Case {
    const char* name;
    const char* prx;     // the PRXMATCH pattern text
    const char* pcre;    // the same pattern for PCRE2
    uint32_t options;
};
const Case cases[] = {
    {"literal", "/Holmes/", "Holmes", 0},
    {"fold-lit", "/holmes/i", "holmes", CASELESS},
    {"class", "/[A-Z][a-z]+ Holmes/", "[A-Z][a-z]+ Holmes", 0},
    {"fold-alt", "/sherlock|watson/i", "sherlock|watson", CASELESS},
    {"anchored", "/^The /", "^The ", 0},
    {"date", "/\\d{1,2}(st|nd|rd|th)? [A-Z][a-z]+,? \\d{4}/", "\\d{1,2}(st|nd|rd|th)? [A-Z][a-z]+,? \\d{4}", 0},
    {"email", "/\\w+@\\w+\\.\\w+/", "\\w+@\\w+\\.\\w+", 0},
    {"backref", "/(\\w)\\1/", "(\\w)\\1", 0},
    {"lazy", "/H.*?s/", "H.*?s", 0},
    {"no-match", "/zqxjk/", "zqxjk", 0},
};
constexpr size_t RELEASING_RECORDS = 2000;  // records a releasing pass calls on

std::vector<std::string> records;
hostsim::Host* host = nullptr;
xk_func_callback prxmatch = nullptr;
const rexhost_entry_table* table = nullptr;

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
    return !records.empty();
}

size_t pass_records(bool cached) { return cached ? records.size() : std::min(records.size(), RELEASING_RECORDS); }

// One call site of PRXMATCH; its record (a cached site's) is released when
// the site goes, and with it the task's interpreter.
struct Site {
    XkFuncCall call{};
    XkValue pat{};
    XkValue src{};
    bool cached;

    Site(const Case& c, bool keep) : cached(keep)
    {
        call.task = &host->main_task()->handle;
        call.kind = keep ? 'X' : 'D';
        call.arg_flags = keep ? XKARG_CONSTANT : 0;
        pat.text = c.prx;
        pat.length = static_cast<int64_t>(std::strlen(c.prx));
        call.arg1 = &pat;
        call.arg2 = &src;
    }
    ~Site()
    {
        if (call.cached)
            table->release(call.task, static_cast<PrxCompiled*>(call.cached));
    }
    Site(const Site&) = delete;
    Site& operator=(const Site&) = delete;

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
        size_t count = pass_records(cached);
        for (size_t i = 0; i < count; i++)
            n += one(records[i]);
        return n;
    }
};

#ifdef PRX_HAVE_PCRE2
// PCRE2's interpreter: compiled once, or compiled, matched and freed on
// every record.
struct Peer {
    const Case& c;
    bool cached;
    pcre2_code* code = nullptr;
    pcre2_match_data* md = nullptr;

    Peer(const Case& cs, bool keep) : c(cs), cached(keep)
    {
        if (cached)
            compile();
    }
    ~Peer() { release(); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;
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
        if (!cached)
            compile();
        int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(r.data()), r.size(), 0, 0, md, nullptr);
        if (!cached)
            release();
        return rc > 0;
    }
    int64_t pass()
    {
        int64_t n = 0;
        size_t count = pass_records(cached);
        for (size_t i = 0; i < count; i++)
            n += one(records[i]);
        return n;
    }
};
#endif

// Seconds per call, measured over at least half a second of whole passes.
template <class Runner>
double seconds_per_call(Runner& r, int64_t* matches)
{
    double per_pass = ::seconds_per_pass([&] { return r.pass(); }, 0.5, matches);
    return per_pass / static_cast<double>(pass_records(r.cached));
}

// Bytes the interpreters' pools hold (the pools the interpreters create;
// not the host's own nor the tasks' allocators).
uint64_t interpreter_bytes()
{
    uint64_t n = 0;
    for (auto& p : host->pools)
        if (!p->destroyed && p->create_flags)
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

// Nothing may stay alive between measurements.
void check_nothing_alive(const char* where)
{
    hostsim::Task* t = host->main_task();
    if (t->named.count("PRXGCB") || t->named.count("PERLGCB") || host->live_pools() != 0)
        std::fprintf(stderr, "prxmatch_bench: an interpreter stays alive after %s\n", where);
}

// Calls at a site of the kind until `calls` were made; nothing stays alive
// afterwards when the site is a releasing one.
void calls_at(Site& s, int64_t calls)
{
    int64_t done = 0;
    while (done < calls)
        for (const std::string& r : records) {
            s.one(r);
            if (++done == calls)
                break;
        }
}

void summary()
{
    std::printf("\n%-9s | %11s %11s %6s | %9s %9s %6s | %5s\n", "case", "cached", "pcre2 once", "ratio", "releasing",
                "pcre2 per", "ratio", "agree");
    std::printf("%-9s | %11s %11s %6s | %9s %9s %6s |\n", "", "calls/s", "calls/s", "", "us/call", "us/call", "");
    double log_cached = 0, log_releasing = 0;
    int counted = 0;
    for (const Case& c : cases) {
        double ours[2] = {0, 0}, peer[2] = {0, 0};
        bool agree = true;
        for (int kind = 0; kind < 2; kind++) {
            bool cached = kind == 0;
            int64_t mo = 0, mp = -1;
            {
                Site s(c, cached);
                ours[kind] = seconds_per_call(s, &mo);
            }
            check_nothing_alive(c.name);
#ifdef PRX_HAVE_PCRE2
            Peer p(c, cached);
            peer[kind] = seconds_per_call(p, &mp);
            agree = agree && mo == mp;
#else
            (void)mp;
#endif
        }
#ifdef PRX_HAVE_PCRE2
        double rc = peer[0] / ours[0], rr = peer[1] / ours[1];
        log_cached += std::log(rc);
        log_releasing += std::log(rr);
        counted++;
        std::printf("%-9s | %11.0f %11.0f %6.3f | %9.2f %9.2f %6.3f | %5s\n", c.name, 1 / ours[0], 1 / peer[0], rc,
                    ours[1] * 1e6, peer[1] * 1e6, rr, agree ? "yes" : "NO");
#else
        std::printf("%-9s | %11.0f %11s %6s | %9.2f %9s %6s |\n", c.name, 1 / ours[0], "-", "-", ours[1] * 1e6, "-",
                    "-");
#endif
    }
    if (counted)
        std::printf("geometric mean of the ratios: cached %.3f, releasing %.3f\n", std::exp(log_cached / counted),
                    std::exp(log_releasing / counted));
    std::printf("ratio = PCRE2's time / ours. Cached calls: %zu records a pass; releasing calls: %zu.\n",
                records.size(), pass_records(false));

    // Memory: one cached call, then a million; then one releasing call
    // alone, then a hundred thousand.
    uint64_t pool_one = 0, rss_one = 0, pool_million = 0, rss_million = 0;
    {
        Site s(cases[0], true);
        s.one(records[0]);
        pool_one = interpreter_bytes();
        rss_one = resident_kib();
        calls_at(s, 1000000);
        pool_million = interpreter_bytes();
        rss_million = resident_kib();
    }
    check_nothing_alive("the cached calls");
    uint64_t rss_release_one = 0, rss_release_many = 0;
    {
        Site s(cases[0], false);
        s.one(records[0]);
        rss_release_one = resident_kib();
        calls_at(s, 100000);
        rss_release_many = resident_kib();
    }
    check_nothing_alive("the releasing calls");
    std::printf("\ncached site: interpreter pool bytes after one call %llu, after 1,000,000 calls %llu\n",
                static_cast<unsigned long long>(pool_one), static_cast<unsigned long long>(pool_million));
    std::printf("cached site: resident KiB after one call %llu, after 1,000,000 calls %llu\n",
                static_cast<unsigned long long>(rss_one), static_cast<unsigned long long>(rss_million));
    std::printf("releasing site: resident KiB after one call %llu, after 100,000 calls %llu (growth %lld)\n",
                static_cast<unsigned long long>(rss_release_one), static_cast<unsigned long long>(rss_release_many),
                static_cast<long long>(rss_release_many) - static_cast<long long>(rss_release_one));
}

}  // namespace

int main(int argc, char** argv)
{
    if (!load_corpus())
        return 1;
    host = &hostsim::reset();
    // As a production host: no recorders, no test checks in the pools.
    host->lean();
    hostsim::FunctionModule fm = host->load_function_module("MATCHMOD");
    if (fm.count != 1 || !host->load("REXHOST ")) {
        std::fprintf(stderr, "prxmatch_bench: the modules offer no PRXMATCH\n");
        return 1;
    }
    prxmatch = fm.callbacks[0];
    table = reinterpret_cast<const rexhost_entry_table*>(reinterpret_cast<void* const*>(host->vec.groups[REXHOST_GROUP]) - 3);
    for (const Case& c : cases) {
        for (bool cached : {true, false}) {
            std::string site = cached ? "/cached" : "/releasing";
            benchmark::RegisterBenchmark((std::string("prxmatch/") + c.name + site).c_str(), [&c, cached](benchmark::State& st) {
                Site s(c, cached);
                int64_t n = 0;
                for (auto _ : st)
                    benchmark::DoNotOptimize(n = s.pass());
                st.counters["calls/s"] = benchmark::Counter(static_cast<double>(pass_records(cached)) * st.iterations(),
                                                            benchmark::Counter::kIsRate);
            });
#ifdef PRX_HAVE_PCRE2
            benchmark::RegisterBenchmark((std::string("pcre2/") + c.name + site).c_str(), [&c, cached](benchmark::State& st) {
                Peer p(c, cached);
                int64_t n = 0;
                for (auto _ : st)
                    benchmark::DoNotOptimize(n = p.pass());
                st.counters["calls/s"] = benchmark::Counter(static_cast<double>(pass_records(cached)) * st.iterations(),
                                                            benchmark::Counter::kIsRate);
            });
#endif
        }
    }
    return run_benchmarks(argc, argv, summary);
}
