#include <QtTest>

#include "codec/RitBSA.h"

namespace {

// A complete ride message as BSA sends it: 75 values, each different, so that a field read from the wrong
// place shows. The name holds a comma and an underscore, which must not move any field.
QStringList sampleFields()
{
    return {
        "BN",
        "BSA",
        "6",
        "veld vier",
        "veld vijf",
        "123456",
        "987654",
        "PRJ-8",
        "Locatie 9",
        "202403151430",
        "veld 11",
        "202403151500",
        "Jansen, P_de",
        "201234567",
        "15",
        "16",
        "17",
        "18",
        "Utrecht",
        "3511AB",
        "Stationsplein",
        "12a",
        "Ophaal extra 1",
        "Ophaal extra 2",
        "veld 25",
        "26",
        "Amersfoort",
        "3811CD",
        "Hof",
        "7",
        "Best extra 1",
        "Best extra 2",
        "veld 33",
        "2",
        "1",
        "2550",
        "1275",
        "3",
        "12.5",
        "Bel aan bij de buren",
        "A",
        "B",
        "C",
        "D",
        "E",
        "F",
        "G",
        "H",
        "I",
        "K",
        "T",
        "L",
        "M",
        "N",
        "O",
        "P",
        "Q",
        "58",
        "Contant",
        "R",
        "S",
        "U",
        "V",
        "veld 64",
        "veld 65",
        "veld 66",
        "W",
        "Eerste regel#CRLF#Tweede regel",
        "F1",
        "70",
        "71",
        "72",
        "73",
        "74",
        "75",
    };
}

QString rideText(const QStringList &fields)
{
    return fields.join(u'\t');
}

// The sample with one field replaced; position is 1-based as in BSA's field list.
QString rideTextWith(int position, const QString &value)
{
    QStringList fields = sampleFields();
    fields[position - 1] = value;
    return rideText(fields);
}

} // namespace

// The ride record and its parser: every field from its own place, the text limits, numbers and missing fields.
class TestRitBSA final : public QObject
{
    Q_OBJECT
private slots:
    void fillsEveryFieldFromItsPlace();
    void needsFiftyNineFields_data();
    void needsFiftyNineFields();
    void keepsTheFieldsBeforeAMissingOne();
    void overwritesAnEarlierRecord();
    void readsIntegers_data();
    void readsIntegers();
    void readsKilometresInTenths_data();
    void readsKilometresInTenths();
    void limitsShortTexts_data();
    void limitsShortTexts();
};

void TestRitBSA::fillsEveryFieldFromItsPlace()
{
    QCOMPARE(sampleFields().size(), 75);
    tRitBSA rit;
    QString error;
    QVERIFY2(TekstNaarRit(rideText(sampleFields()), rit, &error), qPrintable(error));
    QCOMPARE(rit.Soort, "BN");
    QCOMPARE(rit.Waarde, "BSA");
    QCOMPARE(rit.Code, "6");
    QCOMPARE(rit.Veld4, "veld vier");
    QCOMPARE(rit.Veld5, "veld vijf");
    QCOMPARE(rit.BSRitnummer, 123456);
    QCOMPARE(rit.Pasnummer, 987654);
    QCOMPARE(rit.Projectnummer, "PRJ-8");
    QCOMPARE(rit.Locatie, "Locatie 9");
    QCOMPARE(rit.Tijdstip, "202403151430");
    QCOMPARE(rit.Veld11, "veld 11");
    QCOMPARE(rit.TijdstipLocatie, "202403151500");
    QCOMPARE(rit.NaamReiziger, "Jansen, P_de");
    QCOMPARE(rit.Telefoon, 201234567);
    QCOMPARE(rit.Veld15, 15);
    QCOMPARE(rit.Veld16, 16);
    QCOMPARE(rit.Veld17, 17);
    QCOMPARE(rit.Veld18, 18);
    QCOMPARE(rit.OphStad, "Utrecht");
    QCOMPARE(rit.OphPostcode, "3511AB");
    QCOMPARE(rit.OphStraat, "Stationsplein");
    QCOMPARE(rit.OphNummer, "12a");
    QCOMPARE(rit.OphExtra1, "Ophaal extra 1");
    QCOMPARE(rit.OphExtra2, "Ophaal extra 2");
    QCOMPARE(rit.Veld25, "veld 25");
    QCOMPARE(rit.Veld26, 26);
    QCOMPARE(rit.BestStad, "Amersfoort");
    QCOMPARE(rit.BestPostcode, "3811CD");
    QCOMPARE(rit.BestStraat, "Hof");
    QCOMPARE(rit.BestNummer, "7");
    QCOMPARE(rit.BestExtra1, "Best extra 1");
    QCOMPARE(rit.BestExtra2, "Best extra 2");
    QCOMPARE(rit.Veld33, "veld 33");
    QCOMPARE(rit.Lopers, 2);
    QCOMPARE(rit.Rollers, 1);
    QCOMPARE(rit.Bedrag, 2550);
    QCOMPARE(rit.Bedrag5, 1275);
    QCOMPARE(rit.ZoneAantal, 3);
    QCOMPARE(rit.Kilometers, 125);
    QCOMPARE(rit.RitTekst, "Bel aan bij de buren");
    QCOMPARE(rit.SoortWagen, "A");
    QCOMPARE(rit.NietCombineren, "B");
    QCOMPARE(rit.VoorinZitten, "C");
    QCOMPARE(rit.KamerTotKamer, "D");
    QCOMPARE(rit.Rollator, "E");
    QCOMPARE(rit.Scootmobiel, "F");
    QCOMPARE(rit.ExtraBeenruimte, "G");
    QCOMPARE(rit.Soho, "H");
    QCOMPARE(rit.GratisBegeleider, "I");
    QCOMPARE(rit.GratisMeereizende, "K");
    QCOMPARE(rit.Spoed, "T");
    QCOMPARE(rit.LageInstap, "L");
    QCOMPARE(rit.IndicatieGroepsrit, "M");
    QCOMPARE(rit.IndicatieNaamChauffeur, "N");
    QCOMPARE(rit.IndicatieKenteken, "O");
    QCOMPARE(rit.Veld56, "P");
    QCOMPARE(rit.Veld57, "Q");
    QCOMPARE(rit.Veld58, 58);
    QCOMPARE(rit.Afrekenwijze, "Contant");
    QCOMPARE(rit.OpvouwbareRolstoel, "R");
    QCOMPARE(rit.ElectrischeRolstoel, "S");
    QCOMPARE(rit.Doof, "U");
    QCOMPARE(rit.Blind, "V");
    QCOMPARE(rit.Veld64, "veld 64");
    QCOMPARE(rit.Veld65, "veld 65");
    QCOMPARE(rit.Veld66, "veld 66");
    QCOMPARE(rit.Veld67, "W");
    QCOMPARE(rit.AanTekst, "Eerste regel#CRLF#Tweede regel");
    QCOMPARE(rit.Factuurcode, "F1");
    QCOMPARE(rit.Veld70, 70);
    QCOMPARE(rit.Veld71, 71);
    QCOMPARE(rit.Veld72, 72);
    QCOMPARE(rit.Veld73, 73);
    QCOMPARE(rit.Veld74, 74);
    QCOMPARE(rit.GratisKinderen, 75);
    QCOMPARE(rit.Reservetekst, QString());
}

void TestRitBSA::needsFiftyNineFields_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("afrekenwijze"); // field 59, the last one required
    QTest::addColumn<QString>("blind"); // field 63, optional
    QTest::addColumn<int>("gratisKinderen"); // field 75, the last one read
    const QStringList all = sampleFields();
    QTest::newRow("75 fields fill everything") << rideText(all) << true << QString() << "Contant"
                                               << "V" << 75;
    QTest::newRow("fields after the 75th change nothing")
        << rideText(all + QStringList { "76", "77", "78" }) << true << QString() << "Contant"
        << "V" << 75;
    QTest::newRow("59 fields leave the optional ones empty")
        << rideText(all.mid(0, 59)) << true << QString() << "Contant"
        << "" << 0;
    QTest::newRow("59 fields and a TAB give an empty 60th field")
        << rideText(all.mid(0, 59)) + u'\t' << true << QString() << "Contant"
        << "" << 0;
    QTest::newRow("63 fields fill up to the 63rd") << rideText(all.mid(0, 63)) << true << QString() << "Contant"
                                                   << "V" << 0;
    QTest::newRow("58 fields fail with 58") << rideText(all.mid(0, 58)) << false << "List index out of bounds (58)"
                                            << ""
                                            << "" << 0;
    QTest::newRow("58 fields and a TAB are 59 fields") << rideText(all.mid(0, 58)) + u'\t' << true << QString() << ""
                                                       << "" << 0;
    QTest::newRow("the empty text fails with 0") << QString() << false << "List index out of bounds (0)"
                                                 << ""
                                                 << "" << 0;
    QTest::newRow("one field fails with 1") << "BN" << false << "List index out of bounds (1)"
                                            << ""
                                            << "" << 0;
    QTest::newRow("commas do not count as separators")
        << all.mid(0, 59).join(u',') << false << "List index out of bounds (1)"
        << ""
        << "" << 0;
}

void TestRitBSA::needsFiftyNineFields()
{
    QFETCH(QString, text);
    QFETCH(bool, parsed);
    QFETCH(QString, error);
    QFETCH(QString, afrekenwijze);
    QFETCH(QString, blind);
    QFETCH(int, gratisKinderen);
    tRitBSA rit;
    QString message;
    QCOMPARE(TekstNaarRit(text, rit, &message), parsed);
    QCOMPARE(message, error);
    QCOMPARE(rit.Afrekenwijze, afrekenwijze);
    QCOMPARE(rit.Blind, blind);
    QCOMPARE(rit.GratisKinderen, gratisKinderen);
    QCOMPARE(rit.Reservetekst, QString());
}

void TestRitBSA::keepsTheFieldsBeforeAMissingOne()
{
    tRitBSA rit;
    QVERIFY(!TekstNaarRit(rideText(sampleFields().mid(0, 13)), rit, nullptr)); // no error text wanted
    QCOMPARE(rit.Soort, "BN");
    QCOMPARE(rit.BSRitnummer, 123456);
    QCOMPARE(rit.NaamReiziger, "Jansen, P_de");
    QCOMPARE(rit.Telefoon, 0);
    QCOMPARE(rit.OphStad, QString());
}

void TestRitBSA::overwritesAnEarlierRecord()
{
    tRitBSA rit;
    QVERIFY(TekstNaarRit(rideText(sampleFields()), rit, nullptr));
    rit.Reservetekst = "left over";
    QVERIFY(TekstNaarRit(rideText(sampleFields().mid(0, 59)), rit, nullptr));
    QCOMPARE(rit.Blind, QString());
    QCOMPARE(rit.AanTekst, QString());
    QCOMPARE(rit.GratisKinderen, 0);
    QCOMPARE(rit.Reservetekst, QString());
    QVERIFY(!TekstNaarRit("BV\tBSA", rit, nullptr));
    QCOMPARE(rit.Soort, "BV");
    QCOMPARE(rit.BSRitnummer, 0);
}

void TestRitBSA::readsIntegers_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("value");
    QTest::newRow("decimal digits") << "12345" << 12345;
    QTest::newRow("leading spaces are allowed") << " 12" << 12;
    QTest::newRow("a trailing space gives 0") << "12 " << 0;
    QTest::newRow("a letter after the digits gives 0") << "12a" << 0;
    QTest::newRow("an empty field gives 0") << "" << 0;
    QTest::newRow("only spaces give 0") << "   " << 0;
    QTest::newRow("a minus sign") << "-42" << -42;
    QTest::newRow("a plus sign") << "+42" << 42;
    QTest::newRow("a sign alone gives 0") << "-" << 0;
    QTest::newRow("a space after the sign gives 0") << "- 4" << 0;
    QTest::newRow("leading zeros are decimal") << "0012" << 12;
    QTest::newRow("dollar hexadecimal") << "$1F" << 31;
    QTest::newRow("x hexadecimal") << "x1f" << 31;
    QTest::newRow("0X hexadecimal") << "0X1F" << 31;
    QTest::newRow("negative hexadecimal") << "-$10" << -16;
    QTest::newRow("a prefix without digits gives 0") << "0x" << 0;
    QTest::newRow("hexadecimal letters without a prefix give 0") << "1F" << 0;
    QTest::newRow("the largest 32-bit value") << "2147483647" << 2147483647;
    QTest::newRow("one past the largest gives 0") << "2147483648" << 0;
    QTest::newRow("the smallest 32-bit value") << "-2147483648" << int(-2147483647 - 1);
    QTest::newRow("one below the smallest gives 0") << "-2147483649" << 0;
    QTest::newRow("hexadecimal past the signed range gives 0") << "$80000000" << 0;
    QTest::newRow("a huge number gives 0") << "99999999999999999999999" << 0;
    QTest::newRow("a decimal point gives 0") << "12.5" << 0;
    QTest::newRow("full-width digits give 0") << QStringLiteral("\uFF11\uFF12") << 0;
}

void TestRitBSA::readsIntegers()
{
    QFETCH(QString, field);
    QFETCH(int, value);
    tRitBSA rit;
    QVERIFY(TekstNaarRit(rideTextWith(6, field), rit, nullptr));
    QCOMPARE(rit.BSRitnummer, value);
    QCOMPARE(rit.Pasnummer, 987654); // its neighbour stays in place
}

void TestRitBSA::readsKilometresInTenths_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<int>("kilometers");
    QTest::newRow("one decimal") << "12.5" << 125;
    QTest::newRow("every point is removed") << "1.250" << 1250;
    QTest::newRow("no point") << "12" << 12;
    QTest::newRow("only a point gives 0") << "." << 0;
    QTest::newRow("a decimal comma gives 0") << "12,5" << 0;
}

void TestRitBSA::readsKilometresInTenths()
{
    QFETCH(QString, field);
    QFETCH(int, kilometers);
    tRitBSA rit;
    QVERIFY(TekstNaarRit(rideTextWith(39, field), rit, nullptr));
    QCOMPARE(rit.Kilometers, kilometers);
}

void TestRitBSA::limitsShortTexts_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("stored");
    const QString sixty = QString(60, u'n');
    QTest::newRow("a name of 60 characters keeps its first 50") << 13 << sixty << sixty.left(50);
    QTest::newRow("a flag JA keeps J") << 51 << "JA"
                                       << "J";
    QTest::newRow("a kind of three letters keeps two") << 1 << "BNX"
                                                       << "BN";
    QTest::newRow("spaces are not trimmed") << 19 << "  Utrecht "
                                            << "  Utrecht ";
    QTest::newRow("an underscore stays an underscore") << 13 << "P_de Vries"
                                                       << "P_de Vries";
    QTest::newRow("a double quote stays") << 13 << "\"Jan\""
                                          << "\"Jan\"";
    QTest::newRow("e-acute and the euro sign stay")
        << 40 << QStringLiteral("caf\u00E9 \u20AC5") << QStringLiteral("caf\u00E9 \u20AC5");
    QTest::newRow("a character the code page lacks becomes a question mark")
        << 21 << QStringLiteral("\u0141odz") << "?odz";
    QTest::newRow("a character outside the basic plane counts once") << 41 << QStringLiteral("\U0001F695") << "?";
    QTest::newRow("the long text keeps every character") << 68 << QString(5000, u'x') << QString(5000, u'x');
    QTest::newRow("the long text is limited to the code page") << 68 << QStringLiteral("a\u0416#CRLF#b") << "a?#CRLF#b";
}

void TestRitBSA::limitsShortTexts()
{
    QFETCH(int, position);
    QFETCH(QString, field);
    QFETCH(QString, stored);
    tRitBSA rit;
    QVERIFY(TekstNaarRit(rideTextWith(position, field), rit, nullptr));
    const QString *target = nullptr;
    switch (position) {
    case 1:
        target = &rit.Soort;
        break;
    case 13:
        target = &rit.NaamReiziger;
        break;
    case 19:
        target = &rit.OphStad;
        break;
    case 21:
        target = &rit.OphStraat;
        break;
    case 40:
        target = &rit.RitTekst;
        break;
    case 41:
        target = &rit.SoortWagen;
        break;
    case 51:
        target = &rit.Spoed;
        break;
    case 68:
        target = &rit.AanTekst;
        break;
    }
    QVERIFY(target);
    QCOMPARE(*target, stored);
    QCOMPARE(rit.GratisKinderen, 75); // nothing moved
}

QTEST_GUILESS_MAIN(TestRitBSA)
#include "TestRitBSA.moc"
