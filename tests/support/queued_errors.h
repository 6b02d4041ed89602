// A double of the error queue, linked in place of the real one
// (-Wl,--wrap=_Z11error_queueP7PERLGCBP2SV, with queued_errors.cpp among
// the sources): it records each message and counts it as the real one does.
#pragma once

#include <string>
#include <vector>

namespace prxtest {

// Texts the error-queue double received, in order; each fixture clears it.
extern std::vector<std::string> queued_errors;

}  // namespace prxtest
