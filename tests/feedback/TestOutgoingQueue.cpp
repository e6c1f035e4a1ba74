#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

#include "feedback/OutgoingQueue.h"
#include "tests/support/SizeLimitedWrite.h"
#include "tests/support/UnixOnly.h"

// The outgoing queue and its files: what a later run (or an earlier version) finds after every change and after an
// interruption, what it makes of a damaged file, what a send costs in a long queue, and a queue that goes on
// working when its files cannot be written.
class TestOutgoingQueue final : public QObject
{
    Q_OBJECT
private slots:
    void aNextRunFindsWhatWaitsAfterEveryChange();
    void aSendWritesAsMuchWhateverTheQueueLength_data();
    void aSendWritesAsMuchWhateverTheQueueLength();
    void nextRunAfterAnInterruptionSendsTwiceNeverNot_data();
    void nextRunAfterAnInterruptionSendsTwiceNeverNot();
    void cutsTheSentLinesOnceTheyTakeMostOfTheFile();
    void nextRunFindsTheQueueAsItWas();
    void leavesTheFileAloneUntilItWasRead();
    void restoresWhatCanBeAMessageAndReportsTheRest_data();
    void restoresWhatCanBeAMessageAndReportsTheRest();
    void keepsWorkingWhenTheFileCannotBeWritten();
    void fileThatCannotBeWrittenWholeStaysAsItWas_data();
    void fileThatCannotBeWrittenWholeStaysAsItWas();
    void takesBackOnlyTheLineJustAppended();
    void setsAsideAFileThatCannotBeRead();
    void aSendAtAFullDiskLosesNothing_data();
    void aSendAtAFullDiskLosesNothing();
    void makesItsFolderAgain_data();
    void makesItsFolderAgain();
    void neverFollowsASymbolicLink_data();
    void neverFollowsASymbolicLink();
    void createsItsFilesForItsOwnerOnly_data();
    void createsItsFilesForItsOwnerOnly();
    void keepsTheModeOfFilesThatExist();
};

namespace {
QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<no file>");
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

QByteArray asFile(const QStringList &lines)
{
    QByteArray bytes;
    for (const QString &line : lines)
        bytes += line.toLatin1() + "\r\n";
    return bytes;
}

// What the next run would send if the link stopped now: its restore of a copy of the queue's folder.
QStringList nextRun(const QString &folder)
{
    QTemporaryDir copy;
    for (const QString &name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        QFile::copy(QDir(folder).filePath(name), copy.filePath(name));
    OutgoingQueue queue(copy.path());
    queue.restore();
    return queue.lines();
}

// An earlier version, put back by an update rollback: it reads the whole file as its queue, knowing nothing of the
// progress file, sends `sent` lines, queues `queued` and writes the file anew at every change.
void runEarlierVersion(const QString &fileName, int sent, const QStringList &queued)
{
    QStringList lines = QString::fromLatin1(readFile(fileName)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    lines = lines.mid(sent) + queued;
    writeFile(fileName, asFile(lines));
}

// The bytes this process handed to write() so far; -1 where the system does not count them.
qint64 bytesWritten()
{
    QFile io(QStringLiteral("/proc/self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n')) {
        if (line.startsWith("wchar: "))
            return line.mid(7).toLongLong();
    }
    return -1;
}

QStringList hexLines(int count, int length)
{
    QStringList lines;
    for (int i = 0; i < count; ++i)
        lines << QString::number(i, 16).toUpper().rightJustified(length, QLatin1Char('4'));
    return lines;
}

bool anyContains(const QSignalSpy &logged, const QString &text)
{
    for (const QList<QVariant> &line : logged) {
        if (line.at(0).toString().contains(text))
            return true;
    }
    return false;
}
} // namespace

void TestOutgoingQueue::aNextRunFindsWhatWaitsAfterEveryChange()
{
    QTemporaryDir folder;
    OutgoingQueue queue(folder.path());
    QSignalSpy changed(&queue, &OutgoingQueue::changed);
    QSignalSpy logged(&queue, &OutgoingQueue::logLine);
    queue.restore(); // no file: an empty queue
    QVERIFY(queue.isEmpty());

    const auto check = [&](const QStringList &waiting) {
        QCOMPARE(queue.lines(), waiting);
        QCOMPARE(nextRun(folder.path()), waiting);
        // An earlier version reads the whole file: what waits is at its end, after the lines sent.
        QVERIFY2(readFile(queue.fileName()).endsWith(asFile(waiting)), readFile(queue.fileName()).constData());
    };
    queue.append(QStringLiteral("4254"));
    QCOMPARE(readFile(queue.fileName()), QByteArray("4254\r\n"));
    queue.append(QStringLiteral("414309"));
    QCOMPARE(readFile(queue.fileName()), QByteArray("4254\r\n414309\r\n"));
    QCOMPARE(queue.first(), QStringLiteral("4254"));
    queue.append(QStringLiteral("4142"));
    check({ "4254", "414309", "4142" });
    queue.removeFirst();
    check({ "414309", "4142" });
    queue.removeFirst();
    check({ "4142" });
    queue.append(QStringLiteral("4343"));
    check({ "4142", "4343" });
    QVERIFY(queue.takeBackLast(QStringLiteral("4343")));
    check({ "4142" });
    queue.removeFirst();
    check({});
    // A queue sent to its end leaves an empty file and nothing else.
    QCOMPARE(readFile(queue.fileName()), QByteArray());
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList { OutgoingQueue::FileName });
    queue.removeFirst(); // nothing left: nothing changes

    QCOMPARE(changed.count(), 9); // the restore and eight changes
    QCOMPARE(changed.at(2).at(0).toStringList(), QStringList({ "4254", "414309" }));
    QCOMPARE(logged.count(), 0);
}

void TestOutgoingQueue::aSendWritesAsMuchWhateverTheQueueLength_data()
{
    QTest::addColumn<int>("waiting");
    QTest::newRow("ten lines") << 10;
    QTest::newRow("twenty thousand lines") << 20000;
}

// A host down for days leaves a long queue; sending from it must not write the whole file every second.
void TestOutgoingQueue::aSendWritesAsMuchWhateverTheQueueLength()
{
    BSA_UNIX_ONLY("/proc, where a process counts the bytes it wrote");
    QFETCH(int, waiting);
    if (bytesWritten() < 0)
        QSKIP("this system does not count the bytes a process writes");
    QTemporaryDir folder;
    OutgoingQueue queue(folder.path());
    const QStringList lines = hexLines(waiting, 680);
    writeFile(queue.fileName(), asFile(lines));
    queue.restore();
    const QByteArray before = readFile(queue.fileName());

    for (int sent = 1; sent <= 3; ++sent) {
        const qint64 writtenBefore = bytesWritten();
        queue.removeFirst();
        const qint64 written = bytesWritten() - writtenBefore;
        // The progress file: the count of bytes sent and a hash of 32 bytes in hexadecimal.
        QVERIFY2(written > 0 && written < 100, qPrintable(QString::number(written)));
        QVERIFY(QFileInfo(queue.progressFileName()).size() < 100);
        QCOMPARE(nextRun(folder.path()), lines.mid(sent));
    }
    QCOMPARE(readFile(queue.fileName()), before);
}

void TestOutgoingQueue::nextRunAfterAnInterruptionSendsTwiceNeverNot_data()
{
    QTest::addColumn<QStringList>("queued");
    QTest::addColumn<int>("sent"); // by this link, before it stopped
    QTest::addColumn<bool>("lastSendRecorded"); // false: it stopped before the progress file took the last send
    QTest::addColumn<int>("sentByEarlierVersion"); // -1: no earlier version ran in between
    QTest::addColumn<QStringList>("queuedByEarlierVersion");
    QTest::addColumn<QByteArray>("progressFile"); // written over the progress file when not empty
    QTest::addColumn<QStringList>("restored");

    const QStringList abcd { "4141", "424242", "4343", "444444" };
    QTest::newRow("a crash after two sends sends the rest")
        << abcd << 2 << true << -1 << QStringList() << QByteArray() << QStringList { "4343", "444444" };
    QTest::newRow("a send the progress file missed goes again")
        << abcd << 2 << false << -1 << QStringList() << QByteArray() << abcd.mid(1);
    QTest::newRow("an earlier version that sent a line and wrote the file anew: all of it goes")
        << abcd << 2 << true << 1 << QStringList() << QByteArray() << abcd.mid(1);
    QTest::newRow("an earlier version that sent everything and queued a line: the line goes")
        << abcd << 2 << true << 4 << QStringList { "4545" } << QByteArray() << QStringList { "4545" };
    // The file starts with the line the link counted as sent: the host had it twice already, once from each.
    QTest::newRow("an earlier version sent everything and queued the same lines again") << QStringList { "4141",
        "4242" } << 1 << true << 2 << QStringList { "4141", "4242" } << QByteArray() << QStringList { "4242" };
    // The link sent the first two, the earlier version the first once more: the host had three of the four,
    // whichever order, and the last follows.
    QTest::newRow("an earlier version left lines like the sent ones at the start") << QStringList { "4141", "4141",
        "4141", "4242" } << 2 << true << 1 << QStringList() << QByteArray() << QStringList { "4242" };
    QTest::newRow("a damaged progress file: all of it goes")
        << abcd << 2 << true << -1 << QStringList() << QByteArray("14 xyz\r\n") << abcd;
    QTest::newRow("progress past the file's end: all of it goes")
        << abcd << 2 << true << -1 << QStringList() << QByteArray("999 " + QByteArray(64, '0') + "\r\n") << abcd;
    QTest::newRow("progress in the middle of a line: all of it goes")
        << abcd << 2 << true << -1 << QStringList() << QByteArray("3 " + QByteArray(64, '0') + "\r\n") << abcd;
}

void TestOutgoingQueue::nextRunAfterAnInterruptionSendsTwiceNeverNot()
{
    QFETCH(QStringList, queued);
    QFETCH(int, sent);
    QFETCH(bool, lastSendRecorded);
    QFETCH(int, sentByEarlierVersion);
    QFETCH(QStringList, queuedByEarlierVersion);
    QFETCH(QByteArray, progressFile);
    QFETCH(QStringList, restored);
    QTemporaryDir folder;
    {
        OutgoingQueue queue(folder.path());
        queue.restore();
        for (const QString &line : queued)
            queue.append(line);
        QByteArray progressBefore;
        for (int i = 0; i < sent; ++i) {
            progressBefore = readFile(queue.progressFileName());
            queue.removeFirst();
        }
        if (!lastSendRecorded)
            writeFile(queue.progressFileName(), progressBefore);
    }
    OutgoingQueue again(folder.path());
    if (sentByEarlierVersion >= 0)
        runEarlierVersion(again.fileName(), sentByEarlierVersion, queuedByEarlierVersion);
    if (!progressFile.isEmpty())
        writeFile(again.progressFileName(), progressFile);
    QSignalSpy logged(&again, &OutgoingQueue::logLine);
    again.restore();
    QCOMPARE(again.lines(), restored);
    if (!progressFile.isEmpty())
        QVERIFY(anyContains(logged, QStringLiteral("past niet bij")));
    // What counted the sent lines of another file never counts again.
    QCOMPARE(nextRun(folder.path()), restored);
}

void TestOutgoingQueue::cutsTheSentLinesOnceTheyTakeMostOfTheFile()
{
    QTemporaryDir folder;
    OutgoingQueue queue(folder.path());
    const int length = 20000;
    const qint64 lineBytes = length + 2;
    const QStringList lines = hexLines(int(3 * OutgoingQueue::CompactBytes / lineBytes), length);
    writeFile(queue.fileName(), asFile(lines));
    queue.restore();
    const qint64 whole = QFileInfo(queue.fileName()).size();
    for (int sent = 1; sent <= lines.size(); ++sent) {
        queue.removeFirst();
        const qint64 sentBytes = sent * lineBytes;
        if (sentBytes <= OutgoingQueue::CompactBytes || sentBytes <= whole - sentBytes) {
            QCOMPARE(QFileInfo(queue.fileName()).size(), whole);
            continue;
        }
        QCOMPARE(readFile(queue.fileName()), asFile(lines.mid(sent)));
        QVERIFY(!QFileInfo::exists(queue.progressFileName()));
        queue.removeFirst();
        QCOMPARE(nextRun(folder.path()), lines.mid(sent + 1));
        return;
    }
    QFAIL("the sent lines were never cut from the file");
}

void TestOutgoingQueue::nextRunFindsTheQueueAsItWas()
{
    QTemporaryDir folder;
    {
        OutgoingQueue queue(folder.path());
        queue.restore();
        queue.append(QStringLiteral("4254"));
        queue.append(QStringLiteral("4142"));
    }
    OutgoingQueue again(folder.path());
    QSignalSpy logged(&again, &OutgoingQueue::logLine);
    QSignalSpy changed(&again, &OutgoingQueue::changed);
    again.restore();
    QCOMPARE(again.lines(), QStringList({ "4254", "4142" }));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(logged.count(), 1);
    QVERIFY2(logged.first().at(0).toString().startsWith(QStringLiteral("Pakket UIT: 2 bericht(en) hersteld uit ")),
        qPrintable(logged.first().at(0).toString()));
}

void TestOutgoingQueue::leavesTheFileAloneUntilItWasRead()
{
    QTemporaryDir folder;
    OutgoingQueue queue(folder.path());
    writeFile(queue.fileName(), "4254\r\n");
    queue.append(QStringLiteral("4142"));
    QCOMPARE(readFile(queue.fileName()), QByteArray("4254\r\n"));
    queue.restore();
    QCOMPARE(queue.lines(), QStringList { "4254" });
}

void TestOutgoingQueue::restoresWhatCanBeAMessageAndReportsTheRest_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("restored");
    QTest::addColumn<QStringList>("reported"); // the start of each line logged, in order

    QTest::newRow("lines written by the link") << QByteArray("4254\r\n4142\r\n") << QStringList { "4254", "4142" }
                                               << QStringList { "Pakket UIT: 2 bericht(en) hersteld" };
    QTest::newRow("lines ending in LF alone") << QByteArray("4254\n4142\n") << QStringList { "4254", "4142" }
                                              << QStringList { "Pakket UIT: 2 bericht(en) hersteld" };
    QTest::newRow("an empty file is an empty queue") << QByteArray() << QStringList() << QStringList();
    QTest::newRow("empty lines are skipped")
        << QByteArray("\r\n4254\r\n\r\n") << QStringList { "4254" } << QStringList { "Pakket UIT: 1 bericht(en)" };
    QTest::newRow("a last line cut off without its line end is left out")
        << QByteArray("4254\r\n4142") << QStringList { "4254" }
        << QStringList { "Pakket UIT: regel 2 van ", "Pakket UIT: 1 bericht(en)" };
    QTest::newRow("a line of another kind is left out and shown")
        << QByteArray("4254\r\nhallo\r\n4142\r\n") << QStringList { "4254", "4142" }
        << QStringList { "Pakket UIT: regel 2 van ", "Pakket UIT: 2 bericht(en)" };
    QTest::newRow("an odd number of digits is left out")
        << QByteArray("425\r\n") << QStringList() << QStringList { "Pakket UIT: regel 1 van " };
    QTest::newRow("lower-case digits are not the link's")
        << QByteArray("4a\r\n") << QStringList() << QStringList { "Pakket UIT: regel 1 van " };
    QTest::newRow("binary rubbish is left out")
        << QByteArray("\x00\xff\x10\r\n", 5) << QStringList() << QStringList { "Pakket UIT: regel 1 van " };
}

void TestOutgoingQueue::restoresWhatCanBeAMessageAndReportsTheRest()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, restored);
    QFETCH(QStringList, reported);
    QTemporaryDir folder;
    OutgoingQueue queue(folder.path());
    writeFile(queue.fileName(), file);
    QSignalSpy logged(&queue, &OutgoingQueue::logLine);
    queue.restore();
    QCOMPARE(queue.lines(), restored);
    QCOMPARE(logged.count(), reported.size());
    for (int i = 0; i < reported.size(); ++i)
        QVERIFY2(logged.at(i).at(0).toString().startsWith(reported.at(i)), qPrintable(logged.at(i).at(0).toString()));
    // The file now holds just what the queue holds: a line left out is in the log, not sent.
    QByteArray expected;
    for (const QString &line : restored)
        expected += line.toLatin1() + "\r\n";
    QCOMPARE(readFile(queue.fileName()), expected);
}

void TestOutgoingQueue::keepsWorkingWhenTheFileCannotBeWritten()
{
    QTemporaryDir home;
    // The queue's folder is a file: nothing can be written there, whoever runs the test.
    const QString folder = home.filePath(QStringLiteral("UIT"));
    writeFile(folder, "not a folder");
    OutgoingQueue queue(folder);
    QSignalSpy logged(&queue, &OutgoingQueue::logLine);
    queue.restore();
    queue.append(QStringLiteral("4254"));
    queue.append(QStringLiteral("4142"));
    QCOMPARE(queue.lines(), QStringList({ "4254", "4142" }));
    queue.removeFirst();
    QCOMPARE(queue.lines(), QStringList { "4142" });
    // The reason is logged once, not at every change.
    QCOMPARE(logged.count(), 1);
    const QString reason = logged.first().at(0).toString();
    QVERIFY2(reason.startsWith(QStringLiteral("Pakket UIT kan niet bewaard worden in "))
            && reason.contains(QDir::toNativeSeparators(folder)),
        qPrintable(reason));
    QCOMPARE(readFile(folder), QByteArray("not a folder"));

    // Once the folder is there, the queue is written whole and says so, without waiting for the next change (a
    // second after the failure, then at longer intervals); the next change is appended to it.
    QVERIFY(QFile::remove(folder));
    QVERIFY(QDir(home.path()).mkdir(QStringLiteral("UIT")));
    QTRY_COMPARE_WITH_TIMEOUT(readFile(queue.fileName()), QByteArray("4142\r\n"), 10000);
    QVERIFY(queue.isSaved());
    QCOMPARE(logged.count(), 2);
    QVERIFY(logged.at(1).at(0).toString().startsWith(QStringLiteral("Pakket UIT wordt weer bewaard in ")));
    queue.append(QStringLiteral("4343"));
    QCOMPARE(readFile(queue.fileName()), QByteArray("4142\r\n4343\r\n"));
    QCOMPARE(logged.count(), 2);
}

void TestOutgoingQueue::fileThatCannotBeWrittenWholeStaysAsItWas_data()
{
    QTest::addColumn<qint64>("limit"); // the size no file of the writing process can grow past
    QTest::addColumn<int>("lineLength"); // of the line appended
    QTest::addColumn<bool>("replaced");
    QTest::newRow("nothing can be written, as on a full disk") << qint64(0) << 8 << false;
    QTest::newRow("the disk fills up inside the new line") << qint64(10) << 8 << false;
    QTest::newRow("the disk fills up after more than one write buffer") << qint64(20000) << 40000 << false;
    QTest::newRow("a queue that fits replaces the file") << qint64(1 << 20) << 40000 << true;
}

// A full disk must not cost the lines that were already waiting for the host.
void TestOutgoingQueue::fileThatCannotBeWrittenWholeStaysAsItWas()
{
    BSA_UNIX_ONLY("a limit on the size of files");
    QFETCH(qint64, limit);
    QFETCH(int, lineLength);
    QFETCH(bool, replaced);
    QTemporaryDir folder;
    const QString fileName = QDir(folder.path()).filePath(QLatin1String(OutgoingQueue::FileName));
    const QByteArray before = "4254\r\n414309\r\n";
    writeFile(fileName, before);
    const QString line(lineLength, QLatin1Char('A'));

    const SizeLimitedWrite child = writeUnderSizeLimit(limit, { "queue", folder.path(), line });
    if (replaced) {
        QVERIFY2(child.exitCode == 0, qPrintable(child.report));
        QCOMPARE(readFile(fileName), before + line.toLatin1() + "\r\n");
    } else {
        QVERIFY2(child.exitCode == 1, qPrintable(child.report));
        QVERIFY2(
            child.report.startsWith(
                QStringLiteral("Pakket UIT kan niet bewaard worden in %1: ").arg(QDir::toNativeSeparators(fileName))),
            qPrintable(child.report));
        QCOMPARE(readFile(fileName), before);
    }
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList { OutgoingQueue::FileName });
}

void TestOutgoingQueue::takesBackOnlyTheLineJustAppended()
{
    QTemporaryDir folder;
    OutgoingQueue queue(folder.path());
    queue.restore();
    queue.append(QStringLiteral("4254"));
    queue.append(QStringLiteral("4142"));
    QVERIFY(!queue.takeBackLast(QStringLiteral("4254"))); // not the last line
    QVERIFY(queue.takeBackLast(QStringLiteral("4142")));
    QCOMPARE(queue.lines(), QStringList { "4254" });
    QCOMPARE(readFile(queue.fileName()), QByteArray("4254\r\n"));
}

// What an earlier run left in a file that cannot be read is not written over by the next change of the queue.
void TestOutgoingQueue::setsAsideAFileThatCannotBeRead()
{
    QTemporaryDir dir;
    OutgoingQueue queue(dir.path());
    QSignalSpy logged(&queue, &OutgoingQueue::logLine);
    // A folder stands where the file belongs, with what someone may still want to rescue.
    QVERIFY(QDir().mkpath(queue.fileName()));
    writeFile(QDir(queue.fileName()).filePath(QStringLiteral("inhoud")), "4254\r\n");
    queue.restore();
    QCOMPARE(logged.size(), 1);
    const QString line = logged.first().first().toString();
    QVERIFY2(
        line.startsWith(QStringLiteral("Pakket UIT kan niet gelezen worden uit ")) && line.contains("apart gezet als"),
        qPrintable(line));
    const QStringList aside = QDir(dir.path()).entryList({ QStringLiteral("*.ONLEESBAAR") }, QDir::Dirs);
    QCOMPARE(aside.size(), 1);
    QCOMPARE(readFile(QDir(dir.filePath(aside.first())).filePath(QStringLiteral("inhoud"))), QByteArray("4254\r\n"));

    queue.append(QStringLiteral("4243"));
    QVERIFY(queue.isSaved());
    QCOMPARE(readFile(queue.fileName()), QByteArray("4243\r\n"));
}

void TestOutgoingQueue::aSendAtAFullDiskLosesNothing_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("length"); // of each line waiting
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<int>("sent");
    QTest::addColumn<bool>("reported");
    QTest::addColumn<bool>("fileKept");
    QTest::addColumn<int>("restoredFrom"); // the first line a next run sends
    QTest::newRow("a send that cannot be recorded goes again") << 3 << 8 << qint64(0) << 1 << true << true << 0;
    QTest::newRow("a send recorded") << 3 << 8 << qint64(1 << 20) << 1 << false << true << 1;
    QTest::newRow("the last send empties the file, which needs no room")
        << 3 << 8 << qint64(0) << 3 << true << false << 3;
    // The lines still waiting take more room than the disk has left.
    QTest::newRow("the sent lines cannot be cut from the file: the count stays")
        << 157 << 20000 << qint64(1 << 20) << 79 << true << true << 79;
}

void TestOutgoingQueue::aSendAtAFullDiskLosesNothing()
{
    BSA_UNIX_ONLY("a limit on the size of files");
    QFETCH(int, count);
    QFETCH(int, length);
    QFETCH(qint64, limit);
    QFETCH(int, sent);
    QFETCH(bool, reported);
    QFETCH(bool, fileKept);
    QFETCH(int, restoredFrom);
    QTemporaryDir folder;
    const QString fileName = QDir(folder.path()).filePath(QLatin1String(OutgoingQueue::FileName));
    const QStringList lines = hexLines(count, length);
    writeFile(fileName, asFile(lines));

    const SizeLimitedWrite child = writeUnderSizeLimit(limit, { "send", folder.path(), QString::number(sent) });
    QVERIFY2(child.exitCode == (reported ? 1 : 0), qPrintable(child.report));
    if (reported)
        QVERIFY2(child.report.startsWith(QStringLiteral("Pakket UIT kan niet bewaard worden in ")),
            qPrintable(child.report));
    QCOMPARE(readFile(fileName), fileKept ? asFile(lines) : QByteArray());
    QCOMPARE(nextRun(folder.path()), lines.mid(restoredFrom));
}

void TestOutgoingQueue::makesItsFolderAgain_data()
{
    QTest::addColumn<bool>("send"); // false: a line is queued
    QTest::addColumn<QStringList>("waiting");
    QTest::newRow("a line queued") << false << QStringList { "4142", "4343", "4444" };
    QTest::newRow("a line sent") << true << QStringList { "4343" };
}

// An operator cleaning the backups removes the folder while the link runs.
void TestOutgoingQueue::makesItsFolderAgain()
{
    QFETCH(bool, send);
    QFETCH(QStringList, waiting);
    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral("BSA/BACKUPS/UIT"));
    QVERIFY(QDir().mkpath(folder));
    OutgoingQueue queue(folder);
    QSignalSpy logged(&queue, &OutgoingQueue::logLine);
    queue.restore();
    for (const char *line : { "4141", "4142", "4343" })
        queue.append(line);
    queue.removeFirst();
    QVERIFY(QDir(home.filePath(QStringLiteral("BSA/BACKUPS"))).removeRecursively());

    if (send)
        queue.removeFirst();
    else
        queue.append(QStringLiteral("4444"));
    QVERIFY(queue.isSaved());
    QCOMPARE(queue.lines(), waiting);
    QCOMPARE(nextRun(folder), waiting);
    QCOMPARE(logged.count(), 1);
    QVERIFY2(logged.first().at(0).toString().contains(QStringLiteral("opnieuw aangemaakt")),
        qPrintable(logged.first().at(0).toString()));
}

void TestOutgoingQueue::neverFollowsASymbolicLink_data()
{
    QTest::addColumn<bool>("progressFile"); // false: the queue's own file
    QTest::addColumn<bool>("atStart"); // false: put there while the link runs
    QTest::addColumn<bool>("targetExists");
    QTest::newRow("the queue's file at the start") << false << true << true;
    QTest::newRow("the queue's file at the start, pointing nowhere") << false << true << false;
    QTest::newRow("the queue's file while the link runs") << false << false << true;
    QTest::newRow("the queue's file while the link runs, pointing nowhere") << false << false << false;
    QTest::newRow("the progress file at the start") << true << true << true;
    QTest::newRow("the progress file while the link runs") << true << false << true;
    QTest::newRow("the progress file while the link runs, pointing nowhere") << true << false << false;
}

void TestOutgoingQueue::neverFollowsASymbolicLink()
{
    BSA_UNIX_ONLY("symbolic links a user may make");
    QFETCH(bool, progressFile);
    QFETCH(bool, atStart);
    QFETCH(bool, targetExists);
    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral("UIT"));
    QVERIFY(QDir().mkpath(folder));
    // Someone else's file, which holds what a queue could hold.
    const QString target = home.filePath(QStringLiteral("doel.txt"));
    const QByteArray targetBytes = "5A5A\r\n";
    if (targetExists)
        writeFile(target, targetBytes);
    OutgoingQueue queue(folder);
    const QString link = progressFile ? queue.progressFileName() : queue.fileName();
    QSignalSpy logged(&queue, &OutgoingQueue::logLine);
    if (atStart) {
        if (progressFile) {
            writeFile(queue.fileName(), "4141\r\n4242\r\n4343\r\n");
            OutgoingQueue earlier(folder);
            earlier.restore();
            earlier.removeFirst(); // a real progress file, which the link then finds behind a link
            QVERIFY(QFile::rename(link, home.filePath(QStringLiteral("echt"))));
        }
        QVERIFY(QFile::link(target, link));
        queue.restore();
        QVERIFY(!queue.lines().contains(QStringLiteral("5A5A")));
        queue.append(QStringLiteral("4444"));
        queue.removeFirst();
    } else {
        queue.restore();
        queue.append(QStringLiteral("4141"));
        queue.append(QStringLiteral("4242"));
        QVERIFY(QFile::remove(link) || progressFile);
        QVERIFY(QFile::link(target, link));
        if (progressFile) {
            queue.removeFirst();
        } else {
            queue.append(QStringLiteral("4343"));
            QVERIFY(!queue.isSaved());
        }
    }
    QVERIFY2(anyContains(logged, QStringLiteral("symbolische koppeling")),
        qPrintable(logged.isEmpty() ? QStringLiteral("nothing logged") : logged.last().at(0).toString()));
    if (targetExists)
        QCOMPARE(readFile(target), targetBytes);
    else
        QVERIFY(!QFileInfo::exists(target));
}

void TestOutgoingQueue::createsItsFilesForItsOwnerOnly_data()
{
    QTest::addColumn<int>("mask");
    QTest::newRow("a umask that takes nothing away") << 0;
    QTest::newRow("the usual umask") << 022;
    QTest::newRow("a umask that takes the owner's writing away") << 0277;
}

// The queue holds passengers' names and addresses.
void TestOutgoingQueue::createsItsFilesForItsOwnerOnly()
{
#ifdef Q_OS_UNIX
    QFETCH(int, mask);
    QTemporaryDir folder;
    OutgoingQueue queue(folder.path());
    queue.restore();
    const mode_t before = ::umask(mode_t(mask));
    queue.append(QStringLiteral("4141"));
    queue.append(QStringLiteral("4242"));
    queue.append(QStringLiteral("4343"));
    queue.removeFirst();
    const bool saved = queue.isSaved();
    ::umask(before);
    QVERIFY(saved);
    const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    // Qt's permissions name the owner twice, as owner and as user.
    const auto mode = [](const QString &path) {
        return QFileInfo(path).permissions() & ~QFileDevice::ReadUser & ~QFileDevice::WriteUser & ~QFileDevice::ExeUser;
    };
    QCOMPARE(mode(queue.fileName()), ownerOnly);
    QCOMPARE(mode(queue.progressFileName()), ownerOnly);
    // Written anew once everything was sent.
    queue.removeFirst();
    queue.removeFirst();
    QCOMPARE(readFile(queue.fileName()), QByteArray());
    QCOMPARE(mode(queue.fileName()), ownerOnly);
#else
    QSKIP("no umask on Windows");
#endif
}

// An administrator may have given the files to a group on purpose.
void TestOutgoingQueue::keepsTheModeOfFilesThatExist()
{
    BSA_UNIX_ONLY("file modes that keep others from reading a file");
    QTemporaryDir folder;
    OutgoingQueue queue(folder.path());
    const QFileDevice::Permissions shared = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
        | QFileDevice::WriteUser | QFileDevice::ReadGroup;
    writeFile(queue.fileName(), "4141\r\n4242\r\n4343\r\n");
    writeFile(queue.progressFileName(), "");
    QVERIFY(QFile::setPermissions(queue.fileName(), shared));
    QVERIFY(QFile::setPermissions(queue.progressFileName(), shared));
    queue.restore(); // an empty progress file counts nothing and goes
    queue.append(QStringLiteral("4444"));
    queue.removeFirst();
    QCOMPARE(QFileInfo(queue.fileName()).permissions(), shared);
    QVERIFY(QFile::setPermissions(queue.progressFileName(), shared));
    queue.removeFirst();
    QCOMPARE(QFileInfo(queue.progressFileName()).permissions(), shared);
    queue.removeFirst();
    queue.removeFirst(); // the file written anew
    QCOMPARE(readFile(queue.fileName()), QByteArray());
    QCOMPARE(QFileInfo(queue.fileName()).permissions(), shared);
}

QTEST_GUILESS_MAIN(TestOutgoingQueue)
#include "TestOutgoingQueue.moc"
