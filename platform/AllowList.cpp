#include "AllowList.h"

#include <QRegularExpression>

namespace {

// Strict, so that "10.1" or "010.0.0.1" is not read as some other address than the operator thinks.
bool isStrictEntry(const QString &entry)
{
    static const QRegularExpression form(QStringLiteral(
        R"(^(?:(?:25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])\.){3}(?:25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9]))"
        R"((?:/(?:3[0-2]|[12]?[0-9]))?$)"));
    return form.match(entry).hasMatch();
}

} // namespace

AllowList AllowList::fromText(const QString &text)
{
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    AllowList list;
    for (const QString &entry : text.split(separators, Qt::SkipEmptyParts)) {
        const QPair<QHostAddress, int> network
            = QHostAddress::parseSubnet(entry.contains(QLatin1Char('/')) ? entry : entry + QStringLiteral("/32"));
        if (!isStrictEntry(entry) || network.first.protocol() != QAbstractSocket::IPv4Protocol) {
            list.m_networks.clear();
            list.m_badEntry = entry;
            return list;
        }
        list.m_networks.append(network);
    }
    return list;
}

bool AllowList::allows(const QHostAddress &peer) const
{
    if (!m_badEntry.isEmpty())
        return false;
    if (m_networks.isEmpty())
        return true;
    // A peer may show as an IPv4 address mapped into IPv6; the list holds IPv4 only.
    bool isIPv4 = false;
    const QHostAddress address(peer.toIPv4Address(&isIPv4));
    if (!isIPv4)
        return false;
    for (const QPair<QHostAddress, int> &network : m_networks) {
        if (address.isInSubnet(network))
            return true;
    }
    return false;
}
