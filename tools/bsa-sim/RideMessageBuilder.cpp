#include "RideMessageBuilder.h"

#include <iterator>

namespace {

// The ride record's field names, in message order.
constexpr const char *FieldNames[] = {
    "Soort", "Waarde", "Code", "Veld4", "Veld5", "BSRitnummer", "Pasnummer", "Projectnummer", "Locatie",
    "Tijdstip", "Veld11", "TijdstipLocatie", "NaamReiziger", "Telefoon", "Veld15", "Veld16", "Veld17", "Veld18",
    "OphStad", "OphPostcode", "OphStraat", "OphNummer", "OphExtra1", "OphExtra2", "Veld25", "Veld26",
    "BestStad", "BestPostcode", "BestStraat", "BestNummer", "BestExtra1", "BestExtra2", "Veld33",
    "Lopers", "Rollers", "Bedrag", "Bedrag5", "ZoneAantal", "Kilometers", "RitTekst", "SoortWagen",
    "NietCombineren", "VoorinZitten", "KamerTotKamer", "Rollator", "Scootmobiel", "ExtraBeenruimte", "Soho",
    "GratisBegeleider", "GratisMeereizende", "Spoed", "LageInstap", "IndicatieGroepsrit",
    "IndicatieNaamChauffeur", "IndicatieKenteken", "Veld56", "Veld57", "Veld58", "Afrekenwijze",
    "OpvouwbareRolstoel", "ElectrischeRolstoel", "Doof", "Blind", "Veld64", "Veld65", "Veld66", "Veld67",
    "AanTekst", "Factuurcode", "Veld70", "Veld71", "Veld72", "Veld73", "Veld74", "GratisKinderen",
};

// A ride as BSA typically books it. Integer fields the link does not use still carry "0", as BSA sends them.
constexpr const char *Defaults[] = {
    "BN", "BSA", "6", "", "", "", "1234567", "PRJ100", "Centrum",
    "", "", "", "Jansen P.", "201234567", "0", "0", "0", "0",
    "Amsterdam", "1234AB", "Dorpsstraat", "12", "", "", "", "0",
    "Amsterdam", "1234AB", "Stationsplein", "1", "", "", "",
    "1", "0", "1250", "0", "2", "12.5", "", "T",
    "N", "N", "N", "N", "N", "N", "N",
    "N", "N", "N", "N", "N",
    "N", "N", "N", "N", "0", "CONTANT",
    "N", "N", "N", "N", "", "", "", "N",
    "", "", "0", "0", "0", "0", "0", "0",
};

static_assert(std::size(FieldNames) == RideMessageBuilder::FieldCount);
static_assert(std::size(Defaults) == RideMessageBuilder::FieldCount);

const QString LineBreakMarker = QStringLiteral("\x1bLF");

}

RideMessageBuilder::RideMessageBuilder(qint32 rideNumber, const QDateTime &now)
{
    m_fields.reserve(FieldCount);
    for (const char *value : Defaults)
        m_fields << QString::fromLatin1(value);
    setRideNumber(rideNumber);
    const QString when = now.addSecs(3600).toString(QStringLiteral("yyyyMMddHHmm"));
    m_fields[9] = when;
    m_fields[11] = when;
}

void RideMessageBuilder::setKind(Kind kind)
{
    m_fields[0] = kind == Kind::Cancellation ? QStringLiteral("BV") : QStringLiteral("BN");
}

void RideMessageBuilder::setRideNumber(qint32 rideNumber)
{
    m_fields[5] = QString::number(rideNumber);
}

bool RideMessageBuilder::setField(const QString &field, const QString &value, QString *error)
{
    bool isNumber = false;
    int number = field.trimmed().toInt(&isNumber);
    if (!isNumber)
        number = fieldNumber(field.trimmed());
    if (number < 1 || number > FieldCount) {
        if (error) {
            *error = isNumber ? QStringLiteral("Field number %1 is not between 1 and %2").arg(field).arg(FieldCount)
                              : QStringLiteral("The ride record has no field \"%1\"").arg(field);
        }
        return false;
    }
    m_fields[number - 1] = value;
    return true;
}

bool RideMessageBuilder::setAssignment(const QString &assignment, QString *error)
{
    const qsizetype equals = assignment.indexOf(QLatin1Char('='));
    if (equals <= 0) {
        if (error)
            *error = QStringLiteral("\"%1\" is not of the form FIELD=VALUE").arg(assignment);
        return false;
    }
    return setField(assignment.left(equals), assignment.mid(equals + 1), error);
}

void RideMessageBuilder::truncate(int count)
{
    m_count = qBound(0, count, int(FieldCount));
}

QString RideMessageBuilder::field(int number) const
{
    return number >= 1 && number <= FieldCount ? m_fields.at(number - 1) : QString();
}

qint32 RideMessageBuilder::rideNumber() const
{
    bool ok = false;
    const qint32 number = m_fields.at(5).toInt(&ok);
    return ok ? number : 0;
}

QString RideMessageBuilder::text() const
{
    QStringList fields = m_fields.mid(0, m_count);
    for (QString &value : fields) {
        value.replace(QStringLiteral("\r\n"), LineBreakMarker);
        value.replace(QLatin1Char('\r'), LineBreakMarker);
        value.replace(QLatin1Char('\n'), LineBreakMarker);
    }
    return fields.join(QLatin1Char('\t'));
}

int RideMessageBuilder::fieldNumber(const QString &name)
{
    for (int i = 0; i < FieldCount; ++i) {
        if (name.compare(QLatin1String(FieldNames[i]), Qt::CaseInsensitive) == 0)
            return i + 1;
    }
    return 0;
}

QString RideMessageBuilder::fieldName(int number)
{
    return number >= 1 && number <= FieldCount ? QString::fromLatin1(FieldNames[number - 1]) : QString();
}
