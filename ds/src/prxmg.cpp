// The magic dispatcher: flag computation, the get, set, len and clear walks
// with their saved flags, look-up by type letter, element magic and freeing.
#include "prxmg.h"

#include "prxmsg.h"
#include "prxpool.h"
#include "prxscope.h"
#include "prxsv.h"

namespace {

constexpr const char* dump_names[MAGIC_VTBL_COUNT] = {
#define PRX_MGVTBL(row, dump, get, set, len, clear, free) dump,
#include "prxmg.def"
#undef PRX_MGVTBL
};

}  // namespace

int32_t mg_table_row_for_type(char type)
{
    switch (type) {
    case '\0': return PL_vtbl_sv;
    case 'E': return PL_vtbl_env;
    case 'e': return PL_vtbl_envelem;
    case 'S': return PL_vtbl_sig;
    case 's': return PL_vtbl_sigelem;
    case 'P': return PL_vtbl_pack;
    case 'p':
    case 'q': return PL_vtbl_packelem;
    case 'l': return PL_vtbl_dbline;
    case 'I': return PL_vtbl_isa;
    case 'i': return PL_vtbl_isaitem;
    case '#': return PL_vtbl_arylen;
    case '*': return PL_vtbl_glob;
    case 'g': return PL_vtbl_mglob;
    case 'k': return PL_vtbl_nkeys;
    case 't': return PL_vtbl_taint;
    case 'x': return PL_vtbl_substr;
    case 'v': return PL_vtbl_vec;
    case '.': return PL_vtbl_pos;
    case 'B': return PL_vtbl_bm;
    case 'f': return PL_vtbl_fm;
    case 'U': return PL_vtbl_uvar;
    case 'y': return PL_vtbl_defelem;
    case 'r': return PL_vtbl_pattern;
    case 'D': return PL_vtbl_matchoffsets;
    case 'd': return PL_vtbl_matchoffsetitem;
    case 'A': return PL_vtbl_amagic;
    case 'a': return PL_vtbl_amagicelem;
    case '<': return PL_vtbl_backref;
    case 'L':
    case '~':
    case 'c': return MG_ROW_NONE;
    default: return MG_ROW_UNKNOWN;
    }
}

const char* mg_table_dump_name(int32_t row)
{
    return row >= 0 && row < MAGIC_VTBL_COUNT ? dump_names[row] : nullptr;
}

// ---- saving and restoring the magic flags ---------------------------------------

namespace {

magic_restore_record* restore_record(PERLGCB* gcb, int32_t offset)
{
    return reinterpret_cast<magic_restore_record*>(reinterpret_cast<char*>(gcb->savestack) + offset);
}

// Reserves the restore record and its destructor entry, saves the flags and
// makes the value plain for the time of its methods: not magical, writable,
// and with each private OK bit copied to its public bit. Returns the
// record's offset.
int32_t save_magic(PERLGCB* gcb, SV* sv)
{
    int32_t offset = save_push_alloc(gcb, sizeof(magic_restore_record), 0);
    save_push_destructor(gcb, mg_restore_flags, reinterpret_cast<void*>(static_cast<intptr_t>(offset)));
    magic_restore_record* rec = restore_record(gcb, offset);
    rec->sv = sv;
    rec->flags = sv->flags & MG_SAVED_FLAGS;
    rec->save_ix = gcb->savestack_ix;
    sv->flags &= ~MG_SAVED_FLAGS;
    sv->flags |= (sv->flags & (SVp_IOK | SVp_NOK | SVp_POK)) >> 8;
    return offset;
}

void restore_magic(PERLGCB* gcb, int32_t offset)
{
    mg_restore_flags(gcb, reinterpret_cast<void*>(static_cast<intptr_t>(offset)));
}

}  // namespace

void mg_restore_flags(PERLGCB* gcb, void* offset_arg)
{
    int32_t offset = static_cast<int32_t>(reinterpret_cast<intptr_t>(offset_arg));
    magic_restore_record* rec = restore_record(gcb, offset);
    SV* sv = rec->sv;
    if (sv) {
        if (sv_type(sv) >= SVt_PVMG && sv_magic_chain(sv)) {
            if (rec->flags)
                sv->flags |= rec->flags;
            else
                mg_update_flags(gcb, sv);
            if (sv->flags & SVs_GMG)
                sv->flags &= ~(SVf_IOK | SVf_NOK | SVf_POK);
        }
    }
    rec->sv = nullptr;
    // Straight after the dispatch nothing lies above the destructor entry:
    // it and the reserved record go at once. Called by scope exit instead,
    // the index differs and the unwinder pops them.
    if (gcb->savestack_ix == rec->save_ix) {
        gcb->savestack_ix -= 3;
        int32_t count = gcb->savestack[gcb->savestack_ix - 2].i32;
        gcb->savestack_ix -= 2 + count;
    }
}

// ---- the walks ------------------------------------------------------------------

int32_t mg_call_get(PERLGCB* gcb, SV* sv)
{
    int32_t offset = save_magic(gcb, sv);
    // The link to the current record; until the first advance it is the
    // chain head, read afresh from the body each time (a method may upgrade
    // the value and move its body).
    MAGIC** link = nullptr;
    auto current = [&] { return link ? *link : sv_magic_chain(sv); };
    while (MAGIC* mg = current()) {
        const magic_method_table* vt = mg->virt;
        if (!(mg->mgflags & MGf_GSKIP) && vt && vt->get) {
            vt->get(gcb, sv, mg);
            // A method that asked to be skipped until the next store makes
            // the restore recompute the flags.
            if (mg == current() && (mg->mgflags & MGf_GSKIP))
                restore_record(gcb, offset)->flags = 0;
        }
        if (mg == current())
            link = &mg->next;
        else
            link = nullptr;
    }
    restore_magic(gcb, offset);
    return 0;
}

int32_t mg_call_set(PERLGCB* gcb, SV* sv)
{
    int32_t offset = save_magic(gcb, sv);
    MAGIC* next;
    for (MAGIC* mg = sv_magic_chain(sv); mg; mg = next) {
        const magic_method_table* vt = mg->virt;
        next = mg->next;
        if (mg->mgflags & MGf_GSKIP) {
            mg->mgflags &= ~MGf_GSKIP;
            restore_record(gcb, offset)->flags = 0;
        }
        if (vt && vt->set)
            vt->set(gcb, sv, mg);
    }
    restore_magic(gcb, offset);
    return 0;
}

int32_t mg_call_clear(PERLGCB* gcb, SV* sv)
{
    int32_t offset = save_magic(gcb, sv);
    for (MAGIC* mg = sv_magic_chain(sv); mg; mg = mg->next) {
        const magic_method_table* vt = mg->virt;
        if (vt && vt->clear)
            vt->clear(gcb, sv, mg);
    }
    restore_magic(gcb, offset);
    return 0;
}

uint32_t mg_value_length(PERLGCB* gcb, SV* sv)
{
    for (MAGIC* mg = sv_magic_chain(sv); mg; mg = mg->next) {
        const magic_method_table* vt = mg->virt;
        if (vt && vt->len) {
            int32_t offset = save_magic(gcb, sv);
            uint32_t len = vt->len(gcb, sv, mg);
            restore_magic(gcb, offset);
            return len;
        }
    }
    uint64_t len = 0;
    sv_text(gcb, sv, &len);
    return static_cast<uint32_t>(len);
}

int32_t mg_element_count(PERLGCB* gcb, SV* sv)
{
    for (MAGIC* mg = sv_magic_chain(sv); mg; mg = mg->next) {
        const magic_method_table* vt = mg->virt;
        if (vt && vt->len) {
            int32_t offset = save_magic(gcb, sv);
            int32_t len = static_cast<int32_t>(vt->len(gcb, sv, mg));
            restore_magic(gcb, offset);
            return len;
        }
    }
    if (sv_type(sv) == SVt_PVAV)
        return static_cast<PVAV*>(sv->any)->fill;
    fatal_error(gcb, "Size magic not implemented");
}

int32_t mg_copy_to_element(PERLGCB* gcb, SV* aggregate, SV* element, const char* key, int32_t keylen)
{
    int32_t count = 0;
    for (MAGIC* mg = sv_magic_chain(aggregate); mg; mg = mg->next) {
        uint8_t type = static_cast<uint8_t>(mg->type);
        if (!host_is_upper(type))
            continue;
        SV* obj = mg->obj;
        if (mg->type == 'P')
            obj = tie_object(gcb, aggregate, mg);
        else if (mg->type == 'D' && mg->obj)
            obj = aggregate;
        sv_add_magic(gcb, element, obj, g_host_vector->lower[type], key, keylen);
        count++;
    }
    return count;
}

SV* tie_object(PERLGCB* gcb, SV* sv, MAGIC* mg)
{
    return mg->obj ? mg->obj : sv_make_temporary(gcb, sv_new_reference(gcb, sv));
}

// ---- find, flags and freeing --------------------------------------------------------

MAGIC* mg_find_by_type(PERLGCB*, SV* sv, int type)
{
    if (!sv || sv_type(sv) < SVt_PVMG)
        return nullptr;
    for (MAGIC* mg = sv_magic_chain(sv); mg; mg = mg->next)
        if (mg->type == static_cast<char>(type))
            return mg;
    return nullptr;
}

uint32_t mg_update_flags(PERLGCB*, SV* sv)
{
    // Bits are only ever added, record by record in chain order.
    for (MAGIC* mg = sv_magic_chain(sv); mg; mg = mg->next) {
        const magic_method_table* vt = mg->virt;
        if (!vt)
            continue;
        if (vt->get && !(mg->mgflags & MGf_GSKIP))
            sv->flags |= SVs_GMG;
        if (vt->set)
            sv->flags |= SVs_SMG;
        if (vt->clear || !(sv->flags & (SVs_GMG | SVs_SMG)))
            sv->flags |= SVs_RMG;
    }
    return sv->flags;
}

void mg_free_record(PERLGCB* gcb, SV* sv, MAGIC* mg)
{
    if (mg->virt && mg->virt->free)
        mg->virt->free(gcb, sv, mg);
    // The 'g' record keeps no owned bytes in its pointer.
    if (mg->ptr && mg->type != 'g') {
        if (mg->len >= 0)
            pool_free(gcb, mg->ptr);
        else if (mg->len == -2)
            sv_release(gcb, reinterpret_cast<SV*>(mg->ptr));
    }
    if ((mg->mgflags & MGf_REFCOUNTED) && mg->obj)
        sv_release(gcb, mg->obj);
    pool_free(gcb, mg);
}

int32_t mg_free_chain(PERLGCB* gcb, SV* sv)
{
    MAGIC* next;
    for (MAGIC* mg = sv_magic_chain(sv); mg; mg = next) {
        next = mg->next;
        mg_free_record(gcb, sv, mg);
    }
    sv_magic_chain(sv) = nullptr;
    return 0;
}

int32_t magic_nothing(PERLGCB*, SV*, MAGIC*)
{
    return 0;
}
