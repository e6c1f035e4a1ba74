#include "platform/PlanningSchema.h"

#include <QFile>
#include <QHash>

namespace {

// Sizes as the planning database declares them; the driver's own figure wins where it reports one.
const QHash<QString, int> &knownSizes()
{
    static const QHash<QString, int> sizes = {
        { QStringLiteral("planning.pla_soortvervoer"), 1 },
        { QStringLiteral("planning.pla_soortwagen"), 1 },
        { QStringLiteral("planning.pla_soortrit"), 1 },
        { QStringLiteral("planning.pla_filter"), 1 },
        { QStringLiteral("planning.pla_status"), 1 },
        { QStringLiteral("planning.pla_eigenaar"), 3 },
        { QStringLiteral("planning.pla_ophpostcode"), 10 },
        { QStringLiteral("planning.pla_ophnummer"), 10 },
        { QStringLiteral("planning.pla_bestnummer"), 10 },
        { QStringLiteral("planning.pla_bestpostcode"), 10 },
        { QStringLiteral("planning.pla_extern_projectnummer"), 20 },
        { QStringLiteral("planning.pla_extern_locatie"), 20 },
        { QStringLiteral("planning.pla_telefoon"), 40 },
        { QStringLiteral("planning.pla_pasnummer"), 40 },
        { QStringLiteral("planning.pla_temp"), 40 },
        { QStringLiteral("planning.pla_ophstraat"), 50 },
        { QStringLiteral("planning.pla_ophstad"), 50 },
        { QStringLiteral("planning.pla_besstraat"), 50 },
        { QStringLiteral("planning.pla_beststad"), 50 },
        { QStringLiteral("planning.pla_naam_reiziger"), 50 },
        { QStringLiteral("planning.pla_opmerking"), 50 },
        { QStringLiteral("transacties.tra_opmerking"), 255 },
    };
    return sizes;
}

} // namespace

namespace PlanningSchema {

int knownTextSize(const QString &table, const QString &column)
{
    return knownSizes().value(table.toLower() + QLatin1Char('.') + column.toLower(), -1);
}

bool isWideText(const QString &column)
{
    return column.compare(QLatin1String("pla_tekst"), Qt::CaseInsensitive) == 0;
}

QStringList sqliteStatements()
{
    QFile file(QStringLiteral(":/sql/sqlite/schema.sql"));
    // The file is compiled into the program: failing to open it is a build fault, not a run-time condition.
    const bool opened = file.open(QIODevice::ReadOnly | QIODevice::Text);
    Q_ASSERT(opened);
    Q_UNUSED(opened);
    return splitStatements(QString::fromUtf8(file.readAll()));
}

QStringList splitStatements(const QString &script)
{
    QStringList statements;
    QString current;
    bool quoted = false;
    for (qsizetype i = 0; i < script.size(); ++i) {
        const QChar c = script.at(i);
        if (!quoted && c == QLatin1Char('-') && i + 1 < script.size() && script.at(i + 1) == QLatin1Char('-')) {
            while (i < script.size() && script.at(i) != QLatin1Char('\n'))
                ++i;
            current += QLatin1Char('\n');
            continue;
        }
        if (c == QLatin1Char('\''))
            quoted = !quoted; // a doubled quote inside text flips twice and so stays inside
        if (!quoted && c == QLatin1Char(';')) {
            if (!current.trimmed().isEmpty())
                statements << current.trimmed();
            current.clear();
            continue;
        }
        current += c;
    }
    if (!current.trimmed().isEmpty())
        statements << current.trimmed();
    return statements;
}

} // namespace PlanningSchema
