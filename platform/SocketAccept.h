#pragma once

#include <QString>
#include <QtGlobal>

// Takes one waiting connection from a listening socket without blocking, and closes a descriptor taken so, with the
// system's failures sorted into what the listener does next.
class SocketAccept
{
public:
    enum class Outcome { Connection, NoneWaiting, PeerGone, OutOfDescriptors, Failed };
    struct Accepted
    {
        Outcome outcome = Outcome::NoneWaiting;
        qintptr descriptor = -1;
        QString error; // the operator log's form, for the last two
    };

    static Accepted from(qintptr listener);
    static void close(qintptr descriptor);
};
