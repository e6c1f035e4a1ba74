#pragma once

#include <QDateTime>
#include <QString>

// The status message that tells the BSA host what became of one of its rides. Only the text form travels; the
// fields without a meaning of their own carry the same value in every message. Short texts are cut to the
// capacity noted beside them when the text is made.
struct tStatusBSA
{
    QString Soort; // 2
    QString Waarde; // 3
    QString Code; // 2
    int BSRitnummer = 0;
    QString TijdToewijzen; // 20, YYYYMMDDHHNN
    QString Veld6; // 50
    int Wagen = 0;
    QString Veld8; // 10
    QString Veld9; // 1
    QString Veld10; // 20
    QString Veld11; // 20
    QString Veld12; // 20
    QString Veld13; // 20
    QString TijdBestemmen; // 20, YYYYMMDDHHNN
    QString Veld15; // 20
    QString Veld16; // 20
    QString Veld17; // 20
    QString Veld18; // 30
    QString Veld19; // 10
    QString TijdVrijmelden; // 20, YYYYMMDDHHNN
    QString Veld21; // 20
    QString Veld22; // 20
    QString Veld23; // 20
    QString Veld24; // 20
    QString LVlagTekst; // 3
    int LVlag = 0;
    QString Veld27; // 20
    QString Veld28; // 20
    int BedragCenten = 0;
    int Bedrijfsnummer = 0;
};

// The date-time value 0, 30 December 1899 00:00, as a status message writes it.
inline const QString ZeroDateTimeText = QStringLiteral("189912300000");

// A record holding the value every field has when the ride does not say otherwise.
tStatusBSA StatusStandaard();

// The 30 fields in order, each followed by one TAB: short texts cut to their capacity and without blanks (codes up
// to 32) at either end, integers in decimal.
QString StatusNaarTekst(const tStatusBSA &status);

// "201101091405": year, month, day, hour and minute; the seconds are dropped. A date-time that is not valid is
// the zero date-time.
QString DatumTijdTekst(const QDateTime &moment);
