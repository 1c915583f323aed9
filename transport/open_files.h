#pragma once
// Thousands of units mean thousands of sockets, and the usual soft limit of
// 1024 open files stops a large fleet halfway. The programs raise it to the
// hard limit once, at start-up; nothing else needs to know.
#ifndef _WIN32
#include <sys/resource.h>
#endif

namespace talvor {

// False when the limit could not be read or raised (it stays as it was).
// Windows has no such limit on sockets.
inline bool raise_open_file_limit()
{
#ifdef _WIN32
    return true;
#else
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0)
        return false;
    if (files.rlim_cur == files.rlim_max)
        return true;
    files.rlim_cur = files.rlim_max;
    return setrlimit(RLIMIT_NOFILE, &files) == 0;
#endif
}

} // namespace talvor
