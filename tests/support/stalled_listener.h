// A listening Unix socket whose accept queue is full and never served: a connect to it blocks
// until the connecting side's own bound.
#pragma once

#include <string>
#include <vector>

#include "unique_fd.h"

namespace testsupport {

struct StalledListener {
    // Binds `path` and fills the queue; check `full`.
    explicit StalledListener(const std::string& path);

    orvalinquist::host::UniqueFd listener;
    std::vector<orvalinquist::host::UniqueFd> fillers;
    bool full = false;
};

}  // namespace testsupport
