// The stand-in host: services of groups 0, 1 and 39, tasks, pools, the module
// loader and the recorders behind them.
#include "hostsim/hostsim.h"
#include "hostsim/toolkit.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string_view>
#include <utility>

namespace hostsim {

namespace {
std::unique_ptr<Host> g_current;

std::string hex32(uint32_t v)
{
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", v);
    return b;
}

std::string upper8(const char* name8)
{
    std::string s(name8, strnlen(name8, 8));
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

// The pool operations the modules call; defined with the lean pools' blocks.
void* pool_alloc_op(host_pool* pool, uint64_t size, uint32_t flags);
int32_t pool_free_op(host_pool* pool, void* block, uint64_t, uint32_t);

// A service the host does not offer: record it loudly and stop.
[[noreturn]] void unoffered(unsigned g, unsigned s)
{
    Host& h = host();
    std::string what = std::to_string(g) + "/" + std::to_string(s);
    h.unoffered.push_back(what);
    std::fprintf(stderr, "host: service %s is not offered by this host\n", what.c_str());
    std::abort();
}

template <unsigned G, unsigned S>
void trap()
{
    unoffered(G, S);
}

template <unsigned G, size_t... S>
void fill_traps(std::vector<HostEntry>& table, std::index_sequence<S...>)
{
    table = {&trap<G, static_cast<unsigned>(S)>...};
}

template <unsigned G>
void fill_group(Host& h)
{
    h.tables[G].assign(HOST_GROUP_SLOTS, nullptr);
    fill_traps<G>(h.tables[G], std::make_index_sequence<HOST_GROUP_SLOTS>{});
    h.group_ptrs[G] = h.tables[G].data();
}

// ---- service implementations -------------------------------------------

int32_t impl_xkBindInterface(uint32_t id, void* table, void*)
{
    Host& h = host();
    return h.bind(id, table);
}

int32_t impl_xkUnbindInterface(uint32_t id, void*, void*, void*)
{
    host().unbind(id);
    return 0;
}

int32_t impl_xkLoadModule(uint32_t, const char* name8, int32_t)
{
    Host& h = host();
    std::string name = upper8(name8);
    if (h.recording)
        h.loads.push_back(name);
    return h.load(name) ? 0 : static_cast<int32_t>(0x8001C8FFu);
}

int32_t impl_xkPoolCreate(host_pool** out, uint32_t size, uint32_t extent, uint32_t flags, host_task* task)
{
    Host& h = host();
    if (h.recording)
        h.pool_creates.push_back({size, extent, flags});
    if (h.fail_pool_create)
        return static_cast<int32_t>(ST_NO_MEMORY);
    Task* t = h.find_task(task);
    Pool* p = h.new_pool(t ? t->name : std::string("?"), flags);
    *out = &p->ops;
    return 0;
}

int32_t impl_xkSessionRegister(host_task* task, int32_t key, void* record)
{
    Host& h = host();
    if (h.recording)
        h.sessions.push_back({task, {key, record}});
    Task* t = h.find_task(task);
    if (!t)
        return 1;
    if (key == 37)
        std::memcpy(t->session_block + HOST_SESSION_RECORD_OFFSET, &record, sizeof record);
    return 0;
}

void impl_xkSleep(uint32_t ms, int32_t, int32_t)
{
    Host& h = host();
    if (h.recording)
        h.sleeps.push_back(ms);
    h.clock += ms / 1000.0;
}

double impl_xkDateTime() { return host().clock; }

int32_t impl_xkTextToDouble(XkTextToDoubleReq* req)
{
    if (!req || !req->text || req->length <= 0)
        return 1;
    std::string s(req->text, static_cast<size_t>(req->length));
    size_t b = s.find_first_not_of(' ');
    size_t e = s.find_last_not_of(' ');
    if (b == std::string::npos)
        return 1;
    s = s.substr(b, e - b + 1);
    char* end = nullptr;
    double v = std::strtod(s.c_str(), &end);
    if (end == s.c_str() || *end != 0)
        return 1;
    *req->result = v;
    return 0;
}

int32_t impl_xkTextToInteger(const char* text, int32_t length, int32_t, int32_t* consumed, int32_t* value)
{
    if (!text || length <= 0)
        return 1;
    int32_t i = 0;
    while (i < length && text[i] == ' ')
        i++;
    bool neg = false;
    if (i < length && (text[i] == '-' || text[i] == '+'))
        neg = text[i++] == '-';
    int32_t digits = 0;
    int64_t v = 0;
    while (i < length && text[i] >= '0' && text[i] <= '9') {
        v = v * 10 + (text[i] - '0');
        if (v > 2147483648ll)
            return 1;
        i++;
        digits++;
    }
    if (!digits)
        return 1;
    int32_t used = i;
    while (i < length && text[i] == ' ')
        i++;
    if (i < length)
        return 1;
    if (neg)
        v = -v;
    if (v > 2147483647ll)
        return 1;
    if (consumed)
        *consumed = used;
    *value = static_cast<int32_t>(v);
    return 0;
}

void impl_xkMbcsLower(char* text, int32_t length)
{
    Host& h = host();
    for (int32_t i = 0; i < length; i++)
        text[i] = static_cast<char>(h.lower[static_cast<uint8_t>(text[i])]);
}

void impl_xkMbcsUpper(char* text, int32_t length)
{
    Host& h = host();
    for (int32_t i = 0; i < length; i++)
        text[i] = static_cast<char>(h.upper[static_cast<uint8_t>(text[i])]);
}

int64_t impl_xkGroup1Slot2(void*, void*, void*, void*) { return 0; }

host_task* impl_xkTaskSwitch(void*, host_task* to, int32_t* status)
{
    Host& h = host();
    Task* prev = h.current_task();
    Task* t = h.find_task(to);
    if (h.fail_task_switch || h.fail_task_switch_count > 0 || !t) {
        if (h.fail_task_switch_count > 0)
            h.fail_task_switch_count--;
        if (status)
            *status = 1;
        return nullptr;
    }
    h.make_current(t);
    if (status)
        *status = 0;
    return prev ? &prev->handle : nullptr;
}

void impl_xkFatal(int32_t code, int32_t detail)
{
    Host& h = host();
    if (h.recording)
        h.fatals.push_back({code, detail});
    h.event("FATAL " + std::to_string(code) + " (" + std::to_string(detail) + "): the host stops");
    if (h.fatal_exits) {
        std::fprintf(stderr, "host: fatal stop %d (%d)\n", code, detail);
        std::exit(3);
    }
}

void* impl_xkPoolRealloc(host_pool* pool, void* block, uint32_t, uint32_t new_size, uint32_t)
{
    Pool* p = reinterpret_cast<Pool*>(pool);
    return p->host->pool_realloc(p, block, new_size);
}

void impl_xkPoolDestroy(host_pool* pool)
{
    Pool* p = reinterpret_cast<Pool*>(pool);
    p->host->destroy_pool(p);
}

int32_t impl_xkOptionString(void*, int32_t, int32_t, int32_t, int32_t, char* buffer, int32_t* size, int32_t, host_task*)
{
    Host& h = host();
    if (!buffer || !size || *size <= 0)
        return 1;
    int32_t n = static_cast<int32_t>(h.option_string.size());
    if (n >= *size)
        n = *size - 1;
    std::memcpy(buffer, h.option_string.data(), static_cast<size_t>(n));
    buffer[n] = 0;
    *size = n;
    return 0;
}

int32_t impl_xkOptionValue(const char* name, int32_t length, int32_t, int32_t, int32_t, void* value_out, void*, host_task*)
{
    Host& h = host();
    std::string key(name, static_cast<size_t>(length > 0 ? length : 0));
    auto it = h.option_values.find(key);
    if (it == h.option_values.end())
        return static_cast<int32_t>(0x8001C8F0u);
    int64_t v = it->second;
    std::memcpy(value_out, &v, sizeof v);
    return 0;
}

void impl_xkPutLog(const char* line)
{
    Host& h = host();
    std::string s = line ? line : "";
    if (h.recording)
        h.log.push_back(s);
    h.event("LOG " + s);
}

void impl_xkPutLines(host_task* task, const char* text, int64_t length)
{
    Host& h = host();
    LinesHandOver l;
    l.task = task;
    l.raw.assign(text ? text : "", text ? static_cast<size_t>(length) : 0);
    l.text = Host::decode_lines(l.raw, &l.error);
    if (h.recording)
        h.lines.push_back(l);
    if (!h.echo)
        return;
    std::istringstream in(l.text);
    std::string line;
    while (std::getline(in, line))
        h.event(std::string(l.error ? "ERROR TEXT " : "NOTE TEXT ") + line);
}

int64_t impl_xkGroup39Slot108(void*, int32_t) { return 0; }

void impl_xkReportStatus(host_task* task, uint32_t status)
{
    Host& h = host();
    StatusReport r{task, status, h.last_inserts, Host::status_text(status, h.last_inserts)};
    if (h.recording)
        h.reports.push_back(r);
    h.last_inserts.clear();
    h.event("STATUS " + hex32(status) + " " + r.text);
}

int64_t impl_xkGroup39Slot138(void*, int32_t, int32_t) { return 0; }

int32_t impl_xkNamedBlockSet(host_task* task, int32_t, const char* name, int32_t length, void* block)
{
    Host& h = host();
    Task* t = h.find_task(task);
    if (!t)
        return 1;
    std::string_view key(name, static_cast<size_t>(length));
    auto it = t->named.find(key);
    if (!block) {
        if (it != t->named.end())
            t->named.erase(it);
    } else if (it != t->named.end()) {
        it->second = block;
    } else {
        t->named.emplace(std::string(key), block);
    }
    return 0;
}

int32_t impl_xkNamedBlockGet(host_task* task, int32_t, const char* name, int32_t length, void** out, int32_t)
{
    Host& h = host();
    Task* t = h.find_task(task);
    if (!t)
        return 1;
    auto it = t->named.find(std::string_view(name, static_cast<size_t>(length)));
    if (it == t->named.end())
        return 1;
    *out = it->second;
    return 0;
}

// The host's number format: the double in at most `width` characters with as
// many significant digits as fit, right-justified in a blank-padded field.
int32_t impl_xkFormatDouble(XkFormatDoubleReq* req)
{
    if (!req || !req->value || !req->buffer || req->width <= 0 || req->width > 32)
        return 1;
    double v = *req->value;
    int32_t width = req->width;
    std::string text;
    if (std::isnan(v))
        text = "NaN";
    else if (std::isinf(v))
        text = v < 0 ? "-Inf" : "Inf";
    else {
        for (int prec = width; prec >= 1; prec--) {
            char b[64];
            std::snprintf(b, sizeof b, "%.*g", prec, v);
            if (static_cast<int32_t>(std::strlen(b)) <= width) {
                text = b;
                break;
            }
        }
        if (text.empty())
            return 1;
    }
    if (static_cast<int32_t>(text.size()) > width)
        return 1;
    std::memset(req->buffer, ' ', static_cast<size_t>(width));
    std::memcpy(req->buffer + width - text.size(), text.data(), text.size());
    return 0;
}

void impl_xkGroup39Slot194(char* text8) { std::memcpy(text8, "HOSTSIM ", 8); }

int64_t impl_xkGroup39Slot79(void*, void*, void*, void*) { return 0; }
int64_t impl_xkGroup39Slot104(void*, void*, void*, void*) { return 0; }
int64_t impl_xkGroup40Slot277(void*, void*, void*, void*) { return 0; }
int64_t impl_xkGroup49Slot31(void*, void*, void*, void*) { return 0; }

// ---- the entries the host tables hold -------------------------------------

#define HOST_SVC(G, S, NAME, RET, PARAMS, ARGS)        \
    RET hs_##NAME PARAMS                                \
    {                                                   \
        Host& host_ = host();                           \
        std::lock_guard<std::recursive_mutex> lock_(host_.mu); \
        host_.record(G, S, #NAME);                      \
        if (host_.over.NAME)                            \
            return host_.over.NAME ARGS;                \
        return impl_##NAME ARGS;                        \
    }
#define HOST_SVC_VA(G, S, NAME, RET, PARAMS, ARGS)
#include "host/hostsvc.def"
#undef HOST_SVC
#undef HOST_SVC_VA

// xkStatusMessage: count, then (address, length) pairs.
void hs_xkStatusMessage(int32_t count, ...)
{
    Host& h = host();
    std::lock_guard<std::recursive_mutex> lock(h.mu);
    h.record(0, 144, "xkStatusMessage");
    std::vector<std::string> inserts;
    va_list ap;
    va_start(ap, count);
    for (int32_t i = 0; i < count; i++) {
        const char* p = va_arg(ap, const char*);
        int64_t n = va_arg(ap, int64_t);
        inserts.emplace_back(p ? p : "", p ? static_cast<size_t>(n) : 0);
    }
    va_end(ap);
    if (h.recording)
        h.status_inserts.push_back(inserts);
    h.last_inserts = inserts;
}

// xkIssueMessage: the argument shape is the catalogue's. 103 and 104 take a
// count and that many texts; 105, 204 and 304 take one text.
void hs_xkIssueMessage(host_task* task, int32_t table, int32_t number, ...)
{
    Host& h = host();
    std::lock_guard<std::recursive_mutex> lock(h.mu);
    h.record(39, 125, "xkIssueMessage");
    std::vector<std::string> args;
    va_list ap;
    va_start(ap, number);
    if (table == MSG_TABLE && (number == MSG_MISSING_ARG || number == MSG_BAD_ARG)) {
        int32_t n = va_arg(ap, int32_t);
        args.push_back(std::to_string(n));
        for (int32_t i = 0; i < n && i < 8; i++) {
            const char* s = va_arg(ap, const char*);
            args.emplace_back(s ? s : "");
        }
    } else if (table == MSG_TABLE) {
        const char* s = va_arg(ap, const char*);
        args.emplace_back(s ? s : "");
    }
    va_end(ap);
    Message m{task, table, number, args, Host::catalogue_text(table, number, args)};
    if (h.recording)
        h.messages.push_back(m);
    h.event("MESSAGE " + std::to_string(table) + "/" + std::to_string(number) + " " + m.text);
}

}  // namespace

// ---- Host -----------------------------------------------------------------

Host::Host()
{
    fill_group<0>(*this);
    fill_group<1>(*this);
    fill_group<39>(*this);
    fill_group<40>(*this);
    fill_group<49>(*this);
    fill_group<REXHOST_GROUP>(*this);
#define HOST_SVC(G, S, NAME, RET, PARAMS, ARGS) tables[G][S] = reinterpret_cast<HostEntry>(&hs_##NAME);
#define HOST_SVC_VA(G, S, NAME, RET, PARAMS, ARGS) tables[G][S] = reinterpret_cast<HostEntry>(&hs_##NAME);
#include "host/hostsvc.def"
#undef HOST_SVC
#undef HOST_SVC_VA

    // ASCII-only character tables; bytes 0x80-0xFF have no class.
    for (int c = 0; c < 256; c++) {
        upper[c] = static_cast<uint8_t>(c >= 'a' && c <= 'z' ? c - 32 : c);
        lower[c] = static_cast<uint8_t>(c >= 'A' && c <= 'Z' ? c + 32 : c);
        uint8_t k = 0;
        if (c >= 'A' && c <= 'Z')
            k |= HC_UPPER;
        if (c >= 'a' && c <= 'z')
            k |= HC_LOWER;
        if (c >= '0' && c <= '9')
            k |= HC_DIGIT | HC_XDIGIT;
        if ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))
            k |= HC_XDIGIT;
        if (c == ' ' || (c >= 9 && c <= 13))
            k |= HC_SPACE;
        if (c == ' ')
            k |= HC_BLANK;
        if (c < 32 || c == 127)
            k |= HC_CNTRL;
        if (c > 32 && c < 127 && !(k & HC_ALNUM))
            k |= HC_PUNCT;
        cclass[c] = k;
    }

    vec.groups = group_ptrs;
    vec.in_use = in_use;
    vec.upper = upper;
    vec.lower = lower;
    vec.cclass = cclass;
    vec.mbcs = nullptr;
    int32_t* setting = &setting_value;
    std::memcpy(settings + HOST_SETTINGS_WORD_OFFSET, &setting, sizeof setting);
    vec.settings = settings;
    toolkit = std::make_unique<Toolkit>();
    toolkit_init(*toolkit, *this);
    vec.toolkit = &toolkit->services;
    vec.no_task = 0;

#ifdef PRX_REXHOST_SO
    module_paths["REXHOST"] = PRX_REXHOST_SO;
#endif
#ifdef PRX_MATCHMOD_SO
    module_paths["MATCHMOD"] = PRX_MATCHMOD_SO;
#endif
    if (const char* dir = std::getenv("PRX_MODULE_DIR")) {
        module_paths["REXHOST"] = std::string(dir) + "/librexhost.so";
        module_paths["MATCHMOD"] = std::string(dir) + "/libmatchmod.so";
    }

    host_pool_ = new_pool("host", 0);
    host_pool_->shared = true;
    host_pool_->lean = false;
    vec.allocator = &host_pool_->ops;
    add_task("MAIN");
    add_task("TASK1");
    add_task("TASK2");
    vec.main_task = &main_task()->record;
    vec.current_task_cell = &task_cell;
    task_cell = &main_task()->record;
}

Host::~Host()
{
    for (auto& m : modules)
        if (m.second->dl)
            dlclose(m.second->dl);
    for (auto& p : pools)
        if (!p->destroyed)
            destroy_pool(p.get());
    for (void* chunk : spare_chunks)
        std::free(chunk);
}

Task* Host::add_task(const std::string& name)
{
    std::lock_guard<std::recursive_mutex> lock(mu);
    auto t = std::make_unique<Task>();
    t->name = name;
    t->record.handle = &t->handle;
    t->allocator = new_pool(name, 0);
    t->handle.allocator = &t->allocator->ops;
    t->handle.session_block = t->session_block;
    tasks.push_back(std::move(t));
    return tasks.back().get();
}

Task* Host::find_task(const host_task* handle)
{
    for (auto& t : tasks)
        if (&t->handle == handle)
            return t.get();
    return nullptr;
}

namespace {
thread_local Task* thread_task = nullptr;  // the thread's own current task (tasks_per_thread)
}  // namespace

Task* Host::current_task()
{
    if (vec.no_task)
        return nullptr;
    if (tasks_per_thread && thread_task)
        return thread_task;
    void* v = vec.current_task_cell ? *vec.current_task_cell : main_task()->record.cell;
    if (v == reinterpret_cast<void*>(1))
        return main_task();
    for (auto& t : tasks)
        if (&t->record == v)
            return t.get();
    return nullptr;
}

void Host::make_current(Task* t)
{
    if (tasks_per_thread) {
        thread_task = t;
        return;
    }
    void** cell = vec.current_task_cell ? vec.current_task_cell : &main_task()->record.cell;
    *cell = &t->record;
}

void Host::use_task_cell(bool on)
{
    Task* cur = current_task();
    vec.current_task_cell = on ? &task_cell : nullptr;
    if (cur)
        make_current(cur);
}

Pool* Host::new_pool(const std::string& owner, uint32_t flags)
{
    std::lock_guard<std::recursive_mutex> lock(mu);
    // A destroyed pool's record is taken again, so that records do not pile
    // up over any number of pools made and destroyed.
    Pool* p = nullptr;
    for (auto& q : pools)
        if (q->destroyed) {
            p = q.get();
            break;
        }
    if (!p) {
        pools.push_back(std::make_unique<Pool>());
        p = pools.back().get();
    }
    p->ops.alloc = &pool_alloc_op;
    p->ops.free = &pool_free_op;
    p->host = this;
    p->owner = owner;
    p->live_bytes = 0;
    p->allocations = 0;
    p->destroyed = false;
    p->shared = false;
    p->checked = checks;
    p->lean = !checks;
    p->create_flags = flags;
    return p;
}

bool Host::allocation_fails(uint64_t size)
{
    bool f = false;
    if (fail.fail_next) {
        fail.fail_next = false;
        f = true;
    } else if (fail.fail_after == 0) {
        f = true;
    } else if (fail.fail_after > 0) {
        fail.fail_after--;
    }
    if (!f && fail.fail_once_after >= 0) {
        if (fail.fail_once_after == 0)
            f = true;
        fail.fail_once_after--;
    }
    if (!f && fail.byte_limit) {
        uint64_t live = 0;
        for (auto& p : pools)
            live += p->live_bytes;
        if (live + size > fail.byte_limit)
            f = true;
    }
    if (f)
        fail.failures++;
    return f;
}

namespace {

// The pool's lock: only the host's own pool, which any thread may use, takes
// the host's lock; a task's pool is used by one thread at a time.
struct PoolLock {
    explicit PoolLock(Pool* p) : mu_(p->shared ? &p->host->mu : nullptr)
    {
        if (mu_)
            mu_->lock();
    }
    ~PoolLock()
    {
        if (mu_)
            mu_->unlock();
    }
    PoolLock(const PoolLock&) = delete;
    PoolLock& operator=(const PoolLock&) = delete;
    std::recursive_mutex* mu_;
};

BlockHead* head_of(void* block) { return static_cast<BlockHead*>(block) - 1; }
SmallHead* small_head_of(void* block) { return static_cast<SmallHead*>(block) - 1; }
bool is_small(void* block) { return small_head_of(block)->small != 0; }
// Size classes of small blocks: 16-byte steps up to 1 KB, 256-byte steps
// above, so that the free lists stay few.
uint32_t size_class(uint64_t n)
{
    return n <= SMALL_FINE_MAX ? static_cast<uint32_t>((n + 15) / 16)
                               : static_cast<uint32_t>(SMALL_FINE_MAX / 16 + (n - SMALL_FINE_MAX + 255) / 256);
}
size_t class_bytes(uint32_t cls)
{
    return cls <= SMALL_FINE_MAX / 16 ? size_t{cls} * 16 : SMALL_FINE_MAX + (size_t{cls} - SMALL_FINE_MAX / 16) * 256;
}

// Checks that the pool holds the block; a block it does not hold stops the
// process, as freeing it would corrupt the allocator.
void check_held(Pool* p, void* block, const char* what)
{
    bool held = p->checked ? p->known.count(block) != 0 : small_head_of(block)->pool == p;
    if (!held) {
        std::fprintf(stderr, "host: %s of a block the pool %s does not hold\n", what, p->owner.c_str());
        std::abort();
    }
}

// Starts a new chunk for the pool's small blocks: one a destroyed pool left,
// else a new one. False when none can be had.
bool new_chunk(Host* h, Pool* p)
{
    void* chunk = nullptr;
    {
        std::lock_guard<std::recursive_mutex> lock(h->mu);
        if (!h->spare_chunks.empty()) {
            chunk = h->spare_chunks.back();
            h->spare_chunks.pop_back();
        }
    }
    if (!chunk)
        chunk = std::malloc(POOL_CHUNK);
    if (!chunk)
        return false;
    p->chunks.push_back(chunk);
    p->bump = static_cast<char*>(chunk);
    p->bump_end = p->bump + POOL_CHUNK;
    return true;
}

// A small block of a lean pool: from its size class's free list, else carved
// from the newest chunk, else from a new chunk.
inline void* small_alloc(Host* h, Pool* p, uint32_t n)
{
    uint32_t cls = size_class(n);
    SmallHead* sh;
    if (void* f = p->free_lists[cls]) {
        std::memcpy(&p->free_lists[cls], f, sizeof(void*));
        sh = small_head_of(f);
    } else {
        size_t need = sizeof(SmallHead) + class_bytes(cls);
        if (static_cast<size_t>(p->bump_end - p->bump) < need && !new_chunk(h, p))
            return nullptr;
        sh = reinterpret_cast<SmallHead*>(p->bump);
        p->bump += need;
        sh->small = 1;
        sh->pool = p;
    }
    sh->size = n;
    return sh + 1;
}

void small_free(Pool* p, void* block)
{
    uint32_t cls = size_class(small_head_of(block)->size);
    std::memcpy(block, &p->free_lists[cls], sizeof(void*));
    p->free_lists[cls] = block;
}

// A lean pool of a task, as long as no failure knob is set, takes its small
// blocks without the lock, the checks and the knobs: the path a production
// allocator's small blocks take.
bool lean_path(Pool* p) { return p->lean && !p->host->knobs_set(); }

void* pool_alloc_op(host_pool* pool, uint64_t size, uint32_t flags)
{
    Pool* p = reinterpret_cast<Pool*>(pool);
    if (size - 1 < SMALL_BLOCK_MAX && lean_path(p)) {
        uint32_t n = static_cast<uint32_t>(size);
        void* b = small_alloc(p->host, p, n);
        if (!b)
            return nullptr;
        if (flags & POOL_ZERO)
            std::memset(b, 0, n);
        p->live.count_in();
        p->live_bytes += n;
        p->allocations++;
        return b;
    }
    return p->host->pool_alloc(p, size, flags);
}

int32_t pool_free_op(host_pool* pool, void* block, uint64_t, uint32_t)
{
    Pool* p = reinterpret_cast<Pool*>(pool);
    if (block && lean_path(p) && is_small(block)) {
        check_held(p, block, "free");
        p->live.count_out();
        p->live_bytes -= small_head_of(block)->size;
        small_free(p, block);
        return 0;
    }
    p->host->pool_free(p, block);
    return 0;
}

}  // namespace

size_t LiveBlocks::count(const void* block) const
{
    for (const BlockHead* h = ring_.next; h != &ring_; h = h->next)
        if (h + 1 == block)
            return 1;
    return 0;
}

size_t LiveBlocks::at(const void* block) const
{
    for (const BlockHead* h = ring_.next; h != &ring_; h = h->next)
        if (h + 1 == block)
            return static_cast<size_t>(h->size);
    throw std::out_of_range("the pool does not hold this block");
}

void LiveBlocks::link(BlockHead* h)
{
    h->prev = &ring_;
    h->next = ring_.next;
    ring_.next->prev = h;
    ring_.next = h;
}

void LiveBlocks::unlink(BlockHead* h)
{
    h->prev->next = h->next;
    h->next->prev = h->prev;
}

void LiveBlocks::relink(BlockHead* moved)
{
    moved->prev->next = moved;
    moved->next->prev = moved;
}

void* Host::pool_alloc(Pool* p, uint64_t size, uint32_t flags)
{
    PoolLock pl(p);
    if (p->destroyed)
        return nullptr;
    if (knobs_set()) {
        std::lock_guard<std::recursive_mutex> lock(mu);
        if (allocation_fails(size))
            return nullptr;
    }
    if (size > UINT32_MAX)
        return nullptr;
    uint32_t n = size ? static_cast<uint32_t>(size) : 1;
    void* b;
    if (!p->checked && n <= SMALL_BLOCK_MAX) {
        b = small_alloc(this, p, n);
        if (!b)
            return nullptr;
        if (flags & POOL_ZERO)
            std::memset(b, 0, n);
    } else {
        BlockHead* h = static_cast<BlockHead*>((flags & POOL_ZERO) ? std::calloc(1, sizeof(BlockHead) + n)
                                                                   : std::malloc(sizeof(BlockHead) + n));
        if (!h)
            return nullptr;
        b = h + 1;
        if (p->checked) {
            if (!(flags & POOL_ZERO))
                std::memset(b, 0xA5, n);
            p->known.insert(b);
        }
        h->size = n;
        h->small = 0;
        h->pool = p;
        p->live.link(h);
    }
    p->live.count_in();
    p->live_bytes += n;
    p->allocations++;
    return b;
}

void Host::pool_free(Pool* p, void* block)
{
    PoolLock pl(p);
    if (!block)
        return;
    check_held(p, block, "free");
    p->live.count_out();
    if (is_small(block)) {
        p->live_bytes -= small_head_of(block)->size;
        small_free(p, block);
        return;
    }
    BlockHead* h = head_of(block);
    if (p->checked)
        p->known.erase(block);
    p->live_bytes -= h->size;
    p->live.unlink(h);
    h->pool = nullptr;
    std::free(h);
}

void* Host::pool_realloc(Pool* p, void* block, uint64_t size)
{
    if (!block)
        return pool_alloc(p, size, 0);
    PoolLock pl(p);
    check_held(p, block, "realloc");
    uint32_t old = small_head_of(block)->size;
    if (knobs_set()) {
        std::lock_guard<std::recursive_mutex> lock(mu);
        if (allocation_fails(size > old ? size - old : 0))
            return nullptr;
    }
    if (size > UINT32_MAX)
        return nullptr;
    uint32_t n = size ? static_cast<uint32_t>(size) : 1;
    if (is_small(block)) {
        // A small block grows in place within its size class; beyond it the
        // bytes move to a block that holds them.
        if (size_class(n) == size_class(old)) {
            small_head_of(block)->size = n;
            p->live_bytes = p->live_bytes - old + n;
            return block;
        }
        void* nb = pool_alloc(p, n, 0);
        if (!nb)
            return nullptr;
        std::memcpy(nb, block, old < n ? old : n);
        pool_free(p, block);
        return nb;
    }
    // A block of its own: the allocator grows it in place where it can; a
    // move keeps the ring whole by pointing the neighbours at the new place.
    BlockHead* h = head_of(block);
    BlockHead* nh = static_cast<BlockHead*>(std::realloc(h, sizeof(BlockHead) + n));
    if (!nh)
        return nullptr;
    p->live.relink(nh);
    void* nb = nh + 1;
    if (p->checked) {
        if (n > old)
            std::memset(static_cast<char*>(nb) + old, 0xA5, n - old);
        if (nb != block) {
            p->known.erase(block);
            p->known.insert(nb);
        }
    }
    nh->size = n;
    p->live_bytes = p->live_bytes - old + n;
    return nb;
}

void Host::destroy_pool(Pool* p)
{
    std::lock_guard<std::recursive_mutex> lock(mu);
    p->live.drain([](BlockHead* h) {
        h->pool = nullptr;
        std::free(h);
    });
    p->known.clear();
    // The chunks wait for the next lean pools, up to a bound.
    for (void* chunk : p->chunks) {
        if (spare_chunks.size() < 256)
            spare_chunks.push_back(chunk);
        else
            std::free(chunk);
    }
    p->chunks.clear();
    std::memset(p->free_lists, 0, sizeof p->free_lists);
    p->bump = p->bump_end = nullptr;
    p->live_bytes = 0;
    p->destroyed = true;
    p->lean = false;
}

void Host::lean()
{
    std::lock_guard<std::recursive_mutex> lock(mu);
    recording = false;
    record_calls = false;
    checks = false;
    // A pool made with the checks on keeps its blocks on the ring, which its
    // frees and its destruction still find; its new blocks take the lean
    // path (the host's own pool, shared by the threads, keeps its lock).
    for (auto& p : pools) {
        if (p->destroyed)
            continue;
        p->checked = false;
        p->known.clear();
        p->lean = !p->shared;
    }
}

size_t Host::live_pools() const
{
    size_t n = 0;
    for (auto& p : pools)
        if (!p->destroyed && p->create_flags)
            n++;
    return n;
}

void Host::record(unsigned g, unsigned s, const char* name)
{
    if (record_calls && recording)
        calls.push_back({g, s, name});
}

void Host::event(const std::string& line)
{
    if (echo)
        *echo << "host: " << line << "\n";
}

LoadedModule* Host::load(const std::string& name8)
{
    std::string key = upper8(name8.c_str());
    auto it = modules.find(key);
    if (it != modules.end())
        return it->second.get();
    auto pit = module_paths.find(key);
    if (pit == module_paths.end())
        return nullptr;
    auto m = std::make_unique<LoadedModule>();
    m->path = pit->second;
#ifdef PRX_FUZZ_BUILD
    // Under libFuzzer a module's coverage counters stay registered after the
    // host lets the module go: its image must stay mapped.
    m->dl = dlopen(m->path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
#else
    m->dl = dlopen(m->path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    if (!m->dl) {
        event(std::string("LOAD FAILED ") + key + ": " + dlerror());
        return nullptr;
    }
    auto entry = reinterpret_cast<mcn_main_fn>(dlsym(m->dl, "mcn_main"));
    if (!entry) {
        dlclose(m->dl);
        return nullptr;
    }
    m->image = entry(&vec, m->dl);
    if (!m->image || std::memcmp(m->image->marker, "TOV_Image_Information=", 22) != 0 ||
        m->image->magic != IMAGE_MAGIC) {
        event("LOAD FAILED " + key + ": no image information");
        dlclose(m->dl);
        return nullptr;
    }
    m->linkage = m->image->linkage ? m->image->linkage[0] : nullptr;
    LoadedModule* raw = m.get();
    modules[key] = std::move(m);
    // An interface module binds itself from its init routine; function
    // modules are asked for their functions instead.
    if (raw->linkage && raw->linkage->routine.init && key != "MATCHMOD") {
        raw->linkage->routine.init();
        raw->initialised = true;
    }
    return raw;
}

FunctionModule Host::load_function_module(const std::string& name8)
{
    FunctionModule f;
    f.module = load(name8);
    if (!f.module || !f.module->linkage)
        return f;
    auto handler = f.module->linkage->routine.handler;
    auto* list = static_cast<XkFuncDescriptorListRec*>(handler(1));
    if (list) {
        f.count = list->count;
        f.descriptors = list->descriptors;
    }
    auto* cbs = static_cast<void**>(handler(2));
    if (cbs)
        for (int32_t i = 1; i <= f.count; i++)
            f.callbacks.push_back(reinterpret_cast<xk_func_callback>(cbs[i]));
    return f;
}

int32_t Host::bind(uint32_t id, void* table)
{
    unsigned g = id & 0xFFFFu;
    if (g >= HOST_GROUP_COUNT || !table)
        return 1;
    if (!saved_groups.count(g))
        saved_groups[g] = tables[g];
    group_ptrs[g] = reinterpret_cast<HostEntry*>(static_cast<void**>(table) + 3);
    event("BIND " + std::to_string(id) + " as group " + std::to_string(g));
    return 0;
}

void Host::unbind(uint32_t id)
{
    unsigned g = id & 0xFFFFu;
    if (g < HOST_GROUP_COUNT)
        group_ptrs[g] = tables[g].data();
}

std::string Host::catalogue_text(int32_t table, int32_t number, const std::vector<std::string>& args)
{
    auto arg = [&](size_t i) { return i < args.size() ? args[i] : std::string(); };
    if (table != MSG_TABLE)
        return "message " + std::to_string(table) + "/" + std::to_string(number);
    switch (number) {
    case MSG_MISSING_ARG:
        return "ERROR: A required argument to the function " + arg(1) + " is missing.";
    case MSG_BAD_ARG:
        return "ERROR: Argument 1 to the function " + arg(1) + " is not valid.";
    case MSG_COMPILE_FAILED:
        return "ERROR: The regular expression passed to the function " + arg(0) + " did not compile.";
    case MSG_FIFTH_FAILURE:
        return "NOTE: The function " + arg(0) + " has failed five times at one call site; further reports are suppressed.";
    case MSG_UNSUPPORTED:
        return "ERROR: The C library function " + arg(0) + " is not supported in this environment.";
    default:
        return "message " + std::to_string(table) + "/" + std::to_string(number);
    }
}

std::string Host::status_text(uint32_t status, const std::vector<std::string>& inserts)
{
    std::string s = "status " + hex32(status);
    if (!inserts.empty()) {
        s += ":";
        for (auto& i : inserts)
            s += " [" + i + "]";
    }
    return s;
}

std::string Host::decode_lines(const std::string& raw, bool* error)
{
    std::string out;
    size_t i = 0;
    bool err = raw.compare(0, 3, "%1z") == 0;
    if (err)
        i = 3;
    for (; i < raw.size(); i++) {
        if (raw[i] == '%' && i + 1 < raw.size()) {
            char c = raw[i + 1];
            if (c == 'n') {
                out += '\n';
                i++;
                continue;
            }
            if (c == '%') {
                out += '%';
                i++;
                continue;
            }
        }
        out += raw[i];
    }
    if (error)
        *error = err;
    return out;
}

void Host::clear_records()
{
    messages.clear();
    reports.clear();
    status_inserts.clear();
    log.clear();
    lines.clear();
    calls.clear();
    fatals.clear();
    sleeps.clear();
    pool_creates.clear();
    loads.clear();
    sessions.clear();
    toolkit->prints.clear();
    toolkit->messages.clear();
    toolkit->writes.clear();
    toolkit->store_calls.clear();
    std::memset(in_use, 0, sizeof in_use);
}

void buffer_output()
{
    static char buffer[1 << 16];
    if (!isatty(STDOUT_FILENO))
        std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
    std::ios::sync_with_stdio(false);
}

Host& host()
{
    if (!g_current)
        g_current = std::make_unique<Host>();
    return *g_current;
}

Host& reset()
{
    g_current.reset();
    g_current = std::make_unique<Host>();
    return *g_current;
}

}  // namespace hostsim
