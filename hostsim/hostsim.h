// The stand-in host: the host record, service groups, tasks, pools, named
// blocks, catalogue, statuses, log, options, clock and module loader that
// the modules call, with recorders that tests inspect.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <unordered_set>
#include <string>
#include <unordered_map>
#include <vector>

#include "host/hostif.h"
#include "host/modrec.h"
#include "host/xkfunc.h"

namespace hostsim {

struct Host;
struct Toolkit;

// The head the stand-in puts before every block it hands out: the blocks of
// one pool form a ring through it, so that the pool's destruction releases
// them all and the live accounting needs no map.
struct BlockHead {
    BlockHead* prev;
    BlockHead* next;
    uint32_t size;                           // bytes asked for
    uint32_t small;                          // 0: a block of its own (SmallHead: 1)
    struct Pool* pool;                       // the owner, checked at free
};
static_assert(sizeof(BlockHead) % 16 == 0, "blocks keep the allocator's alignment");

// The head of a small block of a lean pool, carved from the pool's chunks;
// it is laid out as the last two words of BlockHead, so that either head is
// found and told apart from the block's address.
struct SmallHead {
    uint32_t size;                           // bytes asked for
    uint32_t small;                          // 1
    struct Pool* pool;
};
static_assert(sizeof(SmallHead) == 16 && offsetof(BlockHead, size) == sizeof(BlockHead) - sizeof(SmallHead));
constexpr uint32_t SMALL_BLOCK_MAX = 16384;  // larger blocks are blocks of their own
constexpr uint32_t SMALL_FINE_MAX = 1024;    // size classes step by 16 bytes up to here, by 256 above
constexpr uint32_t SMALL_CLASSES = SMALL_FINE_MAX / 16 + (SMALL_BLOCK_MAX - SMALL_FINE_MAX) / 256 + 1;
constexpr size_t POOL_CHUNK = 64 * 1024;     // what a lean pool carves its small blocks from

// The live blocks of a pool, read as a map from block to size: size and empty
// are counters; count, at and iteration walk the ring (tests only, on pools
// made with the heavy checks on, where every block is on the ring).
class LiveBlocks {
public:
    LiveBlocks() { ring_.prev = ring_.next = &ring_; }
    LiveBlocks(const LiveBlocks&) = delete;
    LiveBlocks& operator=(const LiveBlocks&) = delete;

    size_t size() const { return n_; }
    bool empty() const { return n_ == 0; }
    size_t count(const void* block) const;
    size_t at(const void* block) const;      // throws std::out_of_range for a block the pool does not hold

    class iterator {
    public:
        iterator(const BlockHead* h, const BlockHead* end) : h_(h), end_(end) { load(); }
        const std::pair<void*, size_t>& operator*() const { return cur_; }
        const std::pair<void*, size_t>* operator->() const { return &cur_; }
        iterator& operator++()
        {
            h_ = h_->next;
            load();
            return *this;
        }
        bool operator!=(const iterator& o) const { return h_ != o.h_; }
        bool operator==(const iterator& o) const { return h_ == o.h_; }

    private:
        void load()
        {
            if (h_ != end_)
                cur_ = {const_cast<BlockHead*>(h_) + 1, static_cast<size_t>(h_->size)};
        }
        const BlockHead* h_;
        const BlockHead* end_;
        std::pair<void*, size_t> cur_{};
    };
    iterator begin() const { return iterator(ring_.next, &ring_); }
    iterator end() const { return iterator(&ring_, &ring_); }

    void count_in() { n_++; }
    void count_out() { n_--; }
    void link(BlockHead* h);
    void unlink(BlockHead* h);
    void relink(BlockHead* moved);           // after realloc moved a linked head
    template <class F>
    void drain(F&& each)                     // unlinks every block, each(head) frees it
    {
        BlockHead* h = ring_.next;
        while (h != &ring_) {
            BlockHead* next = h->next;
            each(h);
            h = next;
        }
        ring_.prev = ring_.next = &ring_;
        n_ = 0;
    }

private:
    BlockHead ring_{};
    size_t n_ = 0;
};

// One host pool; host_pool comes first so the modules can use it directly.
// A pool belongs to one task (or to the host) and is used by one thread at a
// time, as a task runs on one thread at a time: its own operations take no
// lock, except the host's pool, which every thread may use.
//
// A pool made with the heavy checks on gives every block a block of its own
// on the ring. A lean pool, as a production host's, carves small blocks from
// chunks of its own, keeps a free list per size class and hands the chunks
// back to the host when it is destroyed; larger blocks go on the ring.
struct Pool {
    host_pool ops;
    Host* host;
    std::string owner;                       // for the log: task name or "host"
    LiveBlocks live;                         // block -> size
    uint64_t live_bytes = 0;
    uint64_t allocations = 0;
    bool destroyed = false;                  // a destroyed record waits to be reused by the next pool made
    bool shared = false;                     // the host's own pool: operations take the host's lock
    bool checked = false;                    // made while the host's heavy checks were on
    bool lean = false;                       // a task's lean pool, alive: small blocks take the short path
    std::unordered_set<void*> known;         // the live blocks, kept only when checked
    void* free_lists[SMALL_CLASSES]{};       // lean: freed small blocks by size class
    char* bump = nullptr;                    // lean: the unused rest of the newest chunk
    char* bump_end = nullptr;
    std::vector<void*> chunks;               // lean: the chunks small blocks come from
    uint32_t create_flags = 0;
};

struct Task {
    host_task handle{};                      // what services receive
    host_task_record record{};               // record->handle == &handle
    std::string name;
    Pool* allocator = nullptr;
    std::map<std::string, void*, std::less<>> named;  // named-block registry
    alignas(16) uint8_t session_block[0x200]{};
};

struct Message {
    host_task* task;
    int32_t table;
    int32_t number;
    std::vector<std::string> args;
    std::string text;                        // the catalogue text with the arguments
};

struct StatusReport {
    host_task* task;
    uint32_t status;
    std::vector<std::string> inserts;        // raw insert bytes of the last xkStatusMessage
    std::string text;
};

struct LinesHandOver {
    host_task* task;
    std::string raw;                         // as handed over ("%n", "%%", "%1z")
    std::string text;                        // decoded
    bool error;                              // began with "%1z"
};

struct Call {
    unsigned group;
    unsigned slot;
    const char* name;
};

// Allocation failure knobs, applied to every pool allocation and reallocation.
struct FailPolicy {
    bool fail_next = false;                  // the next allocation fails
    int64_t fail_after = -1;                 // this many succeed, then all fail
    int64_t fail_once_after = -1;            // this many succeed, then one fails and the rest succeed
    uint64_t byte_limit = 0;                 // live bytes above this fail (0: none)
    uint64_t failures = 0;                   // failures delivered so far
};

struct LoadedModule {
    std::string path;
    void* dl = nullptr;
    const TOV_Image_Information* image = nullptr;
    const module_linkage* linkage = nullptr;
    bool initialised = false;
};

// A function module's offer as the host learns it.
struct FunctionModule {
    LoadedModule* module = nullptr;
    const XkFuncDescriptor* descriptors = nullptr;
    int32_t count = 0;
    std::vector<xk_func_callback> callbacks;
};

// Services that a test may replace. A set member is called instead of the
// host's own implementation of that service.
struct Overrides {
#define HOST_SVC(G, S, NAME, RET, PARAMS, ARGS) std::function<RET PARAMS> NAME;
#define HOST_SVC_VA(G, S, NAME, RET, PARAMS, ARGS)
#include "host/hostsvc.def"
#undef HOST_SVC
#undef HOST_SVC_VA
};

struct Host {
    host_vector vec{};
    std::vector<HostEntry> tables[HOST_GROUP_COUNT];
    host_service_group group_ptrs[HOST_GROUP_COUNT]{};
    uint8_t in_use[HOST_GROUP_COUNT]{};
    uint8_t upper[256]{}, lower[256]{}, cclass[256]{};
    void* task_cell = nullptr;               // the cell host_vector slot 56 names
    int32_t setting_value = 42;              // the 32-bit setting behind settings+0x310
    alignas(16) uint8_t settings[0x400]{};
    host_mbcs_info mbcs{};
    std::vector<std::unique_ptr<Task>> tasks;
    std::vector<std::unique_ptr<Pool>> pools;
    std::vector<void*> spare_chunks;         // chunks of destroyed lean pools, for the next ones
    Pool* host_pool_ = nullptr;              // host_vector slot 10

    // Recorders.
    std::vector<Message> messages;
    std::vector<StatusReport> reports;
    std::vector<std::vector<std::string>> status_inserts;  // every xkStatusMessage
    std::vector<std::string> log;            // xkPutLog lines
    std::vector<LinesHandOver> lines;        // xkPutLines
    std::vector<Call> calls;
    std::vector<std::pair<int32_t, int32_t>> fatals;
    std::vector<uint32_t> sleeps;
    std::vector<std::vector<uint32_t>> pool_creates;  // size, extent, flags
    std::vector<std::string> loads;          // xkLoadModule names
    std::vector<std::pair<host_task*, std::pair<int32_t, void*>>> sessions;
    std::vector<std::string> unoffered;      // "G/S" of services the host lacks
    bool record_calls = true;
    // When clear, the recorders above keep nothing (the log is still echoed):
    // the command-line programs and the benchmarks run that way, so that
    // their memory stays flat over any number of calls.
    bool recording = true;
    // Heavy checks of the pools: blocks not asked zero-filled start with the
    // byte 0xA5 (so that code relying on zeroed memory it did not ask for
    // shows up), grown parts of a reallocation too, and every free and
    // reallocation is checked against the pool's set of live blocks. On for
    // tests; the command-line programs and the benchmarks turn it off.
    bool checks = true;
    // Service calls, pool operations and the task list may come from several
    // threads (each task on a thread of its own): they hold this lock, which
    // guards every recorder, the pools and the failure knobs.
    std::recursive_mutex mu;
    // When set, the current task is the calling thread's own (make_current
    // sets it for that thread only), as in a host that runs tasks on threads.
    bool tasks_per_thread = false;
    std::ostream* echo = nullptr;            // print the host log as it happens

    // Behaviour knobs.
    FailPolicy fail;
    bool fail_task_switch = false;           // every task switch fails
    int fail_task_switch_count = 0;          // the next N task switches fail
    bool fail_pool_create = false;
    bool fatal_exits = false;                // xkFatal ends the process (command line)
    double clock = 1.7e9;                    // seconds, xkDateTime
    std::string option_string;
    std::map<std::string, int64_t> option_values{{"YEARCUTOFF", 1926}};
    std::map<std::string, std::string> module_paths;  // upper-case 8-char name -> .so
    std::map<std::string, std::unique_ptr<LoadedModule>> modules;
    std::map<uint32_t, std::vector<HostEntry>> saved_groups;
    Overrides over;
    std::vector<std::string> last_inserts;
    std::unique_ptr<Toolkit> toolkit;        // host_vector slot 82 (hostsim/toolkit.h)

    Host();
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    Toolkit& tk() { return *toolkit; }
    Task* main_task() { return tasks[0].get(); }
    Task* task(size_t i) { return tasks[i].get(); }
    Task* add_task(const std::string& name);
    Task* find_task(const host_task* handle);
    Task* current_task();
    void make_current(Task* t);
    // Offer (or stop offering) the host_vector slot 56 cell.
    void use_task_cell(bool on);

    Pool* new_pool(const std::string& owner, uint32_t flags);
    void* pool_alloc(Pool* p, uint64_t size, uint32_t flags);
    void pool_free(Pool* p, void* block);
    void* pool_realloc(Pool* p, void* block, uint64_t size);
    void destroy_pool(Pool* p);
    size_t live_pools() const;
    bool allocation_fails(uint64_t size);
    bool knobs_set() const
    {
        return fail.fail_next || fail.fail_after >= 0 || fail.fail_once_after >= 0 || fail.byte_limit;
    }
    // The programs' set-up: no recorders, no heavy pool checks, also in the
    // pools made before (the tasks' allocators, the host's own pool).
    void lean();

    void record(unsigned g, unsigned s, const char* name);
    void event(const std::string& line);

    // Modules.
    LoadedModule* load(const std::string& name8);
    FunctionModule load_function_module(const std::string& name8);
    int32_t bind(uint32_t id, void* table);
    void unbind(uint32_t id);

    // Catalogue texts of table 738.
    static std::string catalogue_text(int32_t table, int32_t number, const std::vector<std::string>& args);
    static std::string status_text(uint32_t status, const std::vector<std::string>& inserts);
    static std::string decode_lines(const std::string& raw, bool* error);

    void clear_records();
};

// The command-line programs' output: written in large blocks unless it goes
// to a terminal (the log on standard error stays unbuffered), and C++
// streams not kept in step with C's.
void buffer_output();

// The one host of the process; services find it here.
Host& host();
// Replace the host with a fresh one (tests).
Host& reset();

}  // namespace hostsim
