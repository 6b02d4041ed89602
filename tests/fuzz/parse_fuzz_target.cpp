// The bridge's pattern-text parser under a fuzzer, through the entry table of
// the module as the host loads it: one input is a room byte, a PRXMATCH
// pattern text and a subject. The text is parsed and evaluated into a
// compiled pattern (entry slot 4); a compiled pattern is matched against the
// subject (slot 6) and, for an s/// text that matched, its replacement is
// expanded into a buffer of exactly the room (slot 7); then both are freed
// (slot 5). Every input runs three times (unless the work guard ended its
// match): the first two may grow the interpreter's arenas, the third must
// leave the pools with the blocks it found, whether the text compiled, was
// refused or failed in the interpreter. The text is held to being a
// pattern: if any of it ran as code and printed, the input fails.
//   byte 0        the room of the replacement buffer, 0 to 255
//   then          the pattern text, up to the first NUL byte
//   then          the subject (the rest)
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "host/prxabi.h"
#include "hostsim/hostsim.h"

namespace {

hostsim::Host* host = nullptr;
const rexhost_entry_table* table = nullptr;
PERLGCB* interp = nullptr;

// Every status the parser may answer: a compiled pattern or an evaluation
// that failed (0), each refusal, no memory.
const std::set<uint32_t> PARSE_STATUSES = {
    0u,          0x80171001u, 0x8017112Cu, 0x8017112Du, 0x8017112Eu, 0x8017112Fu, 0x8017113Au,
    0x80171131u, 0x80171133u, 0x80171134u, 0x80171135u, 0x80171136u, 0x80171137u, 0x80171138u,
    0x80171139u, 0x80000803u,
};

[[noreturn]] void fault(const char* what, uint32_t status)
{
    std::fprintf(stderr, "parse fuzz: %s (status 0x%08X)\n", what, status);
    std::abort();
}

void start()
{
    host = &hostsim::reset();
    host->record_calls = false;
    host->load("REXHOST ");
    table = reinterpret_cast<const rexhost_entry_table*>(reinterpret_cast<void* const*>(host->vec.groups[183]) - 3);
    interp = table->interp_create(&host->main_task()->handle);
    if (!interp)
        fault("no interpreter", 0);
}

size_t live_blocks()
{
    size_t n = 0;
    for (const auto& p : host->pools)
        if (!p->destroyed)
            n += p->live.size();
    return n;
}

bool guard_tripped = false;  // the last run's match ended on the guard

void run_once(const std::string& text, const std::string& subject, int32_t room)
{
    guard_tripped = false;
    host_task* task = &host->main_task()->handle;
    re_compiled* rx = nullptr;
    ReplaceNode* tree = nullptr;
    uint32_t st = table->parse(interp, task, text.data(), text.data() + text.size(), &rx, &tree);
    if (!PARSE_STATUSES.count(st))
        fault("an unknown parse status", st);
    if (st != 0 && rx)
        fault("a refusal with a compiled pattern", st);
    if (tree && !rx)
        fault("a replacement tree without a compiled pattern", st);
    if (rx) {
        // The subject and the output in blocks of their own size: a read or
        // write past either is seen.
        char* s = static_cast<char*>(std::malloc(subject.size() + 1));
        std::memcpy(s, subject.data(), subject.size());
        uint32_t m = table->match(interp, task, rx, s, s + subject.size(), s, 0, 0);
        if (m != 0 && m != 0x8017113Bu && m != 4)
            fault("an unknown match status", m);
        guard_tripped = m == 4;
        if (m == 0) {
            if (rx->start_offsets[0] < 0 || rx->end_offsets[0] < rx->start_offsets[0] ||
                static_cast<size_t>(rx->end_offsets[0]) > subject.size())
                fault("a match out of the subject", m);
            if (tree) {
                char* out = static_cast<char*>(std::malloc(room ? room : 1));
                int32_t overflow = 0;
                int32_t wrote = table->expand(tree, rx, out, room, s, &overflow);
                if (wrote < 0 || wrote > room)
                    fault("an expansion outside its room", static_cast<uint32_t>(wrote));
                std::free(out);
            }
        }
        std::free(s);
        table->regfree(interp, task, rx, tree);
    }
    // Hand the captured text over, as the compile entry does, and forget it.
    // A pattern text is never run as code: nothing it holds may reach the
    // standard output.
    table->report_notes(task, interp, "PRXFUZZ");
    for (const auto& l : host->lines)
        if (!l.error && !l.raw.empty())
            fault("a pattern text wrote to the standard output", 0);
    table->report_errors(task, interp, "PRXFUZZ");
    host->clear_records();
}

}  // namespace

extern "C" int prx_parse_fuzz_input(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    if (!host || host != &hostsim::host())
        start();
    int32_t room = data[0];
    std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    size_t nul = rest.find('\0');
    std::string text = rest.substr(0, nul);
    std::string subject = nul == std::string::npos ? std::string() : rest.substr(nul + 1);
    run_once(text, subject, room);
    // A match the guard ended has spent its whole budget: not run again.
    if (guard_tripped)
        return 0;
    run_once(text, subject, room);
    size_t before = live_blocks();
    run_once(text, subject, room);
    size_t after = live_blocks();
    if (after != before) {
        std::fprintf(stderr, "parse fuzz: the bridge lost %zd pool blocks\n",
                     static_cast<ssize_t>(after) - static_cast<ssize_t>(before));
        std::abort();
    }
    return 0;
}

#ifdef PRX_FUZZ_MAIN
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return prx_parse_fuzz_input(data, size);
}
#endif
