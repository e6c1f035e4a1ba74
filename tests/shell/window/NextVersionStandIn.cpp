// Stands in for the newer program that the update tests offer for download: notes in "next-version.txt" of the
// program folder (--home) that it ran, with which arguments, and keeps running, as a program that started well does,
// until that file is gone (the test is over) or half a minute has passed.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTimer>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const qsizetype home = arguments.indexOf(QStringLiteral("--home"));
    if (home < 0)
        return 2;
    QFile notes(QDir(arguments.value(home + 1)).filePath(QStringLiteral("next-version.txt")));
    if (!notes.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return 3;
    notes.write("ran " + arguments.join(u' ').toUtf8() + '\n');
    if (!notes.flush())
        return 4;
    notes.close();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app, [&notes] {
        if (!notes.exists())
            QCoreApplication::quit();
    });
    poll.start(100);
    QTimer::singleShot(30000, &app, &QCoreApplication::quit);
    return QCoreApplication::exec();
}
