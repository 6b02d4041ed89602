// The error-queue double of queued_errors.h.
#include "support/queued_errors.h"

#include "ds/src/prx.h"
#include "ds/src/prxsv.h"

std::vector<std::string> prxtest::queued_errors;

extern "C" void __wrap__Z11error_queueP7PERLGCBP2SV(PERLGCB* gcb, SV* message)
{
    uint64_t len = 0;
    const char* p = sv_text(gcb, message, &len);
    prxtest::queued_errors.emplace_back(p, len);
    gcb->error_count++;
}
