// The pattern engine beside PCRE2's interpreter, PCRE2's JIT and RE2, on the
// cases of the shared benchmark list: a text corpus (with its CRs
// stripped), a mixed corpus of text lines with e-mail addresses, URIs, IPv4
// addresses and dates put in, a DNA sequence made as the fasta generator
// makes it, and small generated haystacks that make backtrackers work. Two
// modes: every match over the whole corpus ("all"), and one first-match call
// per line ("lines", as the host calls PRXMATCH once per record; the DNA
// cases take the lines of the unstripped file). After the benchmarks a table
// gives each case's throughput per engine and the engine's ratio to each
// peer (ratio = this engine's speed / the peer's), with the geometric means
// per mode.
//
// The corpus is PRX_BENCH_CORPUS (environment) or the build's default path;
// PRX_BENCH_CASES (a comma-separated list of ids) limits the summary to
// those cases. A peer library that is not installed is skipped with a
// message.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
#ifdef PRX_HAVE_RE2
#include <re2/re2.h>
#endif

extern "C" const struct TOV_Image_Information* mcn_main(void* host, void* module);

namespace {

// Corpora.
enum Corpus : int { TEXT, MIXED, DNA, FASTA, EXP, QUADRATIC, REDOS, RSC_HARD, RSC_HOLMES, CORPUS_COUNT };

struct Case {
    const char* name;
    const char* pattern;
    const char* flags;  // i, m, s
    int corpus;
};

const Case cases[] = {
    {"lit", "Sherlock Holmes", "", TEXT},
    {"lit-i", "Sherlock Holmes", "i", TEXT},
    {"alt7", "Sherlock|Holmes|Watson|Irene|Adler|John|Baker", "", TEXT},
    {"alt7-i", "Sherlock|Holmes|Watson|Irene|Adler|John|Baker", "i", TEXT},
    {"nomatch", "aei", "", TEXT},
    {"word-n", "\\b\\w+n\\b", "", TEXT},
    {"words", "\\b[0-9A-Za-z_]+\\b", "", TEXT},
    {"holmes-ctx", "\\w+\\s+Holmes\\s+\\w+", "", TEXT},
    {"cochar", "Holmes.{0,25}Watson|Watson.{0,25}Holmes", "", TEXT},
    {"quotes", "[\"'][^\"']{0,30}[?!.][\"']", "", TEXT},
    {"class-neg", "[a-q][^u-z]{13}x", "", TEXT},
    {"ing", "[a-zA-Z]+ing", "", TEXT},
    {"ing-space", "\\s[a-zA-Z]{0,12}ing\\s", "", TEXT},
    {"line-anch", "^Sherlock Holmes|Sherlock Holmes$", "m", TEXT},
    {"prefix-alt", ".{0,2}(Sherlock|Holmes|Watson)", "", TEXT},
    {"capitals", "(?:[A-Z][a-z]+\\s*){10,100}", "", TEXT},
    {"commas-z", "(.*?,){13}z", "", TEXT},
    {"email", "[\\w\\.+-]+@[\\w\\.-]+\\.[\\w\\.-]+", "", MIXED},
    {"uri", "[\\w]+://[^/\\s?#]+[^\\s?#]+(?:\\?[^\\s#]*)?(?:#[^\\s]*)?", "", MIXED},
    {"ipv4", "(?:(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9])\\.){3}(?:25[0-5]|2[0-4][0-9]|[01]?[0-9][0-9])", "", MIXED},
    {"date", "([0-9][0-9]?)/([0-9][0-9]?)/([0-9][0-9]([0-9][0-9])?)", "", MIXED},
    {"dna-v1", "agggtaaa|tttaccct", "", DNA},
    {"dna-v2", "[cgt]gggtaaa|tttaccc[acg]", "", DNA},
    {"dna-v9", "agggtaa[cgt]|[acg]ttaccct", "", DNA},
    {"dna-iub", "aND|caN|Ha[DS]|WaS", "", DNA},
    {"fasta-nl", ">.*\\n|\\n", "", FASTA},
    {"exp", "(a+)*[b-z]", "", EXP},
    {"quadratic", ".*[^A-Z]|[A-Z]", "", QUADRATIC},
    {"redos", ".*.*=.*", "", REDOS},
    {"rsc-hard", "[ -~]*ABCDEFGHIJKLMNOPQRSTUVWXYZ$", "", RSC_HARD},
    {"rsc-holmes", "\\w+\\s+Holmes", "", RSC_HOLMES},
};

std::string corpora[CORPUS_COUNT];
std::vector<std::pair<size_t, size_t>> lines[CORPUS_COUNT];
// The corpus whose lines the "lines" mode of a case takes.
int lines_corpus(int corpus) { return corpus == DNA ? FASTA : corpus; }

std::string read_text()
{
    const char* path = std::getenv("PRX_BENCH_CORPUS");
    std::ifstream in(path ? path : PRX_BENCH_CORPUS, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    std::string t;
    for (char c : ss.str())
        if (c != '\r')
            t += c;
    if (t.empty())
        std::fprintf(stderr, "re_bench: corpus not found: %s\n", path ? path : PRX_BENCH_CORPUS);
    return t;
}

// The text's lines with an e-mail address, a URI, an IPv4 address or a date
// put into every third one (fixed seed).
std::string make_mixed(const std::string& text)
{
    std::mt19937 rng(7);
    auto word = [&](int n) {
        std::string w;
        for (int i = 0; i < n; i++)
            w += static_cast<char>('a' + rng() % 26);
        return w;
    };
    std::string out;
    std::istringstream in(text);
    std::string line;
    for (int i = 0; std::getline(in, line); i++) {
        if (i % 3 == 0) {
            std::string piece;
            switch (rng() % 4) {
            case 0: piece = word(5) + "." + word(4) + "@" + word(6) + ".com"; break;
            case 1: piece = "https://www." + word(7) + ".org/" + word(4) + "/" + word(5) + "?q=" + word(3) + "#top"; break;
            case 2:
                piece = std::to_string(rng() % 256) + "." + std::to_string(rng() % 256) + "." +
                        std::to_string(rng() % 256) + "." + std::to_string(rng() % 256);
                break;
            default:
                piece = std::to_string(1 + rng() % 12) + "/" + std::to_string(1 + rng() % 28) + "/" +
                        std::to_string(rng() % 2 ? 1900 + rng() % 120 : rng() % 100);
                break;
            }
            size_t at = line.empty() ? 0 : rng() % line.size();
            while (at < line.size() && line[at] != ' ')
                at++;
            line.insert(at, " " + piece + " ");
        }
        out += line;
        out += '\n';
    }
    return out;
}

// The output of the fasta generator for n (three sequences, 60 bases a line).
std::string make_fasta(int n)
{
    static const char alu[] =
        "GGCCGGGCGCGGTGGCTCACGCCTGTAATCCCAGCACTTTGGGAGGCCGAGGCGGGCGGATCACCTGAGGTCAGGAGTTCGAGACCAGCCTGGCCAACATGGTGAAA"
        "CCCCGTCTCTACTAAAAATACAAAAATTAGCCGGGCGTGGTGGCGCGCGCCTGTAATCCCAGCTACTCGGGAGGCTGAGGCAGGAGAATCGCTTGAACCCGGGAGGCG"
        "GAGGTTGCAGTGAGCCGAGATCGCGCCACTGCACTCCAGCCTGGGCGACAGAGCGAGACTCCGTCTCAAAAA";
    struct Freq {
        char c;
        double p;
    };
    const std::vector<Freq> iub = {{'a', 0.27}, {'c', 0.12}, {'g', 0.12}, {'t', 0.27}, {'B', 0.02},
                                   {'D', 0.02}, {'H', 0.02}, {'K', 0.02}, {'M', 0.02}, {'N', 0.02},
                                   {'R', 0.02}, {'S', 0.02}, {'V', 0.02}, {'W', 0.02}, {'Y', 0.02}};
    const std::vector<Freq> homo = {
        {'a', 0.3029549426680}, {'c', 0.1979883004921}, {'g', 0.1975473066391}, {'t', 0.3015094502008}};
    std::string out;
    auto put_lines = [&](const std::string& s) {
        for (size_t i = 0; i < s.size(); i += 60)
            out += s.substr(i, 60) + "\n";
    };
    out += ">ONE Homo sapiens alu\n";
    std::string s;
    size_t alu_len = std::strlen(alu);
    for (int i = 0; i < 2 * n; i++)
        s += alu[static_cast<size_t>(i) % alu_len];
    put_lines(s);
    uint32_t last = 42;
    auto random = [&] {
        last = (last * 3877 + 29573) % 139968;
        return static_cast<double>(last) / 139968.0;
    };
    auto make_random = [&](const std::vector<Freq>& table, int count) {
        std::string r;
        for (int i = 0; i < count; i++) {
            double x = random(), cum = 0;
            char c = table.back().c;
            for (const Freq& f : table) {
                cum += f.p;
                if (x < cum) {
                    c = f.c;
                    break;
                }
            }
            r += c;
        }
        return r;
    };
    out += ">TWO IUB ambiguity codes\n";
    put_lines(make_random(iub, 3 * n));
    out += ">THREE Homo sapiens frequency\n";
    put_lines(make_random(homo, 5 * n));
    return out;
}

void load()
{
    corpora[TEXT] = read_text();
    corpora[MIXED] = make_mixed(corpora[TEXT]);
    corpora[FASTA] = make_fasta(100000);
    std::string& dna = corpora[DNA];
    {
        std::istringstream in(corpora[FASTA]);
        std::string line;
        while (std::getline(in, line))
            if (line.empty() || line[0] != '>')
                dna += line;
    }
    corpora[EXP] = std::string(20, 'a');
    corpora[QUADRATIC] = std::string(1000, 'A');
    corpora[REDOS] = "x=" + std::string(2000, 'x');
    std::mt19937 rng(11);
    auto random_lines = [&](size_t bytes) {
        std::string r;
        while (r.size() < bytes) {
            for (int i = 0, n = 20 + static_cast<int>(rng() % 50); i < n; i++)
                r += static_cast<char>(rng() % 5 == 0 ? ' ' : 'a' + rng() % 26);
            r += '\n';
        }
        return r;
    };
    corpora[RSC_HARD] = random_lines(32 * 1024) + "ABCDEFGHIJKLMNOPQRSTUVWXYZ";
    corpora[RSC_HOLMES] = random_lines(32 * 1024) + "Sherlock Holmes";
    for (int c = 0; c < CORPUS_COUNT; c++) {
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
    bool guard = false;  // a match tripped the backtracking guard

    explicit Ours(const Case& c)
    {
        op_pattern pm{};
        for (const char* f = c.flags; *f; f++)
            pattern_flag_add(gcb, &pm.op_pmflags, *f);
        std::string p = c.pattern;
        JumpEnv env;
        if (jump_run(gcb, &env, true, [&] { rx = gcb->re_hook_compile(gcb, p.data(), p.data() + p.size(), &pm); }) == 0)
            ok = rx != nullptr;
        multiline = std::strchr(c.flags, 'm') != nullptr;
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
        if (jump_run(gcb, &env, true, [&] { r = gcb->re_hook_exec(gcb, rx, s, e, b, 0, nullptr, nullptr, 0); }))
            guard = true;
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
struct Pcre {
    pcre2_code* code = nullptr;
    pcre2_match_data* md = nullptr;
    explicit Pcre(const Case& c, bool jit = false)
    {
        uint32_t options = 0;
        for (const char* f = c.flags; *f; f++)
            options |= *f == 'i' ? PCRE2_CASELESS : *f == 'm' ? PCRE2_MULTILINE : PCRE2_DOTALL;
        int err = 0;
        PCRE2_SIZE off = 0;
        code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(c.pattern), PCRE2_ZERO_TERMINATED, options, &err, &off, nullptr);
        md = pcre2_match_data_create_from_pattern(code, nullptr);
        if (jit)
            pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
    }
    ~Pcre()
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
struct PcreJit : Pcre {
    explicit PcreJit(const Case& c) : Pcre(c, true) {}
};
#endif

// ---- RE2 ------------------------------------------------------------------------------------

#ifdef PRX_HAVE_RE2
struct Re2 {
    RE2* re = nullptr;
    explicit Re2(const Case& c)
    {
        std::string flags;
        for (const char* f = c.flags; *f; f++)
            flags += *f;
        std::string p = flags.empty() ? std::string(c.pattern) : "(?" + flags + ")" + c.pattern;
        RE2::Options o;
        o.set_log_errors(false);
        o.set_encoding(RE2::Options::EncodingLatin1);
        re = new RE2(p, o);
    }
    ~Re2() { delete re; }
    bool find(const char* b, const char* s, const char* e, int32_t* start, int32_t* end)
    {
        re2::StringPiece text(b, static_cast<size_t>(e - b));
        re2::StringPiece m;
        if (!re->Match(text, static_cast<size_t>(s - b), text.size(), RE2::UNANCHORED, &m, 1))
            return false;
        *start = static_cast<int32_t>(m.data() - b);
        *end = static_cast<int32_t>(m.data() + m.size() - b);
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
    int c = lines_corpus(corpus);
    const std::string& t = corpora[c];
    int64_t n = 0;
    int32_t ms, me;
    for (auto [a, z] : lines[c])
        n += en.find(t.data() + a, t.data() + a, t.data() + z, &ms, &me);
    return n;
}

size_t mode_bytes(const Case& c, bool all) { return corpora[all ? c.corpus : lines_corpus(c.corpus)].size(); }

template <class Engine>
void run(benchmark::State& state, const Case& c, bool all)
{
    Engine en(c);
    int64_t n = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(n = all ? scan_all(en, c.corpus) : per_line(en, c.corpus));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(mode_bytes(c, all)));
    state.counters["matches"] = static_cast<double>(n);
}

// Seconds per pass, measured over at least a fifth of a second.
template <class Engine>
double seconds_per_pass(Engine& en, const Case& c, bool all, int64_t* matches)
{
    return ::seconds_per_pass([&] { return all ? scan_all(en, c.corpus) : per_line(en, c.corpus); }, 0.2, matches);
}

bool selected(const Case& c)
{
    const char* only = std::getenv("PRX_BENCH_CASES");
    if (!only || !*only)
        return true;
    std::string list = std::string(",") + only + ",";
    return list.find(std::string(",") + c.name + ",") != std::string::npos;
}

// Geometric means and the lowest ratio of one mode against one peer.
struct Tally {
    double log_sum = 0;
    int count = 0;
    double lowest = 1e300;
    const char* lowest_case = "";
    void add(double ratio, const char* name)
    {
        log_sum += std::log(ratio);
        count++;
        if (ratio < lowest) {
            lowest = ratio;
            lowest_case = name;
        }
    }
    double mean() const { return count ? std::exp(log_sum / count) : 0; }
};

void summary()
{
#ifdef PRX_HAVE_PCRE2
#ifdef PRX_HAVE_RE2
    const bool have_re2 = true;
#else
    const bool have_re2 = false;
    std::printf("\nre_bench: RE2 is not installed here; its columns are left out\n");
#endif
    std::printf("\n%-11s %-5s %9s %9s %9s %9s %7s %7s %7s %s\n", "case", "mode", "ours MB/s", "pcre2", "jit", "re2",
                "/pcre2", "/jit", "/re2", "matches");
    Tally vs_pcre[2], vs_jit[2], vs_re2[2];
    bool heading = false;
    for (const Case& c : cases) {
        if (!selected(c))
            continue;
        // The small haystacks built to make backtrackers work measure the
        // engines' algorithms more than their speed: they get rows of
        // their own, outside the means.
        bool pathological = c.corpus >= EXP;
        if (pathological && !heading) {
            std::printf("-- pathological haystacks (not in the means) --\n");
            heading = true;
        }
        for (int mode = 0; mode < 2; mode++) {
            bool all = mode == 0;
            Ours o(c);
            Pcre p(c);
            PcreJit j(c);
            int64_t mo = 0, mp = 0, mj = 0, mr = 0;
            double so = seconds_per_pass(o, c, all, &mo);
            double sp = seconds_per_pass(p, c, all, &mp);
            double sj = seconds_per_pass(j, c, all, &mj);
            double sr = 0;
#ifdef PRX_HAVE_RE2
            Re2 r(c);
            sr = seconds_per_pass(r, c, all, &mr);
#else
            mr = mp;
#endif
            double mb = static_cast<double>(mode_bytes(c, all)) / 1e6;
            if (!pathological) {
                vs_pcre[mode].add(sp / so, c.name);
                vs_jit[mode].add(sj / so, c.name);
                if (have_re2)
                    vs_re2[mode].add(sr / so, c.name);
            }
            char counts[96];
            if (mo == mp && mp == mj && mj == mr)
                std::snprintf(counts, sizeof counts, "%lld", static_cast<long long>(mo));
            else
                std::snprintf(counts, sizeof counts, "DIFFER ours %lld pcre2 %lld jit %lld re2 %lld",
                              static_cast<long long>(mo), static_cast<long long>(mp), static_cast<long long>(mj),
                              static_cast<long long>(mr));
            std::printf("%-11s %-5s %9.1f %9.1f %9.1f %9.1f %7.2f %7.2f %7.2f %s%s\n", c.name, all ? "all" : "lines",
                        mb / so, mb / sp, mb / sj, have_re2 ? mb / sr : 0.0, sp / so, sj / so,
                        have_re2 ? sr / so : 0.0, counts, o.guard ? " (guard tripped)" : "");
            std::fflush(stdout);
        }
    }
    for (int mode = 0; mode < 2; mode++) {
        std::printf("%-5s geometric mean /pcre2 %.2f (lowest %.2f %s), /jit %.2f (lowest %.2f %s)", mode ? "lines" : "all",
                    vs_pcre[mode].mean(), vs_pcre[mode].lowest, vs_pcre[mode].lowest_case, vs_jit[mode].mean(),
                    vs_jit[mode].lowest, vs_jit[mode].lowest_case);
        if (have_re2)
            std::printf(", /re2 %.2f (lowest %.2f %s)", vs_re2[mode].mean(), vs_re2[mode].lowest,
                        vs_re2[mode].lowest_case);
        std::printf("\n");
    }
#else
    std::printf("\nre_bench: PCRE2 is not installed here; no ratios\n");
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
                                         [&c, all](benchmark::State& s) { run<Pcre>(s, c, all); });
#endif
#ifdef PRX_HAVE_RE2
            benchmark::RegisterBenchmark((std::string("re2/") + c.name + mode).c_str(),
                                         [&c, all](benchmark::State& s) { run<Re2>(s, c, all); });
#endif
        }
    }
    return run_benchmarks(argc, argv, summary);
}
