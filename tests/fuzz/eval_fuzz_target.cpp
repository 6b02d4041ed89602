// Program text under a fuzzer: one input is a program text, evaluated by the
// evaluation entry of rexhost's entry table (slot 15) the way a host holding
// an interpreter calls it, on a thread with the 1 MB native stack a host task
// may have. One interpreter serves several inputs in a row; every
// PRX_EVAL_FUZZ_EVERY inputs (64 unless the environment says otherwise) it
// is destroyed and a fresh one made. Then no pool but the host's may hold a
// block. The interpreter's own pool is destroyed with it and takes what
// destruction left: a few blocks of caches made once are tolerated there,
// but not the blocks of a leak that grows with the work done.
//
// What a program may legitimately do is bounded so that only faults stay
// findings: a run of more ops than the budget dies with a message an eval
// traps (an endless loop, a deep recursion that the native stack allows), and
// the host's pools refuse allocations past a byte limit (a huge repetition),
// which the interpreter answers as running out of memory. A text that never
// reaches the run loop (a lexer or compiler loop) has no such bound: its hang
// is a finding. What the program prints is captured and dropped.
//
// A fault that an earlier input of the same interpreter prepared does not
// show when its input runs alone. With PRX_EVAL_FUZZ_HISTORY=PATH set, the
// texts evaluated by the interpreter in use are written to PATH.PID, each as
// its length in decimal, a newline, the text and a newline, so that the
// sequence can be replayed.
#include <pthread.h>
#include <unistd.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "ds/src/prx.h"
#include "ds/src/prxbridge.h"
#include "ds/src/prxmsg.h"
#include "ds/src/prxop.h"
#include "host/prxabi.h"
#include "hostsim/hostsim.h"

extern "C" const TOV_Image_Information* mcn_main(void* host, void* module);

namespace {

constexpr uint64_t OP_BUDGET = 200000;             // ops one input may run
constexpr uint64_t BYTE_LIMIT = 128ull << 20;       // live bytes of all pools
constexpr size_t TASK_STACK = 1u << 20;             // native stack of the evaluating thread
constexpr uint32_t INTERPS_PER_HOST = 64;           // interpreters before the host is made anew
constexpr size_t LEFT_TO_POOL_LIMIT = 64;           // blocks destruction may leave to the pool

hostsim::Host* host = nullptr;
const rexhost_entry_table* table = nullptr;
PERLGCB* interp = nullptr;
uint32_t every = 0;               // inputs per interpreter
std::FILE* history = nullptr;     // the texts of the interpreter in use, when asked for
uint32_t inputs_on_interp = 0;
uint32_t interps_on_host = 0;
uint64_t ops_left = 0;
size_t left_to_pool = 0;          // blocks the interpreter's pool held when it was destroyed
const void* table_block = nullptr;  // the interpreter's table block, which lives as long as its pool
bool interp_pool_destroyed = false;

[[noreturn]] void fault(const char* what)
{
    std::fprintf(stderr, "eval fuzz: %s\n", what);
    std::abort();
}

// The run loop with an op budget: past it every op dies, so that each eval
// that traps the death meets the next one, until the outermost gives up.
int32_t bounded_run_loop(PERLGCB* gcb)
{
    while (gcb->op) {
        if (ops_left == 0)
            fatal_error(gcb, "The fuzz run's op budget is spent");
        ops_left--;
        gcb->op = gcb->op->op_ppaddr(gcb);
    }
    gcb->tainted = 0;
    return 0;
}

uint32_t inputs_per_interp()
{
    if (!every) {
        const char* e = std::getenv("PRX_EVAL_FUZZ_EVERY");
        long n = e ? std::strtol(e, nullptr, 10) : 0;
        every = n > 0 ? static_cast<uint32_t>(n) : 64;
    }
    return every;
}

void new_host()
{
    host = &hostsim::reset();
    host->record_calls = false;
    host->fail.byte_limit = BYTE_LIMIT;
    // What the destroyed interpreter left to its pool is counted before the
    // pool takes it, but for the block of its table copies, which lives as
    // long as the pool.
    host->over.xkPoolDestroy = [](host_pool* pool) {
        auto* p = reinterpret_cast<hostsim::Pool*>(pool);
        for (const auto& kv : p->live)
            if (kv.first != table_block)
                left_to_pool++;
        interp_pool_destroyed = true;
        p->host->destroy_pool(p);
    };
    mcn_main(&host->vec, nullptr);
    rexhost_bind();
    HostEntry* group = host->vec.groups[REXHOST_GROUP];
    if (!group)
        fault("the entry table is not bound");
    table = reinterpret_cast<const rexhost_entry_table*>(reinterpret_cast<void* const*>(group) - 3);
    interps_on_host = 0;
}

host_task* main_task() { return &host->main_task()->handle; }

// Hands what the interpreter captured to the host and forgets it.
void drop_captures()
{
    table->report_notes(main_task(), interp, "EVALFUZZ");
    table->report_errors(main_task(), interp, "EVALFUZZ");
    if (!host->fatals.empty())
        fault("the host was stopped");
    host->clear_records();
}

void destroy_interp()
{
    if (!interp)
        return;
    left_to_pool = 0;
    interp_pool_destroyed = false;
    ops_left = OP_BUDGET;
    table_block = interp->op_run_function_table;
    table->interp_destroy(interp, main_task());
    interp = nullptr;
    if (!interp_pool_destroyed)
        fault("destroying the interpreter left its pool");
    if (left_to_pool > LEFT_TO_POOL_LIMIT) {
        std::fprintf(stderr, "eval fuzz: destruction left %zu blocks to the pool\n", left_to_pool);
        std::abort();
    }
    hostsim::Task* t = host->main_task();
    if (t->named.count("PERLGCB") && t->named["PERLGCB"])
        fault("an interpreter is left on the task");
    for (const auto& p : host->pools)
        if (p.get() != host->host_pool_ && !p->destroyed && !p->live.empty()) {
            std::fprintf(stderr, "eval fuzz: pool %s keeps %zu blocks\n", p->owner.c_str(), p->live.size());
            std::abort();
        }
    host->clear_records();
}

void new_interp()
{
    if (!host || host != &hostsim::host() || interps_on_host >= INTERPS_PER_HOST)
        new_host();
    interp = table->interp_create(main_task());
    if (!interp)
        fault("no interpreter");
    interps_on_host++;
    inputs_on_interp = 0;
    interp->run_loop_hook = &bounded_run_loop;
    drop_captures();
}

// Starts the history anew for a new interpreter, or adds text to it.
void record(const std::string& text)
{
    static const char* path = std::getenv("PRX_EVAL_FUZZ_HISTORY");
    if (!path)
        return;
    if (inputs_on_interp == 0 || !history) {
        if (history)
            std::fclose(history);
        std::string name = std::string(path) + "." + std::to_string(getpid());
        history = std::fopen(name.c_str(), "w");
        if (!history)
            return;
    }
    std::fprintf(history, "%zu\n", text.size());
    std::fwrite(text.data(), 1, text.size(), history);
    std::fputc('\n', history);
    std::fflush(history);
}

void evaluate(const std::string& text)
{
    if (!interp)
        new_interp();
    record(text);
    ops_left = OP_BUDGET;
    table->eval_text(interp, text.c_str(), 0);
    const char* err = nullptr;
    int64_t err_len = 0;
    table->get_sv_text(interp, "@", &err, &err_len);
    drop_captures();
    if (++inputs_on_interp >= inputs_per_interp())
        destroy_interp();
}

// The thread that evaluates, with a host task's stack size: made once and
// handed one job at a time, since a thread per input costs more than most
// inputs. It waits for jobs until the process ends, so its record is never
// destroyed.
struct TaskThread {
    std::mutex mu;
    std::condition_variable cv;
    void (*job)(const void*) = nullptr;  // the job waiting or running; null when done
    const void* arg = nullptr;
};
TaskThread& task_thread = *new TaskThread;

void* task_thread_main(void*)
{
    std::unique_lock<std::mutex> lock(task_thread.mu);
    for (;;) {
        task_thread.cv.wait(lock, [] { return task_thread.job != nullptr; });
        lock.unlock();
        task_thread.job(task_thread.arg);
        lock.lock();
        task_thread.job = nullptr;
        task_thread.cv.notify_all();
    }
}

// Runs job(arg) on the task thread and waits for it.
void on_task_thread(void (*job)(const void*), const void* arg)
{
    static bool started = false;
    if (!started) {
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setstacksize(&attr, TASK_STACK);
        pthread_t th;
        if (pthread_create(&th, &attr, &task_thread_main, nullptr) != 0)
            fault("no thread for the task");
        pthread_attr_destroy(&attr);
        pthread_detach(th);
        started = true;
    }
    std::unique_lock<std::mutex> lock(task_thread.mu);
    task_thread.job = job;
    task_thread.arg = arg;
    task_thread.cv.notify_all();
    task_thread.cv.wait(lock, [] { return task_thread.job == nullptr; });
}

}  // namespace

// Evaluates one input on a thread of a host task's stack size. The text ends
// at the first NUL byte, as the entry reads it.
extern "C" int prx_eval_fuzz_input(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    text.resize(std::strlen(text.c_str()));
    on_task_thread([](const void* t) { evaluate(*static_cast<const std::string*>(t)); }, &text);
    return 0;
}

// Destroys the interpreter in use, with the checks of its destruction.
extern "C" void prx_eval_fuzz_finish()
{
    on_task_thread([](const void*) { destroy_interp(); }, nullptr);
}

#ifdef PRX_FUZZ_MAIN
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return prx_eval_fuzz_input(data, size);
}
#endif
