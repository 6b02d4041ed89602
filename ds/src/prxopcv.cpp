// Emptying a code value in place: its op tree, prototype, outer code and pad
// list go, its head stays so that references to it remain valid.
#include "prxav.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxpad.h"
#include "prxscope.h"
#include "prxsv.h"

void cv_undefine(PERLGCB* gcb, CV* cv)
{
    PVCV* body = cv_body(cv);
    if (!body->xsub && body->root) {
        if (body->depth != 0)
            fatal_error(gcb, "Can't undef active subroutine");
        // Pads the tree's ops point into are not the current one meanwhile.
        scope_enter(gcb);
        save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->curpad));
        gcb->curpad = nullptr;
        op_free_tree(gcb, body->root);
        body->root = nullptr;
        scope_leave(gcb);
    }
    SV* sv = as_sv(cv);
    sv->flags &= ~(SVf_POK | SVp_POK);
    body->gv = nullptr;
    if (CV* outside = body->outside) {
        body->outside = nullptr;
        if (!((body->cvflags & CVf_ANON) && !(body->cvflags & CVf_CLONED)))
            sv_release(gcb, as_sv(outside));
    }
    if (AV* padlist = body->padlist) {
        body->padlist = nullptr;
        if (padlist->refcnt != 0) {
            PVAV* pl = av_body(padlist);
            for (int32_t i = pl->fill; i >= 0; i--) {
                SV* item = pl->array[i];
                if (!item)
                    continue;
                pl->array[i] = nullptr;
                if (item == as_sv(gcb->comppad_name))
                    gcb->comppad_name = nullptr;
                if (item == as_sv(gcb->comppad)) {
                    gcb->comppad = nullptr;
                    gcb->curpad = nullptr;
                }
                sv_release(gcb, item);
            }
            sv_release(gcb, as_sv(padlist));
        }
    }
    body->cvflags = 0;
}
