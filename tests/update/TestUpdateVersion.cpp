#include <QtTest>

#include "update/UpdateVersion.h"

// Versions compare as numbers, part by part.
class TestUpdateVersion final : public QObject
{
    Q_OBJECT
private slots:
    void offerIsNewerOnlyAsANumber_data();
    void offerIsNewerOnlyAsANumber();
};

void TestUpdateVersion::offerIsNewerOnlyAsANumber_data()
{
    QTest::addColumn<QString>("running");
    QTest::addColumn<QString>("offered");
    QTest::addColumn<bool>("newer");

    QTest::newRow("the next build is newer") << "9.0.1.14"
                                             << "9.0.1.15" << true;
    QTest::newRow("the same version is not") << "9.0.1.14"
                                             << "9.0.1.14" << false;
    QTest::newRow("9.0.1.9 is older than 9.0.1.14") << "9.0.1.14"
                                                    << "9.0.1.9" << false;
    QTest::newRow("10.0.0.0 is newer than 9.0.1.14") << "9.0.1.14"
                                                     << "10.0.0.0" << true;
    QTest::newRow("9.9.9.9 is older than 10.0.0.0") << "10.0.0.0"
                                                    << "9.9.9.9" << false;
    QTest::newRow("a shorter newer version") << "9.0.1.14"
                                             << "9.0.2" << true;
    QTest::newRow("a missing part counts as 0") << "9.0.1.0"
                                                << "9.0.1" << false;
    QTest::newRow("a trailing .0 adds nothing") << "9.0.1"
                                                << "9.0.1.0" << false;
    QTest::newRow("blanks around the offer are dropped") << "9.0.1.14"
                                                         << " 9.0.1.15 " << true;
    QTest::newRow("an empty offer is never newer") << "9.0.1.14"
                                                   << "" << false;
    QTest::newRow("an offer of words is never newer") << "9.0.1.14"
                                                      << "nieuw" << false;
    QTest::newRow("an offer with a suffix is never newer") << "9.0.1.14"
                                                           << "9.0.1.15-beta" << false;
    QTest::newRow("an offer with an empty part is never newer") << "9.0.1.14"
                                                                << "9..1.15" << false;
}

void TestUpdateVersion::offerIsNewerOnlyAsANumber()
{
    QFETCH(QString, running);
    QFETCH(QString, offered);
    QFETCH(bool, newer);
    QCOMPARE(isNewerVersion(running, offered), newer);
}

QTEST_GUILESS_MAIN(TestUpdateVersion)
#include "TestUpdateVersion.moc"
