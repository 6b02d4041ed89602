// An interpreter with its stacks made by construction's own set-up, over the
// symbol tables of the aggregate fixture.
#pragma once

#include "agg_fixture.h"

#include "ds/src/prxav.h"
#include "ds/src/prxperl.h"
#include "ds/src/prxrun.h"
#include "ds/src/prxscope.h"

namespace prxtest {

class Stacks : public Agg {
protected:
    void SetUp() override
    {
        Agg::SetUp();
        // Construction's stacks take the place of the fixture's empty
        // temporaries.
        ASSERT_EQ(gcb->temps_ix, -1);
        pool_free(gcb, gcb->temps);
        interp_init_stacks(gcb);
    }

    // A glob made by hand: a glob body with a scalar, no stash.
    GV* glob(SV* scalar)
    {
        SV* sv = sv_new_undef(gcb, 0);
        sv_upgrade_body(gcb, sv, SVt_PVGV);
        GP* gp = static_cast<GP*>(pool_malloc(gcb, sizeof(GP)));
        std::memset(gp, 0, sizeof *gp);
        gp->gp_sv = scalar;
        gp->gp_refcnt = 1;
        gp->gp_egv = sv_as<GV>(sv);
        gv_gp(sv_as<GV>(sv)) = gp;
        return sv_as<GV>(sv);
    }
    // A new PVLV of the type letter standing for len units of target from
    // off; it holds a reference to target. No magic yet.
    SV* part_of(SV* target, char type, uint64_t off, uint64_t len)
    {
        SV* lv = sv_new_undef(gcb, 0);
        sv_upgrade_body(gcb, lv, SVt_PVLV);
        PVLV* b = static_cast<PVLV*>(lv->any);
        b->targ = sv_refinc(target);
        b->targoff = off;
        b->targlen = len;
        b->type = type;
        return lv;
    }
    // Defines a native sub, its body xsub, in each glob named in full
    // ("Pkg::name"); the glob holds the sub's one reference.
    void define_native_subs(std::initializer_list<const char*> names, void (*xsub)(PERLGCB*, CV*))
    {
        for (const char* name : names) {
            GV* gv = gv_fetch_by_name(gcb, name, GV_ADD, SVt_PVCV);
            CV* cv = sv_as<CV>(sv_new_undef(gcb, 0));
            sv_upgrade_body(gcb, as_sv(cv), SVt_PVCV);
            static_cast<PVCV*>(cv->any)->xsub = reinterpret_cast<void*>(xsub);
            static_cast<PVCV*>(cv->any)->gv = gv;
            gv_gp(gv)->gp_cv = cv;
        }
        gcb->method_cache_generation++;
    }
    // An object of the package st: a new reference, owned by the caller, to
    // a blessed string, with the overloaded flag set.
    SV* overloaded_object(HV* st, const char* text = "o")
    {
        SV* referent = pv(text);
        sv_upgrade_body(gcb, referent, SVt_PVMG);
        referent->flags |= SVs_OBJECT;
        sv_stash(referent) = sv_as<HV>(sv_refinc(as_sv(st)));
        SV* rv = sv_new_reference(gcb, referent);
        sv_release(gcb, referent);
        rv->flags |= SVf_OVERLOAD;
        return rv;
    }
    // Raw save-stack entries, as the callers that write slots themselves
    // push them.
    void raw(std::initializer_list<save_entry> slots, int32_t kind)
    {
        save_check(gcb, static_cast<int32_t>(slots.size()) + 1);
        for (const save_entry& e : slots)
            gcb->savestack[gcb->savestack_ix++] = e;
        save_put_i32(gcb, kind);
    }
    static save_entry ptr(void* p)
    {
        save_entry e;
        e.ptr = p;
        return e;
    }
    static save_entry i32(int32_t v)
    {
        save_entry e;
        e.i64 = 0;
        e.i32 = v;
        return e;
    }
    // Pushes the items after a new mark, as a caller of a built-in does.
    void push_args(std::initializer_list<SV*> items)
    {
        SV** sp = gcb->arg_sp;
        push_mark(gcb, sp);
        sp = arg_stack_room(gcb, sp, static_cast<int32_t>(items.size()));
        for (SV* sv : items)
            *++sp = sv;
        gcb->arg_sp = sp;
    }
    // The values between the base's mark position and the stack pointer.
    std::vector<SV*> results_from(int32_t mark)
    {
        std::vector<SV*> out;
        for (SV** p = gcb->arg_base + mark + 1; p <= gcb->arg_sp; p++)
            out.push_back(*p);
        return out;
    }
};

}  // namespace prxtest
