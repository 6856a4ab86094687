#include "cli/process_setup.h"

#include <sys/resource.h>

#include <clocale>

namespace quillet::cli {

void prepareProcess() {
    std::setlocale(LC_ALL, "");
    // Deep trees are walked with a bounded number of descriptors, but other open files add up;
    // take what the system allows rather than the small default.
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

}  // namespace quillet::cli
