#include "Planningrij.h"

#include <algorithm>

#include <QDate>
#include <QTime>

#include "codec/FieldValues.h"
#include "codec/RitBSA.h"
#include "platform/Decimal.h"
#include "settings/Settings.h"

namespace {
const QString CrLf = QStringLiteral("\r\n");

// The value of the leading digits of one piece of a date-time text; leading spaces allowed, no sign.
int pieceValue(const QString &text, qsizetype from, qsizetype length)
{
    const QStringView piece = QStringView(text).mid(from, length);
    qsizetype i = 0;
    while (i < piece.size() && piece.at(i) == QLatin1Char(' '))
        ++i;
    int value = 0;
    for (; i < piece.size() && piece.at(i) >= QLatin1Char('0') && piece.at(i) <= QLatin1Char('9'); ++i)
        value = value * 10 + (piece.at(i).unicode() - '0');
    return value;
}

// "1234AB" is stored as "1234 AB", the form the planning side searches on.
QString postcodeVorm(const QString &postcode)
{
    const QStringView view(postcode);
    QString vorm;
    vorm.reserve(7);
    vorm.append(view.left(4)).append(QLatin1Char(' ')).append(view.mid(4, 2));
    return vorm;
}

QVariant decimalAmount(qint64 units, int scale)
{
    return QVariant::fromValue(Decimal { units, scale });
}

// Appends one memo line the way the planning screens show them: every line starts with CR LF.
void appendMemoLine(QString &memo, const QString &line)
{
    memo += CrLf;
    memo += line;
}

// Writes a column; each is written once, in the order the row write names them. An empty text is stored as an empty
// text, never as NULL, as the planning side has always found it.
void setColumn(ColumnValues &columns, const QString &column, QVariant value)
{
    Q_ASSERT(std::none_of(columns.cbegin(), columns.cend(), [&](const auto &entry) { return entry.first == column; }));
    if (value.metaType() == QMetaType::fromType<QString>() && value.toString().isNull())
        value = QStringLiteral("");
    columns.append({ column, std::move(value) });
}
} // namespace

QDateTime zeroDateTime()
{
    return QDateTime(QDate(1899, 12, 30), QTime(0, 0));
}

QDateTime TekstNaarDatumTijd(const QString &text)
{
    const int year = pieceValue(text, 0, 4);
    const int month = pieceValue(text, 4, 2);
    const int day = pieceValue(text, 6, 2);
    const int hour = pieceValue(text, 8, 2);
    const int minute = pieceValue(text, 10, 2);
    if (year < 1 || year > 9999 || !QDate::isValid(year, month, day) || !QTime::isValid(hour, minute, 0))
        return zeroDateTime();
    return QDateTime(QDate(year, month, day), QTime(hour, minute));
}

bool IsJa(const QString &text)
{
    return FieldValues::withoutBlanks(text) == QLatin1String("J");
}

Planningrij VulPlanningrij(const tRitBSA &rit, RideChange wijziging, const Settings &settings, const QString &tempKey)
{
    const bool nieuw = wijziging == RideChange::New;
    Planningrij rij;
    ColumnValues &k = rij.columns;
    k.reserve(64);
    // A wheelchair passenger decides the vehicle, whatever BSA asked for.
    const bool rolstoel = rit.Rollers > 0;

    if (nieuw)
        setColumn(k, QStringLiteral("pla_soortvervoer"), settings.SoortVervoer);
    if (nieuw)
        setColumn(k, QStringLiteral("pla_temp"), tempKey);
    setColumn(k, QStringLiteral("pla_eigenaar"), QStringLiteral("010"));
    if (nieuw) {
        setColumn(k, QStringLiteral("pla_bdr_id"), settings.number<&Settings::BSA_BDR>());
        setColumn(k, QStringLiteral("pla_reiziger"), settings.number<&Settings::BSA_DEB>());
        setColumn(k, QStringLiteral("pla_tarief_bedrijf"), settings.number<&Settings::BSA_Tarief>());
    }
    setColumn(k, QStringLiteral("pla_pasnummer"), QString::number(rit.Pasnummer));
    setColumn(k, QStringLiteral("pla_extern_projectnummer"), rit.Projectnummer.left(20));
    setColumn(k, QStringLiteral("pla_extern_locatie"), rit.Locatie.left(20));
    // The planning side reads the full date and time from pla_datum as well.
    const QDateTime tijdstip = TekstNaarDatumTijd(rit.Tijdstip);
    setColumn(k, QStringLiteral("pla_datum"), tijdstip);
    setColumn(k, QStringLiteral("pla_tijdstip"), tijdstip);
    if (!nieuw)
        setColumn(k, QStringLiteral("pla_soortvervoer"), settings.SoortVervoer);
    setColumn(k, QStringLiteral("pla_tijdstip_locatie"), TekstNaarDatumTijd(rit.TijdstipLocatie));
    setColumn(k, QStringLiteral("pla_naam_reiziger"), rit.NaamReiziger);
    setColumn(k, QStringLiteral("pla_lopers"), rit.Lopers);
    setColumn(k, QStringLiteral("pla_rollers"), rit.Rollers);
    // BSA sends amounts in cents and distances in tenths of a kilometre.
    setColumn(k, QStringLiteral("pla_bedrag"), decimalAmount(rit.Bedrag, 2));
    setColumn(k, QStringLiteral("pla_bedrag_3"), decimalAmount(rit.Bedrag, 2));
    setColumn(k, QStringLiteral("pla_bedrag_5"), decimalAmount(rit.Bedrag5, 2));
    setColumn(k, QStringLiteral("pla_zone_aantal"), rit.ZoneAantal);
    setColumn(k, QStringLiteral("pla_km_sqr"), decimalAmount(qint64(rit.Kilometers) * 10, 2));
    setColumn(k, QStringLiteral("pla_km_map"), decimalAmount(qint64(rit.Kilometers) * 10, 2));
    setColumn(k, QStringLiteral("pla_soortwagen"), rolstoel ? QStringLiteral("R") : QStringLiteral("T"));
    setColumn(k, QStringLiteral("pla_rc"), rit.Afrekenwijze.toUpper() == QLatin1String("REKENING") ? 1 : 0);

    QString memo = FieldValues::withoutBlanks(rit.RitTekst).toString();
    if (IsJa(rit.ExtraBeenruimte))
        appendMemoLine(memo, QStringLiteral("Extra beenruimte"));
    if (IsJa(rit.GratisBegeleider))
        appendMemoLine(memo, QStringLiteral("Gratis begeleider"));
    if (IsJa(rit.GratisMeereizende))
        appendMemoLine(memo, QStringLiteral("Gratis meereizende"));
    if (IsJa(rit.IndicatieGroepsrit))
        appendMemoLine(memo, QStringLiteral("Indicatie groepsrit"));
    if (IsJa(rit.IndicatieNaamChauffeur))
        appendMemoLine(memo, QStringLiteral("Indicatie naam chauffeur"));
    if (IsJa(rit.IndicatieKenteken))
        appendMemoLine(memo, QStringLiteral("Indicatie kenteken nodig"));
    if (!nieuw && rit.GratisKinderen > 0)
        appendMemoLine(memo, QStringLiteral("Gratis kinderen ") + QString::number(rit.GratisKinderen));
    for (const QString *extra : { &rit.OphExtra1, &rit.OphExtra2, &rit.BestExtra1, &rit.BestExtra2 }) {
        if (!extra->isEmpty())
            appendMemoLine(memo, *extra);
    }
    const struct
    {
        const QString &vlag;
        const char *regel;
    } aanduidingen[] = {
        { rit.KamerTotKamer, "Kamer tot Kamer" },
        { rit.Rollator, "Rollator" },
        { rit.Scootmobiel, "Scootmobiel" },
        { rit.Soho, "SOHO" },
        { rit.OpvouwbareRolstoel, "Opvouwbare rolstoel" },
        { rit.ElectrischeRolstoel, "Electrische rolstoel" },
        { rit.Doof, "Doof" },
        { rit.Blind, "Blind" },
    };
    for (const auto &aanduiding : aanduidingen) {
        if (IsJa(aanduiding.vlag))
            appendMemoLine(memo, QString::fromLatin1(aanduiding.regel));
    }
    if (!rit.Factuurcode.isEmpty())
        appendMemoLine(memo, QStringLiteral("Factuurcode: ") + rit.Factuurcode);
    if (!rit.AanTekst.isEmpty()) {
        appendMemoLine(memo, QString(rit.AanTekst).replace(QStringLiteral("#CRLF#"), CrLf));
        rij.aanLogregel = QStringLiteral("AAN: ") + rit.AanTekst;
    }
    appendMemoLine(memo,
        rit.LageInstap == QLatin1String("J") ? QStringLiteral("LAGE INSTAP = JA")
                                             : QStringLiteral("LAGE INSTAP = NEE"));
    appendMemoLine(memo, QStringLiteral("AFREKENWIJZE= ") + rit.Afrekenwijze);
    if (IsJa(rit.VoorinZitten))
        appendMemoLine(memo, QStringLiteral("Voorin zitten"));
    setColumn(k, QStringLiteral("pla_tekst"), memo);

    setColumn(k, QStringLiteral("pla_extern_ritnummer"), rit.BSRitnummer);
    setColumn(k, QStringLiteral("pla_extern"), rit.BSRitnummer);
    setColumn(k, QStringLiteral("pla_ophpostcode"), postcodeVorm(rit.OphPostcode));
    setColumn(k, QStringLiteral("pla_ophstraat"), rit.OphStraat.left(30));
    setColumn(k, QStringLiteral("pla_ophnummer"), rit.OphNummer.left(6));
    setColumn(k, QStringLiteral("pla_ophstad"), rit.OphStad.left(30));
    setColumn(k, QStringLiteral("pla_bestpostcode"), postcodeVorm(rit.BestPostcode));
    setColumn(k, QStringLiteral("pla_besstraat"), rit.BestStraat.left(30));
    setColumn(k, QStringLiteral("pla_bestnummer"), rit.BestNummer.left(6));
    setColumn(k, QStringLiteral("pla_zone_van"), 0);
    setColumn(k, QStringLiteral("pla_zone_naar"), 0);
    setColumn(k, QStringLiteral("pla_beststad"), rit.BestStad.left(30));
    setColumn(k, QStringLiteral("pla_soortrit"), QStringLiteral("S"));
    setColumn(k, QStringLiteral("pla_filter"), settings.PZN_FILTER);
    setColumn(k, QStringLiteral("pla_opmerking"), rit.NaamReiziger);
    setColumn(k, QStringLiteral("pla_combineren"), IsJa(rit.NietCombineren) ? 0 : 1);
    setColumn(k, QStringLiteral("pla_rolstoel"), rolstoel ? 1 : 0);
    setColumn(k, QStringLiteral("pla_spoed"), rit.Spoed == QLatin1String("T") ? 1 : 0);
    // BSA sends the number without its leading 0.
    setColumn(k, QStringLiteral("pla_telefoon"),
        rit.Telefoon > 0 ? QStringLiteral("0") + QString::number(rit.Telefoon) : QString());
    return rij;
}
