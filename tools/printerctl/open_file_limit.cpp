#include "tools/printerctl/open_file_limit.hpp"

#include <sys/resource.h>

namespace printerctl {

void raiseOpenFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        // Failing leaves the old limit, which the commands then report when they reach it.
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace printerctl
