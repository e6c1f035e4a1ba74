#include <QHostAddress>
#include <QtTest>

#include "platform/AllowList.h"

// Reading the operator's list of addresses and networks allowed to connect, and who it lets in.
class TestAllowList final : public QObject
{
    Q_OBJECT
private slots:
    void letsInWhomTheListNames_data();
    void letsInWhomTheListNames();
    void anEntryThatCannotBeReadLetsNoOneIn_data();
    void anEntryThatCannotBeReadLetsNoOneIn();
};

void TestAllowList::letsInWhomTheListNames_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("peer");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("an empty list lets everyone in") << ""
                                                    << "203.0.113.7" << true;
    QTest::newRow("a list of blanks and separators lets everyone in") << " ,; "
                                                                      << "203.0.113.7" << true;
    QTest::newRow("a listed address is let in") << "192.0.2.10, 198.51.100.0/24"
                                                << "192.0.2.10" << true;
    QTest::newRow("the next address is not") << "192.0.2.10, 198.51.100.0/24"
                                             << "192.0.2.11" << false;
    QTest::newRow("an address inside a listed network is let in") << "192.0.2.10, 198.51.100.0/24"
                                                                  << "198.51.100.254" << true;
    QTest::newRow("an address just outside the network is not") << "192.0.2.10, 198.51.100.0/24"
                                                                << "198.51.101.0" << false;
    QTest::newRow("semicolons and blanks also separate") << "192.0.2.10;198.51.100.0/24\t 203.0.113.7"
                                                         << "203.0.113.7" << true;
    QTest::newRow("a network written with host bits is its network") << "198.51.100.77/24"
                                                                     << "198.51.100.1" << true;
    QTest::newRow("/0 lets everyone in") << "0.0.0.0/0"
                                         << "203.0.113.7" << true;
    QTest::newRow("/32 is one address") << "127.0.0.1/32"
                                        << "127.0.0.2" << false;
    QTest::newRow("an IPv4 peer mapped into IPv6 is read as IPv4") << "192.0.2.10"
                                                                   << "::ffff:192.0.2.10" << true;
    QTest::newRow("an IPv6 peer is never in an IPv4 list") << "0.0.0.0/0"
                                                           << "2001:db8::1" << false;
}

void TestAllowList::letsInWhomTheListNames()
{
    QFETCH(QString, text);
    QFETCH(QString, peer);
    QFETCH(bool, allowed);
    const AllowList list = AllowList::fromText(text);
    QCOMPARE(list.badEntry(), QString());
    QCOMPARE(list.allows(QHostAddress(peer)), allowed);
}

void TestAllowList::anEntryThatCannotBeReadLetsNoOneIn_data()
{
    // A mistyped entry must neither open the port to everyone nor be passed over: the list names it.
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("badEntry");
    QTest::newRow("a number above 255") << "192.0.2.10, 192.0.2.300"
                                        << "192.0.2.300";
    QTest::newRow("three numbers, which some readers take as another address") << "192.0.2"
                                                                               << "192.0.2";
    QTest::newRow("a leading zero, which some readers take as octal") << "192.0.2.010"
                                                                      << "192.0.2.010";
    QTest::newRow("a host name") << "bsa.example.com"
                                 << "bsa.example.com";
    QTest::newRow("an IPv6 address") << "2001:db8::1"
                                     << "2001:db8::1";
    QTest::newRow("a prefix above 32") << "192.0.2.0/33"
                                       << "192.0.2.0/33";
    QTest::newRow("a slash without a prefix") << "192.0.2.0/"
                                              << "192.0.2.0/";
    QTest::newRow("a netmask instead of a prefix") << "192.0.2.0/255.255.255.0"
                                                   << "192.0.2.0/255.255.255.0";
    QTest::newRow("two prefixes") << "192.0.2.0/24/8"
                                  << "192.0.2.0/24/8";
    QTest::newRow("the first bad entry is named") << "x, 192.0.2.10, y"
                                                  << "x";
}

void TestAllowList::anEntryThatCannotBeReadLetsNoOneIn()
{
    QFETCH(QString, text);
    QFETCH(QString, badEntry);
    const AllowList list = AllowList::fromText(text);
    QCOMPARE(list.badEntry(), badEntry);
    QVERIFY(!list.isEmpty());
    for (const char *peer : { "192.0.2.10", "192.0.2.1", "127.0.0.1" })
        QVERIFY2(!list.allows(QHostAddress(QLatin1String(peer))), peer);
}

QTEST_GUILESS_MAIN(TestAllowList)
#include "TestAllowList.moc"
