#include "RitBSA.h"

#include "codec/FieldValues.h"

namespace {

constexpr qsizetype RequiredFields = 59;
constexpr qsizetype KnownFields = 75;
constexpr int LongText = -1;

// How one message field fills the record: a text of a capacity (or LongText), or an integer.
struct FieldRule
{
    QString tRitBSA::*text = nullptr;
    int capacity = 0;
    int tRitBSA::*number = nullptr;
};

constexpr FieldRule txt(QString tRitBSA::*member, int capacity)
{
    return { member, capacity, nullptr };
}

constexpr FieldRule num(int tRitBSA::*member)
{
    return { nullptr, 0, member };
}

constexpr FieldRule Rules[KnownFields] = {
    txt(&tRitBSA::Soort, 2),
    txt(&tRitBSA::Waarde, 3),
    txt(&tRitBSA::Code, 2),
    txt(&tRitBSA::Veld4, 50),
    txt(&tRitBSA::Veld5, 50),
    num(&tRitBSA::BSRitnummer),
    num(&tRitBSA::Pasnummer),
    txt(&tRitBSA::Projectnummer, 50),
    txt(&tRitBSA::Locatie, 50),
    txt(&tRitBSA::Tijdstip, 20),
    txt(&tRitBSA::Veld11, 20),
    txt(&tRitBSA::TijdstipLocatie, 20),
    txt(&tRitBSA::NaamReiziger, 50),
    num(&tRitBSA::Telefoon),
    num(&tRitBSA::Veld15),
    num(&tRitBSA::Veld16),
    num(&tRitBSA::Veld17),
    num(&tRitBSA::Veld18),
    txt(&tRitBSA::OphStad, 50),
    txt(&tRitBSA::OphPostcode, 50),
    txt(&tRitBSA::OphStraat, 50),
    txt(&tRitBSA::OphNummer, 20),
    txt(&tRitBSA::OphExtra1, 50),
    txt(&tRitBSA::OphExtra2, 50),
    txt(&tRitBSA::Veld25, 50),
    num(&tRitBSA::Veld26),
    txt(&tRitBSA::BestStad, 50),
    txt(&tRitBSA::BestPostcode, 50),
    txt(&tRitBSA::BestStraat, 50),
    txt(&tRitBSA::BestNummer, 20),
    txt(&tRitBSA::BestExtra1, 50),
    txt(&tRitBSA::BestExtra2, 50),
    txt(&tRitBSA::Veld33, 50),
    num(&tRitBSA::Lopers),
    num(&tRitBSA::Rollers),
    num(&tRitBSA::Bedrag),
    num(&tRitBSA::Bedrag5),
    num(&tRitBSA::ZoneAantal),
    num(&tRitBSA::Kilometers),
    txt(&tRitBSA::RitTekst, 254),
    txt(&tRitBSA::SoortWagen, 1),
    txt(&tRitBSA::NietCombineren, 1),
    txt(&tRitBSA::VoorinZitten, 1),
    txt(&tRitBSA::KamerTotKamer, 1),
    txt(&tRitBSA::Rollator, 1),
    txt(&tRitBSA::Scootmobiel, 1),
    txt(&tRitBSA::ExtraBeenruimte, 1),
    txt(&tRitBSA::Soho, 1),
    txt(&tRitBSA::GratisBegeleider, 1),
    txt(&tRitBSA::GratisMeereizende, 1),
    txt(&tRitBSA::Spoed, 1),
    txt(&tRitBSA::LageInstap, 1),
    txt(&tRitBSA::IndicatieGroepsrit, 1),
    txt(&tRitBSA::IndicatieNaamChauffeur, 1),
    txt(&tRitBSA::IndicatieKenteken, 1),
    txt(&tRitBSA::Veld56, 1),
    txt(&tRitBSA::Veld57, 1),
    num(&tRitBSA::Veld58),
    txt(&tRitBSA::Afrekenwijze, 15),
    txt(&tRitBSA::OpvouwbareRolstoel, 1),
    txt(&tRitBSA::ElectrischeRolstoel, 1),
    txt(&tRitBSA::Doof, 1),
    txt(&tRitBSA::Blind, 1),
    txt(&tRitBSA::Veld64, 50),
    txt(&tRitBSA::Veld65, 10),
    txt(&tRitBSA::Veld66, 50),
    txt(&tRitBSA::Veld67, 1),
    txt(&tRitBSA::AanTekst, LongText),
    txt(&tRitBSA::Factuurcode, 2),
    num(&tRitBSA::Veld70),
    num(&tRitBSA::Veld71),
    num(&tRitBSA::Veld72),
    num(&tRitBSA::Veld73),
    num(&tRitBSA::Veld74),
    num(&tRitBSA::GratisKinderen),
};

// Field 39 carries kilometres with a decimal point; its digits are read as tenths.
constexpr qsizetype KilometersIndex = 38;

int readKilometers(QStringView field)
{
    if (!field.contains(u'.'))
        return FieldValues::readInteger(field);
    QString digits = field.toString();
    digits.remove(u'.');
    return FieldValues::readInteger(digits);
}

void fill(tRitBSA &rit, qsizetype index, QStringView field)
{
    const FieldRule &rule = Rules[index];
    if (rule.number) {
        rit.*rule.number = index == KilometersIndex ? readKilometers(field) : FieldValues::readInteger(field);
    } else if (rule.capacity == LongText) {
        rit.*rule.text = FieldValues::longText(field);
    } else {
        rit.*rule.text = FieldValues::shortText(field, rule.capacity);
    }
}

} // namespace

bool TekstNaarRit(const QString &text, tRitBSA &rit, QString *error)
{
    rit = tRitBSA();
    const FieldValues::Fields fields = FieldValues::splitAtTabs(text);
    const qsizetype present = std::min(fields.size(), KnownFields);
    for (qsizetype index = 0; index < present; ++index)
        fill(rit, index, fields[index]);
    if (fields.size() < RequiredFields) {
        if (error)
            *error = QStringLiteral("List index out of bounds (%1)").arg(fields.size());
        return false;
    }
    return true;
}
