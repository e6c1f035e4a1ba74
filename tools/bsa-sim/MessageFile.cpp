#include "MessageFile.h"

#include <QFile>
#include <QTextStream>

namespace MessageFile {

QString withLineBreaks(QStringView typed)
{
    return typed.toString().replace(QStringLiteral("\\n"), QStringLiteral("\n"));
}

QString messageFromLine(QStringView line)
{
    const bool hasTab = line.contains(QLatin1Char('\t'));
    QStringList fields;
    for (QStringView field : line.split(hasTab ? QStringView(u"\t") : QStringView(u" | ")))
        fields << field.toString().replace(QStringLiteral("\\n"), QStringLiteral("\x1bLF"));
    return fields.join(QLatin1Char('\t'));
}

bool read(const QString &path, QStringList *messages, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        if (error)
            *error = QStringLiteral("Cannot read %1: %2").arg(path, file.errorString());
        return false;
    }
    QTextStream in(&file);
    QString line;
    while (in.readLineInto(&line)) {
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        messages->append(messageFromLine(line));
    }
    return true;
}

} // namespace MessageFile
