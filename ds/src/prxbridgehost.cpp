// What the bridge exchanges with the host besides patterns: the captured
// standard streams handed over as host lines (entry slots 8 and 9), and the
// interpreter's case-fold table made from the host's case tables.
#include "prxbridge.h"
#include "prxpool.h"

namespace {

// Hands one captured stream to the host and frees its buffer; nothing
// without an interpreter, text or host function name.
void hand_over(host_task* task, PERLGCB* gcb, const char* name, prx_capture* cap)
{
    if (!gcb || cap->len <= 0 || !cap->buf || !name)
        return;
    xkPutLines(task, cap->buf, cap->len);
    pool_free(gcb, cap->buf);
    cap->buf = nullptr;
    cap->len = 0;
    cap->cap = 0;
}

}  // namespace

extern "C" void rexhost_report_notes(host_task* task, PERLGCB* gcb, const char* name)
{
    try {
        if (gcb)
            hand_over(task, gcb, name, &gcb->out);
    } catch (...) {
    }
}

extern "C" void rexhost_report_errors(host_task* task, PERLGCB* gcb, const char* name)
{
    try {
        if (!gcb || gcb->err.len <= 0 || !gcb->err.buf || !name)
            return;
        hand_over(task, gcb, name, &gcb->err);
        if (gcb->error_glob)
            errsv_set_empty(gcb);
    } catch (...) {
    }
}

// Entry c of the fold table becomes the host's lower case of c when the
// host's class table marks c upper case, its upper case when it marks c
// lower case, and c otherwise.
void rexhost_build_fold(PERLGCB* gcb)
{
    if (!gcb->fold_table)
        return;
    host_vector* hv = g_host_vector;
    for (int c = 0; c < 256; c++) {
        uint8_t k = hv->cclass[c];
        if (k & HC_UPPER)
            gcb->fold_table[c] = hv->lower[c];
        else if (k & HC_LOWER)
            gcb->fold_table[c] = hv->upper[c];
        else
            gcb->fold_table[c] = static_cast<uint8_t>(c);
    }
}
