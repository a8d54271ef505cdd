#include "app/descriptor_limit.h"

#include <sys/resource.h>

#include <cerrno>
#include <cstdint>

namespace quorvane {
namespace {

std::size_t Count(rlim_t limit) {
    return limit == RLIM_INFINITY ? SIZE_MAX : static_cast<std::size_t>(limit);
}

}  // namespace

DescriptorLimit RaiseDescriptorLimit() {
    DescriptorLimit result;
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0) {
        result.error = errno;
        return result;
    }
    if (files.rlim_cur != files.rlim_max) {
        rlimit raised = files;
        raised.rlim_cur = files.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            files = raised;
        } else {
            result.error = errno;
        }
    }
    result.soft = Count(files.rlim_cur);
    result.hard = Count(files.rlim_max);
    return result;
}

}  // namespace quorvane
