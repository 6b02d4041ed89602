// Work that grows with its input, evaluated through rexhost's entry table:
// for each case the time of one evaluation at a size n and at 2n. Doubling
// the input should about double the time (a growth ratio near 2); a ratio
// near 4 is work that grows with the square of the input. Where a peer does
// the same work (a std::string built by appends, PCRE2 substituting or
// matching globally), the summary prints its growth beside ours and the
// ratio of the two times at 2n.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "host/prxabi.h"
#include "hostsim/hostsim.h"
#include "bench/bench_support.h"

#ifdef PRX_HAVE_PCRE2
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#endif

namespace {

const rexhost_entry_table* table = nullptr;
PERLGCB* interp = nullptr;

// One growth case: the program text for a size, and the value the text
// answers when it ran to its end (a check that the work was done).
struct Case {
    const char* name;
    int64_t n;  // the smaller size; the larger is 2n
    std::function<std::string(int64_t)> text;
    std::function<std::string(int64_t)> expect;
    std::function<int64_t(int64_t)> peer;  // the same work by a peer, or empty
};

std::string num(int64_t n) { return std::to_string(n); }

std::string nested(const char* open, const char* middle, const char* close, int64_t n)
{
    std::string t;
    for (int64_t i = 0; i < n; i++)
        t += open;
    t += middle;
    for (int64_t i = 0; i < n; i++)
        t += close;
    return t;
}

#ifdef PRX_HAVE_PCRE2
// PCRE2 replacing every "a" by "xyz" in "ab" x n; the result's length.
int64_t pcre2_substitute_all(int64_t n)
{
    std::string subject;
    for (int64_t i = 0; i < n; i++)
        subject += "ab";
    int err = 0;
    PCRE2_SIZE off = 0;
    pcre2_code* re = pcre2_compile(reinterpret_cast<PCRE2_SPTR>("a"), 1, 0, &err, &off, nullptr);
    PCRE2_SIZE outlen = subject.size() * 2 + 1;
    std::vector<PCRE2_UCHAR> out(outlen);
    pcre2_substitute(re, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), 0, PCRE2_SUBSTITUTE_GLOBAL,
                     nullptr, nullptr, reinterpret_cast<PCRE2_SPTR>("xyz"), 3, out.data(), &outlen);
    pcre2_code_free(re);
    return static_cast<int64_t>(outlen);
}

// PCRE2 collecting every capture of /(a)/ over "a" x n; the count.
int64_t pcre2_collect_all(int64_t n)
{
    std::string subject(static_cast<size_t>(n), 'a');
    int err = 0;
    PCRE2_SIZE off = 0;
    pcre2_code* re = pcre2_compile(reinterpret_cast<PCRE2_SPTR>("(a)"), 3, 0, &err, &off, nullptr);
    pcre2_match_data* md = pcre2_match_data_create_from_pattern(re, nullptr);
    std::vector<std::string> captures;
    PCRE2_SIZE at = 0;
    while (pcre2_match(re, reinterpret_cast<PCRE2_SPTR>(subject.data()), subject.size(), at, 0, md, nullptr) > 0) {
        PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
        captures.emplace_back(subject.data() + ov[2], ov[3] - ov[2]);
        at = ov[1] > ov[0] ? ov[1] : ov[1] + 1;
    }
    pcre2_match_data_free(md);
    pcre2_code_free(re);
    return static_cast<int64_t>(captures.size());
}
#endif

// The n-th string (from 1) of the string range that starts at "a": "a" to
// "z", then "aa" to "zz", and so on.
std::string nth_string(int64_t n)
{
    std::string s;
    for (; n > 0; n = (n - 1) / 26)
        s.insert(s.begin(), static_cast<char>('a' + (n - 1) % 26));
    return s;
}

const std::vector<Case>& cases()
{
    static const std::vector<Case> all = {
        {"append", 400000,
         [](int64_t n) { return "my $s = ''; $s .= 'x' x 10 for 1 .. " + num(n) + "; length $s"; },
         [](int64_t n) { return num(10 * n); },
         [](int64_t n) {
             std::string s;
             for (int64_t i = 0; i < n; i++)
                 s += std::string(10, 'x');
             return static_cast<int64_t>(s.size());
         }},
        {"pack-x", 1000000, [](int64_t n) { return "length pack('x" + num(n) + "')"; },
         [](int64_t n) { return num(n); }, nullptr},
        {"subst-g", 500000, [](int64_t n) { return "my $s = 'ab' x " + num(n) + "; $s =~ s/a/xyz/g; length $s"; },
         [](int64_t n) { return num(4 * n); },
#ifdef PRX_HAVE_PCRE2
         pcre2_substitute_all
#else
         nullptr
#endif
        },
        {"list-match-g", 500000,
         [](int64_t n) { return "my @m = (('a' x " + num(n) + ") =~ /(a)/g); scalar @m"; },
         [](int64_t n) { return num(n); },
#ifdef PRX_HAVE_PCRE2
         pcre2_collect_all
#else
         nullptr
#endif
        },
        {"sprintf-vd", 250000, [](int64_t n) { return "length sprintf('%vd', 'x' x " + num(n) + ")"; },
         [](int64_t n) { return num(4 * n - 1); }, nullptr},
        // A range of constant ends is built once, when the text compiles.
        {"string-range-folded", 250000,
         [](int64_t n) { return "my @l = ('a' .. '" + nth_string(n) + "'); scalar @l"; },
         [](int64_t n) { return num(n); }, nullptr},
        {"string-range", 250000,
         [](int64_t n) { return "my ($f, $t) = ('a', '" + nth_string(n) + "'); my @l = ($f .. $t); scalar @l"; },
         [](int64_t n) { return num(n); }, nullptr},
        {"compile-nested-[", 10000, [](int64_t n) { return "scalar @{" + nested("[", "1", "]", n) + "}"; },
         [](int64_t) { return std::string("1"); }, nullptr},
        {"compile-nested-?:", 10000, [](int64_t n) { return nested("1 ? ", "7", " : 0", n); },
         [](int64_t) { return std::string("7"); }, nullptr},
    };
    return all;
}

// Evaluates a text; its result, or "error: " and $@ when it set one.
std::string evaluate(const std::string& text)
{
    const char* result = table->eval_text(interp, text.c_str(), 0);
    const char* err = nullptr;
    int64_t err_len = 0;
    table->get_sv_text(interp, "@", &err, &err_len);
    if (err && err_len > 0)
        return "error: " + std::string(err, static_cast<size_t>(err_len));
    return result ? result : "";
}

double seconds_of(const std::function<void()>& work)
{
    auto t0 = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The smaller of three runs.
double best_of_three(const std::function<void()>& work)
{
    double best = seconds_of(work);
    for (int i = 0; i < 2; i++) {
        double t = seconds_of(work);
        if (t < best)
            best = t;
    }
    return best;
}

void summary()
{
    std::printf("\n%-18s %9s %11s %11s %7s %11s %7s %9s  %s\n", "case", "n", "ours n s", "ours 2n s", "growth",
                "peer 2n s", "growth", "peer/ours", "check");
    for (const Case& c : cases()) {
        std::string small = c.text(c.n);
        std::string large = c.text(2 * c.n);
        std::string got;
        double t1 = best_of_three([&] { got = evaluate(small); });
        bool ok = got == c.expect(c.n);
        double t2 = best_of_three([&] { got = evaluate(large); });
        ok = ok && got == c.expect(2 * c.n);
        std::printf("%-18s %9lld %11.4f %11.4f %7.2f", c.name, static_cast<long long>(c.n), t1, t2, t2 / t1);
        if (c.peer) {
            int64_t sink = 0;
            double p1 = best_of_three([&] { sink += c.peer(c.n); });
            double p2 = best_of_three([&] { sink += c.peer(2 * c.n); });
            benchmark::DoNotOptimize(sink);
            std::printf(" %11.4f %7.2f %9.3f", p2, p2 / p1, p2 / t2);
        } else {
            std::printf(" %11s %7s %9s", "-", "-", "-");
        }
        std::printf("  %s\n", ok ? "ok" : ("unexpected: " + got.substr(0, 60)).c_str());
    }
    std::printf("growth = time at 2n / time at n: about 2 is linear, about 4 quadratic\n");
}

}  // namespace

int main(int argc, char** argv)
{
    hostsim::Host& h = hostsim::reset();
    h.record_calls = false;
    hostsim::LoadedModule* mod = h.load("REXHOST ");
    if (mod && mod->initialised) {
        if (HostEntry* group = h.vec.groups[REXHOST_GROUP])
            table = reinterpret_cast<const rexhost_entry_table*>(reinterpret_cast<void* const*>(group) - 3);
    }
    if (!table) {
        std::fprintf(stderr, "growth_bench: the module rexhost could not be loaded\n");
        return 1;
    }
    host_task* task = &h.main_task()->handle;
    interp = table->interp_create(task);
    if (!interp) {
        std::fprintf(stderr, "growth_bench: no interpreter could be made\n");
        return 1;
    }
    for (const Case& c : cases()) {
        for (int64_t n : {c.n, 2 * c.n}) {
            std::string text = c.text(n);
            benchmark::RegisterBenchmark((std::string(c.name) + "/" + num(n)).c_str(), [text](benchmark::State& st) {
                for (auto _ : st)
                    benchmark::DoNotOptimize(evaluate(text));
            })->Unit(benchmark::kMillisecond);
        }
    }
    int rc = run_benchmarks(argc, argv, summary);
    table->interp_destroy(interp, task);
    return rc;
}
