#include "DescriptorLimit.h"

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <sys/resource.h>

namespace {
qint64 asCount(rlim_t value)
{
    return value == RLIM_INFINITY ? -1 : qint64(value);
}
} // namespace

namespace DescriptorLimit {

qint64 raiseToHardLimit()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    if (limit.rlim_cur != limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        // Some systems refuse an infinite soft limit for open files; the old one then stays.
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return asCount(limit.rlim_cur);
}

qint64 current()
{
    rlimit limit {};
    return ::getrlimit(RLIMIT_NOFILE, &limit) == 0 ? asCount(limit.rlim_cur) : -1;
}

qint64 openCount()
{
    // Linux lists them in /proc; elsewhere /dev/fd does. The open listing itself counts as one.
    DIR *listing = ::opendir("/proc/self/fd");
    if (!listing)
        listing = ::opendir("/dev/fd");
    if (!listing)
        return -1;
    qint64 count = 0;
    while (const dirent *entry = ::readdir(listing)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    ::closedir(listing);
    return count - 1;
}

} // namespace DescriptorLimit

#else

namespace DescriptorLimit {
qint64 raiseToHardLimit()
{
    return -1; // Windows sockets have no such limit
}
qint64 current()
{
    return -1;
}
qint64 openCount()
{
    return -1;
}
} // namespace DescriptorLimit

#endif
