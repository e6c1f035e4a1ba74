#pragma once

#include <QString>

// The operator's values, each named after the window field that edits it. Components keep a reference and read
// a value at the moment they use it, so an edit takes effect at the next use. Numbers stay text until used.
struct Settings
{
    // Stored in the settings file, in this order.
    QString xLoginDatabase;
    QString xLoginServer;
    QString xLoginSQL;
    QString xPaswoordSQL;
    QString BSA_BDR = QStringLiteral("1");
    QString BSA_DEB = QStringLiteral("1");
    QString PZN_FILTER = QStringLiteral("P");
    QString DecimaalTeken = QStringLiteral(".");
    QString PZN_Taxi = QStringLiteral("T");
    QString PZN_Bus = QStringLiteral("B");
    QString PZN_Rolstoelbus = QStringLiteral("R");
    QString BSA_Tarief = QStringLiteral("1");
    QString BSAHostAdres = QStringLiteral("127.0.0.1");
    QString BSAHostPoort = QStringLiteral("12000");
    bool BSATerug = false;
    bool bsaCRLF = false;
    bool BSAAuto = false;
    QString Gebruiker = QStringLiteral("0");
    QString SoftwareVersie = QStringLiteral("6");
    QString BSABedrijf = QStringLiteral("0");
    QString SoortVervoer = QStringLiteral("P");
    // The IPv4 addresses and networks that may connect to the BSA server ("192.0.2.10, 198.51.100.0/24"); empty lets
    // everyone in.
    QString BSAToegestaneAdressen;

    // Window fields that are never stored: every run starts with these values.
    QString BSAServerPoort = QStringLiteral("12001");
    QString Ritnummer = QStringLiteral("0");

    // How much of a setting's text may come before its digits. Each number the link reads from a setting has its
    // own rule, because the operators' files were written against those rules.
    enum class NumberStart {
        Digits, // the text begins with its digits (Gebruiker)
        SpacesThenDigits, // leading spaces are skipped (BSA_BDR, BSA_DEB, BSA_Tarief, BSAHostPoort, Ritnummer)
        SpacesThenSignedDigits, // leading spaces, then an optional "+" or "-" (BSABedrijf)
    };

    // The number formed by the digits at the start of a setting, up to the first other character; 0 when the text
    // does not start (as `start` allows) with a digit, or when the number does not fit in 32 bits.
    static int leadingInt(const QString &text, NumberStart start);
};
