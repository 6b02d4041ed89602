// The session's pattern-handle slots. PRXMATCH only looks slots up by id;
// the routines that allocate, fill and free them serve the host functions
// that register compiled patterns.
#include <cstring>

#include "host/hostcall.h"
#include "host/xkmem.h"
#include "matchmod/xkstring.h"
#include "matchmod/mmhost.h"
#include "matchmod/mmsession.h"

namespace {

// The session's slot table, creating the session record and the table on
// first use; null after the host was told to stop.
PrxSlotTable* slot_table(host_task* task)
{
    XkFuncSession* s = xk_session_of(task);
    if (!s) {
        xkFuncSessionInit(task);
        s = xk_session_of(task);
    }
    if (!s) {
        xkFatal(XK_FATAL_NO_MEMORY, 0);
        return nullptr;
    }
    if (!s->slots)
        s->slots = static_cast<PrxSlotTable*>(xk_alloc_or_stop(task->allocator, sizeof(PrxSlotTable)));
    return s->slots;
}

bool slot_free(const PrxSlot& s) { return !s.owner_key && !s.second_key && !s.in_use && !s.compiled; }

}  // namespace

PrxSlot* prx_slot_find_id(host_task* task, const XkFuncCall* call)
{
    // The id is checked before the session is touched.
    const XkValue* arg = call->arg1;
    if (!arg)
        return nullptr;
    double id = arg->number;
    if (xk_number_missing(id) || !(id >= 1.0 && id <= 2147483647.0))
        return nullptr;
    PrxSlotTable* t = slot_table(task);
    if (!t)
        return nullptr;
    int32_t n = static_cast<int32_t>(id);
    if (n > t->count || !t->slots)
        return nullptr;
    return &t->slots[n - 1];
}

PrxSlot* prx_slot_find_key(host_task* task, const void* key)
{
    PrxSlotTable* t = slot_table(task);
    if (!t || !key)
        return nullptr;
    for (int32_t i = 0; i < t->count; i++)
        if (t->slots[i].owner_key == key || t->slots[i].second_key == key)
            return &t->slots[i];
    return nullptr;
}

int32_t prx_slot_alloc(host_task* task)
{
    PrxSlotTable* t = slot_table(task);
    if (!t)
        return -1;
    for (int32_t i = 0; i < t->count; i++)
        if (slot_free(t->slots[i]))
            return i + 1;
    host_pool* pool = task->allocator;
    int32_t count = t->count + PRX_SLOT_GROWTH;
    auto* grown = static_cast<PrxSlot*>(xk_alloc(pool, sizeof(PrxSlot) * static_cast<uint64_t>(count), POOL_ALLOC));
    if (!grown)
        return -1;
    if (t->count)
        std::memcpy(grown, t->slots, sizeof(PrxSlot) * static_cast<size_t>(t->count));
    std::memset(grown + t->count, 0, sizeof(PrxSlot) * PRX_SLOT_GROWTH);
    xk_free(pool, t->slots);
    int32_t id = t->count + 1;
    t->slots = grown;
    t->count = count;
    return id;
}

int32_t prx_slot_add_item(host_task* task, PrxSlot* slot)
{
    if (!slot_table(task) || !slot)
        return -1;
    host_pool* pool = task->allocator;
    int32_t place = -1;
    for (int32_t i = 0; i < slot->item_capacity && slot->items; i++)
        if (!slot->items[i]) {
            place = i;
            break;
        }
    if (place < 0) {
        int32_t cap = slot->item_capacity;
        uint32_t bytes = static_cast<uint32_t>(cap) * 8 + 256;
        auto** grown = static_cast<void**>(xk_realloc(pool, slot->items, bytes));
        if (!grown)
            return -1;
        // The new places are empty whatever the host left in them.
        std::memset(grown + cap, 0, sizeof(void*) * PRX_SLOT_GROWTH);
        slot->items = grown;
        slot->item_capacity = cap + PRX_SLOT_GROWTH;
        place = cap;
    }
    void* item = xk_alloc(pool, static_cast<uint64_t>(slot->item_size));
    if (!item)
        return -1;
    slot->items[place] = item;
    return place + 1;
}

void prx_slot_free(host_task* task, int32_t id)
{
    PrxSlotTable* t = slot_table(task);
    if (!t || id < 1 || id > t->count)
        return;
    host_pool* pool = task->allocator;
    PrxSlot& s = t->slots[id - 1];
    for (int32_t i = 0; i < s.item_capacity && s.items; i++)
        xk_free(pool, s.items[i]);
    xk_free(pool, s.items);
    void* owned[] = {s.owned17, s.owned19, s.owned30, s.owned34, s.owned36, s.owned37};
    for (void* b : owned)
        xk_free(pool, b);
    for (void* b = s.chain; b;) {
        void* next;
        std::memcpy(&next, b, sizeof next);
        xk_free(pool, b);
        b = next;
    }
    // The compiled-pattern record goes back through the pattern engine,
    // which drops the pattern and its interpreter reference and frees the
    // record.
    if (s.compiled)
        rexhost_release(task, s.compiled);
    std::memset(&s, 0, sizeof s);
}
