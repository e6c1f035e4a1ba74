#include <QtTest>

#include "settings/Settings.h"

// How the link reads a number out of a setting's text: each setting has its own rule for what may come first.
class TestSettings final : public QObject
{
    Q_OBJECT
private slots:
    void readsTheLeadingNumberOfASetting_data();
    void readsTheLeadingNumberOfASetting();
};

void TestSettings::readsTheLeadingNumberOfASetting_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("digits"); // Gebruiker
    QTest::addColumn<int>("spacesThenDigits"); // BSA_BDR, BSA_DEB, BSA_Tarief, BSAHostPoort, Ritnummer
    QTest::addColumn<int>("withSign"); // BSABedrijf

    QTest::newRow("a plain number") << "12" << 12 << 12 << 12;
    QTest::newRow("characters after the digits are ignored") << "12x" << 12 << 12 << 12;
    QTest::newRow("leading spaces count only where the setting allows them") << "  7" << 0 << 7 << 7;
    QTest::newRow("a minus sign counts for the company number only") << "-3" << 0 << 0 << -3;
    QTest::newRow("a plus sign counts for the company number only") << "+5" << 0 << 0 << 5;
    QTest::newRow("spaces before a sign") << " -3" << 0 << 0 << -3;
    QTest::newRow("a sign without digits is nothing") << "-" << 0 << 0 << 0;
    QTest::newRow("a space between sign and digits ends the number") << "- 3" << 0 << 0 << 0;
    QTest::newRow("text without digits is 0") << "x" << 0 << 0 << 0;
    QTest::newRow("an empty text is 0") << "" << 0 << 0 << 0;
    QTest::newRow("a tab is not a space") << "\t4" << 0 << 0 << 0;
    QTest::newRow("leading zeros are read") << "0042" << 42 << 42 << 42;
    QTest::newRow("the largest 32-bit number") << "2147483647" << 2147483647 << 2147483647 << 2147483647;
    QTest::newRow("a number beyond 32 bits is 0") << "2147483648" << 0 << 0 << 0;
    QTest::newRow("the smallest 32-bit number") << "-2147483648" << 0 << 0 << int(-2147483647 - 1);
    QTest::newRow("a decimal point ends the number") << "12.5" << 12 << 12 << 12;
}

void TestSettings::readsTheLeadingNumberOfASetting()
{
    QFETCH(QString, text);
    QFETCH(int, digits);
    QFETCH(int, spacesThenDigits);
    QFETCH(int, withSign);
    QCOMPARE(Settings::leadingInt(text, Settings::NumberStart::Digits), digits);
    QCOMPARE(Settings::leadingInt(text, Settings::NumberStart::SpacesThenDigits), spacesThenDigits);
    QCOMPARE(Settings::leadingInt(text, Settings::NumberStart::SpacesThenSignedDigits), withSign);
}

QTEST_GUILESS_MAIN(TestSettings)
#include "TestSettings.moc"
