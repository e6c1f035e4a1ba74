#include <QtTest>

#include "codec/AnsiCodePage.h"

// The 8-bit code page of the wire (Windows-1252 off Windows): what each character becomes and back.
class TestAnsiCodePage final : public QObject
{
    Q_OBJECT
private slots:
    void encodesCharacters_data();
    void encodesCharacters();
    void everyByteRoundTrips();
    void findsTheEuroSignAnywhereInALongText();
    void restrictsToTheCodePage_data();
    void restrictsToTheCodePage();
};

void TestAnsiCodePage::encodesCharacters_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("ASCII stays") << QStringLiteral("Abc 1\t") << QByteArray("Abc 1\t");
    QTest::newRow("Latin-1 letters are their own byte")
        << QStringLiteral("\u00E9\u00EB\u00FF") << QByteArray("\xE9\xEB\xFF");
    QTest::newRow("the euro sign is 0x80") << QStringLiteral("\u20AC") << QByteArray("\x80");
    QTest::newRow("curly quotes and the dash") << QStringLiteral("\u201C\u201D\u2013") << QByteArray("\x93\x94\x96");
    QTest::newRow("Y with diaeresis is 0x9F") << QStringLiteral("\u0178") << QByteArray("\x9F");
    QTest::newRow("a C1 control the code page uses elsewhere becomes a question mark")
        << QStringLiteral("\u0080") << QByteArray("?");
    QTest::newRow("Cyrillic becomes question marks") << QStringLiteral("\u0416\u0417") << QByteArray("??");
    QTest::newRow("a character outside the basic plane is one question mark")
        << QStringLiteral("a\U0001F695b") << QByteArray("a?b");
    QTest::newRow("a lone surrogate is a question mark") << QString(QChar(0xD800)) << QByteArray("?");
    QTest::newRow("a zero character is a zero byte") << QString(QChar(0)) << QByteArray(1, '\0');
}

void TestAnsiCodePage::encodesCharacters()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    QCOMPARE(AnsiCodePage::encode(text), bytes);
}

void TestAnsiCodePage::everyByteRoundTrips()
{
    QByteArray all(256, Qt::Uninitialized);
    for (int byte = 0; byte < 256; ++byte)
        all[byte] = char(byte);
    const QString text = AnsiCodePage::decode(all);
    QCOMPARE(text.size(), 256);
    QCOMPARE(text.at(0x80), QChar(0x20AC));
    QCOMPARE(text.at(0x8D), QChar(0x008D));
    QCOMPARE(text.at(0xE9), QChar(0x00E9));
    QCOMPARE(AnsiCodePage::encode(text), all);
    QCOMPARE(AnsiCodePage::restrict(text), text);
}

void TestAnsiCodePage::findsTheEuroSignAnywhereInALongText()
{
    // Long texts are checked for bytes 0x80 to 0x9F in words of eight bytes: every position must count.
    for (int size = 1; size <= 20; ++size) {
        for (int at = 0; at < size; ++at) {
            QByteArray bytes(size, '\xE9');
            bytes[at] = '\x80';
            QString expected(size, QChar(0xE9));
            expected[at] = QChar(0x20AC);
            QCOMPARE(AnsiCodePage::decode(bytes), expected);
        }
    }
}

void TestAnsiCodePage::restrictsToTheCodePage_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("restricted");
    QTest::newRow("ASCII stays") << QStringLiteral("Jansen") << QStringLiteral("Jansen");
    QTest::newRow("the euro sign stays") << QStringLiteral("\u20AC 5") << QStringLiteral("\u20AC 5");
    QTest::newRow("a missing character after others becomes a question mark")
        << QStringLiteral("caf\u00E9 \u0141odz") << QStringLiteral("caf\u00E9 ?odz");
    QTest::newRow("a character outside the basic plane becomes one question mark")
        << QStringLiteral("\U0001F695!") << QStringLiteral("?!");
    QTest::newRow("the empty text") << QString() << QString();
}

void TestAnsiCodePage::restrictsToTheCodePage()
{
    QFETCH(QString, text);
    QFETCH(QString, restricted);
    QCOMPARE(AnsiCodePage::restrict(text), restricted);
    QCOMPARE(AnsiCodePage::decode(AnsiCodePage::encode(text)), restricted);
}

QTEST_GUILESS_MAIN(TestAnsiCodePage)
#include "TestAnsiCodePage.moc"
