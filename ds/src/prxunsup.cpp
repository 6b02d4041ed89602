// Constant substitutes and the reporters of unsupported C functions.
#include <cstdio>
#include <cstdlib>

#include "prxlibc.h"

extern "C" int32_t prx_return_one(...) { return 1; }
extern "C" int32_t prx_open(...) { return 1; }
extern "C" int32_t prx_return_zero(...) { return 0; }
extern "C" int32_t prx_return_two(...) { return 2; }

namespace {
// Message 304 of table 738 for the current task. With no current task there
// is nobody to tell, and the reporter only answers.
void report_unsupported(const char* name)
{
    host_task* task = host_current_task_handle();
    if (task)
        xkIssueMessage(task, MSG_TABLE, MSG_UNSUPPORTED, name);
}
}  // namespace

#define PRX_UNSUP(FN, NAME, RET, VALUE, PARAMS) \
    RET FN PARAMS                               \
    {                                           \
        report_unsupported(NAME);               \
        return static_cast<RET>(VALUE);         \
    }
#define PRX_UNSUP_VOID(FN, NAME, PARAMS) \
    void FN PARAMS { report_unsupported(NAME); }
#include "prxunsup.def"
#undef PRX_UNSUP
#undef PRX_UNSUP_VOID

void prx_host_abort(const char* message)
{
    std::fprintf(stderr, "rexhost: %s\n", message);
    std::abort();
}
