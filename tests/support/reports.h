// The stand-in host's record of the unsupported-function reports, read by
// the tests of the ops that the host lacks.
#pragma once

#include <string>
#include <vector>

#include "hostsim/hostsim.h"

namespace prxtest {

// The names the unsupported-function reports (message 738/304) carried, in
// order; the host's recorded messages are cleared.
inline std::vector<std::string> take_unsupported_reports(hostsim::Host& host)
{
    std::vector<std::string> names;
    for (const auto& m : host.messages)
        if (m.table == 738 && m.number == 304 && !m.args.empty())
            names.push_back(m.args.back());
    host.messages.clear();
    return names;
}

}  // namespace prxtest
