// Arrays: construction, growth with the movable start, element fetch,
// store, push, pop, shift, unshift, delete and exists, clearing and
// freeing; tied arrays call their tie object's methods.
#include "prxav.h"

#include <cstring>

#include "prxcall.h"
#include "prxhv.h"
#include "prxmg.h"
#include "prxmsg.h"
#include "prxpool.h"
#include "prxsv.h"

namespace {

const char no_modify[] = "Modification of a read-only value attempted";

// The tie record of an array with other magic, or null.
MAGIC* tie_magic(PERLGCB* gcb, AV* av)
{
    return (av->flags & SVs_RMG) ? mg_find_by_type(gcb, as_sv(av), 'P') : nullptr;
}

// Tied or offsets arrays read and write single elements through element magic.
bool element_magic(PERLGCB* gcb, AV* av)
{
    return (av->flags & SVs_RMG) &&
           (mg_find_by_type(gcb, as_sv(av), 'P') || mg_find_by_type(gcb, as_sv(av), 'D'));
}

// A negative index counts from the end; false when it stays negative.
bool from_end(PERLGCB* gcb, AV* av, int32_t* key)
{
    if (*key < 0) {
        *key += av_highest_index(gcb, av) + 1;
        if (*key < 0)
            return false;
    }
    return true;
}

SV* temp_int(PERLGCB* gcb, int64_t n) { return sv_make_temporary(gcb, sv_new_from_int(gcb, n)); }

void tie_call(PERLGCB* gcb, AV* av, MAGIC* mg, const char* method, int32_t flags, SV** args, int32_t nargs,
              SV** result)
{
    tie_call_array_method(gcb, tie_object(gcb, as_sv(av), mg), method, flags, args, nargs, result);
}

// Bytes of a grown element array: the smallest power of two of at least 32
// whose size less the pool's 16 bytes holds newmax + 1 slots.
int32_t rounded_max(int32_t newmax)
{
    uint64_t bytes = (static_cast<uint64_t>(newmax) + 1) * sizeof(SV*);
    uint64_t p = 32;
    while (p - 16 < bytes)
        p <<= 1;
    return static_cast<int32_t>((p - 16) / sizeof(SV*)) - 1;
}

void fill_undef(PERLGCB* gcb, SV** from, int64_t count)
{
    for (int64_t i = 0; i < count; i++)
        from[i] = &gcb->sv_undef;
}

// The start of pop and shift: true with *out set when the array is missing
// or empty (the undefined value) or tied (the result of the tie's method);
// a read-only array is refused.
bool removal_settled(PERLGCB* gcb, AV* av, const char* method, SV** out)
{
    if (!av || av_highest_index(gcb, av) < 0) {
        *out = &gcb->sv_undef;
        return true;
    }
    if (av->flags & SVf_READONLY)
        fatal_error(gcb, no_modify);
    if (MAGIC* mg = tie_magic(gcb, av)) {
        *out = nullptr;
        tie_call(gcb, av, mg, method, 0, nullptr, 0, out);
        return true;
    }
    return false;
}

}  // namespace

AV* av_new_empty(PERLGCB* gcb)
{
    AV* av = sv_as<AV>(sv_new_undef(gcb, 0));
    sv_upgrade_body(gcb, as_sv(av), SVt_PVAV);
    PVAV* b = av_body(av);
    b->avflags = AVf_REAL;
    b->alloc = nullptr;
    b->array = nullptr;
    b->max = -1;
    b->fill = -1;
    return av;
}

AV* av_new_from_copies(PERLGCB* gcb, int32_t n, SV** values)
{
    AV* av = av_new_empty(gcb);
    if (n > 0) {
        PVAV* b = av_body(av);
        SV** ary = static_cast<SV**>(pool_malloc(gcb, static_cast<uint64_t>(n) * sizeof(SV*)));
        b->alloc = ary;
        b->array = ary;
        b->max = n - 1;
        for (int32_t i = 0; i < n; i++) {
            ary[i] = sv_new_copy(gcb, values[i]);
            b->fill = i;
        }
    }
    return av;
}

AV* av_new_borrowed(PERLGCB* gcb, int32_t n, SV** values)
{
    AV* av = sv_as<AV>(sv_new_undef(gcb, 0));
    sv_upgrade_body(gcb, as_sv(av), SVt_PVAV);
    PVAV* b = av_body(av);
    uint64_t count = n > 0 ? static_cast<uint64_t>(n) : 0;
    SV** ary = static_cast<SV**>(pool_malloc(gcb, (count + 1) * sizeof(SV*)));
    std::memcpy(ary, values, count * sizeof(SV*));
    b->alloc = ary;
    b->array = ary;
    b->avflags = AVf_REIFY;
    b->max = n - 1;
    b->fill = n - 1;
    for (uint64_t i = 0; i < count; i++)
        values[i]->flags &= ~SVs_TEMP;
    return av;
}

void av_make_real(PERLGCB* gcb, AV* av)
{
    PVAV* b = av_body(av);
    if (b->avflags & AVf_REAL)
        return;
    int32_t key = b->max + 1;
    while (key > b->fill + 1)
        b->array[--key] = &gcb->sv_undef;
    while (key) {
        SV*& slot = b->array[--key];
        // A borrowed slot may hold nothing or a value freed meanwhile: it is
        // empty, and an array that owns its elements must not count it.
        if (!slot || sv_type(slot) == SVt_FREED)
            slot = &gcb->sv_undef;
        else if (slot != &gcb->sv_undef)
            slot->refcnt++;
    }
    for (SV** p = b->alloc; p < b->array; p++)
        *p = &gcb->sv_undef;
    b->avflags = static_cast<uint8_t>((b->avflags & ~AVf_REIFY) | AVf_REAL);
}

int32_t av_highest_index(PERLGCB* gcb, AV* av)
{
    if (av->flags & SVs_RMG)
        return mg_element_count(gcb, as_sv(av));
    return av_body(av)->fill;
}

void av_grow_to_index(PERLGCB* gcb, AV* av, int32_t key)
{
    if (MAGIC* mg = tie_magic(gcb, av)) {
        SV* arg = temp_int(gcb, static_cast<int64_t>(key) + 1);
        tie_call(gcb, av, mg, "EXTEND", CALL_DISCARD, &arg, 1, nullptr);
        return;
    }
    PVAV* b = av_body(av);
    if (key <= b->max)
        return;
    bool real = b->avflags & AVf_REAL;
    int32_t newmax;
    if (b->array != b->alloc) {
        int64_t prefix = b->array - b->alloc;
        std::memmove(b->alloc, b->array, (static_cast<uint64_t>(b->fill) + 1) * sizeof(SV*));
        b->max += static_cast<int32_t>(prefix);
        b->array = b->alloc;
        if (real)
            fill_undef(gcb, b->alloc + b->fill + 1, prefix);
        if (key <= b->max - 10)
            return;
        newmax = key + b->max;
    } else if (!b->alloc) {
        newmax = key < 3 ? 3 : key;
        SV** ary = static_cast<SV**>(pool_malloc(gcb, (static_cast<uint64_t>(newmax) + 1) * sizeof(SV*)));
        ary[0] = &gcb->sv_undef;
        if (real)
            fill_undef(gcb, ary + 1, newmax);
        b->alloc = ary;
        b->array = ary;
        b->max = newmax;
        return;
    } else {
        newmax = key + b->max / 5;
    }
    newmax = rounded_max(newmax);
    SV** ary = static_cast<SV**>(pool_malloc(gcb, (static_cast<uint64_t>(newmax) + 1) * sizeof(SV*)));
    std::memcpy(ary, b->alloc, (static_cast<uint64_t>(b->max) + 1) * sizeof(SV*));
    if (b->max > 64 && !gcb->sv_spare_block) {
        gcb->sv_spare_block = b->alloc;
        gcb->sv_spare_size = static_cast<uint32_t>((static_cast<uint64_t>(b->max) + 1) * sizeof(SV*));
    } else {
        pool_free(gcb, b->alloc);
    }
    b->alloc = ary;
    if (av == gcb->current_arg_stack) {
        gcb->arg_sp = ary + (gcb->arg_sp - gcb->arg_base);
        gcb->arg_base = ary;
        gcb->arg_max = ary + newmax;
    }
    if (real)
        fill_undef(gcb, ary + b->max + 1, newmax - b->max);
    b->array = ary;
    b->max = newmax;
}

SV** av_fetch_element(PERLGCB* gcb, AV* av, int32_t key, int32_t lval)
{
    if (!av || !from_end(gcb, av, &key))
        return nullptr;
    if (element_magic(gcb, av)) {
        SV* sv = sv_new_temporary(gcb);
        mg_copy_to_element(gcb, as_sv(av), sv, nullptr, key);
        gcb->tied_array_fetch_cell = sv;
        return &gcb->tied_array_fetch_cell;
    }
    PVAV* b = av_body(av);
    if (key <= b->fill) {
        SV*& slot = b->array[key];
        if (slot != &gcb->sv_undef) {
            if (!(b->avflags & AVf_REIFY) || (slot && sv_type(slot) != SVt_FREED))
                return &slot;
            slot = &gcb->sv_undef;
        }
    }
    if (!lval)
        return nullptr;
    return av_store_element(gcb, av, key, sv_new_undef(gcb, 0));
}

SV** av_store_element(PERLGCB* gcb, AV* av, int32_t key, SV* val)
{
    if (!av)
        return nullptr;
    if (!val)
        val = &gcb->sv_undef;
    if (!from_end(gcb, av, &key))
        return nullptr;
    if ((av->flags & SVf_READONLY) && key >= av_highest_index(gcb, av))
        fatal_error(gcb, no_modify);
    if (tie_magic(gcb, av)) {
        if (val != &gcb->sv_undef)
            mg_copy_to_element(gcb, as_sv(av), val, nullptr, key);
        return nullptr;
    }
    PVAV* b = av_body(av);
    if (!(b->avflags & AVf_REAL) && (b->avflags & AVf_REIFY))
        av_make_real(gcb, av);
    if (key > b->max)
        av_grow_to_index(gcb, av, key);
    SV** ary = b->array;
    if (key > b->fill) {
        if (!(b->avflags & AVf_REAL)) {
            if (av == gcb->current_arg_stack && key > gcb->arg_sp - gcb->arg_base)
                gcb->arg_sp = gcb->arg_base + key;
            fill_undef(gcb, ary + b->fill + 1, key - b->fill);
        }
        b->fill = key;
    } else if (b->avflags & AVf_REAL) {
        sv_release(gcb, ary[key]);
    }
    ary[key] = val;
    if (av->flags & SVs_SMG) {
        if (val != &gcb->sv_undef) {
            char lower = static_cast<char>(g_host_vector->lower[static_cast<uint8_t>(b->magic->type)]);
            sv_add_magic(gcb, val, as_sv(av), lower, nullptr, key);
        }
        mg_call_set(gcb, as_sv(av));
    }
    return &ary[key];
}

void av_append(PERLGCB* gcb, AV* av, SV* val)
{
    if (!av)
        return;
    if (av->flags & SVf_READONLY)
        fatal_error(gcb, no_modify);
    if (MAGIC* mg = tie_magic(gcb, av)) {
        SV* arg = val ? val : &gcb->sv_undef;
        tie_call(gcb, av, mg, "PUSH", CALL_DISCARD, &arg, 1, nullptr);
        return;
    }
    av_store_element(gcb, av, av_body(av)->fill + 1, val);
}

SV* av_remove_last(PERLGCB* gcb, AV* av)
{
    SV* settled = nullptr;
    if (removal_settled(gcb, av, "POP", &settled))
        return settled;
    PVAV* b = av_body(av);
    SV* sv = b->array[b->fill];
    b->array[b->fill--] = &gcb->sv_undef;
    if (av->flags & SVs_SMG)
        mg_call_set(gcb, as_sv(av));
    return sv;
}

SV* av_remove_first(PERLGCB* gcb, AV* av)
{
    SV* settled = nullptr;
    if (removal_settled(gcb, av, "SHIFT", &settled))
        return settled;
    PVAV* b = av_body(av);
    SV* sv = b->array[0];
    if (b->avflags & AVf_REAL)
        b->array[0] = &gcb->sv_undef;
    b->array++;
    b->max--;
    b->fill--;
    if (av->flags & SVs_SMG)
        mg_call_set(gcb, as_sv(av));
    return sv;
}

void av_insert_front(PERLGCB* gcb, AV* av, int32_t num)
{
    if (!av || num <= 0)
        return;
    if (av->flags & SVf_READONLY)
        fatal_error(gcb, no_modify);
    if (MAGIC* mg = tie_magic(gcb, av)) {
        SV** args = static_cast<SV**>(pool_malloc(gcb, static_cast<uint64_t>(num) * sizeof(SV*)));
        fill_undef(gcb, args, num);
        tie_call(gcb, av, mg, "UNSHIFT", CALL_DISCARD, args, num, nullptr);
        pool_free(gcb, args);
        return;
    }
    PVAV* b = av_body(av);
    if (!(b->avflags & AVf_REAL) && (b->avflags & AVf_REIFY))
        av_make_real(gcb, av);
    int64_t prefix = b->array - b->alloc;
    if (prefix > 0) {
        int32_t i = prefix < num ? static_cast<int32_t>(prefix) : num;
        num -= i;
        b->max += i;
        b->fill += i;
        b->array -= i;
        if (!num)
            return;
    }
    int32_t old = b->fill;
    int32_t slide = old > 0 ? old : 0;
    num += slide;
    av_grow_to_index(gcb, av, old + num);
    b->fill += num;
    SV** ary = b->array;
    std::memmove(ary + num, ary, (static_cast<uint64_t>(old) + 1) * sizeof(SV*));
    fill_undef(gcb, ary, num);
    b->max -= slide;
    b->fill -= slide;
    b->array += slide;
}

void av_set_highest_index(PERLGCB* gcb, AV* av, int32_t fill)
{
    if (!av)
        fatal_error(gcb, "panic: null array");
    if (fill < 0)
        fill = -1;
    if (MAGIC* mg = tie_magic(gcb, av)) {
        SV* arg = temp_int(gcb, static_cast<int64_t>(fill) + 1);
        tie_call(gcb, av, mg, "STORESIZE", CALL_DISCARD, &arg, 1, nullptr);
        return;
    }
    PVAV* b = av_body(av);
    if (fill > b->max) {
        av_store_element(gcb, av, fill, &gcb->sv_undef);
        return;
    }
    int32_t key = b->fill;
    SV** ary = b->array;
    if (b->avflags & AVf_REAL) {
        while (key > fill) {
            sv_release(gcb, ary[key]);
            ary[key--] = &gcb->sv_undef;
        }
    } else {
        while (key < fill)
            ary[++key] = &gcb->sv_undef;
    }
    b->fill = fill;
    if (av->flags & SVs_SMG)
        mg_call_set(gcb, as_sv(av));
}

SV* av_delete_element(PERLGCB* gcb, AV* av, int32_t key, int32_t flags)
{
    if (!av)
        return nullptr;
    if (av->flags & SVf_READONLY)
        fatal_error(gcb, no_modify);
    if (!from_end(gcb, av, &key))
        return nullptr;
    if (element_magic(gcb, av)) {
        SV** svp = av_fetch_element(gcb, av, key, 1);
        if (svp) {
            SV* sv = *svp;
            mg_call_clear(gcb, sv);
            if (mg_find_by_type(gcb, sv, 'p')) {
                sv_remove_magic(gcb, sv, 'p');
                return sv;
            }
            return nullptr;
        }
    }
    PVAV* b = av_body(av);
    if (key > b->fill)
        return nullptr;
    SV* sv = b->array[key];
    b->array[key] = &gcb->sv_undef;
    if (key == b->fill) {
        do
            b->fill--;
        while (--key >= 0 && b->array[key] == &gcb->sv_undef);
    }
    if (av->flags & SVs_SMG)
        mg_call_set(gcb, as_sv(av));
    if (flags & AV_DISCARD) {
        sv_release(gcb, sv);
        return nullptr;
    }
    return sv;
}

bool av_element_exists(PERLGCB* gcb, AV* av, int32_t key)
{
    if (!av || !from_end(gcb, av, &key))
        return false;
    if (element_magic(gcb, av)) {
        SV* sv = sv_new_temporary(gcb);
        mg_copy_to_element(gcb, as_sv(av), sv, nullptr, key);
        if (MAGIC* mg = mg_find_by_type(gcb, sv, 'p')) {
            magic_pack_exists(gcb, sv, mg);
            return hv_element_is_true(gcb, sv);
        }
    }
    PVAV* b = av_body(av);
    return key <= b->fill && b->array[key] && b->array[key] != &gcb->sv_undef;
}

void av_remove_all(PERLGCB* gcb, AV* av)
{
    if (!av)
        return;
    if (av->flags & SVf_READONLY)
        fatal_error(gcb, no_modify);
    if (av->flags & SVs_RMG)
        mg_call_clear(gcb, as_sv(av));
    PVAV* b = av_body(av);
    if (b->max < 0)
        return;
    if (b->avflags & AVf_REAL) {
        for (int32_t key = b->fill; key >= 0; key--) {
            sv_release(gcb, b->array[key]);
            b->array[key] = &gcb->sv_undef;
        }
    }
    if (int64_t prefix = b->array - b->alloc) {
        b->max += static_cast<int32_t>(prefix);
        b->array = b->alloc;
    }
    b->fill = -1;
}

void av_free_storage(PERLGCB* gcb, AV* av)
{
    if (!av)
        return;
    if (tie_magic(gcb, av))
        av_set_highest_index(gcb, av, -1);
    PVAV* b = av_body(av);
    if (b->avflags & AVf_REAL)
        for (int32_t key = b->fill; key >= 0; key--)
            sv_release(gcb, b->array[key]);
    pool_free(gcb, b->alloc);
    b->alloc = nullptr;
    b->array = nullptr;
    b->max = -1;
    b->fill = -1;
    if (b->arylen) {
        sv_release(gcb, b->arylen);
        b->arylen = nullptr;
    }
}
