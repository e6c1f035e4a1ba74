#include "FileSizeLimit.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <csignal>
#endif

namespace FileSizeLimit {

void letWritesFail()
{
#ifdef Q_OS_UNIX
    struct sigaction action = {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGXFSZ, &action, nullptr);
#endif
}

} // namespace FileSizeLimit
