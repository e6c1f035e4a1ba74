#pragma once

#include <QString>

// The answer to a BSA message: "AC" accepted or "NC" refused, for one BSA ride number.
struct tAckNackBSA
{
    QString Soort; // 2
    QString Waarde; // 3
    QString Code; // 2
    int BSRitnummer = 0;
    QString Tekst; // any length; empty in every answer the link builds
};

// "AC" TAB "BSA" TAB "6" TAB ritnummer TAB Tekst, the header fields cut to their capacity and without blanks
// (codes up to 32) at either end.
QString AckNackNaarTekst(const tAckNackBSA &rec);
// Fills the whole record from a decoded answer. Fails with "List index out of bounds (n)" when the text has
// n < 4 fields; the fields before the missing one stay filled. Tekst is always left empty.
bool TekstNaarAckNack(const QString &text, tAckNackBSA &rec, QString *error);
// The answer the link sends for a ride message: Waarde "BSA", Code "6", no Tekst.
tAckNackBSA MaakAntwoord(const QString &soort, int ritnummer);
