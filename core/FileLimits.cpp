#include "core/FileLimits.h"

#include <cerrno>
#include <limits>
#include <sys/resource.h>

namespace FileLimits {
namespace {
qint64 asNumber(rlim_t value)
{
    if (value == RLIM_INFINITY || value > rlim_t(std::numeric_limits<qint64>::max()))
        return std::numeric_limits<qint64>::max();
    return qint64(value);
}
} // namespace

qint64 raiseToHardLimit()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return current();
    if (limit.rlim_cur != limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    return current();
}

qint64 current()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return std::numeric_limits<qint64>::max();
    return asNumber(limit.rlim_cur);
}

bool isShortage(int error)
{
    return error == EMFILE || error == ENFILE;
}

} // namespace FileLimits
