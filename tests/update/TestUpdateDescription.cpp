#include <QtTest>

#include "update/IniSection.h"
#include "update/UpdateDescription.h"

// The description file read as the Windows profile functions read it, and the section that belongs to a program.
class TestUpdateDescription final : public QObject
{
    Q_OBJECT
private slots:
    void readsOneKeyOfTheSection_data();
    void readsOneKeyOfTheSection();
    void readsTheSevenKeys();
    void sectionIsTheFileNameUpToItsFirstPoint_data();
    void sectionIsTheFileNameUpToItsFirstPoint();
};

void TestUpdateDescription::readsOneKeyOfTheSection_data()
{
    QTest::addColumn<QString>("ini");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    QTest::newRow("a key in the section reads its value") << "[KorvelBSA]\nVersion=9.0.1.15\n"
                                                          << "version"
                                                          << "9.0.1.15";
    QTest::newRow("key names compare without case") << "[KorvelBSA]\nVERSION=9.0.1.15\n"
                                                    << "version"
                                                    << "9.0.1.15";
    QTest::newRow("section names compare without case") << "[korvelbsa]\nVersion=9.0.1.15\n"
                                                        << "version"
                                                        << "9.0.1.15";
    QTest::newRow("blanks around the value and the key are dropped") << "[KorvelBSA]\n  Version \t=   9.0.1.15  \t\n"
                                                                     << "version"
                                                                     << "9.0.1.15";
    QTest::newRow("blanks inside the brackets are dropped") << "[ KorvelBSA ]\nVersion=1\n"
                                                            << "version"
                                                            << "1";
    QTest::newRow("the rest of the line is the value, commas and semicolons too")
        << "[KorvelBSA]\nReadmeFileURL=http://host/a,b;c d\n"
        << "readmefileurl"
        << "http://host/a,b;c d";
    QTest::newRow("only the first = separates key and value")
        << "[KorvelBSA]\nDownloadFileURL=http://host/get?file=KorvelBSA\n"
        << "downloadfileurl"
        << "http://host/get?file=KorvelBSA";
    QTest::newRow("CR LF line ends") << "[KorvelBSA]\r\nVersion=9.0.1.15\r\nSHA1Hash=AB\r\n"
                                     << "version"
                                     << "9.0.1.15";
    QTest::newRow("a missing key reads empty") << "[KorvelBSA]\nVersion=1\n"
                                               << "readmefileurl"
                                               << "";
    QTest::newRow("a key with nothing after = reads empty") << "[KorvelBSA]\nVersion=\n"
                                                            << "version"
                                                            << "";
    QTest::newRow("keys of other sections are ignored")
        << "[Other]\nVersion=99.0.0.0\n[KorvelBSA]\nReadmeFileURL=r\n[Third]\nVersion=98\n"
        << "version"
        << "";
    QTest::newRow("keys before any section are ignored") << "Version=99\n[KorvelBSA]\n"
                                                         << "version"
                                                         << "";
    QTest::newRow("the first of two equal keys counts") << "[KorvelBSA]\nVersion=1\nversion=2\n"
                                                        << "version"
                                                        << "1";
    QTest::newRow("a second section of the same name is not read")
        << "[KorvelBSA]\nVersion=1\n[KorvelBSA]\nReadmeFileURL=r\n"
        << "readmefileurl"
        << "";
    QTest::newRow("a comment line is no key") << "[KorvelBSA]\n;Version=2\nVersion=1\n"
                                              << "version"
                                              << "1";
    QTest::newRow("a line without = is skipped") << "[KorvelBSA]\nVersion\nVersion=3\n"
                                                 << "version"
                                                 << "3";
    QTest::newRow("a section named after a longer name does not match") << "[KorvelBSA2]\nVersion=1\n"
                                                                        << "version"
                                                                        << "";
}

void TestUpdateDescription::readsOneKeyOfTheSection()
{
    QFETCH(QString, ini);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QCOMPARE(readIniSection(ini, QStringLiteral("KorvelBSA")).value(key), value);
}

void TestUpdateDescription::readsTheSevenKeys()
{
    const QString ini = QStringLiteral("; the update server's description\n"
                                       "[KorvelBSA]\n"
                                       "downloadfileurl=http://host/KorvelBSA\n"
                                       "ReadmeFileURL=http://host/readme.txt\n"
                                       "UpdatePageURL=http://host/page\n"
                                       "Version=9.0.1.15\n"
                                       "CRC32Hash=0A1B2C3D\n"
                                       "MD5Hash=00112233445566778899AABBCCDDEEFF\n"
                                       "SHA1Hash=00112233445566778899AABBCCDDEEFF00112233\n");
    const UpdateDescription description = UpdateDescription::fromIni(ini, QStringLiteral("KorvelBSA"));
    QCOMPARE(description.DownloadFileURL, QStringLiteral("http://host/KorvelBSA"));
    QCOMPARE(description.ReadmeFileURL, QStringLiteral("http://host/readme.txt"));
    QCOMPARE(description.UpdatePageURL, QStringLiteral("http://host/page"));
    QCOMPARE(description.Version, QStringLiteral("9.0.1.15"));
    QCOMPARE(description.CRC32Hash, QStringLiteral("0A1B2C3D"));
    QCOMPARE(description.MD5Hash, QStringLiteral("00112233445566778899AABBCCDDEEFF"));
    QCOMPARE(description.SHA1Hash, QStringLiteral("00112233445566778899AABBCCDDEEFF00112233"));
}

void TestUpdateDescription::sectionIsTheFileNameUpToItsFirstPoint_data()
{
    QTest::addColumn<QString>("programFile");
    QTest::addColumn<QString>("section");
    QTest::newRow("a program without extension") << "/opt/korvel/KorvelBSA"
                                                 << "KorvelBSA";
    QTest::newRow("a Windows program") << "C:/Korvel/KorvelBSA.exe"
                                       << "KorvelBSA";
    QTest::newRow("only up to the first point") << "/opt/Korvel.BSA.exe"
                                                << "Korvel";
    QTest::newRow("points in the folder do not count") << "/opt/korvel.d/KorvelBSA"
                                                       << "KorvelBSA";
}

void TestUpdateDescription::sectionIsTheFileNameUpToItsFirstPoint()
{
    QFETCH(QString, programFile);
    QFETCH(QString, section);
    QCOMPARE(descriptionSection(programFile), section);
}

QTEST_GUILESS_MAIN(TestUpdateDescription)
#include "TestUpdateDescription.moc"
