// A whole PRXMATCH call under a fuzzer: both modules as the host loads them,
// the callback, the entry slots, the bridge, the interpreter and the engine.
// One input is a call-site byte, a pattern text and a source text. Each
// outcome must be one of the call's outcomes with a result that fits it; once
// what the site keeps is released, the task must hold no bridge block, no
// interpreter and no block of its allocator, and no pool but the host's may
// hold a block.
//   byte 0        bits 0-1 the site kind ('D', 'X', 'h', 'H'), bit 2 a
//                 constant argument, bit 3 a second call at the same site
//   then          the pattern text, up to the first NUL byte
//   then          the source (the rest)
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "host/prxabi.h"
#include "host/xkfunc.h"
#include "hostsim/hostsim.h"

namespace {

hostsim::Host* host = nullptr;
xk_func_callback prxmatch = nullptr;
const rexhost_entry_table* table = nullptr;
uint32_t inputs = 0;  // since the host was made

// Every status a text-pattern call may return.
const std::set<uint32_t> CALL_STATUSES = {0u, 0x0001D804u, 0x8001D84Au, 0x8001D802u, 0x8001D811u};

[[noreturn]] void fault(const char* what, uint32_t status)
{
    std::fprintf(stderr, "call fuzz: %s (status 0x%08X)\n", what, status);
    std::abort();
}

bool missing(double d)
{
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    return ((bits >> 52) & 0x7FF) == 0x7FF;
}

void start()
{
    host = &hostsim::reset();
    host->record_calls = false;
    hostsim::FunctionModule fm = host->load_function_module("MATCHMOD");
    if (fm.count != 1)
        fault("no PRXMATCH function", 0);
    prxmatch = fm.callbacks[0];
    host->load("REXHOST ");
    table = reinterpret_cast<const rexhost_entry_table*>(reinterpret_cast<void* const*>(host->vec.groups[183]) - 3);
    host->clear_records();
}

// What a released site must leave: nothing of the bridge, the interpreter or
// the task's allocator, no block in any pool but the host's own.
void check_released()
{
    hostsim::Task* t = host->main_task();
    for (const char* name : {"PRXGCB", "PERLGCB"})
        if (t->named.count(name) && t->named[name])
            fault(name[1] == 'R' ? "a bridge block left on the task" : "an interpreter left on the task", 0);
    for (const auto& p : host->pools)
        if (p.get() != host->host_pool_ && !p->destroyed && !p->live.empty()) {
            std::fprintf(stderr, "call fuzz: pool %s keeps %zu blocks\n", p->owner.c_str(), p->live.size());
            std::abort();
        }
}

void run_once(uint8_t site, const std::string& pattern, const std::string& source)
{
    static const uint8_t kinds[] = {'D', 'X', 'h', 'H'};
    XkFuncCall call{};
    call.task = &host->main_task()->handle;
    call.kind = kinds[site & 3];
    call.arg_flags = (site & 4) ? XKARG_CONSTANT : 0;
    XkValue pat{}, src{};
    pat.text = pattern.data();
    pat.length = static_cast<int64_t>(pattern.size());
    // The source in a block of its own size: a read past it is seen.
    char* s = static_cast<char*>(std::malloc(source.size() + 1));
    std::memcpy(s, source.data(), source.size());
    src.text = s;
    src.length = static_cast<int64_t>(source.size());
    call.arg1 = &pat;
    call.arg2 = &src;
    int calls = (site & 8) ? 2 : 1;
    for (int i = 0; i < calls; i++) {
        double result = 0;
        call.err_flags = 0;
        uint32_t st = prxmatch(&call, &result, nullptr, nullptr);
        if (!CALL_STATUSES.count(st))
            fault("an unknown call status", st);
        if (st == 0) {
            if (missing(result) || result < 0 || result > static_cast<double>(source.size()) + 1)
                fault("a result outside the source", st);
        } else if (!missing(result)) {
            fault("a failed call with a result", st);
        }
    }
    std::free(s);
    if (call.cached)
        table->release(call.task, static_cast<PrxCompiled*>(call.cached));
    check_released();
    host->clear_records();
}

}  // namespace

extern "C" int prx_call_fuzz_input(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // The host keeps a record of every pool it made: a fresh host now and
    // then keeps a long run's memory flat.
    if (!host || host != &hostsim::host() || ++inputs % 4096 == 0)
        start();
    uint8_t site = data[0];
    std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    size_t nul = rest.find('\0');
    std::string pattern = rest.substr(0, nul);
    std::string source = nul == std::string::npos ? std::string() : rest.substr(nul + 1);
    run_once(site, pattern, source);
    return 0;
}

#ifdef PRX_FUZZ_MAIN
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return prx_call_fuzz_input(data, size);
}
#endif
