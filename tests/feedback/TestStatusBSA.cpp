#include <functional>

#include <QtTest>

#include "feedback/StatusBSA.h"
#include "feedback/StatusRow.h"

// The status record's text form, and how the columns of a planning row read into its fields.
namespace {
using Change = std::function<void(tStatusBSA &)>;
const QString Zero = QStringLiteral("189912300000");

// The fields of a record fresh from StatusStandaard, field k at index k - 1.
QStringList defaultFields()
{
    return { "BT", "BSA", "6", "0", Zero, "", "0", "", "O", Zero, "0.0", "0.0", Zero, Zero, "0", "0.0", "0.0", "0",
        "0000", Zero, "0", "0.0", "0.0", Zero, "F", "0", "0.0", "0.0", "0", "0" };
}

QString fieldsAsText(const QStringList &fields)
{
    QString text;
    for (const QString &field : fields)
        text += field + QLatin1Char('\t');
    return text;
}
} // namespace

Q_DECLARE_METATYPE(Change)

class TestStatusBSA final : public QObject
{
    Q_OBJECT
private slots:
    void writesEveryFieldFollowedByATab_data();
    void writesEveryFieldFollowedByATab();
    void writesDateTimesToTheMinute_data();
    void writesDateTimesToTheMinute();
    void readsColumnsOfAPlanningRow_data();
    void readsColumnsOfAPlanningRow();
    void refusesColumnsThatCannotBeRead_data();
    void refusesColumnsThatCannotBeRead();
};

void TestStatusBSA::writesEveryFieldFollowedByATab_data()
{
    QTest::addColumn<Change>("change");
    QTest::addColumn<QStringList>("fields");

    QTest::newRow("the defaults") << Change([](tStatusBSA &) {}) << defaultFields();

    QStringList worked = defaultFields();
    worked[3] = "812", worked[4] = "201101091405", worked[6] = "17", worked[13] = "201101091430";
    worked[19] = "201101091435", worked[24] = "T", worked[25] = "1", worked[28] = "2350", worked[29] = "42";
    QTest::newRow("a delivered ride with its times, vehicle and amount") << Change([](tStatusBSA &s) {
        s.BSRitnummer = 812;
        s.TijdToewijzen = QStringLiteral("201101091405");
        s.Wagen = 17;
        s.TijdBestemmen = QStringLiteral("201101091430");
        s.TijdVrijmelden = QStringLiteral("201101091435");
        s.LVlagTekst = QStringLiteral("T");
        s.LVlag = 1;
        s.BedragCenten = 2350;
        s.Bedrijfsnummer = 42;
    }) << worked;

    QStringList negative = defaultFields();
    negative[3] = "-5", negative[28] = "-1250";
    QTest::newRow("negative numbers keep their minus sign") << Change([](tStatusBSA &s) {
        s.BSRitnummer = -5;
        s.BedragCenten = -1250;
    }) << negative;

    QStringList cut = defaultFields();
    cut[0] = "BX", cut[1] = "BSA", cut[24] = "TRU", cut[8] = "O";
    QTest::newRow("short texts are cut to their capacity") << Change([](tStatusBSA &s) {
        s.Soort = QStringLiteral("BXY");
        s.Waarde = QStringLiteral("BSAX");
        s.LVlagTekst = QStringLiteral("TRUE");
        s.Veld9 = QStringLiteral("OO");
    }) << cut;

    QStringList trimmed = defaultFields();
    trimmed[0] = "B", trimmed[5] = "a b";
    QTest::newRow("blanks around a short text are dropped, blanks inside stay") << Change([](tStatusBSA &s) {
        s.Soort = QStringLiteral(" B");
        s.Veld6 = QStringLiteral("\t a b \r\n");
    }) << trimmed;

    QStringList empty = defaultFields();
    empty[1] = "";
    QTest::newRow("an empty field shows as two TABs in a row")
        << Change([](tStatusBSA &s) { s.Waarde = QStringLiteral("   "); }) << empty;
}

void TestStatusBSA::writesEveryFieldFollowedByATab()
{
    QFETCH(Change, change);
    QFETCH(QStringList, fields);
    tStatusBSA status = StatusStandaard();
    change(status);
    const QString text = StatusNaarTekst(status);
    QCOMPARE(text, fieldsAsText(fields));
    QCOMPARE(text.count(QLatin1Char('\t')), 30);
    QVERIFY(text.endsWith(QLatin1Char('\t')));
}

void TestStatusBSA::writesDateTimesToTheMinute_data()
{
    QTest::addColumn<QDateTime>("moment");
    QTest::addColumn<QString>("text");
    QTest::newRow("the seconds are dropped, not rounded")
        << QDateTime(QDate(2011, 1, 9), QTime(14, 5, 59)) << "201101091405";
    QTest::newRow("the hour runs from 00 to 23") << QDateTime(QDate(2025, 12, 31), QTime(23, 59)) << "202512312359";
    QTest::newRow("midnight") << QDateTime(QDate(2025, 3, 5), QTime(0, 0)) << "202503050000";
    QTest::newRow("the zero date-time") << QDateTime(QDate(1899, 12, 30), QTime(0, 0)) << "189912300000";
    QTest::newRow("no date-time is the zero date-time") << QDateTime() << "189912300000";
}

void TestStatusBSA::writesDateTimesToTheMinute()
{
    QFETCH(QDateTime, moment);
    QFETCH(QString, text);
    QCOMPARE(DatumTijdTekst(moment), text);
}

void TestStatusBSA::readsColumnsOfAPlanningRow_data()
{
    // Each row: the value as a driver gives it back, and what the status message carries for it.
    QTest::addColumn<QString>("kind"); // integer, dateTime, cents, text
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("field");
    const QVariant nullText(QMetaType::fromType<QString>());

    QTest::newRow("a NULL integer is 0") << "integer" << QVariant(QMetaType::fromType<int>()) << "0";
    QTest::newRow("an integer") << "integer" << QVariant(17) << "17";
    QTest::newRow("a 64-bit integer that fits") << "integer" << QVariant(qlonglong(812)) << "812";
    QTest::newRow("an integer as text") << "integer" << QVariant(" 812") << "812";
    QTest::newRow("a whole floating-point number") << "integer" << QVariant(17.0) << "17";

    QTest::newRow("a NULL date-time is the zero date-time")
        << "dateTime" << QVariant(QMetaType::fromType<QDateTime>()) << "189912300000";
    QTest::newRow("a NULL text date-time is the zero date-time") << "dateTime" << nullText << "189912300000";
    QTest::newRow("an empty text date-time is the zero date-time") << "dateTime" << QVariant("") << "189912300000";
    QTest::newRow("a date-time") << "dateTime" << QVariant(QDateTime(QDate(2011, 1, 9), QTime(14, 5, 30)))
                                 << "201101091405";
    QTest::newRow("a date-time kept as text") << "dateTime" << QVariant("2011-01-09 14:05:00") << "201101091405";
    QTest::newRow("a date-time as text with a T and fractions")
        << "dateTime" << QVariant("2011-01-09T14:30:59.997") << "201101091430";
    QTest::newRow("a date alone is its midnight") << "dateTime" << QVariant("2011-01-09") << "201101090000";
    QTest::newRow("a date column") << "dateTime" << QVariant(QDate(2011, 1, 9)) << "201101090000";

    QTest::newRow("a NULL amount is 0 cents") << "cents" << QVariant(QMetaType::fromType<double>()) << "0";
    QTest::newRow("an amount with two decimals") << "cents" << QVariant("23.50") << "2350";
    QTest::newRow("one cent") << "cents" << QVariant("0.01") << "1";
    QTest::newRow("nothing") << "cents" << QVariant("0.00") << "0";
    QTest::newRow("a negative amount gives negative cents") << "cents" << QVariant("-12.34") << "-1234";
    QTest::newRow("an amount as a binary fraction") << "cents" << QVariant(23.5) << "2350";
    QTest::newRow("a binary fraction just below the cent") << "cents" << QVariant(0.29) << "29";
    QTest::newRow("a whole amount") << "cents" << QVariant(7) << "700";
    QTest::newRow("an amount without decimals as text") << "cents" << QVariant("7") << "700";
    QTest::newRow("half a cent is rounded away from zero") << "cents" << QVariant("0.005") << "1";
    QTest::newRow("half a cent below zero is rounded away from zero") << "cents" << QVariant("-0.005") << "-1";
    QTest::newRow("less than half a cent is dropped") << "cents" << QVariant("1.2349") << "123";
    QTest::newRow("an amount in exponent form") << "cents" << QVariant("1.5e2") << "15000";
    QTest::newRow("the largest amount that fits") << "cents" << QVariant("21474836.47") << "2147483647";

    QTest::newRow("a NULL text is empty") << "text" << nullText << "";
    QTest::newRow("a text") << "text" << QVariant("L") << "L";
}

void TestStatusBSA::readsColumnsOfAPlanningRow()
{
    QFETCH(QString, kind);
    QFETCH(QVariant, value);
    QFETCH(QString, field);
    QString error;
    QString read;
    if (kind == QLatin1String("integer")) {
        const std::optional<int> number = StatusRow::integer(value, QStringLiteral("pla_wagen"), &error);
        QVERIFY2(number, qPrintable(error));
        read = QString::number(*number);
    } else if (kind == QLatin1String("dateTime")) {
        const std::optional<QString> text = StatusRow::dateTime(value, QStringLiteral("pla_tijdstip"), &error);
        QVERIFY2(text, qPrintable(error));
        read = *text;
    } else if (kind == QLatin1String("cents")) {
        const std::optional<int> cents = StatusRow::cents(value, QStringLiteral("pla_bedrag_1"), &error);
        QVERIFY2(cents, qPrintable(error));
        read = QString::number(*cents);
    } else {
        read = StatusRow::text(value);
    }
    QCOMPARE(read, field);
}

void TestStatusBSA::refusesColumnsThatCannotBeRead_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("error");
    QTest::newRow("a word in an integer column")
        << "integer" << QVariant("abc") << "Kolom pla_wagen: 'abc' is geen geheel getal";
    QTest::newRow("a fraction in an integer column")
        << "integer" << QVariant(17.5) << "Kolom pla_wagen: '17.5' is geen geheel getal";
    QTest::newRow("an integer beyond 32 bits")
        << "integer" << QVariant(qlonglong(4294967296)) << "Kolom pla_wagen: '4294967296' is geen geheel getal";
    QTest::newRow("a date-time that is no date")
        << "dateTime" << QVariant("gisteren") << "Kolom pla_tijdstip: 'gisteren' is geen datum en tijd";
    QTest::newRow("a date-time with a month 13") << "dateTime" << QVariant("2011-13-09 14:05:00")
                                                 << "Kolom pla_tijdstip: '2011-13-09 14:05:00' is geen datum en tijd";
    QTest::newRow("a word in an amount column")
        << "cents" << QVariant("veel") << "Kolom pla_bedrag_1: 'veel' is geen bedrag dat in centen past";
    QTest::newRow("an amount whose cents do not fit in 32 bits")
        << "cents" << QVariant("21474836.48") << "Kolom pla_bedrag_1: '21474836.48' is geen bedrag dat in centen past";
}

void TestStatusBSA::refusesColumnsThatCannotBeRead()
{
    QFETCH(QString, kind);
    QFETCH(QVariant, value);
    QFETCH(QString, error);
    QString reason;
    bool read = true;
    if (kind == QLatin1String("integer"))
        read = StatusRow::integer(value, QStringLiteral("pla_wagen"), &reason).has_value();
    else if (kind == QLatin1String("dateTime"))
        read = StatusRow::dateTime(value, QStringLiteral("pla_tijdstip"), &reason).has_value();
    else
        read = StatusRow::cents(value, QStringLiteral("pla_bedrag_1"), &reason).has_value();
    QVERIFY(!read);
    QCOMPARE(reason, error);
}

QTEST_GUILESS_MAIN(TestStatusBSA)
#include "TestStatusBSA.moc"
