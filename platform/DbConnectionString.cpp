#include "platform/DbConnectionString.h"

#include <QStringList>

namespace {

QString keyValue(const char *key, const QString &value)
{
    return QLatin1String(key) + QLatin1Char('=') + DbConnectionString::odbcValue(value);
}

} // namespace

namespace DbConnectionString {

QString odbcValue(const QString &value)
{
    const bool plain = !value.contains(QLatin1Char(';')) && !value.contains(QLatin1Char('{'))
        && !value.contains(QLatin1Char('}')) && value.trimmed().size() == value.size();
    if (plain)
        return value;
    QString quoted = value;
    quoted.replace(QLatin1Char('}'), QLatin1String("}}"));
    return QLatin1Char('{') + quoted + QLatin1Char('}');
}

QString sqlServer(const QString &server, const QString &database, const QString &user, const QString &password)
{
    QStringList parts;
#ifdef Q_OS_WIN
    // The SQL Server driver reads HOST\INSTANCE,PORT itself.
    parts << QStringLiteral("DRIVER={SQL Server}") << keyValue("SERVER", server.trimmed());
#else
    QString host = server.trimmed();
    QString port;
    const qsizetype comma = host.lastIndexOf(QLatin1Char(','));
    if (comma >= 0) {
        port = host.mid(comma + 1).trimmed();
        host = host.left(comma).trimmed();
    }
    // FreeTDS finds a named instance through the SQL Server Browser; a port names the instance's listener
    // directly and makes the instance name unnecessary.
    if (!port.isEmpty()) {
        const qsizetype backslash = host.indexOf(QLatin1Char('\\'));
        if (backslash >= 0)
            host.truncate(backslash);
    }
    parts << QStringLiteral("DRIVER={FreeTDS}") << keyValue("SERVER", host);
    if (!port.isEmpty())
        parts << keyValue("PORT", port);
#endif
    parts << keyValue("DATABASE", database) << keyValue("UID", user) << keyValue("PWD", password);
#ifndef Q_OS_WIN
    // 7.3 and later carry date-times and wide text as SQL Server 2008 and later store them.
    parts << QStringLiteral("TDS_Version=7.4") << QStringLiteral("ClientCharset=UTF-8");
#endif
    return parts.join(QLatin1Char(';'));
}

} // namespace DbConnectionString
