#include <QtTest>

#include "codec/AckNackBSA.h"

namespace {

tAckNackBSA record(
    const QString &soort, const QString &waarde, const QString &code, int ritnummer, const QString &tekst = QString())
{
    tAckNackBSA rec;
    rec.Soort = soort;
    rec.Waarde = waarde;
    rec.Code = code;
    rec.BSRitnummer = ritnummer;
    rec.Tekst = tekst;
    return rec;
}

} // namespace

// The answer record: its text form, its parsing, and the answers the intake builds.
class TestAckNackBSA final : public QObject
{
    Q_OBJECT
private slots:
    void writesTheTextForm_data();
    void writesTheTextForm();
    void parsesAnAnswer_data();
    void parsesAnAnswer();
    void buildsTheIntakeAnswer();
};

void TestAckNackBSA::writesTheTextForm_data()
{
    QTest::addColumn<QString>("soort");
    QTest::addColumn<QString>("waarde");
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("ritnummer");
    QTest::addColumn<QString>("tekst");
    QTest::addColumn<QString>("text");
    QTest::newRow("the test acknowledgement") << "AC"
                                              << "BSA"
                                              << "6" << 12345 << ""
                                              << "AC\tBSA\t6\t12345\t";
    QTest::newRow("a negative number has a minus sign and no leading zeros") << "NC"
                                                                             << "BSA"
                                                                             << "6" << -7 << ""
                                                                             << "NC\tBSA\t6\t-7\t";
    QTest::newRow("the free text follows unchanged, spaces included") << "AC"
                                                                      << "BSA"
                                                                      << "6" << 0 << "  vrije tekst "
                                                                      << "AC\tBSA\t6\t0\t  vrije tekst ";
    QTest::newRow("a kind of a space and a letter gives the letter") << " A"
                                                                     << "BSA"
                                                                     << "6" << 1 << ""
                                                                     << "A\tBSA\t6\t1\t";
    QTest::newRow("blanks and control characters around the header go") << "\tN"
                                                                        << " B\r"
                                                                        << "6\n"
                                                                        << 1 << ""
                                                                        << "N\tB\t6\t1\t";
    QTest::newRow("header fields longer than their room are cut") << "ACK"
                                                                  << "BSAX"
                                                                  << "66" << 2 << ""
                                                                  << "AC\tBSA\t66\t2\t";
}

void TestAckNackBSA::writesTheTextForm()
{
    QFETCH(QString, soort);
    QFETCH(QString, waarde);
    QFETCH(QString, code);
    QFETCH(int, ritnummer);
    QFETCH(QString, tekst);
    QFETCH(QString, text);
    QCOMPARE(AckNackNaarTekst(record(soort, waarde, code, ritnummer, tekst)), text);
}

void TestAckNackBSA::parsesAnAnswer_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("soort");
    QTest::addColumn<QString>("waarde");
    QTest::addColumn<QString>("code");
    QTest::addColumn<int>("ritnummer");
    QTest::newRow("the test acknowledgement") << "AC\tBSA\t6\t12345\t" << true << ""
                                              << "AC"
                                              << "BSA"
                                              << "6" << 12345;
    QTest::newRow("four fields without a trailing TAB") << "NC\tBSA\t6\t99" << true << ""
                                                        << "NC"
                                                        << "BSA"
                                                        << "6" << 99;
    QTest::newRow("fields after the fourth are ignored") << "AC\tBSA\t6\t1\tvrije tekst\tmeer" << true << ""
                                                         << "AC"
                                                         << "BSA"
                                                         << "6" << 1;
    QTest::newRow("long header fields are cut") << "ACK\tBSAX\t6\t1" << true << ""
                                                << "AC"
                                                << "BSA"
                                                << "6" << 1;
    QTest::newRow("header fields are not trimmed") << " A\t B\t6\t1" << true << ""
                                                   << " A"
                                                   << " B"
                                                   << "6" << 1;
    QTest::newRow("an empty number gives 0") << "AC\tBSA\t6\t" << true << ""
                                             << "AC"
                                             << "BSA"
                                             << "6" << 0;
    QTest::newRow("a letter after the number gives 0") << "AC\tBSA\t6\t12a" << true << ""
                                                       << "AC"
                                                       << "BSA"
                                                       << "6" << 0;
    QTest::newRow("a number past 32 bits gives 0") << "AC\tBSA\t6\t2147483648" << true << ""
                                                   << "AC"
                                                   << "BSA"
                                                   << "6" << 0;
    QTest::newRow("dollar hexadecimal") << "AC\tBSA\t6\t$1F" << true << ""
                                        << "AC"
                                        << "BSA"
                                        << "6" << 31;
    QTest::newRow("0x hexadecimal") << "AC\tBSA\t6\t0x1f" << true << ""
                                    << "AC"
                                    << "BSA"
                                    << "6" << 31;
    QTest::newRow("a bare x is no prefix in an answer") << "AC\tBSA\t6\tx1f" << true << ""
                                                        << "AC"
                                                        << "BSA"
                                                        << "6" << 0;
    QTest::newRow("three fields fail with 3 and keep the header")
        << "AC\tBSA\t6" << false << "List index out of bounds (3)"
        << "AC"
        << "BSA"
        << "6" << 0;
    QTest::newRow("the empty text fails with 0") << "" << false << "List index out of bounds (0)"
                                                 << ""
                                                 << ""
                                                 << "" << 0;
    QTest::newRow("a comma does not separate fields") << "AC,BSA,6,1" << false << "List index out of bounds (1)"
                                                      << "AC"
                                                      << ""
                                                      << "" << 0;
}

void TestAckNackBSA::parsesAnAnswer()
{
    QFETCH(QString, text);
    QFETCH(bool, parsed);
    QFETCH(QString, error);
    QFETCH(QString, soort);
    QFETCH(QString, waarde);
    QFETCH(QString, code);
    QFETCH(int, ritnummer);
    tAckNackBSA rec = record("XX", "old", "9", 42, "old text"); // everything is overwritten
    QString message;
    QCOMPARE(TekstNaarAckNack(text, rec, &message), parsed);
    QCOMPARE(message, error);
    QCOMPARE(rec.Soort, soort);
    QCOMPARE(rec.Waarde, waarde);
    QCOMPARE(rec.Code, code);
    QCOMPARE(rec.BSRitnummer, ritnummer);
    QCOMPARE(rec.Tekst, QString());
}

void TestAckNackBSA::buildsTheIntakeAnswer()
{
    const tAckNackBSA answer = MaakAntwoord("NC", 4711);
    QCOMPARE(AckNackNaarTekst(answer), "NC\tBSA\t6\t4711\t");
    tAckNackBSA parsed;
    QVERIFY(TekstNaarAckNack(AckNackNaarTekst(answer), parsed, nullptr));
    QCOMPARE(parsed.Soort, answer.Soort);
    QCOMPARE(parsed.Waarde, answer.Waarde);
    QCOMPARE(parsed.Code, answer.Code);
    QCOMPARE(parsed.BSRitnummer, answer.BSRitnummer);
    QCOMPARE(parsed.Tekst, QString());
}

QTEST_GUILESS_MAIN(TestAckNackBSA)
#include "TestAckNackBSA.moc"
