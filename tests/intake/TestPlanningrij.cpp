#include <functional>

#include <QtTest>

#include "codec/RitBSA.h"
#include "intake/Planningrij.h"
#include "platform/Decimal.h"
#include "settings/Settings.h"

// How a BSA ride fills its planning row, without a database: the values, their kinds and the memo text.
using Aanpassing = std::function<void(tRitBSA &)>;
Q_DECLARE_METATYPE(Aanpassing)
Q_DECLARE_METATYPE(RideChange)

namespace {
const QString Sleutel = QStringLiteral("P201101091405071742");

// A plain ride as BSA sends one: a walking passenger, paid in cash, no indications.
tRitBSA basisRit()
{
    tRitBSA rit;
    rit.Soort = QStringLiteral("BN");
    rit.Waarde = QStringLiteral("BSA");
    rit.Code = QStringLiteral("6");
    rit.BSRitnummer = 4711;
    rit.Tijdstip = QStringLiteral("201101091405");
    rit.TijdstipLocatie = QStringLiteral("201101091350");
    rit.NaamReiziger = QStringLiteral("J. Jansen");
    rit.OphPostcode = QStringLiteral("1234AB");
    rit.BestPostcode = QStringLiteral("5678CD");
    rit.Lopers = 1;
    rit.SoortWagen = QStringLiteral("T");
    rit.LageInstap = QStringLiteral("N");
    rit.Afrekenwijze = QStringLiteral("CONTANT");
    return rit;
}

// The value with its kind, so that a number stored as text (or the other way round) shows.
QString alsTekst(const QVariant &value)
{
    if (!value.isValid())
        return QStringLiteral("<not written>");
    if (value.metaType() == QMetaType::fromType<Decimal>())
        return QStringLiteral("decimal ") + value.value<Decimal>().toString();
    if (value.metaType() == QMetaType::fromType<QDateTime>())
        return QStringLiteral("date-time ") + value.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (value.metaType() == QMetaType::fromType<int>())
        return QStringLiteral("int ") + QString::number(value.toInt());
    if (value.metaType() == QMetaType::fromType<QString>())
        return QStringLiteral("text \"") + value.toString() + QLatin1Char('"');
    return QStringLiteral("unexpected ") + QString::fromLatin1(value.typeName());
}

QVariant waarde(const ColumnValues &columns, const QString &column)
{
    for (const auto &kolom : columns) {
        if (kolom.first == column)
            return kolom.second;
    }
    return {};
}

QStringList namen(const ColumnValues &columns)
{
    QStringList names;
    for (const auto &kolom : columns)
        names << kolom.first;
    return names;
}
} // namespace

class TestPlanningrij final : public QObject
{
    Q_OBJECT
private slots:
    void writesEachColumn_data();
    void writesEachColumn();
    void writesEachColumnOnce_data();
    void writesEachColumnOnce();
    void buildsTheMemo_data();
    void buildsTheMemo();
    void readsDateTimes_data();
    void readsDateTimes();
    void IsJaTakesOnlyAnUpperCaseJ_data();
    void IsJaTakesOnlyAnUpperCaseJ();
};

void TestPlanningrij::writesEachColumn_data()
{
    QTest::addColumn<Aanpassing>("aanpassing");
    QTest::addColumn<RideChange>("wijziging");
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("expected");

    const auto nieuw = RideChange::New;
    const auto gewijzigd = RideChange::Changed;
    const Aanpassing geen = [](tRitBSA &) {};

    QTest::newRow("a postcode gets a space after its four digits")
        << Aanpassing([](tRitBSA &r) { r.OphPostcode = "1234AB"; }) << nieuw << "pla_ophpostcode"
        << "text \"1234 AB\"";
    QTest::newRow("a postcode of four digits ends in a space")
        << Aanpassing([](tRitBSA &r) { r.OphPostcode = "1234"; }) << nieuw << "pla_ophpostcode"
        << "text \"1234 \"";
    QTest::newRow("an empty postcode becomes a single space")
        << Aanpassing([](tRitBSA &r) { r.OphPostcode.clear(); }) << nieuw << "pla_ophpostcode"
        << "text \" \"";
    QTest::newRow("a postcode keeps only its first six characters")
        << Aanpassing([](tRitBSA &r) { r.BestPostcode = "1234ABCD"; }) << gewijzigd << "pla_bestpostcode"
        << "text \"1234 AB\"";
    QTest::newRow("an amount in cents is stored exactly in euros")
        << Aanpassing([](tRitBSA &r) { r.Bedrag = 12345; }) << nieuw << "pla_bedrag"
        << "decimal 123.45";
    QTest::newRow("the amount goes into pla_bedrag_3 as well")
        << Aanpassing([](tRitBSA &r) { r.Bedrag = 12345; }) << nieuw << "pla_bedrag_3"
        << "decimal 123.45";
    QTest::newRow("a negative amount of a few cents keeps its sign")
        << Aanpassing([](tRitBSA &r) { r.Bedrag = -5; }) << nieuw << "pla_bedrag"
        << "decimal -0.05";
    QTest::newRow("the second amount goes into pla_bedrag_5")
        << Aanpassing([](tRitBSA &r) { r.Bedrag5 = 700; }) << gewijzigd << "pla_bedrag_5"
        << "decimal 7.00";
    QTest::newRow("tenths of a kilometre become kilometres")
        << Aanpassing([](tRitBSA &r) { r.Kilometers = 125; }) << nieuw << "pla_km_sqr"
        << "decimal 12.50";
    QTest::newRow("the distance goes into pla_km_map as well")
        << Aanpassing([](tRitBSA &r) { r.Kilometers = 125; }) << nieuw << "pla_km_map"
        << "decimal 12.50";
    QTest::newRow("the largest distance BSA can send is stored exactly")
        << Aanpassing([](tRitBSA &r) { r.Kilometers = 2147483647; }) << nieuw << "pla_km_sqr"
        << "decimal 214748364.70";
    QTest::newRow("a wheelchair passenger makes it a wheelchair ride")
        << Aanpassing([](tRitBSA &r) { r.Rollers = 2; }) << nieuw << "pla_rolstoel"
        << "int 1";
    QTest::newRow("a wheelchair passenger gets vehicle R whatever BSA asked") << Aanpassing([](tRitBSA &r) {
        r.Rollers = 2;
        r.SoortWagen = "B";
    }) << nieuw << "pla_soortwagen"
                                                                              << "text \"R\"";
    QTest::newRow("without wheelchair passengers the vehicle is T") << Aanpassing([](tRitBSA &r) {
        r.Rollers = 0;
        r.SoortWagen = "B";
    }) << gewijzigd << "pla_soortwagen"
                                                                    << "text \"T\"";
    QTest::newRow("without wheelchair passengers it is no wheelchair ride") << geen << nieuw << "pla_rolstoel"
                                                                            << "int 0";
    QTest::newRow("a phone number gets its leading zero back")
        << Aanpassing([](tRitBSA &r) { r.Telefoon = 201234567; }) << nieuw << "pla_telefoon"
        << "text \"0201234567\"";
    QTest::newRow("phone number 0 is stored empty")
        << Aanpassing([](tRitBSA &r) { r.Telefoon = 0; }) << nieuw << "pla_telefoon"
        << "text \"\"";
    QTest::newRow("a negative phone number is stored empty")
        << Aanpassing([](tRitBSA &r) { r.Telefoon = -20; }) << nieuw << "pla_telefoon"
        << "text \"\"";
    QTest::newRow("only T makes a ride urgent") << Aanpassing([](tRitBSA &r) { r.Spoed = "T"; }) << nieuw << "pla_spoed"
                                                << "int 1";
    QTest::newRow("J does not make a ride urgent")
        << Aanpassing([](tRitBSA &r) { r.Spoed = "J"; }) << nieuw << "pla_spoed"
        << "int 0";
    QTest::newRow("a lower-case t does not make a ride urgent")
        << Aanpassing([](tRitBSA &r) { r.Spoed = "t"; }) << gewijzigd << "pla_spoed"
        << "int 0";
    QTest::newRow("J in NietCombineren forbids combining")
        << Aanpassing([](tRitBSA &r) { r.NietCombineren = "J"; }) << nieuw << "pla_combineren"
        << "int 0";
    QTest::newRow("an empty NietCombineren allows combining")
        << Aanpassing([](tRitBSA &r) { r.NietCombineren.clear(); }) << nieuw << "pla_combineren"
        << "int 1";
    QTest::newRow("payment on account in lower case is still on account")
        << Aanpassing([](tRitBSA &r) { r.Afrekenwijze = "rekening"; }) << nieuw << "pla_rc"
        << "int 1";
    QTest::newRow("payment in cash is not on account")
        << Aanpassing([](tRitBSA &r) { r.Afrekenwijze = "CONTANT"; }) << nieuw << "pla_rc"
        << "int 0";
    QTest::newRow("payment by credit card is not on account")
        << Aanpassing([](tRitBSA &r) { r.Afrekenwijze = "CREDITKAART"; }) << gewijzigd << "pla_rc"
        << "int 0";
    QTest::newRow("the ride date keeps its time of day") << geen << nieuw << "pla_datum"
                                                         << "date-time 2011-01-09 14:05:00";
    QTest::newRow("the ride time is the same date-time") << geen << gewijzigd << "pla_tijdstip"
                                                         << "date-time 2011-01-09 14:05:00";
    QTest::newRow("the location time comes from its own field") << geen << nieuw << "pla_tijdstip_locatie"
                                                                << "date-time 2011-01-09 13:50:00";
    QTest::newRow("an unreadable ride date is stored as the zero date-time")
        << Aanpassing([](tRitBSA &r) { r.Tijdstip = "201102301405"; }) << nieuw << "pla_datum"
        << "date-time 1899-12-30 00:00:00";
    QTest::newRow("the project number is cut to 20 characters")
        << Aanpassing([](tRitBSA &r) { r.Projectnummer = "ABCDEFGHIJKLMNOPQRSTUVWXY"; }) << nieuw
        << "pla_extern_projectnummer"
        << "text \"ABCDEFGHIJKLMNOPQRST\"";
    QTest::newRow("a street is cut to 30 characters")
        << Aanpassing([](tRitBSA &r) { r.OphStraat = QString(30, 'a') + "bcdef"; }) << nieuw << "pla_ophstraat"
        << "text \"" + QString(30, 'a') + "\"";
    QTest::newRow("a town keeps its spaces")
        << Aanpassing([](tRitBSA &r) { r.BestStad = " Den Haag "; }) << nieuw << "pla_beststad"
        << "text \" Den Haag \"";
    QTest::newRow("a house number is cut to 6 characters")
        << Aanpassing([](tRitBSA &r) { r.BestNummer = "123-4567"; }) << nieuw << "pla_bestnummer"
        << "text \"123-45\"";
    QTest::newRow("the passenger's name goes into the remark as well")
        << Aanpassing([](tRitBSA &r) { r.NaamReiziger = "de Vries, A_B"; }) << nieuw << "pla_opmerking"
        << "text \"de Vries, A_B\"";
    QTest::newRow("card number 0 is written as 0") << geen << nieuw << "pla_pasnummer"
                                                   << "text \"0\"";
    QTest::newRow("the BSA ride number is the external ride number") << geen << gewijzigd << "pla_extern_ritnummer"
                                                                     << "int 4711";
    QTest::newRow("the BSA ride number is the external number") << geen << nieuw << "pla_extern"
                                                                << "int 4711";
    QTest::newRow("the owner is always 010") << geen << gewijzigd << "pla_eigenaar"
                                             << "text \"010\"";
    QTest::newRow("a new ride gets the temporary key") << geen << nieuw << "pla_temp"
                                                       << "text \"" + Sleutel + "\"";
    QTest::newRow("a changed ride keeps its temporary key") << geen << gewijzigd << "pla_temp"
                                                            << "<not written>";
    QTest::newRow("a new ride takes the company from the settings") << geen << nieuw << "pla_bdr_id"
                                                                    << "int 12";
    QTest::newRow("a new ride takes the client from the settings") << geen << nieuw << "pla_reiziger"
                                                                   << "int 0";
    QTest::newRow("a new ride takes the tariff from the settings") << geen << nieuw << "pla_tarief_bedrijf"
                                                                   << "int 3";
    QTest::newRow("a changed ride keeps its company") << geen << gewijzigd << "pla_bdr_id"
                                                      << "<not written>";
    QTest::newRow("a changed ride keeps its client") << geen << gewijzigd << "pla_reiziger"
                                                     << "<not written>";
    QTest::newRow("a changed ride keeps its tariff") << geen << gewijzigd << "pla_tarief_bedrijf"
                                                     << "<not written>";
    QTest::newRow("the kind of transport comes from the settings") << geen << gewijzigd << "pla_soortvervoer"
                                                                   << "text \"Q\"";
    QTest::newRow("the filter comes from the settings") << geen << nieuw << "pla_filter"
                                                        << "text \"F\"";
    QTest::newRow("every ride is a single ride") << geen << nieuw << "pla_soortrit"
                                                 << "text \"S\"";
}

void TestPlanningrij::writesEachColumn()
{
    QFETCH(Aanpassing, aanpassing);
    QFETCH(RideChange, wijziging);
    QFETCH(QString, column);
    QFETCH(QString, expected);
    Settings settings;
    settings.BSA_BDR = QStringLiteral("12x");
    settings.BSA_DEB = QStringLiteral("x");
    settings.BSA_Tarief = QStringLiteral(" 3");
    settings.SoortVervoer = QStringLiteral("Q");
    settings.PZN_FILTER = QStringLiteral("F");
    tRitBSA rit = basisRit();
    aanpassing(rit);

    const Planningrij rij = VulPlanningrij(rit, wijziging, settings, Sleutel);

    QCOMPARE(alsTekst(waarde(rij.columns, column)), expected);
}

void TestPlanningrij::writesEachColumnOnce_data()
{
    QTest::addColumn<Aanpassing>("aanpassing");
    QTest::addColumn<RideChange>("wijziging");
    const Aanpassing geen = [](tRitBSA &) {};
    // The vehicle column is decided twice for a wheelchair passenger, the memo from many fields.
    const Aanpassing alles = [](tRitBSA &r) {
        r.Rollers = 1;
        r.AanTekst = QStringLiteral("Bel aan");
        r.Factuurcode = QStringLiteral("F7");
        r.Telefoon = 201234567;
    };
    QTest::newRow("a new ride") << geen << RideChange::New;
    QTest::newRow("a changed ride") << geen << RideChange::Changed;
    QTest::newRow("a new ride in a wheelchair with a memo") << alles << RideChange::New;
    QTest::newRow("a changed ride in a wheelchair with a memo") << alles << RideChange::Changed;
}

void TestPlanningrij::writesEachColumnOnce()
{
    QFETCH(Aanpassing, aanpassing);
    QFETCH(RideChange, wijziging);
    tRitBSA rit = basisRit();
    aanpassing(rit);
    const QStringList written = namen(VulPlanningrij(rit, wijziging, Settings(), Sleutel).columns);
    QVERIFY(written.contains(QStringLiteral("pla_extern_ritnummer")));
    QStringList once = written;
    once.removeDuplicates();
    QCOMPARE(written, once); // a column named twice in one INSERT or UPDATE is refused by the database
}

void TestPlanningrij::buildsTheMemo_data()
{
    QTest::addColumn<Aanpassing>("aanpassing");
    QTest::addColumn<RideChange>("wijziging");
    QTest::addColumn<QString>("memo");
    QTest::addColumn<QString>("aanLogregel");

    QTest::newRow("a plain ride starts with an empty line and ends with the payment mode")
        << Aanpassing([](tRitBSA &) {}) << RideChange::New << "\r\nLAGE INSTAP = NEE\r\nAFREKENWIJZE= CONTANT"
        << "";
    QTest::newRow("the ride text comes first, without blanks around it, then the indications")
        << Aanpassing([](tRitBSA &r) {
               r.RitTekst = "  Rolstoel mee\t";
               r.ExtraBeenruimte = "J";
               r.LageInstap = "J";
           })
        << RideChange::New << "Rolstoel mee\r\nExtra beenruimte\r\nLAGE INSTAP = JA\r\nAFREKENWIJZE= CONTANT"
        << "";
    QTest::newRow("free children are noted on a changed ride")
        << Aanpassing([](tRitBSA &r) {
               r.RitTekst = "Rolstoel mee";
               r.ExtraBeenruimte = "J";
               r.GratisKinderen = 2;
           })
        << RideChange::Changed
        << "Rolstoel mee\r\nExtra beenruimte\r\nGratis kinderen 2\r\nLAGE INSTAP = NEE\r\nAFREKENWIJZE= CONTANT"
        << "";
    QTest::newRow("free children are not noted on a new ride") << Aanpassing([](tRitBSA &r) {
        r.RitTekst = "Rolstoel mee";
        r.ExtraBeenruimte = "J";
        r.GratisKinderen = 2;
    }) << RideChange::New << "Rolstoel mee\r\nExtra beenruimte\r\nLAGE INSTAP = NEE\r\nAFREKENWIJZE= CONTANT"
                                                               << "";
    QTest::newRow("the door text becomes lines of its own and is logged as received")
        << Aanpassing([](tRitBSA &r) { r.AanTekst = "Bel aan#CRLF#Achterdeur"; }) << RideChange::New
        << "\r\nBel aan\r\nAchterdeur\r\nLAGE INSTAP = NEE\r\nAFREKENWIJZE= CONTANT"
        << "AAN: Bel aan#CRLF#Achterdeur";
    QTest::newRow("the payment mode is shown as received and low entry only for an exact J")
        << Aanpassing([](tRitBSA &r) {
               r.Afrekenwijze = "rekening";
               r.LageInstap = " J";
           })
        << RideChange::New << "\r\nLAGE INSTAP = NEE\r\nAFREKENWIJZE= rekening"
        << "";
    QTest::newRow("every line stands in its place")
        << Aanpassing([](tRitBSA &r) {
               r.RitTekst = "Tekst";
               for (QString *flag : { &r.ExtraBeenruimte, &r.GratisBegeleider, &r.GratisMeereizende,
                        &r.IndicatieGroepsrit, &r.IndicatieNaamChauffeur, &r.IndicatieKenteken, &r.KamerTotKamer,
                        &r.Rollator, &r.Scootmobiel, &r.Soho, &r.OpvouwbareRolstoel, &r.ElectrischeRolstoel, &r.Doof,
                        &r.Blind, &r.VoorinZitten, &r.LageInstap })
                   *flag = "J";
               r.GratisKinderen = 1;
               r.OphExtra1 = "o1";
               r.OphExtra2 = " ";
               r.BestExtra1 = "b1";
               r.BestExtra2 = "b2";
               r.Factuurcode = "F7";
               r.AanTekst = "aan";
           })
        << RideChange::Changed
        << "Tekst\r\nExtra beenruimte\r\nGratis begeleider\r\nGratis meereizende\r\nIndicatie groepsrit"
           "\r\nIndicatie naam chauffeur\r\nIndicatie kenteken nodig\r\nGratis kinderen 1\r\no1\r\n \r\nb1\r\nb2"
           "\r\nKamer tot Kamer\r\nRollator\r\nScootmobiel\r\nSOHO\r\nOpvouwbare rolstoel\r\nElectrische rolstoel"
           "\r\nDoof\r\nBlind\r\nFactuurcode: F7\r\naan\r\nLAGE INSTAP = JA\r\nAFREKENWIJZE= CONTANT\r\nVoorin zitten"
        << "AAN: aan";
    QTest::newRow("a lower-case j sets no indication") << Aanpassing([](tRitBSA &r) {
        r.Doof = "j";
        r.Blind = "N";
    }) << RideChange::New << "\r\nLAGE INSTAP = NEE\r\nAFREKENWIJZE= CONTANT"
                                                       << "";
}

void TestPlanningrij::buildsTheMemo()
{
    QFETCH(Aanpassing, aanpassing);
    QFETCH(RideChange, wijziging);
    QFETCH(QString, memo);
    QFETCH(QString, aanLogregel);
    tRitBSA rit = basisRit();
    aanpassing(rit);

    const Planningrij rij = VulPlanningrij(rit, wijziging, Settings(), Sleutel);

    QCOMPARE(alsTekst(waarde(rij.columns, QStringLiteral("pla_tekst"))), "text \"" + memo + "\"");
    QCOMPARE(rij.aanLogregel, aanLogregel);
}

void TestPlanningrij::readsDateTimes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("expected");
    const QDateTime nul(QDate(1899, 12, 30), QTime(0, 0));
    QTest::newRow("twelve digits give date, hour and minute")
        << "201101091405" << QDateTime(QDate(2011, 1, 9), QTime(14, 5));
    QTest::newRow("a missing minute counts 0") << "2011010914" << QDateTime(QDate(2011, 1, 9), QTime(14, 0));
    QTest::newRow("a piece may start with a space") << "2011 1 9 9 5" << QDateTime(QDate(2011, 1, 9), QTime(9, 5));
    QTest::newRow("a leap day exists in a leap year") << "202402292359" << QDateTime(QDate(2024, 2, 29), QTime(23, 59));
    QTest::newRow("an empty text gives the zero date-time") << "" << nul;
    QTest::newRow("month 13 gives the zero date-time") << "201113011405" << nul;
    QTest::newRow("30 February gives the zero date-time") << "201102301405" << nul;
    QTest::newRow("hour 24 gives the zero date-time") << "201101092400" << nul;
    QTest::newRow("minute 60 gives the zero date-time") << "201101091460" << nul;
    QTest::newRow("year 0 gives the zero date-time") << "000001011200" << nul;
    QTest::newRow("a signed piece gives the zero date-time") << "2011-1091405" << nul;
    QTest::newRow("letters give the zero date-time") << "abcdefghijkl" << nul;
}

void TestPlanningrij::readsDateTimes()
{
    QFETCH(QString, text);
    QFETCH(QDateTime, expected);
    const QDateTime result = TekstNaarDatumTijd(text);
    QCOMPARE(result, expected);
    QCOMPARE(result.timeSpec(), Qt::LocalTime);
}

void TestPlanningrij::IsJaTakesOnlyAnUpperCaseJ_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ja");
    QTest::newRow("J is yes") << "J" << true;
    QTest::newRow("J between blanks and control characters is yes") << QStringLiteral(" \t\x01J\r\n") << true;
    QTest::newRow("a lower-case j is no") << "j" << false;
    QTest::newRow("JA is no") << "JA" << false;
    QTest::newRow("N is no") << "N" << false;
    QTest::newRow("an empty text is no") << "" << false;
}

void TestPlanningrij::IsJaTakesOnlyAnUpperCaseJ()
{
    QFETCH(QString, text);
    QFETCH(bool, ja);
    QCOMPARE(IsJa(text), ja);
}

QTEST_GUILESS_MAIN(TestPlanningrij)
#include "TestPlanningrij.moc"
