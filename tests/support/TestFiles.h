#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

// Whole files for the tests' fixtures: what a file holds (empty when it cannot be read), and a file written whole.
inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

[[nodiscard]] inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}
