#include <QtTest>

#include <QRegularExpression>

#include "platform/PlanningSchema.h"

// The sizes the link fits its texts to must be the sizes every shipped schema declares, column for column: a size
// the link does not know lets a long text fail the insert, a size it knows wrongly cuts a text short.
class TestPlanningSchema final : public QObject
{
    Q_OBJECT
private slots:
    void knownSizesAreTheSchemasSizes_data();
    void knownSizesAreTheSchemasSizes();
};

void TestPlanningSchema::knownSizesAreTheSchemasSizes_data()
{
    QTest::addColumn<QString>("schema");
    QTest::newRow("SQLite") << QStringLiteral(BSA_SQL_DIR "/sqlite/schema.sql");
    QTest::newRow("PostgreSQL") << QStringLiteral(BSA_SQL_DIR "/postgresql/schema.sql");
    QTest::newRow("SQL Server") << QStringLiteral(BSA_SQL_DIR "/sqlserver/schema.sql");
}

void TestPlanningSchema::knownSizesAreTheSchemasSizes()
{
    QFETCH(QString, schema);
    QFile file(schema);
    QVERIFY2(file.open(QIODevice::ReadOnly | QIODevice::Text), qPrintable(file.errorString()));
    const QString text = QString::fromUtf8(file.readAll());

    // Each column line of planning and TRANSACTIES: its name, its type and the type's size if it has one.
    static const QRegularExpression Column(
        QStringLiteral(R"(^\s+((?:pla|tra)_\w+)\s+(\w+)(?:\((\d+)\))?)"), QRegularExpression::MultilineOption);
    int sized = 0;
    int columns = 0;
    for (auto match = Column.globalMatch(text); match.hasNext();) {
        const QRegularExpressionMatch column = match.next();
        const QString name = column.captured(1);
        const QString table = name.startsWith(u"pla_") ? QStringLiteral("planning") : QStringLiteral("TRANSACTIES");
        const bool isSizedText
            = column.captured(2).compare(u"varchar", Qt::CaseInsensitive) == 0 && !column.captured(3).isEmpty();
        const int declared = isSizedText ? column.captured(3).toInt() : -1;
        QVERIFY2(PlanningSchema::knownTextSize(table, name) == declared,
            qPrintable(QStringLiteral("%1 is declared %2, the link knows %3")
                           .arg(name)
                           .arg(declared)
                           .arg(PlanningSchema::knownTextSize(table, name))));
        ++columns;
        if (isSizedText)
            ++sized;
    }
    // The schema was read at all, its sized texts with it.
    QVERIFY(columns > 0);
    QVERIFY(sized > 0);
}

QTEST_GUILESS_MAIN(TestPlanningSchema)
#include "TestPlanningSchema.moc"
