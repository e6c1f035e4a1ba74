#pragma once

#include <cstddef>
#include <optional>

#include <QString>

// The operator's values, each named after the window field that edits it. Components keep a reference and read
// a value at the moment they use it, so an edit takes effect at the next use. Numbers stay text until used.
// Every value is listed once, with its default, its kind and how a number is read from it, in SettingsTable below:
// the settings file and the window's fields are made from that table.
struct Settings
{
    // Every value at its default.
    Settings();

    // Stored in the settings file.
    QString xLoginDatabase;
    QString xLoginServer;
    QString xLoginSQL;
    QString xPaswoordSQL;
    QString BSA_BDR;
    QString BSA_DEB;
    QString PZN_FILTER;
    QString DecimaalTeken;
    QString PZN_Taxi;
    QString PZN_Bus;
    QString PZN_Rolstoelbus;
    QString BSA_Tarief;
    QString BSAHostAdres;
    QString BSAHostPoort;
    bool BSATerug = false;
    bool bsaCRLF = false;
    bool BSAAuto = false;
    QString Gebruiker;
    QString SoftwareVersie;
    QString BSABedrijf;
    QString SoortVervoer;
    // The IPv4 addresses and networks that may connect to the BSA server ("192.0.2.10, 198.51.100.0/24"); empty lets
    // everyone in.
    QString BSAToegestaneAdressen;

    // Window fields that are never stored: every run starts with these values.
    QString BSAServerPoort;
    QString Ritnummer;

    // How much of a setting's text may come before its digits. Each number the link reads from a setting has its
    // own rule, because the operators' files were written against those rules.
    enum class NumberStart {
        Digits, // the text begins with its digits
        SpacesThenDigits, // leading spaces are skipped
        SpacesThenSignedDigits, // leading spaces, then an optional "+" or "-"
    };

    // The number formed by the digits at the start of a setting, up to the first other character; 0 when the text
    // does not start (as `start` allows) with a digit, or when the number does not fit in 32 bits.
    static int leadingInt(const QString &text, NumberStart start);

    // The number in the text setting `Field`, read by that setting's own rule in SettingsTable.
    template <QString Settings::*Field> int number() const;
};

// One setting: the name of its field (and, with "_Text" or "_Checked", of its element in the settings file), its
// kind, its default, whether the file keeps it, and for a number the rule by which it is read.
struct SettingEntry
{
    enum class Kind { Text, Flag };
    enum class Storage { File, RunOnly };

    const char *name;
    Kind kind;
    QString Settings::*text; // a text setting's value
    bool Settings::*flag; // a flag's value
    const char *defaultText; // a text setting's default
    bool defaultFlag; // a flag's default
    Storage storage;
    std::optional<Settings::NumberStart> numberStart; // a text setting that holds a number

    static constexpr SettingEntry textSetting(const char *name, QString Settings::*value, const char *defaultText,
        std::optional<Settings::NumberStart> numberStart = std::nullopt, Storage storage = Storage::File)
    {
        return { name, Kind::Text, value, nullptr, defaultText, false, storage, numberStart };
    }
    static constexpr SettingEntry flagSetting(const char *name, bool Settings::*value, bool defaultFlag)
    {
        return { name, Kind::Flag, nullptr, value, nullptr, defaultFlag, Storage::File, std::nullopt };
    }
};

// Every setting once, the stored ones in the order of a new settings file.
inline constexpr SettingEntry SettingsTable[] = {
    SettingEntry::textSetting("xLoginDatabase", &Settings::xLoginDatabase, ""),
    SettingEntry::textSetting("xLoginServer", &Settings::xLoginServer, ""),
    SettingEntry::textSetting("xLoginSQL", &Settings::xLoginSQL, ""),
    SettingEntry::textSetting("xPaswoordSQL", &Settings::xPaswoordSQL, ""),
    SettingEntry::textSetting("BSA_BDR", &Settings::BSA_BDR, "1", Settings::NumberStart::SpacesThenDigits),
    SettingEntry::textSetting("BSA_DEB", &Settings::BSA_DEB, "1", Settings::NumberStart::SpacesThenDigits),
    SettingEntry::textSetting("PZN_FILTER", &Settings::PZN_FILTER, "P"),
    SettingEntry::textSetting("DecimaalTeken", &Settings::DecimaalTeken, "."),
    SettingEntry::textSetting("PZN_Taxi", &Settings::PZN_Taxi, "T"),
    SettingEntry::textSetting("PZN_Bus", &Settings::PZN_Bus, "B"),
    SettingEntry::textSetting("PZN_Rolstoelbus", &Settings::PZN_Rolstoelbus, "R"),
    SettingEntry::textSetting("BSA_Tarief", &Settings::BSA_Tarief, "1", Settings::NumberStart::SpacesThenDigits),
    SettingEntry::textSetting("BSAHostAdres", &Settings::BSAHostAdres, "127.0.0.1"),
    SettingEntry::textSetting(
        "BSAHostPoort", &Settings::BSAHostPoort, "12000", Settings::NumberStart::SpacesThenDigits),
    SettingEntry::flagSetting("BSATerug", &Settings::BSATerug, false),
    SettingEntry::flagSetting("bsaCRLF", &Settings::bsaCRLF, false),
    SettingEntry::flagSetting("BSAAuto", &Settings::BSAAuto, false),
    SettingEntry::textSetting("Gebruiker", &Settings::Gebruiker, "0", Settings::NumberStart::Digits),
    SettingEntry::textSetting("SoftwareVersie", &Settings::SoftwareVersie, "6"),
    SettingEntry::textSetting("BSABedrijf", &Settings::BSABedrijf, "0", Settings::NumberStart::SpacesThenSignedDigits),
    SettingEntry::textSetting("SoortVervoer", &Settings::SoortVervoer, "P"),
    SettingEntry::textSetting("BSAToegestaneAdressen", &Settings::BSAToegestaneAdressen, ""),
    SettingEntry::textSetting(
        "BSAServerPoort", &Settings::BSAServerPoort, "12001", std::nullopt, SettingEntry::Storage::RunOnly),
    SettingEntry::textSetting("Ritnummer", &Settings::Ritnummer, "0", Settings::NumberStart::SpacesThenDigits,
        SettingEntry::Storage::RunOnly),
};

// The reading rule of the text setting `field`; a setting without one does not compile where it is asked for.
constexpr Settings::NumberStart numberStartOf(QString Settings::*field)
{
    for (const SettingEntry &entry : SettingsTable) {
        if (entry.text == field && entry.numberStart)
            return *entry.numberStart;
    }
    throw "this setting holds no number";
}

template <QString Settings::*Field> int Settings::number() const
{
    constexpr NumberStart start = numberStartOf(Field);
    return leadingInt(this->*Field, start);
}
