#pragma once

// What some tests need from Unix and Windows lacks: resource limits, Unix signals, pausing a process, file owners.
// A test function (or row) that needs it starts with BSA_UNIX_ONLY("what Windows lacks"): on Windows it skips with
// that reason, elsewhere it does nothing. On Windows the calls after it are never reached; the stand-ins below only
// let them compile, so that the tests keep one body for both systems.
#include <csignal>

#include <QTest>
#include <QtGlobal>

#ifdef Q_OS_WIN
#include <sys/types.h>

#define BSA_UNIX_ONLY(reason) QSKIP("Windows lacks " reason)
// Under Wine a Windows peer on this machine does not always see the link close a connection it refused; a Linux peer
// against the Windows program gets the reset at once (scripts/check-windows uses one).
#define BSA_SEES_A_REFUSED_CLOSE()                                                                                     \
    QSKIP("under Wine a Windows peer does not always see a refused connection close; a Linux peer against the "        \
          "Windows program gets the reset at once")

using rlim_t = quint64;
struct rlimit
{
    rlim_t rlim_cur;
    rlim_t rlim_max;
};
enum { RLIMIT_FSIZE = 1, RLIMIT_NOFILE = 7 };
#ifndef SIGHUP
#define SIGHUP 1
#endif
#ifndef SIGKILL
#define SIGKILL 9
#endif
#ifndef SIGCONT
#define SIGCONT 18
#endif
#ifndef SIGSTOP
#define SIGSTOP 19
#endif
#ifndef SIGXFSZ
#define SIGXFSZ 25
#endif
inline int getrlimit(int, rlimit *)
{
    return -1;
}
inline int setrlimit(int, const rlimit *)
{
    return -1;
}
inline int kill(pid_t, int)
{
    return -1;
}
inline unsigned geteuid()
{
    return 1000;
} // no user who writes everywhere, as root does
inline int chown(const char *, unsigned, unsigned)
{
    return -1;
}
#else
#include <sys/resource.h>
#include <sys/types.h>
#include <unistd.h>

#define BSA_UNIX_ONLY(reason) static_cast<void>(0)
#define BSA_SEES_A_REFUSED_CLOSE() static_cast<void>(0)
#endif
