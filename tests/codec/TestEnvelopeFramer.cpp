#include <optional>

#include <QtTest>

#include "codec/EnvelopeFramer.h"

// The framer of one connection: every complete envelope comes out once, in order, and nothing else does.
class TestEnvelopeFramer final : public QObject
{
    Q_OBJECT
private slots:
    void takesEveryCompleteEnvelope_data();
    void takesEveryCompleteEnvelope();
    void keepsAnUnfinishedEnvelopeUntilItsEnd();
    void manySmallEnvelopesInOneRead();
};

void TestEnvelopeFramer::takesEveryCompleteEnvelope_data()
{
    QTest::addColumn<QByteArrayList>("reads"); // one entry per socket read
    QTest::addColumn<QByteArrayList>("payloads");
    QTest::newRow("two envelopes in one read")
        << QByteArrayList { "<ZORVAN>41<EINDE><ZORVAN>42<EINDE>" } << QByteArrayList { "41", "42" };
    QTest::newRow("one envelope split over three reads")
        << QByteArrayList { "<ZOR", "VAN>41<EI", "NDE>" } << QByteArrayList { "41" };
    QTest::newRow("every byte in a read of its own") << QByteArrayList { "<", "Z", "O", "R", "V", "A", "N", ">", "4",
        "1", "<", "E", "I", "N", "D", "E", ">" } << QByteArrayList { "41" };
    QTest::newRow("an end tag split over reads after many reads of digits")
        << QByteArrayList { "<ZORVAN>", "41", "42", "43", "<EIN", "DE>" } << QByteArrayList { "414243" };
    QTest::newRow("a false head of an end tag before the real one")
        << QByteArrayList { "<ZORVAN>41<EIN", "X<EI", "NDE>" } << QByteArrayList { "41<EINX" };
    QTest::newRow("CR LF after the end tag is dropped")
        << QByteArrayList { "<ZORVAN>41<EINDE>\r\n<ZORVAN>42<EINDE>\r\n" } << QByteArrayList { "41", "42" };
    QTest::newRow("noise before a start tag is dropped")
        << QByteArrayList { "xx<EINDE>yy<ZORVAN>41<EINDE>" } << QByteArrayList { "41" };
    QTest::newRow("noise split so that it looks like half a start tag")
        << QByteArrayList { "abc<ZOR", "XX<ZORVAN>41<EINDE>" } << QByteArrayList { "41" };
    QTest::newRow("an empty envelope gives an empty payload")
        << QByteArrayList { "<ZORVAN><EINDE>" } << QByteArrayList { "" };
    QTest::newRow("an envelope cut off by a new start tag yields the new one")
        << QByteArrayList { "<ZORVAN>4142<ZORVAN>43<EINDE>" } << QByteArrayList { "43" };
    QTest::newRow("an end tag without a start tag yields nothing")
        << QByteArrayList { "4142<EINDE>" } << QByteArrayList {};
    QTest::newRow("an end tag before a start tag is no envelope")
        << QByteArrayList { "<EINDE><ZORVAN>" } << QByteArrayList {};
    QTest::newRow("nothing received yields nothing") << QByteArrayList { "" } << QByteArrayList {};
    QTest::newRow("tags are case-sensitive")
        << QByteArrayList { "<zorvan>41<einde><ZORVAN>42<EINDE>" } << QByteArrayList { "42" };
}

void TestEnvelopeFramer::takesEveryCompleteEnvelope()
{
    QFETCH(QByteArrayList, reads);
    QFETCH(QByteArrayList, payloads);
    EnvelopeFramer framer;
    QByteArrayList taken;
    for (const QByteArray &read : reads) {
        framer.append(read);
        while (std::optional<QByteArray> payload = framer.takeEnvelope())
            taken << *payload;
    }
    QCOMPARE(taken, payloads);
}

void TestEnvelopeFramer::keepsAnUnfinishedEnvelopeUntilItsEnd()
{
    EnvelopeFramer framer;
    framer.append("<ZORVAN>4142");
    QVERIFY(!framer.takeEnvelope());
    QCOMPARE(framer.bufferedSize(), qsizetype(12));
    framer.append("43<EINDE><ZORVAN>");
    QCOMPARE(framer.takeEnvelope().value_or("none"), QByteArray("414243"));
    QVERIFY(!framer.takeEnvelope());
    QCOMPARE(framer.bufferedSize(), qsizetype(8)); // the next envelope's start tag waits
    framer.clear();
    QCOMPARE(framer.bufferedSize(), qsizetype(0));
}

void TestEnvelopeFramer::manySmallEnvelopesInOneRead()
{
    QByteArray read;
    for (int i = 0; i < 20000; ++i)
        read += "<ZORVAN>" + QByteArray::number(i) + "<EINDE>";
    EnvelopeFramer framer;
    framer.append(read);
    int count = 0;
    while (std::optional<QByteArray> payload = framer.takeEnvelope()) {
        QCOMPARE(*payload, QByteArray::number(count));
        ++count;
    }
    QCOMPARE(count, 20000);
    QCOMPARE(framer.bufferedSize(), qsizetype(0));
}

QTEST_GUILESS_MAIN(TestEnvelopeFramer)
#include "TestEnvelopeFramer.moc"
