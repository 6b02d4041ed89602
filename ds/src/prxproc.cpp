// Process, signal and environment support over the C-library substitutes:
// putenv, pipe, fileno, waitpid and signal answer with fixed values inside
// the host, so no child process is ever made.
#include "prxproc.h"

#include <cstring>

#include "prxav.h"
#include "prxlibc.h"
#include "prxpool.h"
#include "prxsv.h"

namespace {

// The signal substitute: no previous handler, nothing changes.
prx_sighandler signal_call(int32_t sig, prx_sighandler handler)
{
    return reinterpret_cast<prx_sighandler>(static_cast<intptr_t>(prx_return_zero(sig, handler)));
}

const prx_sighandler SIGNAL_ERROR = reinterpret_cast<prx_sighandler>(static_cast<intptr_t>(-1));
const prx_sighandler SIGNAL_IGNORE = reinterpret_cast<prx_sighandler>(static_cast<intptr_t>(1));

constexpr int32_t ERRNO_INTERRUPTED = 16;

}  // namespace

void env_set(PERLGCB* gcb, const char* name, const char* value)
{
    // Missing strings count as empty, in the length and in the text.
    const char* n = name ? name : "";
    const char* v = value ? value : "";
    uint64_t size = std::strlen(n) + std::strlen(v) + 2;
    char* block = static_cast<char*>(pool_malloc(gcb, size));
    if (!block)
        return;
    prx_sprintf(block, "%s=%s", n, v);
    // A putenv that took the block keeps it for the environment until the
    // pool goes; one that refused it (the substitute always does) keeps
    // nothing, and the block goes back now.
    if (prx_putenv(block) != 0)
        pool_free(gcb, block);
}

PrxStream pipe_open(PERLGCB* gcb, const char* cmd, const char* mode)
{
    (void)mode;
    bool fork_only = xk_padcmp64(cmd, static_cast<int64_t>(std::strlen(cmd)), "-", 1) == 0;
    if (!fork_only && gcb->tainting) {
        taint_check_environment(gcb);
        taint_check_dependency(gcb, "Insecure %s%s", "EXEC");
    }
    int32_t fds[2] = {-1, -1};
    // The pipe substitute reports "PIPE" and fails: no child process can be
    // made inside the host.
    prx_pipe(fds);
    return 0;
}

int32_t pipe_close(PERLGCB* gcb, PrxStream stream)
{
    int32_t fd = prx_fileno(stream);
    int32_t pid = -1;
    SV** svp = av_fetch_element(gcb, gcb->fdpid, fd, 1);
    if (svp) {
        SV* sv = *svp;
        if (sv && sv_type(sv) == SVt_IV)
            pid = static_cast<int32_t>(sv_iv(sv));
        *svp = &gcb->sv_undef;
        if (sv)
            sv_release(gcb, sv);
    }
    int32_t saved_errno = 0;
    bool close_failed = prx_return_zero(stream) != 0;
    if (close_failed)
        saved_errno = gcb->errno_cell;

    prx_sighandler hstat = signal_call(2, SIGNAL_IGNORE);
    prx_sighandler istat = signal_call(1, SIGNAL_IGNORE);
    prx_sighandler qstat = signal_call(16, SIGNAL_IGNORE);
    int32_t status = 0;
    int32_t result;
    if (pid == 0) {
        result = -1;
    } else {
        do {
            result = prx_waitpid(pid, &status, 0);
        } while (result == -1 && gcb->errno_cell == ERRNO_INTERRUPTED);
    }
    signal_call(2, hstat);
    signal_call(1, istat);
    signal_call(16, qstat);

    if (close_failed) {
        gcb->errno_cell = saved_errno;
        return -1;
    }
    if (result < 0)
        return result;
    if (status)
        gcb->errno_cell = 0;
    return status;
}

prx_sighandler signal_set(PERLGCB*, int32_t sig, prx_sighandler handler) { return signal_call(sig, handler); }

prx_sighandler signal_get(PERLGCB*, int32_t sig)
{
    prx_sighandler old = signal_call(sig, SIGNAL_IGNORE);
    signal_call(sig, old);
    return old;
}

int32_t signal_save(PERLGCB*, int32_t sig, prx_sighandler handler, prx_sighandler* saved)
{
    *saved = signal_call(sig, handler);
    return *saved == SIGNAL_ERROR ? -1 : 0;
}

int32_t signal_restore(PERLGCB*, int32_t sig, prx_sighandler saved)
{
    return signal_call(sig, saved) == SIGNAL_ERROR ? -1 : 0;
}

int32_t wait_child(PERLGCB*, int32_t pid, int32_t* status, int32_t flags)
{
    if (pid == 0)
        return -1;
    return prx_waitpid(pid, status, flags);
}

char* find_script_on_path(PERLGCB* gcb, const char* name, int32_t search, const char* const* ext, int32_t flags)
{
    (void)ext;
    (void)flags;
    if (search && name && !prx_strchr(name, '/')) {
        // PATH reads as not set inside the host (the environment query is a
        // constant substitute), so no directory is searched.
        (void)prx_return_zero("PATH");
    }
    if (!name)
        return nullptr;
    return pool_strdup(gcb, name);
}
