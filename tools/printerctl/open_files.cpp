#include "tools/printerctl/open_files.hpp"

#include <algorithm>
#include <sys/resource.h>

namespace printerctl {

namespace {
constexpr long kReserve = 64;
} // namespace

long openFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 1024;
    }
    return limit.rlim_cur == RLIM_INFINITY ? 1L << 20 : static_cast<long>(limit.rlim_cur);
}

long raiseOpenFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        (void)setrlimit(RLIMIT_NOFILE, &limit); // an unlimited hard limit cannot be taken whole
    }
    return openFileLimit();
}

int maximumJobs(long openFileLimit) {
    return static_cast<int>(std::clamp(openFileLimit - kReserve, 1L, 1L << 16));
}

} // namespace printerctl
