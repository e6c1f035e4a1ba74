#include <QtTest>

#include "tests/support/UpdateSigning.h"
#include "update/UpdateSignature.h"

// The signature check against signatures made by the real minisign with the fixture keys.
class TestUpdateSignature final : public QObject
{
    Q_OBJECT
private slots:
    void checksEverySignature_data();
    void checksEverySignature();
    void readsKeysAsMinisignWritesThem();
    void theBuildCarriesTheFixtureKey();
};

namespace {

const QByteArray Program("the program, version 9.0.1.15\n");
const QString Comment = QStringLiteral("KorvelBSA 9.0.1.15");

QList<UpdateSignature::PublicKey> keysOf(const QString &names)
{
    QList<UpdateSignature::PublicKey> keys;
    for (const QString &name : names.split(u',')) {
        UpdateSignature::PublicKey key;
        if (UpdateSignature::parsePublicKey(UpdateSigning::publicKey(name), &key))
            keys << key;
    }
    return keys;
}

} // namespace

void TestUpdateSignature::checksEverySignature_data()
{
    BSA_SIGNS_WITH_MINISIGN();
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QString>("keys"); // the key pairs the program knows
    QTest::addColumn<QString>("failure"); // part of the reason; empty: the signature holds

    const QByteArray valid = UpdateSigning::signatureOf(Program, Comment);
    QVERIFY(!valid.isEmpty());
    QTest::newRow("valid") << valid << "fixture"
                           << "";
    QTest::newRow("valid, with a second key during a roll-over") << valid << "other,fixture"
                                                                 << "";
    QTest::newRow("by another key") << UpdateSigning::signatureOf(Program, Comment, QStringLiteral("other"))
                                    << "fixture"
                                    << "onbekende sleutel";
    QTest::newRow("of another file") << UpdateSigning::signatureOf("another program\n", Comment) << "fixture"
                                     << "past niet bij het bestand";
    QTest::newRow("the trusted comment names another version")
        << UpdateSigning::signatureOf(Program, QStringLiteral("KorvelBSA 9.0.1.14")) << "fixture"
        << "het vertrouwde commentaar is \"KorvelBSA 9.0.1.14\", verwacht \"KorvelBSA 9.0.1.15\"";
    QTest::newRow("the trusted comment names another program")
        << UpdateSigning::signatureOf(Program, QStringLiteral("KorvelPlan 9.0.1.15")) << "fixture"
        << "het vertrouwde commentaar is \"KorvelPlan 9.0.1.15\"";
    QTest::newRow("the legacy form Ed") << UpdateSigning::signatureOf(Program, Comment, QStringLiteral("fixture"), true)
                                        << "fixture"
                                        << "oude vorm \"Ed\"";
    QByteArray changedComment = valid;
    changedComment.replace("trusted comment: KorvelBSA 9.0.1.15", "trusted comment: KorvelBSA 9.0.1.16");
    QTest::newRow("the global signature broken: the trusted comment changed after signing")
        << changedComment << "fixture"
        << "vertrouwde commentaar klopt niet";
    QByteArray brokenGlobal = valid;
    const qsizetype lastLine = brokenGlobal.lastIndexOf('\n', brokenGlobal.size() - 2) + 1;
    brokenGlobal[lastLine] = brokenGlobal.at(lastLine) == 'A' ? 'B' : 'A';
    QTest::newRow("the global signature broken: a byte of it changed") << brokenGlobal << "fixture"
                                                                       << "vertrouwde commentaar klopt niet";
    QTest::newRow("no signature at all") << QByteArray("<html>404 Not Found</html>\n") << "fixture"
                                         << "geen minisign-handtekening";
    QTest::newRow("no key to check with") << valid << ""
                                          << "geen sleutel";
}

void TestUpdateSignature::checksEverySignature()
{
    QFETCH(QByteArray, signature);
    QFETCH(QString, keys);
    QFETCH(QString, failure);
    QVERIFY(!signature.isEmpty());
    UpdateSignature::FileHash hash;
    hash.addData(Program.constData(), Program.size());
    const QString result = UpdateSignature::check(hash.result(), signature, keysOf(keys), Comment);
    if (failure.isEmpty())
        QCOMPARE(result, QString());
    else
        QVERIFY2(result.contains(failure), qPrintable(result));
}

void TestUpdateSignature::readsKeysAsMinisignWritesThem()
{
    QFile file(UpdateSigning::keyFile(QStringLiteral("fixture"), ".pub"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString pubFile = QString::fromLatin1(file.readAll());
    UpdateSignature::PublicKey fromFile;
    QVERIFY(UpdateSignature::parsePublicKey(pubFile, &fromFile)); // the whole .pub file, comment and all
    QCOMPARE(fromFile.key.size(), 32);
    // Its id as minisign shows it in the comment line.
    QVERIFY(pubFile.contains(UpdateSignature::keyIdText(fromFile.id)));

    QList<UpdateSignature::PublicKey> keys;
    QString error;
    QVERIFY(UpdateSignature::parsePublicKeys(
        UpdateSigning::publicKey(QStringLiteral("other")) + QStringLiteral(";\n ") + UpdateSigning::publicKey(), &keys,
        &error));
    QCOMPARE(keys.size(), 2);
    QCOMPARE(keys.at(1).id, fromFile.id);
    QVERIFY(
        !UpdateSignature::parsePublicKeys(UpdateSigning::publicKey() + QStringLiteral(",RWQnotakey"), &keys, &error));
    QVERIFY2(error.contains(QStringLiteral("RWQnotakey")), qPrintable(error));
    QVERIFY(keys.isEmpty());
}

void TestUpdateSignature::theBuildCarriesTheFixtureKey()
{
    QString problem;
    const QList<UpdateSignature::PublicKey> keys
        = UpdateSignature::keysOfSetting(UpdateSignature::builtInKeysSetting(), &problem);
    QCOMPARE(problem, QString());
    QCOMPARE(keys.size(), 1);
    QCOMPARE(keys.first().key, keysOf(QStringLiteral("fixture")).first().key);

    QVERIFY(UpdateSignature::keysOfSetting(QStringLiteral(" "), &problem).isEmpty());
    QVERIFY2(problem.contains(QStringLiteral("zonder sleutel")), qPrintable(problem));
    QVERIFY(UpdateSignature::keysOfSetting(QStringLiteral("RWQ"), &problem).isEmpty());
    QVERIFY2(problem.contains(QStringLiteral("onbruikbaar")), qPrintable(problem));
}

QTEST_GUILESS_MAIN(TestUpdateSignature)
#include "TestUpdateSignature.moc"
