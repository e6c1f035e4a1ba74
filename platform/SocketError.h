#pragma once

#include <QAbstractSocket>
#include <QString>

// Socket failures as the operator log shows them: each message carries the Winsock code of the failure, because
// the log recognises aborted connections (10053) by that code and operators know these numbers.
namespace SocketError {

// The Winsock code of a Qt socket error. Qt folds several causes into NetworkError; its message (the system's
// text of the errno) tells reset, abort, time-out and unreachable apart.
int winsockCode(QAbstractSocket::SocketError error, const QString &errorString);

// A failing call: "Windows socket error: <system text> (<code>), on API '<call>'".
QString callFailed(int code, const QString &systemText, const QString &api);
QString callFailed(QAbstractSocket::SocketError error, const QString &errorString, const QString &api);

// A failure reported with a notification (refused connect, aborted or reset connection):
// "Asynchronous socket error <code>".
QString asyncFailed(int code);
QString asyncFailed(QAbstractSocket::SocketError error, const QString &errorString);

} // namespace SocketError
