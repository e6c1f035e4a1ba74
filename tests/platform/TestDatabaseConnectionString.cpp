#include <QTest>

#include "platform/DbConnectionString.h"

// The ODBC connection strings: the SQL Server string built from the login settings, and the quoting that keeps a
// value from adding keys of its own.
class TestDatabaseConnectionString final : public QObject
{
    Q_OBJECT
private slots:
    void quotesOnlyWhatNeedsIt_data();
    void quotesOnlyWhatNeedsIt();
    void buildsTheSqlServerString_data();
    void buildsTheSqlServerString();
};

void TestDatabaseConnectionString::quotesOnlyWhatNeedsIt_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("written");
    QTest::newRow("a plain value stays as it is") << "geheim"
                                                  << "geheim";
    QTest::newRow("an empty value stays empty") << ""
                                                << "";
    QTest::newRow("an equals sign needs no quoting") << "a=b"
                                                     << "a=b";
    QTest::newRow("a semicolon is kept inside braces") << "a;DATABASE=master"
                                                       << "{a;DATABASE=master}";
    QTest::newRow("a closing brace is doubled inside braces") << "a}b"
                                                              << "{a}}b}";
    QTest::newRow("an opening brace is quoted") << "{x"
                                                << "{{x}";
    QTest::newRow("surrounding spaces are kept by quoting") << " pw "
                                                            << "{ pw }";
}

void TestDatabaseConnectionString::quotesOnlyWhatNeedsIt()
{
    QFETCH(QString, value);
    QFETCH(QString, written);
    QCOMPARE(DbConnectionString::odbcValue(value), written);
}

void TestDatabaseConnectionString::buildsTheSqlServerString_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("expected");
#ifdef Q_OS_WIN
    QTest::newRow("the server goes to the driver as typed")
        << "host\\SQLEXPRESS,1433"
        << "pw"
        << "DRIVER={SQL Server};SERVER=host\\SQLEXPRESS,1433;DATABASE=Planning;UID=sa;PWD=pw";
    QTest::newRow("a password with a semicolon and a brace cannot add keys")
        << "host"
        << "x;y}z"
        << "DRIVER={SQL Server};SERVER=host;DATABASE=Planning;UID=sa;PWD={x;y}}z}";
#else
    const QString tail = QStringLiteral(";TDS_Version=7.4;ClientCharset=UTF-8");
    QTest::newRow("a host alone uses the default port")
        << "sqlhost"
        << "pw"
        << "DRIVER={FreeTDS};SERVER=sqlhost;DATABASE=Planning;UID=sa;PWD=pw" + tail;
    QTest::newRow("a named instance is found by FreeTDS itself")
        << "sqlhost\\SQLEXPRESS"
        << "pw"
        << "DRIVER={FreeTDS};SERVER=sqlhost\\SQLEXPRESS;DATABASE=Planning;UID=sa;PWD=pw" + tail;
    QTest::newRow("a port after a comma becomes the PORT key")
        << "10.0.0.5,1500"
        << "pw"
        << "DRIVER={FreeTDS};SERVER=10.0.0.5;PORT=1500;DATABASE=Planning;UID=sa;PWD=pw" + tail;
    QTest::newRow("a port makes the instance name unnecessary")
        << "sqlhost\\SQLEXPRESS, 1500"
        << "pw"
        << "DRIVER={FreeTDS};SERVER=sqlhost;PORT=1500;DATABASE=Planning;UID=sa;PWD=pw" + tail;
    QTest::newRow("a password with a semicolon and a brace cannot add keys")
        << "sqlhost"
        << "x;UID=sa}"
        << "DRIVER={FreeTDS};SERVER=sqlhost;DATABASE=Planning;UID=sa;PWD={x;UID=sa}}}" + tail;
    QTest::newRow("a server with a semicolon stays one value")
        << "sqlhost;PORT=1"
        << "pw"
        << "DRIVER={FreeTDS};SERVER={sqlhost;PORT=1};DATABASE=Planning;UID=sa;PWD=pw" + tail;
#endif
}

void TestDatabaseConnectionString::buildsTheSqlServerString()
{
    QFETCH(QString, server);
    QFETCH(QString, password);
    QFETCH(QString, expected);
    QCOMPARE(
        DbConnectionString::sqlServer(server, QStringLiteral("Planning"), QStringLiteral("sa"), password), expected);
}

QTEST_GUILESS_MAIN(TestDatabaseConnectionString)
#include "TestDatabaseConnectionString.moc"
