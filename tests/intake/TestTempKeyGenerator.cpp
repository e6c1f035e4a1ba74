#include <QtTest>

#include "intake/TempKeyGenerator.h"

// The temporary key by which the intake finds a new planning row again: its form, and that it never repeats.
class TestTempKeyGenerator final : public QObject
{
    Q_OBJECT
private slots:
    void hasTheFormThePlanningSideKnows_data();
    void hasTheFormThePlanningSideKnows();
    void neverRepeatsWithinOneSecond();
    void neverRepeatsAKeyOfAnEarlierRunInTheSameSecond();
    void neverRepeatsAKeyAfterTheClockWentBack();
};

void TestTempKeyGenerator::hasTheFormThePlanningSideKnows_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("key");
    QTest::newRow("month and second are repeated without their leading zeros")
        << QDateTime(QDate(2011, 1, 9), QTime(14, 5, 7)) << 42 << "P201101091405071742";
    QTest::newRow("the shortest key has 18 characters")
        << QDateTime(QDate(2011, 1, 9), QTime(14, 5, 0)) << 0 << "P20110109140500100";
    QTest::newRow("a two-digit month and second are repeated whole")
        << QDateTime(QDate(2025, 12, 31), QTime(23, 59, 59)) << 999 << "P202512312359591259999";
    QTest::newRow("a number past 999 simply gets longer")
        << QDateTime(QDate(2025, 12, 31), QTime(23, 59, 59)) << 1234 << "P2025123123595912591234";
}

void TestTempKeyGenerator::hasTheFormThePlanningSideKnows()
{
    QFETCH(QDateTime, now);
    QFETCH(int, number);
    QFETCH(QString, key);
    QCOMPARE(TempKeyGenerator::format(now, number), key);
}

void TestTempKeyGenerator::neverRepeatsWithinOneSecond()
{
    const QDateTime now(QDate(2011, 1, 9), QTime(14, 5, 7));
    TempKeyGenerator generator(now.addSecs(-60), nullptr);
    const QString prefix = QStringLiteral("P201101091405071");
    QSet<QString> keys;
    for (int i = 0; i < 2000; ++i) {
        const QString key = generator.next(now);
        QVERIFY2(key.startsWith(prefix + QLatin1Char('7')), qPrintable(key));
        bool number = false;
        key.mid(prefix.size() + 1).toInt(&number);
        QVERIFY2(number, qPrintable(key));
        QVERIFY2(!keys.contains(key), qPrintable(key));
        keys.insert(key);
    }
}

void TestTempKeyGenerator::neverRepeatsAKeyOfAnEarlierRunInTheSameSecond()
{
    const QDateTime now(QDate(2011, 1, 9), QTime(14, 5, 7));
    QSet<QString> stored;
    TempKeyGenerator earlier(now.addSecs(-1), nullptr);
    for (int i = 0; i < 1000; ++i)
        stored.insert(earlier.next(now));

    // The program restarts within the same second: the new run must step over what the earlier one stored.
    int lookups = 0;
    TempKeyGenerator restarted(now, [&](const QString &key) {
        ++lookups;
        return stored.contains(key);
    });
    for (int i = 0; i < 1000; ++i) {
        const QString key = restarted.next(now);
        QVERIFY2(!stored.contains(key), qPrintable(key));
        stored.insert(key);
    }
    QVERIFY(lookups > 0);
}

void TestTempKeyGenerator::neverRepeatsAKeyAfterTheClockWentBack()
{
    // Summer time ends: the local clock shows the same hour twice.
    const QDateTime first(QDate(2011, 10, 30), QTime(2, 30, 0));
    const QDateTime later = first.addSecs(5);
    QSet<QString> stored;
    TempKeyGenerator generator(first.addSecs(-10), [&](const QString &key) { return stored.contains(key); });
    for (const QDateTime &now : { first, later, first, later, first }) {
        for (int i = 0; i < 600; ++i) {
            const QString key = generator.next(now);
            QVERIFY2(!stored.contains(key), qPrintable(key));
            stored.insert(key);
        }
    }
}

QTEST_GUILESS_MAIN(TestTempKeyGenerator)
#include "TestTempKeyGenerator.moc"
