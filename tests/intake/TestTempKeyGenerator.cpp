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
    void neverRepeatsAKeyAfterTheClockWentBack_data();
    void neverRepeatsAKeyAfterTheClockWentBack();
    void reportsALookupThatFailed();
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

namespace {
// The keys stored in planning, as the generator asks about them.
TempKeyGenerator::KeyInUse storedIn(const QSet<QString> &stored, int *lookups = nullptr)
{
    return [&stored, lookups](const QString &key, QString *) -> std::optional<bool> {
        if (lookups)
            ++*lookups;
        return stored.contains(key);
    };
}

QString nextKey(TempKeyGenerator &generator, const QDateTime &now)
{
    QString error;
    const std::optional<QString> key = generator.next(now, &error);
    return key ? *key : QStringLiteral("error: ") + error;
}
} // namespace

void TestTempKeyGenerator::neverRepeatsWithinOneSecond()
{
    const QDateTime now(QDate(2011, 1, 9), QTime(14, 5, 7));
    TempKeyGenerator generator(nullptr);
    const QString prefix = QStringLiteral("P201101091405071");
    QSet<QString> keys;
    for (int i = 0; i < 2000; ++i) {
        const QString key = nextKey(generator, now);
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
    TempKeyGenerator earlier(nullptr);
    for (int i = 0; i < 1000; ++i)
        stored.insert(nextKey(earlier, now));

    // The program restarts within the same second: the new run must step over what the earlier one stored.
    int lookups = 0;
    TempKeyGenerator restarted(storedIn(stored, &lookups));
    for (int i = 0; i < 1000; ++i) {
        const QString key = nextKey(restarted, now);
        QVERIFY2(!stored.contains(key), qPrintable(key));
        stored.insert(key);
    }
    QVERIFY(lookups > 1000);
}

void TestTempKeyGenerator::neverRepeatsAKeyAfterTheClockWentBack_data()
{
    QTest::addColumn<QList<QDateTime>>("earlierRun"); // the seconds an earlier run stored keys in, 600 each
    QTest::addColumn<QList<QDateTime>>("thisRun");
    // Summer time ends: the local clock shows the same hour twice.
    const QDateTime first(QDate(2011, 10, 30), QTime(2, 30, 0));
    const QDateTime later = first.addSecs(5);
    QTest::newRow("the repeated autumn hour within one run")
        << QList<QDateTime>() << QList<QDateTime> { first, later, first, later, first };
    QTest::newRow("the clock set back between two runs, the new run reaching the old seconds later")
        << QList<QDateTime> { first, later } << QList<QDateTime> { first.addSecs(-60), first, later };
    QTest::newRow("a second link writing the same table in the same seconds")
        << QList<QDateTime> { first, later, first } << QList<QDateTime> { later, first };
}

void TestTempKeyGenerator::neverRepeatsAKeyAfterTheClockWentBack()
{
    QFETCH(QList<QDateTime>, earlierRun);
    QFETCH(QList<QDateTime>, thisRun);
    QSet<QString> stored;
    TempKeyGenerator earlier(storedIn(stored));
    for (const QDateTime &now : earlierRun) {
        for (int i = 0; i < 600; ++i)
            stored.insert(nextKey(earlier, now));
    }
    TempKeyGenerator generator(storedIn(stored));
    for (const QDateTime &now : thisRun) {
        for (int i = 0; i < 600; ++i) {
            const QString key = nextKey(generator, now);
            QVERIFY2(!stored.contains(key), qPrintable(key));
            stored.insert(key);
        }
    }
}

void TestTempKeyGenerator::reportsALookupThatFailed()
{
    TempKeyGenerator generator([](const QString &, QString *error) -> std::optional<bool> {
        *error = QStringLiteral("database is locked");
        return std::nullopt;
    });
    QString error;
    QVERIFY(!generator.next(QDateTime(QDate(2011, 1, 9), QTime(14, 5, 7)), &error));
    QCOMPARE(error, QStringLiteral("database is locked"));
}

QTEST_GUILESS_MAIN(TestTempKeyGenerator)
#include "TestTempKeyGenerator.moc"
