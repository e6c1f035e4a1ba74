#pragma once

#include <chrono>

// A bound on one blocking call of a database driver on its socket. A driver that waits for a server whose process
// hangs (paused, stuck on its disk) waits without end: the operating system still answers for it, so neither TCP
// keep-alives nor the server's own statement time-out end the wait. When the bound passes, the socket is shut down
// from a timer signal; the driver's wait then ends with a lost connection, and the one thread goes on.
// One deadline at a time in the program; on systems without the signal it bounds nothing.
class DatabaseDeadline
{
public:
    // Arms the bound for `socket`; a socket below 0 arms nothing.
    DatabaseDeadline(int socket, std::chrono::milliseconds bound);
    ~DatabaseDeadline();
    DatabaseDeadline(const DatabaseDeadline &) = delete;
    DatabaseDeadline &operator=(const DatabaseDeadline &) = delete;

    // Whether the bound passed and the socket was shut down.
    bool expired() const;

private:
    bool m_armed = false;
};
