#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "feedback/OutgoingQueue.h"
#include "tests/support/SizeLimitedWrite.h"

// The outgoing queue and its file: what a later run finds after every change, what it makes of a damaged file,
// and a queue that goes on working when its file cannot be written.
class TestOutgoingQueue final : public QObject
{
    Q_OBJECT
private slots:
    void fileHoldsTheQueueAfterEveryChange();
    void nextRunFindsTheQueueAsItWas();
    void leavesTheFileAloneUntilItWasRead();
    void restoresWhatCanBeAMessageAndReportsTheRest_data();
    void restoresWhatCanBeAMessageAndReportsTheRest();
    void keepsWorkingWhenTheFileCannotBeWritten();
    void fileThatCannotBeWrittenWholeStaysAsItWas_data();
    void fileThatCannotBeWrittenWholeStaysAsItWas();
    void takesBackOnlyTheLineJustAppended();
    void setsAsideAFileThatCannotBeRead();
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
} // namespace

void TestOutgoingQueue::fileHoldsTheQueueAfterEveryChange()
{
    QTemporaryDir folder;
    OutgoingQueue queue(folder.path());
    QSignalSpy changed(&queue, &OutgoingQueue::changed);
    QSignalSpy logged(&queue, &OutgoingQueue::logLine);
    queue.restore(); // no file: an empty queue
    QVERIFY(queue.isEmpty());

    queue.append(QStringLiteral("4254"));
    QCOMPARE(readFile(queue.fileName()), QByteArray("4254\r\n"));
    queue.append(QStringLiteral("414309"));
    QCOMPARE(readFile(queue.fileName()), QByteArray("4254\r\n414309\r\n"));
    QCOMPARE(queue.first(), QStringLiteral("4254"));
    queue.removeFirst();
    QCOMPARE(readFile(queue.fileName()), QByteArray("414309\r\n"));
    queue.removeFirst();
    QCOMPARE(readFile(queue.fileName()), QByteArray());
    queue.removeFirst(); // nothing left: nothing changes

    QCOMPARE(changed.count(), 5); // the restore and four changes
    QCOMPARE(changed.at(2).at(0).toStringList(), QStringList({ "4254", "414309" }));
    QCOMPARE(logged.count(), 0);
    // Nothing of the writing is left behind beside the file.
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList { OutgoingQueue::FileName });
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
    QVERIFY2(reason.startsWith(QStringLiteral("Pakket UIT kan niet bewaard worden in ")) && reason.contains(folder),
        qPrintable(reason));
    QCOMPARE(readFile(folder), QByteArray("not a folder"));

    // Once the folder is there, the next change writes the whole queue and says so.
    QVERIFY(QFile::remove(folder));
    QVERIFY(QDir(home.path()).mkdir(QStringLiteral("UIT")));
    queue.append(QStringLiteral("4343"));
    QCOMPARE(readFile(queue.fileName()), QByteArray("4142\r\n4343\r\n"));
    QCOMPARE(logged.count(), 2);
    QVERIFY(logged.at(1).at(0).toString().startsWith(QStringLiteral("Pakket UIT wordt weer bewaard in ")));
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

QTEST_GUILESS_MAIN(TestOutgoingQueue)
#include "TestOutgoingQueue.moc"
