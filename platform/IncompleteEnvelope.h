#pragma once

#include <QtGlobal>

class QString;

// The operator log's lines for an envelope that began and never ended: what came of it is dropped. The BSA server
// ("SI") and the client to the BSA host ("CI") log it in the same words.
namespace IncompleteEnvelope {

enum class Side {
    Server, // the link's BSA server, "SI"
    Client, // the link's client to the BSA host, "CI"
};

// More bytes than the framer keeps came without the envelope's end.
QString tooLargeLine(Side side, const QString &peer);

// The envelope did not end within `seconds`; the connection was closed.
QString expiredLine(Side side, const QString &peer, qint64 seconds);

} // namespace IncompleteEnvelope
