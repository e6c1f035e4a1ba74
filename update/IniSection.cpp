#include "IniSection.h"

#include <QStringView>

QMap<QString, QString> readIniSection(const QString &text, const QString &section)
{
    QMap<QString, QString> keys;
    bool inSection = false;
    bool sectionSeen = false;
    for (QStringView line : QStringView(text).split(u'\n')) {
        line = line.trimmed(); // also drops the CR of a CR LF line end
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            if (sectionSeen)
                break; // a later section of the same name is not read
            const qsizetype close = line.indexOf(u']');
            const QStringView name = line.mid(1, close < 0 ? -1 : close - 1).trimmed();
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
            sectionSeen = inSection;
            continue;
        }
        if (!inSection)
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed().toString().toLower();
        if (!key.isEmpty() && !keys.contains(key))
            keys.insert(key, line.mid(equals + 1).trimmed().toString());
    }
    return keys;
}
