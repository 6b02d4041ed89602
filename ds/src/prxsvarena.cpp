// Value heads and their arenas, body cells and their chunks, the upgrade of
// a body to a richer type, and the sweep of all values at destruction.
#include "prxgv.h"
#include "prxio.h"
#include "prxlibc.h"
#include "prxmg.h"
#include "prxnum.h"
#include "prxsvint.h"

namespace {

// Body cell geometry of types 1 to 12. Integer, double and reference cells
// are 8 bytes after a chunk head of `head` bytes; the others are bodies
// whose first cell in a chunk holds only the chunk link. `offset` is how far
// the body pointer stands before the cell.
struct BodyKind {
    uint32_t cell;      // cell size
    uint32_t head;      // bytes before the first usable cell
    uint32_t chunk;     // chunk size
    uint32_t offset;    // body pointer = cell - offset
};

constexpr uint32_t CHUNK_LIMIT = 1008;
constexpr uint32_t chunk_of(uint32_t cell) { return CHUNK_LIMIT / cell * cell; }

constexpr BodyKind BODY_KINDS[13] = {
    {0, 0, 0, 0},
    {8, offsetof(PVIV, iv), CHUNK_LIMIT, offsetof(PVIV, iv)},     // IV
    {8, offsetof(PVNV, nv), CHUNK_LIMIT, offsetof(PVNV, nv)},     // NV
    {8, 24, CHUNK_LIMIT, offsetof(PV, pv)},                       // RV
    {sizeof(PV), sizeof(PV), chunk_of(sizeof(PV)), 0},
    {sizeof(PVIV), sizeof(PVIV), chunk_of(sizeof(PVIV)), 0},
    {sizeof(PVNV), sizeof(PVNV), chunk_of(sizeof(PVNV)), 0},
    {sizeof(PVMG), sizeof(PVMG), chunk_of(sizeof(PVMG)), 0},
    {sizeof(PVBM), sizeof(PVBM), chunk_of(sizeof(PVBM)), 0},
    {sizeof(PVLV), sizeof(PVLV), chunk_of(sizeof(PVLV)), 0},
    {sizeof(PVAV), sizeof(PVAV), chunk_of(sizeof(PVAV)), 0},
    {sizeof(PVHV), sizeof(PVHV), chunk_of(sizeof(PVHV)), 0},
    {sizeof(PVCV), sizeof(PVCV), chunk_of(sizeof(PVCV)), 0},
};
static_assert(chunk_of(sizeof(PV)) == 1008 && chunk_of(sizeof(PVIV)) == 992);
static_assert(chunk_of(sizeof(PVNV)) == 1000 && chunk_of(sizeof(PVMG)) == 1008);
static_assert(chunk_of(sizeof(PVHV)) == 968 && chunk_of(sizeof(PVCV)) == 1008);
static_assert(sizeof(SV) * 63 == SV_ARENA_BYTES);

void carve_chunk(PERLGCB* gcb, uint32_t type)
{
    const BodyKind& k = BODY_KINDS[type];
    char* chunk = static_cast<char*>(pool_malloc(gcb, k.chunk));
    *reinterpret_cast<void**>(chunk) = gcb->body_chunk_chain[type];
    gcb->body_chunk_chain[type] = chunk;
    char* first = chunk + k.head;
    char* last = chunk + k.chunk - k.cell;
    for (char* c = first; c < last; c += k.cell)
        *reinterpret_cast<void**>(c) = c + k.cell;
    *reinterpret_cast<void**>(last) = nullptr;
    gcb->body_free_list[type] = first;
}

// Links a zeroed block as the newest arena and its slots 1 to the last as
// free heads ahead of the free list.
void link_arena(PERLGCB* gcb, void* block, uint32_t size, uint32_t flags)
{
    std::memset(block, 0, size);
    SV* arena = static_cast<SV*>(block);
    uint32_t slots = size / sizeof(SV);
    arena->any = gcb->sv_arena_chain;
    arena->refcnt = slots;
    arena->flags = flags;
    gcb->sv_arena_chain = arena;
    if (slots < 2)
        return;
    for (uint32_t i = 1; i < slots - 1; i++) {
        arena[i].any = &arena[i + 1];
        arena[i].flags = SVt_FREED;
    }
    arena[slots - 1].any = gcb->sv_free_heads;
    arena[slots - 1].flags = SVt_FREED;
    gcb->sv_free_heads = &arena[1];
}

// Walks every live head (type byte not 0xFF, count not 0) of every arena.
template <class Fn>
void for_each_live(PERLGCB* gcb, Fn&& fn)
{
    for (SV* arena = gcb->sv_arena_chain; arena; arena = static_cast<SV*>(arena->any)) {
        uint32_t slots = arena->refcnt;
        for (uint32_t i = 1; i < slots; i++) {
            SV* sv = &arena[i];
            if ((sv->flags & 0xFF) != SVt_FREED && sv->refcnt != 0)
                fn(sv);
        }
    }
}

void* body_pointer(void* cell, uint32_t type) { return static_cast<char*>(cell) - BODY_KINDS[type].offset; }

template <class T>
T* new_single_body(PERLGCB* gcb)
{
    T* body = static_cast<T*>(pool_malloc(gcb, sizeof(T)));
    std::memset(body, 0, sizeof(T));
    return body;
}

}  // namespace

void* body_take(PERLGCB* gcb, uint32_t type)
{
    if (!gcb->body_free_list[type])
        carve_chunk(gcb, type);
    void* cell = gcb->body_free_list[type];
    gcb->body_free_list[type] = *static_cast<void**>(cell);
    return cell;
}

namespace {

// A zeroed body from the arena of type.
template <class B>
B* zeroed_body(PERLGCB* gcb, uint32_t type)
{
    B* b = static_cast<B*>(body_take(gcb, type));
    std::memset(b, 0, sizeof *b);
    return b;
}

}  // namespace

void body_give(PERLGCB* gcb, uint32_t type, void* cell)
{
    *static_cast<void**>(cell) = gcb->body_free_list[type];
    gcb->body_free_list[type] = cell;
}

// Returns a value's body to its free list (types 1 to 12) or the pool.
void sv_free_body(PERLGCB* gcb, SV* sv)
{
    uint32_t type = sv_type(sv);
    void* body = sv->any;
    if (!body || type == SVt_NULL)
        return;
    if (type <= SVt_PVCV)
        body_give(gcb, type, static_cast<char*>(body) + BODY_KINDS[type].offset);
    else
        pool_free(gcb, body);
    sv->any = nullptr;
}

SV* sv_take_head_slow(PERLGCB* gcb)
{
    if (!gcb->sv_free_heads) {
        if (gcb->sv_spare_block) {
            void* block = gcb->sv_spare_block;
            uint32_t size = gcb->sv_spare_size;
            gcb->sv_spare_block = nullptr;
            gcb->sv_spare_size = 0;
            link_arena(gcb, block, size, 0);
        }
        if (!gcb->sv_free_heads)
            link_arena(gcb, pool_malloc(gcb, SV_ARENA_BYTES), SV_ARENA_BYTES, 0);
    }
    return take_head(gcb);
}

SV* sv_new_head(PERLGCB* gcb) { return take_head(gcb); }

SV* sv_new_undef(PERLGCB* gcb, uint64_t size)
{
    SV* sv = take_head(gcb);
    if (size) {
        sv_upgrade_body(gcb, sv, SVt_PV);
        sv_grow_buffer(gcb, sv, size + 1);
    }
    return sv;
}

void sv_arena_add_block(PERLGCB* gcb, void* block, uint32_t size, uint32_t flags)
{
    link_arena(gcb, block, size, flags);
}

int32_t sv_upgrade_body(PERLGCB* gcb, SV* sv, uint32_t type)
{
    uint32_t old = sv_type(sv);
    if (old == type)
        return 1;
    if (old > SVt_PVMG)
        fatal_error(gcb, "Can't upgrade that kind of scalar");
    if (type < SVt_PVIV && (sv->flags & SVf_OOK))
        sv_undo_offset(gcb, sv);

    char* pv = nullptr;
    uint64_t cur = 0, len = 0;
    int64_t iv = 0;
    double nv = 0.0;
    MAGIC* magic = nullptr;
    HV* stash = nullptr;
    switch (old) {
    case SVt_NULL:
        break;
    case SVt_IV:
        iv = sv_iv(sv);
        nv = static_cast<double>(iv);
        if (type == SVt_NV)
            type = SVt_PVNV;
        else if (type < SVt_PVIV)
            type = SVt_PVIV;
        break;
    case SVt_NV:
        nv = sv_nv(sv);
        iv = nv_to_iv(gcb, nv);
        if (type < SVt_PVNV)
            type = SVt_PVNV;
        break;
    case SVt_RV:
        pv = reinterpret_cast<char*>(sv_rv(sv));
        iv = static_cast<int64_t>(reinterpret_cast<uintptr_t>(pv));
        nv = static_cast<double>(static_cast<uint64_t>(iv));
        break;
    default: {
        PVMG* b = sv_body(sv);
        pv = b->pv;
        // Carried as unsigned 32-bit quantities.
        cur = static_cast<uint32_t>(b->cur);
        len = static_cast<uint32_t>(b->len);
        if (old >= SVt_PVIV)
            iv = b->iv;
        if (old >= SVt_PVNV)
            nv = b->nv;
        if (old >= SVt_PVMG) {
            magic = b->magic;
            stash = b->stash;
        }
        if (old == SVt_PV) {
            if (type <= SVt_IV)
                type = SVt_PVIV;
            else if (type == SVt_NV)
                type = SVt_PVNV;
        }
        break;
    }
    }
    // A target of 0 can only remain for types 3, 5, 6 and 7; refuse it while
    // the value is still intact.
    if (type == SVt_NULL)
        fatal_error(gcb, "Can't upgrade to undef");
    if (type == old)
        return 1;
    uint32_t kept_flags = sv->flags;
    sv_free_body(gcb, sv);
    // Until the new body is in place the value is a bare undef: when taking
    // the body fails and the failure unwinds, the value stays whole (the old
    // buffer is left to the pool).
    sv->flags &= ~(0xFFu | SV_VALUE_FLAGS | SVf_OOK | SV_MAGIC_FLAGS | SVs_OBJECT);

    // A string buffer the value owns; a referent or a borrowed buffer is
    // not one.
    bool owns_buffer = old >= SVt_PV && pv && len != 0;
    // The bodies of the magic kinds begin with the fields of PVMG: the old
    // contents go there, and the body becomes the value's.
    auto carry_common = [&](auto* b) {
        b->pv = pv, b->cur = cur, b->len = len, b->iv = iv, b->nv = nv, b->magic = magic, b->stash = stash;
        sv->any = b;
    };
    switch (type) {
    case SVt_IV: {
        void* cell = body_take(gcb, type);
        *static_cast<int64_t*>(cell) = iv;
        sv->any = body_pointer(cell, type);
        break;
    }
    case SVt_NV: {
        void* cell = body_take(gcb, type);
        *static_cast<double*>(cell) = nv;
        sv->any = body_pointer(cell, type);
        break;
    }
    case SVt_RV: {
        void* cell = body_take(gcb, type);
        *static_cast<char**>(cell) = pv;
        sv->any = body_pointer(cell, type);
        break;
    }
    case SVt_PV: {
        PV* b = static_cast<PV*>(body_take(gcb, type));
        *b = PV{pv, cur, len};
        sv->any = b;
        break;
    }
    case SVt_PVIV: {
        PVIV* b = static_cast<PVIV*>(body_take(gcb, type));
        *b = PVIV{pv, cur, len, iv};
        sv->any = b;
        break;
    }
    case SVt_PVNV: {
        PVNV* b = static_cast<PVNV*>(body_take(gcb, type));
        *b = PVNV{pv, cur, len, iv, nv};
        sv->any = b;
        break;
    }
    case SVt_PVMG: {
        PVMG* b = static_cast<PVMG*>(body_take(gcb, type));
        *b = PVMG{pv, cur, len, iv, nv, magic, stash};
        sv->any = b;
        break;
    }
    case SVt_PVBM:
        carry_common(zeroed_body<PVBM>(gcb, type));
        break;
    case SVt_PVLV:
        carry_common(zeroed_body<PVLV>(gcb, type));
        break;
    case SVt_PVAV: {
        if (owns_buffer)
            pool_free(gcb, pv);
        PVAV* b = zeroed_body<PVAV>(gcb, type);
        b->fill = -1;
        b->max = -1;
        b->magic = magic;
        b->stash = stash;
        sv->any = b;
        break;
    }
    case SVt_PVHV: {
        if (owns_buffer)
            pool_free(gcb, pv);
        PVHV* b = zeroed_body<PVHV>(gcb, type);
        b->magic = magic;
        b->stash = stash;
        sv->any = b;
        break;
    }
    case SVt_PVCV:
        carry_common(zeroed_body<PVCV>(gcb, type));
        break;
    case SVt_PVGV:
        carry_common(new_single_body<PVGV>(gcb));
        break;
    case SVt_PVFM:
        carry_common(new_single_body<PVFM>(gcb));
        break;
    case SVt_PVIO: {
        PVIO* b = new_single_body<PVIO>(gcb);
        carry_common(b);
        b->page_len = 60;
        break;
    }
    default:
        break;
    }
    sv->flags = (kept_flags & ~0xFFu) | type;
    if (type == SVt_PVIV) {
        if (sv->flags & (SVf_IOK | SVf_NOK)) {
            if (sv->flags & SVf_OOK)
                sv_undo_offset(gcb, sv);
            sv->flags |= SVf_IOK | SVp_IOK;
        }
        sv->flags &= ~(SVf_NOK | SVp_NOK);
    }
    return 1;
}

void sv_release_object_refs(PERLGCB* gcb)
{
    gcb->sv_in_clean_objs = 1;
    for_each_live(gcb, [&](SV* sv) { sv_release_object_ref(gcb, sv); });
    // Globs whose slots hold objects are released once, so that the objects
    // go while the rest of the interpreter still stands.
    for_each_live(gcb, [&](SV* sv) {
        if (sv_type(sv) != SVt_PVGV)
            return;
        GP* gp = static_cast<PVGV*>(sv->any)->gp;
        if (!gp)
            return;
        SV* slots[5] = {gp->gp_sv, as_sv(gp->gp_av), as_sv(gp->gp_hv), as_sv(gp->gp_io), as_sv(gp->gp_cv)};
        for (SV* s : slots)
            if (s && (s->flags & SVs_OBJECT)) {
                sv_release(gcb, sv);
                return;
            }
    });
    gcb->sv_in_clean_objs = 0;
}

int32_t sv_release_all(PERLGCB* gcb)
{
    gcb->sv_clean_all = 1;
    int32_t visited = 0;
    for_each_live(gcb, [&](SV* sv) {
        sv->flags |= SVf_SWEPT;
        sv_release(gcb, sv);
        visited++;
    });
    gcb->sv_clean_all = 0;
    return visited;
}

void sv_arena_free_all(PERLGCB* gcb)
{
    for (SV* arena = gcb->sv_arena_chain; arena;) {
        SV* next = static_cast<SV*>(arena->any);
        if (!(arena->flags & SVf_FAKE))
            pool_free(gcb, arena);
        arena = next;
    }
    static constexpr uint32_t order[] = {SVt_IV,   SVt_NV,   SVt_RV,   SVt_PV,   SVt_PVIV, SVt_PVNV,
                                         SVt_PVCV, SVt_PVAV, SVt_PVHV, SVt_PVMG, SVt_PVLV, SVt_PVBM};
    for (uint32_t type : order) {
        for (void* chunk = gcb->body_chunk_chain[type]; chunk;) {
            void* next = *static_cast<void**>(chunk);
            pool_free(gcb, chunk);
            chunk = next;
        }
        gcb->body_chunk_chain[type] = nullptr;
        gcb->body_free_list[type] = nullptr;
    }
    for (void* chunk = gcb->hash_entry_arena_chain; chunk;) {
        void* next = *static_cast<void**>(chunk);
        pool_free(gcb, chunk);
        chunk = next;
    }
    gcb->hash_entry_arena_chain = nullptr;
    if (gcb->sv_spare_block)
        pool_free(gcb, gcb->sv_spare_block);
    gcb->sv_spare_block = nullptr;
    gcb->sv_spare_size = 0;
    gcb->sv_arena_chain = nullptr;
    gcb->sv_free_heads = nullptr;
}

void sv_dump_live_values(PERLGCB* gcb)
{
    for_each_live(gcb, [&](SV* sv) {
        prx_fprintf(PRX_STDOUT, "****\n");
        dump_value(gcb, sv);
    });
}
