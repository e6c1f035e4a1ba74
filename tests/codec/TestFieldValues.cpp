#include <QtTest>

#include "codec/FieldValues.h"

// The blanks that the acknowledgement, the planning row and the status record drop from both ends of a text.
class TestFieldValues final : public QObject
{
    Q_OBJECT
private slots:
    void withoutBlanksDropsCodesUpToSpaceAtBothEnds_data();
    void withoutBlanksDropsCodesUpToSpaceAtBothEnds();
};

void TestFieldValues::withoutBlanksDropsCodesUpToSpaceAtBothEnds_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("nothing to drop") << "AC"
                                     << "AC";
    QTest::newRow("spaces at both ends") << "  AC  "
                                         << "AC";
    QTest::newRow("control characters count as blanks") << QString::fromLatin1("\t\r\nAC\x01\x1F") << "AC";
    QTest::newRow("the code 0 counts as a blank") << QString(QChar(0)) + QLatin1String("AC") + QChar(0) << "AC";
    QTest::newRow("blanks inside stay") << " A C "
                                        << "A C";
    QTest::newRow("only blanks leave nothing") << " \t "
                                               << "";
    QTest::newRow("the empty text") << ""
                                    << "";
    QTest::newRow("the first code above space stays") << "!AC!"
                                                      << "!AC!";
    QTest::newRow("a no-break space is no blank")
        << QString(QChar(0xA0)) + QLatin1String("AC") << QString(QChar(0xA0)) + QLatin1String("AC");
    QTest::newRow("DEL is no blank") << QString::fromLatin1("AC\x7F") << QString::fromLatin1("AC\x7F");
}

void TestFieldValues::withoutBlanksDropsCodesUpToSpaceAtBothEnds()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(FieldValues::withoutBlanks(text).toString(), expected);
}

QTEST_GUILESS_MAIN(TestFieldValues)
#include "TestFieldValues.moc"
