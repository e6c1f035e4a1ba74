#include <QtTest>
#include <QTemporaryDir>

#include "tests/support/SizeLimitedWrite.h"
#include "update/ProgramFiles.h"
#include "tests/support/UnixOnly.h"

// The program file as the update handles it: the safe copy, the backup copy, and whether it may be replaced.
class TestProgramFiles final : public QObject
{
    Q_OBJECT
private slots:
    void copyReplacesTheTargetWithTheGivenPermissions();
    void failedCopyLeavesTheTargetAsItWas();
    void copyThatCannotBeWrittenWholeLeavesTheTargetAsItWas_data();
    void copyThatCannotBeWrittenWholeLeavesTheTargetAsItWas();
    void backupCopyReplacesTheEarlierOne();
    void backupOfAMissingProgramFails();
    void programMayBeReplaced_data();
    void programMayBeReplaced();
};

namespace {

const QFileDevice::Permissions Runnable = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
    | QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser | QFileDevice::ReadGroup
    | QFileDevice::ExeGroup;

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

} // namespace

void TestProgramFiles::copyReplacesTheTargetWithTheGivenPermissions()
{
    BSA_UNIX_ONLY("file modes that make a file a program");
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("new"));
    const QString target = dir.filePath(QStringLiteral("KorvelBSA"));
    QVERIFY(writeFile(source, QByteArray(300000, 'n'))); // more than one block
    QVERIFY(writeFile(target, "old"));
    QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner));

    QString error;
    QVERIFY2(copyFileReplacing(source, target, Runnable, &error), qPrintable(error));
    QCOMPARE(readFile(target), QByteArray(300000, 'n'));
    QVERIFY(QFileInfo(target).permissions().testFlag(QFileDevice::ExeOwner));
    QVERIFY(QFileInfo(target).permissions().testFlag(QFileDevice::ExeGroup));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 2); // no temporary file left behind
}

void TestProgramFiles::failedCopyLeavesTheTargetAsItWas()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("KorvelBSA"));
    QVERIFY(writeFile(target, "old"));
    QString error;
    QVERIFY(!copyFileReplacing(dir.filePath(QStringLiteral("missing")), target, Runnable, &error));
    QVERIFY(error.contains(QStringLiteral("missing")));
    QCOMPARE(readFile(target), QByteArray("old"));
}

void TestProgramFiles::copyThatCannotBeWrittenWholeLeavesTheTargetAsItWas_data()
{
    QTest::addColumn<qint64>("limit"); // the size no file of the copying process can grow past
    QTest::addColumn<int>("size"); // of the new program
    QTest::addColumn<bool>("replaced");
    QTest::newRow("nothing can be written, as on a full disk") << qint64(0) << 10000 << false;
    QTest::newRow("the disk fills up inside the last block") << qint64(5000) << 10000 << false;
    QTest::newRow("the disk fills up inside a whole block") << qint64(100000) << 300000 << false;
    QTest::newRow("a program that fits replaces the target") << qint64(1 << 20) << 300000 << true;
}

// The updater puts the new program in the old one's place the same way: half a program would not start again.
void TestProgramFiles::copyThatCannotBeWrittenWholeLeavesTheTargetAsItWas()
{
    BSA_UNIX_ONLY("a limit on the size of files");
    QFETCH(qint64, limit);
    QFETCH(int, size);
    QFETCH(bool, replaced);
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("new"));
    const QString target = dir.filePath(QStringLiteral("KorvelBSA"));
    QVERIFY(writeFile(source, QByteArray(size, 'n')));
    QVERIFY(writeFile(target, "old"));

    const SizeLimitedWrite child = writeUnderSizeLimit(limit, { "copy", source, target });
    QVERIFY2(child.exitCode == (replaced ? 0 : 1), qPrintable(child.report));
    QCOMPARE(readFile(target), replaced ? QByteArray(size, 'n') : QByteArray("old"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({ "KorvelBSA", "new" }));
}

void TestProgramFiles::backupCopyReplacesTheEarlierOne()
{
    QTemporaryDir install;
    QTemporaryDir home;
    const QString program = install.filePath(QStringLiteral("KorvelBSA"));
    QVERIFY(writeFile(program, "versie 2"));
    QVERIFY(QFile::setPermissions(program, Runnable));
    QVERIFY(QDir(home.path()).mkdir(QStringLiteral("Backups")));
    QVERIFY(writeFile(home.filePath(QStringLiteral("Backups/KorvelBSA")), "versie 1"));

    QString error;
    QVERIFY2(copyProgramToBackups(program, home.path(), &error), qPrintable(error));
    const QString backup = home.filePath(QStringLiteral("Backups/KorvelBSA"));
    QCOMPARE(readFile(backup), QByteArray("versie 2"));
    QCOMPARE(QFileInfo(backup).isExecutable(), QFileInfo(program).isExecutable()); // Windows: by the name's .exe
}

void TestProgramFiles::backupOfAMissingProgramFails()
{
    QTemporaryDir home;
    QString error;
    QVERIFY(!copyProgramToBackups(home.filePath(QStringLiteral("KorvelBSA")), home.path(), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(QFileInfo(home.filePath(QStringLiteral("Backups"))).isDir()); // the folder is made all the same
}

void TestProgramFiles::programMayBeReplaced_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<bool>("replaceable");
    QTest::newRow("a program in a folder of its user") << "own" << true;
    QTest::newRow("a program installed by the package manager") << "/usr/bin/env" << false;
    if (::geteuid() != 0) // root may write into any folder
        QTest::newRow("a program in a read-only folder") << "read-only" << false;
}

void TestProgramFiles::programMayBeReplaced()
{
    QFETCH(QString, where);
    QFETCH(bool, replaceable);
    if (where != u"own")
        BSA_UNIX_ONLY("file modes that keep a user from writing in a folder");
    QTemporaryDir dir;
    QString program = where;
    if (where == u"own" || where == u"read-only") {
        program = dir.filePath(QStringLiteral("KorvelBSA"));
        QVERIFY(writeFile(program, "program"));
    }
    if (where == u"read-only")
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    QCOMPARE(canReplaceProgram(program), replaceable);
    QFile::setPermissions(dir.path(), Runnable);
}

QTEST_GUILESS_MAIN(TestProgramFiles)
#include "TestProgramFiles.moc"
