#include "RideMessageBuilder.h"

#include <iterator>

namespace {

struct Field
{
    const char *name; // as in the ride record
    const char *defaultValue; // a ride as BSA typically books it; unused integers still carry "0", as BSA sends them
};

// Every field of a ride message, in message order.
constexpr Field Fields[] = {
    { "Soort", "BN" },
    { "Waarde", "BSA" },
    { "Code", "6" },
    { "Veld4", "" },
    { "Veld5", "" },
    { "BSRitnummer", "" }, // the ride number given
    { "Pasnummer", "1234567" },
    { "Projectnummer", "PRJ100" },
    { "Locatie", "Centrum" },
    { "Tijdstip", "" }, // an hour from now
    { "Veld11", "" },
    { "TijdstipLocatie", "" }, // an hour from now
    { "NaamReiziger", "Jansen P." },
    { "Telefoon", "201234567" },
    { "Veld15", "0" },
    { "Veld16", "0" },
    { "Veld17", "0" },
    { "Veld18", "0" },
    { "OphStad", "Amsterdam" },
    { "OphPostcode", "1234AB" },
    { "OphStraat", "Dorpsstraat" },
    { "OphNummer", "12" },
    { "OphExtra1", "" },
    { "OphExtra2", "" },
    { "Veld25", "" },
    { "Veld26", "0" },
    { "BestStad", "Amsterdam" },
    { "BestPostcode", "1234AB" },
    { "BestStraat", "Stationsplein" },
    { "BestNummer", "1" },
    { "BestExtra1", "" },
    { "BestExtra2", "" },
    { "Veld33", "" },
    { "Lopers", "1" },
    { "Rollers", "0" },
    { "Bedrag", "1250" },
    { "Bedrag5", "0" },
    { "ZoneAantal", "2" },
    { "Kilometers", "12.5" },
    { "RitTekst", "" },
    { "SoortWagen", "T" },
    { "NietCombineren", "N" },
    { "VoorinZitten", "N" },
    { "KamerTotKamer", "N" },
    { "Rollator", "N" },
    { "Scootmobiel", "N" },
    { "ExtraBeenruimte", "N" },
    { "Soho", "N" },
    { "GratisBegeleider", "N" },
    { "GratisMeereizende", "N" },
    { "Spoed", "N" },
    { "LageInstap", "N" },
    { "IndicatieGroepsrit", "N" },
    { "IndicatieNaamChauffeur", "N" },
    { "IndicatieKenteken", "N" },
    { "Veld56", "N" },
    { "Veld57", "N" },
    { "Veld58", "0" },
    { "Afrekenwijze", "CONTANT" },
    { "OpvouwbareRolstoel", "N" },
    { "ElectrischeRolstoel", "N" },
    { "Doof", "N" },
    { "Blind", "N" },
    { "Veld64", "" },
    { "Veld65", "" },
    { "Veld66", "" },
    { "Veld67", "N" },
    { "AanTekst", "" },
    { "Factuurcode", "" },
    { "Veld70", "0" },
    { "Veld71", "0" },
    { "Veld72", "0" },
    { "Veld73", "0" },
    { "Veld74", "0" },
    { "GratisKinderen", "0" },
};

static_assert(std::size(Fields) == RideMessageBuilder::FieldCount);

const QString LineBreakMarker = QStringLiteral("\x1bLF");

} // namespace

RideMessageBuilder::RideMessageBuilder(qint32 rideNumber, const QDateTime &now)
{
    m_fields.reserve(FieldCount);
    for (const Field &field : Fields)
        m_fields << QString::fromLatin1(field.defaultValue);
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
        if (name.compare(QLatin1String(Fields[i].name), Qt::CaseInsensitive) == 0)
            return i + 1;
    }
    return 0;
}

QString RideMessageBuilder::fieldName(int number)
{
    return number >= 1 && number <= FieldCount ? QString::fromLatin1(Fields[number - 1].name) : QString();
}
