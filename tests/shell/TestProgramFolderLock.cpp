#include <QCoreApplication>
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include "shell/ProgramFolderLock.h"

// One program per folder: the lock of a running copy keeps a second one out, a lock left behind does not.
class TestProgramFolderLock final : public QObject
{
    Q_OBJECT

private slots:
    void aSecondLockOnTheFolderIsRefused();
    void aLeftLockNamingThisProcessIsTakenOver();
};

void TestProgramFolderLock::aSecondLockOnTheFolderIsRefused()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    ProgramFolderLock first(folder.path());
    QString reason;
    QCOMPARE(first.take(&reason), ProgramFolderLock::Outcome::Held);
    ProgramFolderLock second(folder.path());
    QCOMPARE(second.take(&reason), ProgramFolderLock::Outcome::InUse);
    QVERIFY2(reason.startsWith(QStringLiteral("KorvelBSA draait al in deze map: ")), qPrintable(reason));
}

void TestProgramFolderLock::aLeftLockNamingThisProcessIsTakenOver()
{
    // A copy that was killed left its lock; this run was given the same process number (Wine hands the small
    // numbers out again at once, a service's fresh process namespace starts at the same number). The process named
    // in the lock runs and has the right name, yet it is this one: the lock is left over, not held.
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QFile left(folder.filePath(QLatin1String(ProgramFolderLock::FileName)));
    QVERIFY(left.open(QIODevice::WriteOnly));
    left.write(QByteArray::number(QCoreApplication::applicationPid()) + '\n'
        + QCoreApplication::applicationName().toUtf8() + '\n' + QSysInfo::machineHostName().toUtf8() + '\n'
        + QSysInfo::machineUniqueId() + '\n' + QSysInfo::bootUniqueId() + '\n');
    left.close();

    ProgramFolderLock lock(folder.path());
    QString reason;
    QCOMPARE(lock.take(&reason), ProgramFolderLock::Outcome::Held);
    ProgramFolderLock second(folder.path());
    QCOMPARE(second.take(&reason), ProgramFolderLock::Outcome::InUse); // and it is truly held now
}

QTEST_GUILESS_MAIN(TestProgramFolderLock)
#include "TestProgramFolderLock.moc"
