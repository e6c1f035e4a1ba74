#pragma once

#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>

// The IPv4 addresses and networks that may connect to the BSA server, as the operator writes them in one text:
// "192.0.2.10, 198.51.100.0/24". An empty text lets everyone in; a text with an entry that cannot be read lets no one
// in, since what the operator meant by it is unknown.
class AllowList
{
public:
    // Commas, semicolons and white space separate the entries. An entry is a dotted address (four decimal numbers of
    // 0-255 without leading zeros) or such an address, "/" and a prefix length of 0-32.
    static AllowList fromText(const QString &text);

    // No entries: every peer may connect.
    bool isEmpty() const { return m_networks.isEmpty() && m_badEntry.isEmpty(); }
    // The first entry that could not be read; empty when every entry could.
    QString badEntry() const { return m_badEntry; }
    bool allows(const QHostAddress &peer) const;

private:
    QList<QPair<QHostAddress, int>> m_networks;
    QString m_badEntry;
};
