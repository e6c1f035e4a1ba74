#include <QtTest>

#include "codec/Envelope.h"

// The envelope and hexadecimal form of every BSA message, and the cutting of a message text into fields.
class TestEnvelope final : public QObject
{
    Q_OBJECT
private slots:
    void writesTextAsHex_data();
    void writesTextAsHex();
    void readsHexAsText_data();
    void readsHexAsText();
    void everyByteSurvivesHex();
    void hexDigitValues_data();
    void hexDigitValues();
    void findsTheFirstCharacterThatIsNoHexDigit_data();
    void findsTheFirstCharacterThatIsNoHexDigit();
    void takesThePayloadBetweenTheTags_data();
    void takesThePayloadBetweenTheTags();
    void wrapsAMessage_data();
    void wrapsAMessage();
    void splitsAtTabsOnly_data();
    void splitsAtTabsOnly();
    void marksLineBreaks_data();
    void marksLineBreaks();
    void cutsTheDisplayList_data();
    void cutsTheDisplayList();
};

void TestEnvelope::writesTextAsHex_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("hex");
    QTest::newRow("fields separated by a TAB") << QStringLiteral("AC\tBSA") << QByteArray("414309425341");
    QTest::newRow("CR LF is two bytes") << QStringLiteral("\r\n") << QByteArray("0D0A");
    QTest::newRow("the empty text has no digits") << QString() << QByteArray();
    QTest::newRow("the euro sign is one byte of the code page") << QStringLiteral("\u20AC") << QByteArray("80");
    QTest::newRow("e-acute is one byte") << QStringLiteral("\u00E9") << QByteArray("E9");
    QTest::newRow("digits are upper case") << QStringLiteral("\u00FF\u00AB") << QByteArray("FFAB");
    QTest::newRow("a character the code page lacks becomes a question mark")
        << QStringLiteral("a\u0416b") << QByteArray("613F62");
    QTest::newRow("a character outside the basic plane becomes one question mark")
        << QStringLiteral("a\U0001F695b") << QByteArray("613F62");
}

void TestEnvelope::writesTextAsHex()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, hex);
    QCOMPARE(TekstNaarHex(text), hex);
}

void TestEnvelope::readsHexAsText_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<QString>("text");
    QTest::newRow("an odd last digit is ignored") << QByteArray("414") << QStringLiteral("A");
    QTest::newRow("a zero byte is a character") << QByteArray("0041") << QString(QChar(0)) + u'A';
    QTest::newRow("the empty string gives the empty text") << QByteArray() << QString();
    QTest::newRow("80 is the euro sign") << QByteArray("80") << QStringLiteral("\u20AC");
    QTest::newRow("E9 is e-acute") << QByteArray("E9") << QStringLiteral("\u00E9");
    QTest::newRow("lower-case digits read as their values") << QByteArray("6a6Be9") << QStringLiteral("jk\u00E9");
    QTest::newRow("a character that is no digit counts 0") << QByteArray("G1Z") << QStringLiteral("\x01");
    QTest::newRow("an undefined byte of the code page still gives a character")
        << QByteArray("81") << QStringLiteral("\u0081");
}

void TestEnvelope::readsHexAsText()
{
    QFETCH(QByteArray, hex);
    QFETCH(QString, text);
    QCOMPARE(HexNaarTekst(hex), text);
}

void TestEnvelope::everyByteSurvivesHex()
{
    QByteArray hex;
    for (int byte = 0; byte < 256; ++byte)
        hex += QByteArray::number(byte, 16).rightJustified(2, '0').toUpper();
    const QString text = HexNaarTekst(hex);
    QCOMPARE(text.size(), 256);
    QCOMPARE(TekstNaarHex(text), hex);
}

void TestEnvelope::hexDigitValues_data()
{
    QTest::addColumn<QByteArray>("digits");
    QTest::addColumn<uint>("value");
    QTest::newRow("FF is 255") << QByteArray("FF") << 255u;
    QTest::newRow("1B is 27") << QByteArray("1B") << 27u;
    QTest::newRow("00 is 0") << QByteArray("00") << 0u;
    QTest::newRow("lower case ff is 255") << QByteArray("ff") << 255u;
    QTest::newRow("a letter past F counts 0") << QByteArray("G7") << 7u;
    QTest::newRow("four digits") << QByteArray("20AC") << 0x20ACu;
}

void TestEnvelope::hexDigitValues()
{
    QFETCH(QByteArray, digits);
    QFETCH(uint, value);
    QCOMPARE(HexWaarde(digits), value);
}

void TestEnvelope::findsTheFirstCharacterThatIsNoHexDigit_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<qsizetype>("position");
    QTest::newRow("every digit of either case") << QByteArray("0123456789ABCDEFabcdef") << qsizetype(-1);
    QTest::newRow("the empty payload") << QByteArray() << qsizetype(-1);
    QTest::newRow("an odd count of digits") << QByteArray("414") << qsizetype(-1);
    QTest::newRow("a letter past F") << QByteArray("41G2") << qsizetype(2);
    QTest::newRow("a lower-case letter past f") << QByteArray("4g") << qsizetype(1);
    QTest::newRow("the neighbours of the digits in ASCII") << QByteArray("/") << qsizetype(0);
    QTest::newRow("a colon after 9") << QByteArray("4:") << qsizetype(1);
    QTest::newRow("an at sign before A") << QByteArray("@1") << qsizetype(0);
    QTest::newRow("a space") << QByteArray("41 42") << qsizetype(2);
    QTest::newRow("a NUL byte") << QByteArray("41\0"
                                              "42",
        5) << qsizetype(2);
    QTest::newRow("a byte beyond ASCII") << QByteArray("41\xC1") << qsizetype(2);
    // A whole message is checked many digits at a time: the first other character counts wherever it stands.
    const QByteArray digits = QByteArray("0123456789ABCDEFabcdef").repeated(6);
    QTest::newRow("a long message of digits") << digits << qsizetype(-1);
    for (const char other : { '/', ':', '@', 'G', '`', 'g', '\0', '\xC1', '\xE1' }) {
        for (const qsizetype at : { 0, 31, 32, 63, 64, 100, 131 }) {
            QByteArray hex = digits;
            hex[at] = other;
            if (at < 131)
                hex[131] = 'X'; // a second one later must not count
            QTest::addRow("0x%02X at %lld of 132", unsigned(static_cast<unsigned char>(other)), qlonglong(at))
                << hex << at;
        }
    }
}

void TestEnvelope::findsTheFirstCharacterThatIsNoHexDigit()
{
    QFETCH(QByteArray, hex);
    QFETCH(qsizetype, position);
    QCOMPARE(firstNonHexDigit(hex), position);
}

void TestEnvelope::takesThePayloadBetweenTheTags_data()
{
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QString>("text");
    QTest::newRow("a bare envelope") << QByteArray("<ZORVAN>4142<EINDE>") << QStringLiteral("AB");
    QTest::newRow("CR LF after the end tag is not part of the payload")
        << QByteArray("<ZORVAN>4142<EINDE>\r\n") << QStringLiteral("AB");
    QTest::newRow("noise before the start tag does not shift the payload")
        << QByteArray("xyz\r\n<ZORVAN>4142<EINDE>") << QStringLiteral("AB");
    QTest::newRow("an end tag before the start tag is not the end")
        << QByteArray("<EINDE><ZORVAN>4142<EINDE>") << QStringLiteral("AB");
    QTest::newRow("only the first of two envelopes")
        << QByteArray("<ZORVAN>41<EINDE><ZORVAN>42<EINDE>") << QStringLiteral("A");
    QTest::newRow("without an end tag the text is empty") << QByteArray("<ZORVAN>4142") << QString();
    QTest::newRow("without a start tag the text is empty") << QByteArray("4142<EINDE>") << QString();
    QTest::newRow("the end tag only before the start tag") << QByteArray("<EINDE><ZORVAN>4142") << QString();
    QTest::newRow("an empty envelope") << QByteArray("<ZORVAN><EINDE>") << QString();
}

void TestEnvelope::takesThePayloadBetweenTheTags()
{
    QFETCH(QByteArray, wire);
    QFETCH(QString, text);
    QCOMPARE(Uitpakken(wire), text);
}

void TestEnvelope::wrapsAMessage_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("crlf");
    QTest::addColumn<QByteArray>("wire");
    QTest::newRow("without CR LF") << QStringLiteral("A") << false << QByteArray("<ZORVAN>41<EINDE>");
    QTest::newRow("with CR LF") << QStringLiteral("A") << true << QByteArray("<ZORVAN>41<EINDE>\r\n");
    QTest::newRow("an empty text") << QString() << false << QByteArray("<ZORVAN><EINDE>");
    QTest::newRow("an answer with the euro sign")
        << QStringLiteral("AC\t\u20AC") << false << QByteArray("<ZORVAN>41430980<EINDE>");
}

void TestEnvelope::wrapsAMessage()
{
    QFETCH(QString, text);
    QFETCH(bool, crlf);
    QFETCH(QByteArray, wire);
    const QByteArray wrapped = Inpakken(text, crlf);
    QCOMPARE(wrapped, wire);
    QCOMPARE(Uitpakken(wrapped), text);
}

void TestEnvelope::splitsAtTabsOnly_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("fields");
    QTest::newRow("two TABs in a row enclose an empty field")
        << QStringLiteral("BN\tBSA\t\tx") << QStringList { "BN", "BSA", "", "x" };
    QTest::newRow("TABs at the end give empty last fields") << QStringLiteral("A\t\t") << QStringList { "A", "", "" };
    QTest::newRow("a TAB at the start gives an empty first field") << QStringLiteral("\tA") << QStringList { "", "A" };
    QTest::newRow("the empty text gives no fields") << QString() << QStringList {};
    QTest::newRow("a single TAB gives two empty fields") << QStringLiteral("\t") << QStringList { "", "" };
    QTest::newRow("a comma stays inside its value") << QStringLiteral("1,5\tx") << QStringList { "1,5", "x" };
    QTest::newRow("an underscore stays an underscore") << QStringLiteral("a b_c") << QStringList { "a b_c" };
    QTest::newRow("spaces around a value stay") << QStringLiteral(" a \t b") << QStringList { " a ", " b" };
    QTest::newRow("a text of one space is one field") << QStringLiteral(" ") << QStringList { " " };
    QTest::newRow("double quotes stay") << QStringLiteral("\"a\tb\"") << QStringList { "\"a", "b\"" };
    QTest::newRow("CR and LF stay inside a value") << QStringLiteral("A\rB\nC\tD") << QStringList { "A\rB\nC", "D" };
    QTest::newRow("a zero character loses nothing") << QStringLiteral("A\tB") + QChar(0) + QStringLiteral("C\tD")
                                                    << QStringList { "A", QStringLiteral("B") + QChar(0) + u'C', "D" };
}

void TestEnvelope::splitsAtTabsOnly()
{
    QFETCH(QString, text);
    QFETCH(QStringList, fields);
    QCOMPARE(SplitsVelden(text), fields);
}

void TestEnvelope::marksLineBreaks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("marked");
    QTest::addColumn<QString>("shown");
    QTest::newRow("every ESC L F becomes the marker")
        << QStringLiteral("a\x1BLFb\x1BLF") << QStringLiteral("a#CRLF#b#CRLF#") << QStringLiteral("a#CRLF#b#CRLF#");
    QTest::newRow("ESC without L F stays")
        << QStringLiteral("a\x1BL\tF") << QStringLiteral("a\x1BL\tF") << QStringLiteral("a\x1BL,F");
    QTest::newRow("lower-case lf is no line break")
        << QStringLiteral("\x1Blf") << QStringLiteral("\x1Blf") << QStringLiteral("\x1Blf");
    QTest::newRow("TABs show as commas") << QStringLiteral("BN\tBSA\t\x1BLF") << QStringLiteral("BN\tBSA\t#CRLF#")
                                         << QStringLiteral("BN,BSA,#CRLF#");
}

void TestEnvelope::marksLineBreaks()
{
    QFETCH(QString, text);
    QFETCH(QString, marked);
    QFETCH(QString, shown);
    QCOMPARE(markLineBreaks(text), marked);
    QCOMPARE(WeergaveTekst(text), shown);
}

void TestEnvelope::cutsTheDisplayList_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("TABs separate") << QStringLiteral("BN\tBSA\t6") << QStringList { "BN", "BSA", "6" };
    QTest::newRow("two TABs enclose an empty line") << QStringLiteral("BN\t\tx") << QStringList { "BN", "", "x" };
    QTest::newRow("a TAB at the end gives an empty last line") << QStringLiteral("A\t") << QStringList { "A", "" };
    QTest::newRow("a TAB at the start gives an empty first line") << QStringLiteral("\tA") << QStringList { "", "A" };
    QTest::newRow("a name with spaces and a comma is one line")
        << QStringLiteral("Jan de Vries, jr.\tx") << QStringList { "Jan de Vries, jr.", "x" };
    QTest::newRow("quotes are kept") << QStringLiteral("\"Jansen, Jan\"\t\"a\"\"b")
                                     << QStringList { "\"Jansen, Jan\"", "\"a\"\"b" };
    QTest::newRow("blanks around a value are kept") << QStringLiteral(" a \t_b_") << QStringList { " a ", "_b_" };
    QTest::newRow("a line break shows as the marker")
        << QStringLiteral("a\x1BLFb\tc") << QStringList { "a#CRLF#b", "c" };
    QTest::newRow("a zero character stays in its value") << QStringLiteral("A") + QChar(0) + QStringLiteral("B\tC")
                                                         << QStringList { QStringLiteral("A") + QChar(0) + "B", "C" };
    QTest::newRow("the empty text gives no lines") << QString() << QStringList {};
}

void TestEnvelope::cutsTheDisplayList()
{
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    QCOMPARE(WeergaveVelden(text), lines);
}

QTEST_GUILESS_MAIN(TestEnvelope)
#include "TestEnvelope.moc"
