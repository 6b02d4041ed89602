// The pattern engine beside PCRE2's interpreter and its JIT on a text corpus
// and a generated corpus of e-mail addresses, URIs and IPv4 addresses, in two
// modes: every match over the whole corpus, and one first-match call per line
// (as the host calls PRXMATCH once per record). After the benchmarks a table
// gives each case's throughput for the engine, PCRE2 and PCRE2's JIT, and
// the engine's ratio to each.
// The corpus is PRX_BENCH_CORPUS (environment) or the build's default path.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ds/src/prx.h"
#include "ds/src/prxlibc.h"
#include "ds/src/prxop.h"
#include "ds/src/prxre.h"
#include "hostsim/hostsim.h"
#include "bench/bench_support.h"
#include "tests/support/engine_interp.h"

#ifdef PRX_HAVE_PCRE2
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#endif

extern "C" const struct TOV_Image_Information* mcn_main(void* host, void* module);

namespace {

struct Case {
    const char* name;
    const char* pattern;
    const char* flags;   // i, m, s, x
    int corpus;          // 0 the text, 1 the generated addresses
};

const Case cases[] = {
    {"literal", "Sherlock Holmes", "", 0},
    {"literal_i", "(?i)Sherlock Holmes", "", 0},
    {"alternation", "Sherlock|Holmes|Watson|Irene|Adler|John|Baker", "", 0},
    {"word_n", "\\b\\w+n\\b", "", 0},
    {"class_run", "[a-q][^u-z]{13}x", "", 0},
    {"ing_i", "(?i)[a-z]+ing", "", 0},
    {"ing_space", "\\s[a-zA-Z]{0,12}ing\\s", "", 0},
    {"long_lines", "^.{30,}$", "m", 0},
    {"names_prefix", ".{0,2}(Tom|Sawyer|Huckleberry|Finn)", "", 0},
    {"email", "[\\w.+-]+@[\\w-]+\\.[\\w.-]+", "", 1},
    {"uri", "[\\w]+://[^/\\s?#]+[^\\s?#]+(?:\\?[^\\s#]*)?(?:#[^\\s]*)?", "", 1},
    {"ipv4", "(?:(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\\.){3}(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)", "", 1},
    {"alt_i", "(?i)Sherlock|Holmes|Watson|Irene|Adler|John|Baker", "", 0},
    {"names_run", "(?:[A-Z][a-z]+\\s*){10,100}", "", 0},
    {"never_found", "aei", "", 0},
    {"near_pair", "Holmes.{0,25}Watson|Watson.{0,25}Holmes", "", 0},
    {"ipv4_text", "(?:(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)\\.){3}(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9]?)", "", 0},
};

std::string corpora[2];
std::vector<std::pair<size_t, size_t>> lines[2];

void load()
{
    const char* path = std::getenv("PRX_BENCH_CORPUS");
    std::ifstream in(path ? path : PRX_BENCH_CORPUS, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    corpora[0] = ss.str();
    if (corpora[0].empty())
        std::fprintf(stderr, "re_bench: corpus not found: %s\n", path ? path : PRX_BENCH_CORPUS);
    std::mt19937 rng(7);
    auto word = [&](int n) {
        std::string w;
        for (int i = 0; i < n; i++)
            w += static_cast<char>('a' + rng() % 26);
        return w;
    };
    std::string& g = corpora[1];
    for (int i = 0; i < 20000; i++) {
        switch (rng() % 4) {
        case 0: g += "mail " + word(5) + "." + word(4) + "@" + word(6) + ".com to " + word(3) + "\n"; break;
        case 1: g += "see https://www." + word(7) + ".org/" + word(4) + "/" + word(5) + "?q=" + word(3) + "#top\n"; break;
        case 2:
            g += "host " + std::to_string(rng() % 256) + "." + std::to_string(rng() % 256) + "." +
                 std::to_string(rng() % 256) + "." + std::to_string(rng() % 256) + " up\n";
            break;
        default: g += "plain " + word(8) + " " + word(6) + " line of text\n"; break;
        }
    }
    for (int c = 0; c < 2; c++) {
        size_t start = 0;
        const std::string& t = corpora[c];
        for (size_t i = 0; i < t.size(); i++)
            if (t[i] == '\n') {
                lines[c].push_back({start, i});
                start = i + 1;
            }
        if (start < t.size())
            lines[c].push_back({start, t.size()});
    }
}

// ---- this engine ------------------------------------------------------------------------

PERLGCB* gcb = nullptr;
uint8_t fold[256];

struct Ours {
    re_compiled* rx = nullptr;
    bool multiline = false;
    bool ok = false;

    explicit Ours(const Case& c)
    {
        op_pattern pm{};
        for (const char* f = c.flags; *f; f++)
            pattern_flag_add(gcb, &pm.op_pmflags, *f);
        std::string p = c.pattern;
        JumpEnv env;
        if (jump_run(gcb, &env, true, [&] { rx = gcb->re_hook_compile(gcb, p.data(), p.data() + p.size(), &pm); }) == 0)
            ok = rx != nullptr;
        multiline = std::string(c.flags).find_first_of("ms") != std::string::npos;
    }
    ~Ours()
    {
        if (rx)
            gcb->re_hook_free(gcb, rx);
    }
    // First match in [s, e) of a subject that begins at b.
    bool find(const char* b, const char* s, const char* e, int32_t* start, int32_t* end)
    {
        if (!ok)
            return false;
        gcb->multiline = multiline;
        int32_t r = 0;
        JumpEnv env;
        jump_run(gcb, &env, true, [&] { r = gcb->re_hook_exec(gcb, rx, s, e, b, 0, nullptr, nullptr, 0); });
        gcb->multiline = 0;
        if (r != 1)
            return false;
        *start = rx->start_offsets[0];
        *end = rx->end_offsets[0];
        return true;
    }
};

// ---- PCRE2 ----------------------------------------------------------------------------------

#ifdef PRX_HAVE_PCRE2
struct Peer {
    pcre2_code* code = nullptr;
    pcre2_match_data* md = nullptr;
    explicit Peer(const Case& c, bool jit = false)
    {
        uint32_t options = 0;
        for (const char* f = c.flags; *f; f++)
            options |= *f == 'i' ? PCRE2_CASELESS : *f == 'm' ? PCRE2_MULTILINE : *f == 's' ? PCRE2_DOTALL : PCRE2_EXTENDED;
        int err = 0;
        PCRE2_SIZE off = 0;
        code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(c.pattern), PCRE2_ZERO_TERMINATED, options, &err, &off, nullptr);
        md = pcre2_match_data_create_from_pattern(code, nullptr);
        if (jit)
            pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
    }
    ~Peer()
    {
        pcre2_match_data_free(md);
        pcre2_code_free(code);
    }
    bool find(const char* b, const char* s, const char* e, int32_t* start, int32_t* end)
    {
        int r = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(b), static_cast<PCRE2_SIZE>(e - b),
                            static_cast<PCRE2_SIZE>(s - b), 0, md, nullptr);
        if (r < 0)
            return false;
        PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
        *start = static_cast<int32_t>(ov[0]);
        *end = static_cast<int32_t>(ov[1]);
        return true;
    }
};
#endif

// Every match over the whole corpus; returns the count.
template <class Engine>
int64_t scan_all(Engine& en, int corpus)
{
    const std::string& t = corpora[corpus];
    const char* b = t.data();
    const char* e = b + t.size();
    const char* s = b;
    int64_t n = 0;
    int32_t ms, me;
    while (s <= e && en.find(b, s, e, &ms, &me)) {
        n++;
        s = b + (me > ms ? me : me + 1);
    }
    return n;
}

// One first-match call per line; returns the lines that matched.
template <class Engine>
int64_t per_line(Engine& en, int corpus)
{
    const std::string& t = corpora[corpus];
    int64_t n = 0;
    int32_t ms, me;
    for (auto [a, z] : lines[corpus])
        n += en.find(t.data() + a, t.data() + a, t.data() + z, &ms, &me);
    return n;
}

template <class Engine>
void run(benchmark::State& state, const Case& c, bool all)
{
    Engine en(c);
    int64_t n = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(n = all ? scan_all(en, c.corpus) : per_line(en, c.corpus));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(corpora[c.corpus].size()));
    state.counters["matches"] = static_cast<double>(n);
}

// Seconds per pass, measured over at least a quarter second.
template <class Engine>
double seconds_per_pass(Engine& en, const Case& c, bool all, int64_t* matches)
{
    return ::seconds_per_pass([&] { return all ? scan_all(en, c.corpus) : per_line(en, c.corpus); }, 0.25, matches);
}

void summary()
{
#ifdef PRX_HAVE_PCRE2
    std::printf("\n%-14s %-8s %10s %10s %10s %8s %8s %8s\n", "case", "mode", "ours MB/s", "pcre2 MB/s", "jit MB/s",
                "ratio", "ratio jit", "agree");
    double log_sum = 0, log_jit = 0;
    int count = 0;
    double worst = 1e9;
    for (const Case& c : cases) {
        for (bool all : {true, false}) {
            Ours o(c);
            Peer p(c);
            Peer j(c, true);
            int64_t mo = 0, mp = 0, mj = 0;
            double so = seconds_per_pass(o, c, all, &mo);
            double sp = seconds_per_pass(p, c, all, &mp);
            double sj = seconds_per_pass(j, c, all, &mj);
            double mb = static_cast<double>(corpora[c.corpus].size()) / 1e6;
            double ratio = sp / so;
            log_sum += std::log(ratio);
            log_jit += std::log(sj / so);
            count++;
            worst = ratio < worst ? ratio : worst;
            std::printf("%-14s %-8s %10.1f %10.1f %10.1f %8.2f %8.2f %8s\n", c.name, all ? "all" : "lines", mb / so,
                        mb / sp, mb / sj, ratio, sj / so, mo == mp && mp == mj ? "yes" : "NO");
        }
    }
    std::printf("geometric mean ratio %.2f, lowest %.2f; against the JIT %.2f (ratio = this engine's speed / "
                "PCRE2's); RE2 is not installed here\n",
                std::exp(log_sum / count), worst, std::exp(log_jit / count));
#endif
}

}  // namespace

int main(int argc, char** argv)
{
    hostsim::Host& h = hostsim::reset();
    mcn_main(&h.vec, nullptr);
    gcb = prxtest::engine_interp_new(fold);
    load();
    for (const Case& c : cases) {
        for (bool all : {true, false}) {
            std::string mode = all ? "/all" : "/lines";
            benchmark::RegisterBenchmark((std::string("ours/") + c.name + mode).c_str(),
                                         [&c, all](benchmark::State& s) { run<Ours>(s, c, all); });
#ifdef PRX_HAVE_PCRE2
            benchmark::RegisterBenchmark((std::string("pcre2/") + c.name + mode).c_str(),
                                         [&c, all](benchmark::State& s) { run<Peer>(s, c, all); });
#endif
        }
    }
    return run_benchmarks(argc, argv, summary);
}
