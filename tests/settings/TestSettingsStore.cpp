#include <QtTest>

#include "settings/Settings.h"
#include "settings/SettingsStore.h"
#include "tests/support/SizeLimitedWrite.h"
#include "tests/support/UnixOnly.h"

// The settings file "KorvelBSA.xml": its exact layout, what survives a round trip, and the files it must refuse
// or leave alone.
class TestSettingsStore final : public QObject
{
    Q_OBJECT
private slots:
    void firstRunWritesEveryDefaultInTableOrder();
    void textValuesSurviveTheRoundTrip_data();
    void textValuesSurviveTheRoundTrip();
    void unknownElementsStayInPlaceAndMissingOnesAreAppended();
    void namesTheFileCannotHoldAreLeftOut_data();
    void namesTheFileCannotHoldAreLeftOut();
    void formVersionDecidesWhetherStoredValuesApply_data();
    void formVersionDecidesWhetherStoredValuesApply();
    void flagWordsAreReadLeniently_data();
    void flagWordsAreReadLeniently();
    void byteOrderMarkChoosesTheEncoding_data();
    void byteOrderMarkChoosesTheEncoding();
    void declarationIsWrittenBackAsRead_data();
    void declarationIsWrittenBackAsRead();
    void unparsableFileIsRefusedAndLeftAlone_data();
    void unparsableFileIsRefusedAndLeftAlone();
    void emptyFileCountsAsNoFile();
    void fileIsReadableByItsOwnerOnly();
    void readOnlyFileIsNotWritten();
    void symbolicLinkInTheFilesPlaceIsRefused_data();
    void symbolicLinkInTheFilesPlaceIsRefused();
    void unwritableFolderIsReportedAsFailure();
    void fileThatCannotBeWrittenWholeStaysAsItWas_data();
    void fileThatCannotBeWrittenWholeStaysAsItWas();
    void captureMarkIsClearedByRestore();
};

namespace {

// The first-run file: FormVersion, then the settings in table order with their defaults.
const QByteArray FirstRunFile = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n"
                                "<Configuration>\r\n"
                                "  <Hoofdscherm>\r\n"
                                "    <FormVersion>0</FormVersion>\r\n"
                                "    <xLoginDatabase_Text/>\r\n"
                                "    <xLoginServer_Text/>\r\n"
                                "    <xLoginSQL_Text/>\r\n"
                                "    <xPaswoordSQL_Text/>\r\n"
                                "    <BSA_BDR_Text>1</BSA_BDR_Text>\r\n"
                                "    <BSA_DEB_Text>1</BSA_DEB_Text>\r\n"
                                "    <PZN_FILTER_Text>P</PZN_FILTER_Text>\r\n"
                                "    <DecimaalTeken_Text>.</DecimaalTeken_Text>\r\n"
                                "    <PZN_Taxi_Text>T</PZN_Taxi_Text>\r\n"
                                "    <PZN_Bus_Text>B</PZN_Bus_Text>\r\n"
                                "    <PZN_Rolstoelbus_Text>R</PZN_Rolstoelbus_Text>\r\n"
                                "    <BSA_Tarief_Text>1</BSA_Tarief_Text>\r\n"
                                "    <BSAHostAdres_Text>127.0.0.1</BSAHostAdres_Text>\r\n"
                                "    <BSAHostPoort_Text>12000</BSAHostPoort_Text>\r\n"
                                "    <BSATerug_Checked>FALSE</BSATerug_Checked>\r\n"
                                "    <bsaCRLF_Checked>FALSE</bsaCRLF_Checked>\r\n"
                                "    <BSAAuto_Checked>FALSE</BSAAuto_Checked>\r\n"
                                "    <Gebruiker_Text>0</Gebruiker_Text>\r\n"
                                "    <SoftwareVersie_Text>6</SoftwareVersie_Text>\r\n"
                                "    <BSABedrijf_Text>0</BSABedrijf_Text>\r\n"
                                "    <SoortVervoer_Text>P</SoortVervoer_Text>\r\n"
                                "    <BSAToegestaneAdressen_Text/>\r\n"
                                "  </Hoofdscherm>\r\n"
                                "</Configuration>\r\n";

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// A file with a declaration, the root, Hoofdscherm and the given lines inside it.
QByteArray fileWith(const QByteArray &hoofdschermLines)
{
    return "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<Configuration>\r\n  <Hoofdscherm>\r\n"
        + hoofdschermLines + "  </Hoofdscherm>\r\n</Configuration>\r\n";
}

// The settings a run ends with after the given file was read at its start.
Settings restoredFrom(const QString &folder, const QByteArray &bytes, SettingsStore *store = nullptr)
{
    SettingsStore own(folder);
    SettingsStore &used = store ? *store : own;
    writeAll(used.fileName(), bytes);
    QString error;
    if (!used.LoadSettingsFile(&error))
        qWarning("%s", qPrintable(error));
    Settings settings;
    used.RestoreSettings(settings);
    return settings;
}

} // namespace

void TestSettingsStore::firstRunWritesEveryDefaultInTableOrder()
{
    QTemporaryDir home;
    SettingsStore store(home.path());
    QVERIFY(store.LoadSettingsFile());
    Settings settings;
    store.RestoreSettings(settings);
    QCOMPARE(settings.xLoginServer, QString());
    QCOMPARE(settings.BSAHostPoort, QStringLiteral("12000"));
    store.CaptureSettings(settings);
    QVERIFY(!QFile::exists(store.fileName())); // a capture never touches the file
    QVERIFY(store.WriteSettingsFile());
    QCOMPARE(readAll(home.filePath("KorvelBSA.xml")), FirstRunFile);
}

void TestSettingsStore::textValuesSurviveTheRoundTrip_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("stored"); // between the tags of BSA_BDR_Text
    QTest::addColumn<QString>("restored");
    QTest::newRow("an ampersand and a less-than sign are stored as entities")
        << QStringLiteral("A & B <C>") << QByteArray("A &amp; B &lt;C&gt;") << QStringLiteral("A & B <C>");
    QTest::newRow("quotes are stored as entities")
        << QStringLiteral("\"it's\"") << QByteArray("&quot;it&apos;s&quot;") << QStringLiteral("\"it's\"");
    QTest::newRow("the euro sign is stored as a reference with the digits 20ac")
        << QStringLiteral("5 \u20ac") << QByteArray("5 &#x20ac;") << QStringLiteral("5 \u20ac");
    QTest::newRow("a character of the code page is stored as its own byte") << QStringLiteral(
        "caf\u00e9 \u2018x\u2019") << QByteArray("caf\xe9 \x91x\x92") << QStringLiteral("caf\u00e9 \u2018x\u2019");
    QTest::newRow("spaces around a value are kept")
        << QStringLiteral("  srv  ") << QByteArray("  srv  ") << QStringLiteral("  srv  ");
    QTest::newRow("a character the code page lacks becomes a question mark")
        << QStringLiteral("\u0100bc") << QByteArray("?bc") << QStringLiteral("?bc");
    QTest::newRow("a character beyond the basic plane is one reference")
        << QString::fromUtf8("a\xF0\x9F\x98\x80") << QByteArray("a&#x1f600;") << QString::fromUtf8("a\xF0\x9F\x98\x80");
    QTest::newRow("a control character becomes a question mark so the file stays readable")
        << QStringLiteral("a\x01z") << QByteArray("a?z") << QStringLiteral("a?z");
    QTest::newRow("an emptied value comes back empty, not as its default") << QString() << QByteArray() << QString();
}

void TestSettingsStore::textValuesSurviveTheRoundTrip()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, stored);
    QFETCH(QString, restored);
    QTemporaryDir home;
    {
        SettingsStore store(home.path());
        QVERIFY(store.LoadSettingsFile());
        Settings settings;
        store.RestoreSettings(settings);
        settings.BSA_BDR = typed;
        store.CaptureSettings(settings);
        QVERIFY(store.WriteSettingsFile());
    }
    const QByteArray file = readAll(home.filePath("KorvelBSA.xml"));
    const QByteArray line = stored.isEmpty() ? QByteArray("    <BSA_BDR_Text/>\r\n")
                                             : "    <BSA_BDR_Text>" + stored + "</BSA_BDR_Text>\r\n";
    QVERIFY2(file.contains(line), file.constData());

    SettingsStore next(home.path());
    QString error;
    QVERIFY2(next.LoadSettingsFile(&error), qPrintable(error));
    Settings settings;
    next.RestoreSettings(settings);
    QCOMPARE(settings.BSA_BDR, restored);
}

void TestSettingsStore::unknownElementsStayInPlaceAndMissingOnesAreAppended()
{
    QTemporaryDir home;
    const QByteArray before = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n"
                              "<Configuration>\r\n"
                              "  <Hoofdscherm>\r\n"
                              "    <Extra kind=\"a&amp;b\">x</Extra>\r\n"
                              "    <xLoginServer_Text>srv</xLoginServer_Text>\r\n"
                              "    <Nested>\r\n"
                              "      <Deep>1</Deep>\r\n"
                              "      <Empty/>\r\n"
                              "    </Nested>\r\n"
                              "    <BSATerug_Checked>TRUE</BSATerug_Checked>\r\n"
                              "  </Hoofdscherm>\r\n"
                              "  <OtherWindow>\r\n"
                              "    <Left>10</Left>\r\n"
                              "  </OtherWindow>\r\n"
                              "</Configuration>\r\n";
    SettingsStore store(home.path());
    Settings settings = restoredFrom(home.path(), before, &store);
    QCOMPARE(settings.xLoginServer, QStringLiteral("srv"));
    QCOMPARE(settings.BSATerug, true);
    QCOMPARE(settings.BSA_BDR, QStringLiteral("1")); // missing: keeps its default

    settings.xLoginServer = QStringLiteral("other");
    settings.BSATerug = false;
    store.CaptureSettings(settings);
    QVERIFY(store.WriteSettingsFile());
    const QByteArray after = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n"
                             "<Configuration>\r\n"
                             "  <Hoofdscherm>\r\n"
                             "    <Extra kind=\"a&amp;b\">x</Extra>\r\n"
                             "    <xLoginServer_Text>other</xLoginServer_Text>\r\n"
                             "    <Nested>\r\n"
                             "      <Deep>1</Deep>\r\n"
                             "      <Empty/>\r\n"
                             "    </Nested>\r\n"
                             "    <BSATerug_Checked>FALSE</BSATerug_Checked>\r\n"
                             "    <FormVersion>0</FormVersion>\r\n"
                             "    <xLoginDatabase_Text/>\r\n"
                             "    <xLoginSQL_Text/>\r\n"
                             "    <xPaswoordSQL_Text/>\r\n"
                             "    <BSA_BDR_Text>1</BSA_BDR_Text>\r\n"
                             "    <BSA_DEB_Text>1</BSA_DEB_Text>\r\n"
                             "    <PZN_FILTER_Text>P</PZN_FILTER_Text>\r\n"
                             "    <DecimaalTeken_Text>.</DecimaalTeken_Text>\r\n"
                             "    <PZN_Taxi_Text>T</PZN_Taxi_Text>\r\n"
                             "    <PZN_Bus_Text>B</PZN_Bus_Text>\r\n"
                             "    <PZN_Rolstoelbus_Text>R</PZN_Rolstoelbus_Text>\r\n"
                             "    <BSA_Tarief_Text>1</BSA_Tarief_Text>\r\n"
                             "    <BSAHostAdres_Text>127.0.0.1</BSAHostAdres_Text>\r\n"
                             "    <BSAHostPoort_Text>12000</BSAHostPoort_Text>\r\n"
                             "    <bsaCRLF_Checked>FALSE</bsaCRLF_Checked>\r\n"
                             "    <BSAAuto_Checked>FALSE</BSAAuto_Checked>\r\n"
                             "    <Gebruiker_Text>0</Gebruiker_Text>\r\n"
                             "    <SoftwareVersie_Text>6</SoftwareVersie_Text>\r\n"
                             "    <BSABedrijf_Text>0</BSABedrijf_Text>\r\n"
                             "    <SoortVervoer_Text>P</SoortVervoer_Text>\r\n"
                             "    <BSAToegestaneAdressen_Text/>\r\n"
                             "  </Hoofdscherm>\r\n"
                             "  <OtherWindow>\r\n"
                             "    <Left>10</Left>\r\n"
                             "  </OtherWindow>\r\n"
                             "</Configuration>\r\n";
    QCOMPARE(readAll(store.fileName()), after);
}

void TestSettingsStore::namesTheFileCannotHoldAreLeftOut_data()
{
    // Files in UTF-8 (with its mark) whose unknown elements have names the 8-bit file cannot hold.
    QTest::addColumn<QString>("unknown"); // a line inside Hoofdscherm
    QTest::addColumn<QByteArray>("kept"); // what stays of it in the written file
    QTest::newRow("an attribute's name") << QStringLiteral("<Onbekend a\uFFFDtr=\"x\" b=\"y\">bewaard</Onbekend>")
                                         << QByteArray("<Onbekend b=\"y\">bewaard</Onbekend>");
    QTest::newRow("an element's name") << QStringLiteral("<Weg\u4E2D>tekst</Weg\u4E2D><Blijft>1</Blijft>")
                                       << QByteArray("<Blijft>1</Blijft>");
    QTest::newRow("a name inside an unknown element")
        << QStringLiteral("<Ander><Diep\u0100>x</Diep\u0100><Diep>y</Diep></Ander>")
        << QByteArray("<Ander>\r\n      <Diep>y</Diep>\r\n    </Ander>");
}

// What the link writes at the end must read again at the next start: a file it cannot read costs every setting.
void TestSettingsStore::namesTheFileCannotHoldAreLeftOut()
{
    QFETCH(QString, unknown);
    QFETCH(QByteArray, kept);
    QTemporaryDir home;
    SettingsStore store(home.path());
    const QString text = QStringLiteral("<?xml version=\"1.0\"?>\r\n<Configuration>\r\n  <Hoofdscherm>\r\n"
                                        "    <xLoginServer_Text>sqlite:BSA/planning.db</xLoginServer_Text>\r\n    ")
        + unknown + QStringLiteral("\r\n  </Hoofdscherm>\r\n</Configuration>\r\n");
    Settings settings = restoredFrom(home.path(), "\xEF\xBB\xBF" + text.toUtf8(), &store);
    QCOMPARE(settings.xLoginServer, QStringLiteral("sqlite:BSA/planning.db"));
    store.CaptureSettings(settings);
    QVERIFY(store.WriteSettingsFile());
    const QByteArray written = readAll(store.fileName());
    QVERIFY2(written.contains("    " + kept + "\r\n"), written.constData());

    SettingsStore again(home.path());
    QString error;
    QVERIFY2(again.LoadSettingsFile(&error), qPrintable(error));
    Settings restored;
    again.RestoreSettings(restored);
    QCOMPARE(restored.xLoginServer, QStringLiteral("sqlite:BSA/planning.db"));
}

void TestSettingsStore::formVersionDecidesWhetherStoredValuesApply_data()
{
    QTest::addColumn<QByteArray>("formVersionLine");
    QTest::addColumn<bool>("applied");
    QTest::newRow("version 0 applies the stored values") << QByteArray("    <FormVersion>0</FormVersion>\r\n") << true;
    QTest::newRow("a missing version counts as 0") << QByteArray() << true;
    QTest::newRow("a higher version still applies") << QByteArray("    <FormVersion>2</FormVersion>\r\n") << true;
    QTest::newRow("text that is no number ignores every stored value")
        << QByteArray("    <FormVersion>abc</FormVersion>\r\n") << false;
    QTest::newRow("a negative version ignores every stored value")
        << QByteArray("    <FormVersion>-1</FormVersion>\r\n") << false;
    QTest::newRow("an empty version ignores every stored value") << QByteArray("    <FormVersion/>\r\n") << false;
}

void TestSettingsStore::formVersionDecidesWhetherStoredValuesApply()
{
    QFETCH(QByteArray, formVersionLine);
    QFETCH(bool, applied);
    QTemporaryDir home;
    SettingsStore store(home.path());
    Settings settings = restoredFrom(home.path(),
        fileWith(formVersionLine
            + "    <xLoginServer_Text>srv</xLoginServer_Text>\r\n"
              "    <BSAAuto_Checked>TRUE</BSAAuto_Checked>\r\n"),
        &store);
    QCOMPARE(settings.xLoginServer, applied ? QStringLiteral("srv") : QString());
    QCOMPARE(settings.BSAAuto, applied);

    // The values on screen are stored all the same, under version 0.
    settings.xLoginServer = QStringLiteral("typed");
    store.CaptureSettings(settings);
    QVERIFY(store.WriteSettingsFile());
    QCOMPARE(store.storedValue("FormVersion"), std::optional<QString>(QStringLiteral("0")));
    const QByteArray file = readAll(store.fileName());
    QVERIFY(file.contains("<FormVersion>0</FormVersion>\r\n"));
    QVERIFY(file.contains("<xLoginServer_Text>typed</xLoginServer_Text>\r\n"));
}

void TestSettingsStore::flagWordsAreReadLeniently_data()
{
    QTest::addColumn<QByteArray>("word");
    QTest::addColumn<bool>("checked");
    QTest::newRow("TRUE is checked") << QByteArray("TRUE") << true;
    QTest::newRow("true in lower case is checked") << QByteArray("true") << true;
    QTest::newRow("Yes is checked") << QByteArray("Yes") << true;
    QTest::newRow("y is checked") << QByteArray("y") << true;
    QTest::newRow("1 is checked") << QByteArray("1") << true;
    QTest::newRow("any non-zero number is checked") << QByteArray("-7") << true;
    QTest::newRow("FALSE is unchecked") << QByteArray("FALSE") << false;
    QTest::newRow("n is unchecked") << QByteArray("n") << false;
    QTest::newRow("no is unchecked") << QByteArray("no") << false;
    QTest::newRow("0 is unchecked") << QByteArray("0") << false;
    QTest::newRow("another word is unchecked") << QByteArray("aan") << false;
    QTest::newRow("an empty flag is unchecked") << QByteArray("") << false;
}

void TestSettingsStore::flagWordsAreReadLeniently()
{
    QFETCH(QByteArray, word);
    QFETCH(bool, checked);
    QTemporaryDir home;
    SettingsStore store(home.path());
    Settings settings;
    settings.bsaCRLF = !checked; // the stored word must decide, whatever the field held
    writeAll(store.fileName(), fileWith("    <bsaCRLF_Checked>" + word + "</bsaCRLF_Checked>\r\n"));
    QVERIFY(store.LoadSettingsFile());
    store.RestoreSettings(settings);
    QCOMPARE(settings.bsaCRLF, checked);

    store.CaptureSettings(settings);
    QVERIFY(store.WriteSettingsFile());
    const QByteArray written
        = QByteArray("    <bsaCRLF_Checked>") + (checked ? "TRUE" : "FALSE") + "</bsaCRLF_Checked>\r\n";
    QVERIFY(readAll(store.fileName()).contains(written));
}

void TestSettingsStore::byteOrderMarkChoosesTheEncoding_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QString body = QStringLiteral("<?xml version=\"1.0\"?>\r\n<Configuration><Hoofdscherm>"
                                        "<xLoginServer_Text>caf\u00e9 \u20ac</xLoginServer_Text>"
                                        "</Hoofdscherm></Configuration>\r\n");
    QTest::newRow("EF BB BF means UTF-8") << QByteArray("\xEF\xBB\xBF") + body.toUtf8();
    QByteArray utf16("\xFF\xFE");
    for (QChar c : body)
        utf16 += char(c.unicode() & 0xFF), utf16 += char(c.unicode() >> 8);
    QTest::newRow("FF FE means UTF-16 little-endian") << utf16;
    QTest::newRow("no mark means the 8-bit code page")
        << QByteArray("<?xml version=\"1.0\"?>\r\n<Configuration><Hoofdscherm>"
                      "<xLoginServer_Text>caf\xe9 \x80</xLoginServer_Text></Hoofdscherm></Configuration>\r\n");
    QTest::newRow("no mark and a declaration naming UTF-8 still means the 8-bit code page")
        << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Configuration><Hoofdscherm>"
                      "<xLoginServer_Text>caf\xe9 \x80</xLoginServer_Text></Hoofdscherm></Configuration>\r\n");
    QTest::newRow("references are decoded")
        << QByteArray("<Configuration><Hoofdscherm><xLoginServer_Text>caf&#xe9; &#x20ac;</xLoginServer_Text>"
                      "</Hoofdscherm></Configuration>");
}

void TestSettingsStore::byteOrderMarkChoosesTheEncoding()
{
    QFETCH(QByteArray, bytes);
    QTemporaryDir home;
    SettingsStore store(home.path());
    QCOMPARE(restoredFrom(home.path(), bytes, &store).xLoginServer, QStringLiteral("caf\u00e9 \u20ac"));

    // Written back without a mark, in the code page, whatever the file was.
    Settings settings;
    store.RestoreSettings(settings);
    store.CaptureSettings(settings);
    QVERIFY(store.WriteSettingsFile());
    const QByteArray file = readAll(store.fileName());
    QVERIFY(file.startsWith("<?xml version=\"1.0\""));
    QVERIFY(file.contains("<xLoginServer_Text>caf\xe9 &#x20ac;</xLoginServer_Text>\r\n"));
}

void TestSettingsStore::declarationIsWrittenBackAsRead_data()
{
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("a file without declaration gets version 1.0 and iso-8859-1")
        << QByteArray() << QByteArray("<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n");
    QTest::newRow("a declared encoding and standalone yes are kept")
        << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n")
        << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n");
    QTest::newRow("standalone no is left out")
        << QByteArray("<?xml version='1.0' encoding='windows-1252' standalone='no'?>\r\n")
        << QByteArray("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n");
}

void TestSettingsStore::declarationIsWrittenBackAsRead()
{
    QFETCH(QByteArray, read);
    QFETCH(QByteArray, written);
    QTemporaryDir home;
    SettingsStore store(home.path());
    restoredFrom(home.path(), read + "<Configuration/>\r\n", &store);
    QVERIFY(store.WriteSettingsFile());
    QCOMPARE(readAll(store.fileName()), written + "<Configuration/>\r\n");
}

void TestSettingsStore::unparsableFileIsRefusedAndLeftAlone_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("line");
    QTest::newRow("a mismatched end tag")
        << QByteArray("<?xml version=\"1.0\"?>\r\n<Configuration>\r\n  <Hoofdscherm>\r\n  </Configuration>\r\n") << 4;
    QTest::newRow("a file cut off halfway")
        << QByteArray("<?xml version=\"1.0\"?>\r\n<Configuration>\r\n  <Hoofdscherm>\r\n    <xLogin") << 4;
    QTest::newRow("text that is no XML at all") << QByteArray("xLoginServer=srv\r\n") << 1;
    QTest::newRow("an undeclared entity") << QByteArray(
        "<Configuration>\r\n<Hoofdscherm><xLoginServer_Text>&nbsp;</xLoginServer_Text>"
        "</Hoofdscherm></Configuration>") << 2;
}

void TestSettingsStore::unparsableFileIsRefusedAndLeftAlone()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, line);
    QTemporaryDir home;
    SettingsStore store(home.path());
    QVERIFY(writeAll(store.fileName(), bytes));
    QString error;
    QVERIFY(!store.LoadSettingsFile(&error));
    QVERIFY2(error.contains(QDir::toNativeSeparators(store.fileName())), qPrintable(error));
    QVERIFY2(error.contains(QStringLiteral("regel %1, kolom ").arg(line)), qPrintable(error));
    QCOMPARE(readAll(store.fileName()), bytes);
}

void TestSettingsStore::emptyFileCountsAsNoFile()
{
    QTemporaryDir home;
    SettingsStore store(home.path());
    const Settings settings = restoredFrom(home.path(), QByteArray(), &store);
    QCOMPARE(settings.BSA_BDR, QStringLiteral("1"));
    store.CaptureSettings(settings);
    QVERIFY(store.WriteSettingsFile());
    QCOMPARE(readAll(store.fileName()), FirstRunFile);
}

void TestSettingsStore::fileIsReadableByItsOwnerOnly()
{
    BSA_UNIX_ONLY("file modes that keep others from reading a file");
    QTemporaryDir home;
    SettingsStore store(home.path());
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
        | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    // A new file, and an existing one that was readable by everyone.
    for (int run = 0; run < 2; ++run) {
        QVERIFY(store.WriteSettingsFile());
        const QFileDevice::Permissions permissions = QFile::permissions(store.fileName());
        QVERIFY(permissions & QFileDevice::ReadOwner);
        QVERIFY(permissions & QFileDevice::WriteOwner);
        QCOMPARE(permissions & others, QFileDevice::Permissions());
        QVERIFY(QFile::setPermissions(store.fileName(),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    }
}

void TestSettingsStore::readOnlyFileIsNotWritten()
{
    QTemporaryDir home;
    SettingsStore store(home.path());
    const QByteArray before = fileWith("    <xLoginServer_Text>srv</xLoginServer_Text>\r\n");
    Settings settings = restoredFrom(home.path(), before, &store);
    QVERIFY(QFile::setPermissions(store.fileName(), QFileDevice::ReadOwner | QFileDevice::ReadUser));
    settings.xLoginServer = QStringLiteral("changed");
    store.CaptureSettings(settings);
    QString error;
    QVERIFY(!store.WriteSettingsFile(&error));
    QVERIFY(!error.isEmpty());
    QCOMPARE(readAll(store.fileName()), before);
}

void TestSettingsStore::symbolicLinkInTheFilesPlaceIsRefused_data()
{
    QTest::addColumn<bool>("targetExists");
    QTest::addColumn<bool>("linkedBeforeStart"); // else put in the file's place while the link ran
    QTest::newRow("a link to another file, found at start") << true << true;
    QTest::newRow("a link to a file that does not exist, found at start") << false << true;
    QTest::newRow("a link put in the file's place during the run") << true << false;
    QTest::newRow("a link to nothing put in the file's place during the run") << false << false;
}

void TestSettingsStore::symbolicLinkInTheFilesPlaceIsRefused()
{
    BSA_UNIX_ONLY("symbolic links a user may make");
    QFETCH(bool, targetExists);
    QFETCH(bool, linkedBeforeStart);
    QTemporaryDir home;
    const QString target = home.filePath("elders.xml");
    const QByteArray targetBytes = fileWith("    <xLoginServer_Text>van een ander</xLoginServer_Text>\r\n");
    if (targetExists)
        QVERIFY(writeAll(target, targetBytes));
    SettingsStore store(home.path());
    const auto putLink = [&] {
        QFile::remove(store.fileName());
        return QFile::link(target, store.fileName());
    };
    if (linkedBeforeStart) {
        QVERIFY(putLink());
        QString error;
        QVERIFY(!store.LoadSettingsFile(&error));
        QVERIFY2(error.contains("KorvelBSA.xml") && error.contains("symbolische koppeling"), qPrintable(error));
    } else {
        QVERIFY(writeAll(store.fileName(), FirstRunFile));
        QVERIFY(store.LoadSettingsFile());
        QVERIFY(putLink());
    }
    Settings settings;
    store.RestoreSettings(settings);
    settings.xLoginServer = QStringLiteral("sqlite:BSA/planning.db");
    store.CaptureSettings(settings);
    QString error;
    QVERIFY(!store.WriteSettingsFile(&error));
    QVERIFY2(error.contains("KorvelBSA.xml") && error.contains("symbolische koppeling"), qPrintable(error));
    QVERIFY(QFileInfo(store.fileName()).isSymLink());
    QCOMPARE(QFileInfo::exists(target), targetExists);
    if (targetExists)
        QCOMPARE(readAll(target), targetBytes);
}

void TestSettingsStore::unwritableFolderIsReportedAsFailure()
{
    QTemporaryDir home;
    // The program folder's place is taken by a plain file, so neither folder nor file can be made.
    QVERIFY(writeAll(home.filePath("program"), "x"));
    SettingsStore store(home.filePath("program/sub"));
    QVERIFY(store.LoadSettingsFile());
    Settings settings;
    store.RestoreSettings(settings);
    store.CaptureSettings(settings);
    QString error;
    QVERIFY(!store.WriteSettingsFile(&error));
    QVERIFY2(error.contains(QStringLiteral("KorvelBSA.xml")), qPrintable(error));
}

void TestSettingsStore::fileThatCannotBeWrittenWholeStaysAsItWas_data()
{
    QTest::addColumn<qint64>("limit"); // the size no file of the writing process can grow past
    QTest::addColumn<int>("serverLength"); // of the new xLoginServer, which makes the new text longer
    QTest::addColumn<bool>("replaced");
    QTest::newRow("nothing can be written, as on a full disk") << qint64(0) << 10 << false;
    QTest::newRow("the disk fills up inside the new text") << qint64(512) << 10 << false;
    QTest::newRow("the disk fills up after more than one write buffer") << qint64(20000) << 40000 << false;
    QTest::newRow("a new text that fits replaces the file") << qint64(1 << 20) << 40000 << true;
}

// The run's end with a full disk: the old file, with the database login in it, must survive whole.
void TestSettingsStore::fileThatCannotBeWrittenWholeStaysAsItWas()
{
    BSA_UNIX_ONLY("a limit on the size of files");
    QFETCH(qint64, limit);
    QFETCH(int, serverLength);
    QFETCH(bool, replaced);
    QTemporaryDir home;
    SettingsStore store(home.path());
    const QByteArray before = fileWith("    <xLoginDatabase_Text>planning</xLoginDatabase_Text>\r\n"
                                       "    <xLoginServer_Text>srv</xLoginServer_Text>\r\n"
                                       "    <xPaswoordSQL_Text>geheim</xPaswoordSQL_Text>\r\n");
    QVERIFY(writeAll(store.fileName(), before));
    const QString server(serverLength, QLatin1Char('s'));

    const SizeLimitedWrite child = writeUnderSizeLimit(limit, { "settings", home.path(), server });
    if (replaced) {
        QVERIFY2(child.exitCode == 0, qPrintable(child.report));
        QVERIFY(store.LoadSettingsFile());
        QCOMPARE(store.storedValue(QStringLiteral("xLoginServer_Text")), server);
    } else {
        QVERIFY2(child.exitCode == 1, qPrintable(child.report));
        QVERIFY2(child.report.startsWith(QStringLiteral("Het instellingenbestand %1 kan niet geschreven worden: ")
                                             .arg(QDir::toNativeSeparators(store.fileName()))),
            qPrintable(child.report));
        QCOMPARE(readAll(store.fileName()), before);
    }
    // Nothing of the new text is left beside the file.
    QCOMPARE(QDir(home.path()).entryList(QDir::Files | QDir::Hidden), QStringList { SettingsStore::FileName });
}

void TestSettingsStore::captureMarkIsClearedByRestore()
{
    QTemporaryDir home;
    SettingsStore store(home.path());
    QVERIFY(store.LoadSettingsFile());
    Settings settings;
    store.RestoreSettings(settings);
    QVERIFY(!store.captured());
    store.CaptureSettings(settings);
    QVERIFY(store.captured());
    store.RestoreSettings(settings);
    QVERIFY(!store.captured());
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "TestSettingsStore.moc"
