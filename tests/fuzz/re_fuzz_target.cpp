// The pattern engine under a fuzzer: one input is a flag byte, a pattern
// and a subject; the pattern is compiled and matched in byte or UTF-8 mode.
// Every input runs twice (unless the work guard ended its match), and the
// second run must leave the pool with the blocks it found: a block the
// engine loses shows as growth.
//   byte 0        flags: 0x01 i, 0x02 m, 0x04 s, 0x08 x, 0x10 UTF-8 mode
//   then          the pattern, up to the first NUL byte
//   then          the subject (the rest)
// The classes that consult the Unicode tables (and \p, \N{} and \X, which
// load modules) need the interpreter's utf8 module, absent from this
// engine-only harness: inputs that would reach them are skipped.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>

#include "ds/src/prx.h"
#include "ds/src/prxlibc.h"
#include "ds/src/prxop.h"
#include "ds/src/prxre.h"
#include "ds/src/prxrun.h"
#include "hostsim/hostsim.h"
#include "tests/support/engine_interp.h"

extern "C" const struct TOV_Image_Information* mcn_main(void* host, void* module);

namespace {

uint8_t fold[256];
PERLGCB* gcb = nullptr;

void fresh_interp()
{
    if (gcb) {
        prxtest::engine_interp_free(gcb, fold);
    } else {
        hostsim::Host& h = hostsim::reset();
        mcn_main(&h.vec, nullptr);
    }
    gcb = prxtest::engine_interp_new(fold);
}

bool needs_unicode_tables(const std::string& p, bool utf8, bool fold_flag)
{
    for (size_t i = 0; i + 1 < p.size(); i++) {
        if (p[i] == '\\') {
            char c = p[i + 1];
            if (c == 'p' || c == 'P' || c == 'N' || c == 'X' || (c == 'x' && i + 2 < p.size() && p[i + 2] == '{'))
                return true;
            if (utf8 && (c == 'w' || c == 'W' || c == 's' || c == 'S' || c == 'd' || c == 'D' || c == 'b' || c == 'B'))
                return true;
            i++;
            continue;
        }
        if (utf8 && p[i] == '(' && p[i + 1] == '?') {
            for (size_t j = i + 2; j < p.size() && p[j] != ':' && p[j] != ')'; j++)
                if (p[j] == 'i')
                    return true;
        }
    }
    return utf8 && (fold_flag || p.find('[') != std::string::npos);
}

bool guard_tripped = false;  // the last run's match ended on the guard

// One compile and match; false when a jump other than the guard's left the
// interpreter in a state the next run should not build on.
bool run_once(const std::string& pattern, uint8_t flags, const std::string& subject)
{
    guard_tripped = false;
    op_pattern pm{};
    const char letters[] = {'i', 'm', 's', 'x'};
    for (int b = 0; b < 4; b++)
        if (flags & (1 << b))
            pattern_flag_add(gcb, &pm.op_pmflags, letters[b]);
    if (flags & 0x10)
        pm.op_pmdynflags |= 0x04;
    re_compiled* rx = nullptr;
    JumpEnv env;
    int32_t code = jump_run(gcb, &env, true, [&] {
        rx = gcb->re_hook_compile(gcb, pattern.data(), pattern.data() + pattern.size(), &pm);
    });
    gcb->err.len = 0;
    if (code || !rx) {
        tmps_free_to_floor(gcb);  // the error's message, as the host's caller frees it
        return code == 0 || code == 3;
    }
    gcb->multiline = (flags & 0x02) != 0;
    int32_t found = 0;
    // The subject in a block of its own size: a read past it is seen.
    char* s = static_cast<char*>(std::malloc(subject.size() + 1));
    std::memcpy(s, subject.data(), subject.size());
    code = jump_run(gcb, &env, true, [&] {
        found = gcb->re_hook_exec(gcb, rx, s, s + subject.size(), s, 0, nullptr, nullptr, 0);
    });
    if (code == 0 && found == 1) {
        int32_t st = rx->start_offsets[0], en = rx->end_offsets[0];
        if (st < 0 || en < st || static_cast<size_t>(en) > subject.size()) {
            std::fprintf(stderr, "match out of the subject: %d..%d of %zu\n", st, en, subject.size());
            std::abort();
        }
    }
    std::free(s);
    guard_tripped = code == 4;
    gcb->multiline = 0;
    gcb->err.len = 0;
    gcb->out.len = 0;
    gcb->re_hook_free(gcb, rx);
    tmps_free_to_floor(gcb);
    return code == 0 || code == 4;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    if (!gcb)
        fresh_interp();
    uint8_t flags = data[0];
    std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    size_t nul = rest.find('\0');
    std::string pattern = rest.substr(0, nul);
    std::string subject = nul == std::string::npos ? std::string() : rest.substr(nul + 1);
    if (needs_unicode_tables(pattern, flags & 0x10, flags & 0x01))
        return 0;
    if (!run_once(pattern, flags, subject)) {
        fresh_interp();
        return 0;
    }
    // A match the guard ended has spent its whole budget, seconds under the
    // fuzzer's instrumentation: it is not run a second time.
    if (guard_tripped)
        return 0;
    auto* pool = reinterpret_cast<hostsim::Pool*>(gcb->pool);
    size_t before = pool->live.size();
    if (!run_once(pattern, flags, subject)) {
        fresh_interp();
        return 0;
    }
    if (pool->live.size() != before) {
        std::fprintf(stderr, "the engine lost %zd pool blocks\n",
                     static_cast<ssize_t>(pool->live.size()) - static_cast<ssize_t>(before));
        std::abort();
    }
    return 0;
}
