#pragma once

#include <QString>

// One ride message of BSA: a new or changed ride ("BN") or a cancellation ("BV"), field k from message field k.
// Short texts hold at most the capacity noted, in characters of the ANSI code page.
struct tRitBSA
{
    QString Soort; // 2
    QString Waarde; // 3
    QString Code; // 2
    QString Veld4; // 50
    QString Veld5; // 50
    int BSRitnummer = 0;
    int Pasnummer = 0;
    QString Projectnummer; // 50
    QString Locatie; // 50
    QString Tijdstip; // 20, yyyymmddhhnn
    QString Veld11; // 20
    QString TijdstipLocatie; // 20, yyyymmddhhnn
    QString NaamReiziger; // 50
    int Telefoon = 0; // without its leading 0
    int Veld15 = 0;
    int Veld16 = 0;
    int Veld17 = 0;
    int Veld18 = 0;
    QString OphStad; // 50
    QString OphPostcode; // 50
    QString OphStraat; // 50
    QString OphNummer; // 20
    QString OphExtra1; // 50
    QString OphExtra2; // 50
    QString Veld25; // 50
    int Veld26 = 0;
    QString BestStad; // 50
    QString BestPostcode; // 50
    QString BestStraat; // 50
    QString BestNummer; // 20
    QString BestExtra1; // 50
    QString BestExtra2; // 50
    QString Veld33; // 50
    int Lopers = 0;
    int Rollers = 0;
    int Bedrag = 0; // cents
    int Bedrag5 = 0; // cents
    int ZoneAantal = 0;
    int Kilometers = 0; // tenths of a kilometre
    QString RitTekst; // 254
    QString SoortWagen; // 1
    QString NietCombineren; // 1
    QString VoorinZitten; // 1
    QString KamerTotKamer; // 1
    QString Rollator; // 1
    QString Scootmobiel; // 1
    QString ExtraBeenruimte; // 1
    QString Soho; // 1
    QString GratisBegeleider; // 1
    QString GratisMeereizende; // 1
    QString Spoed; // 1
    QString LageInstap; // 1
    QString IndicatieGroepsrit; // 1
    QString IndicatieNaamChauffeur; // 1
    QString IndicatieKenteken; // 1
    QString Veld56; // 1
    QString Veld57; // 1
    int Veld58 = 0;
    QString Afrekenwijze; // 15
    QString OpvouwbareRolstoel; // 1, this field and all after it are optional in a message
    QString ElectrischeRolstoel; // 1
    QString Doof; // 1
    QString Blind; // 1
    QString Veld64; // 50
    QString Veld65; // 10
    QString Veld66; // 50
    QString Veld67; // 1
    QString AanTekst; // any length, line breaks as "#CRLF#"
    QString Factuurcode; // 2
    int Veld70 = 0;
    int Veld71 = 0;
    int Veld72 = 0;
    int Veld73 = 0;
    int Veld74 = 0;
    int GratisKinderen = 0;
    QString Reservetekst; // no message fills it
};

// Fills the whole record from a decoded ride text whose line breaks are already "#CRLF#". Fails with
// "List index out of bounds (n)" when the text has n < 59 fields; the fields before the missing one stay filled.
bool TekstNaarRit(const QString &text, tRitBSA &rit, QString *error);
