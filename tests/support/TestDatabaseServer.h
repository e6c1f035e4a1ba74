#pragma once

#include <csignal>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include "platform/Database.h"
#include "platform/DatabaseLogin.h"
#include "platform/PlanningSchema.h"
#include "tests/support/UnixOnly.h"

// Ready databases for tests: a new SQLite file in a temporary folder, or a clean database of this test program on
// the throwaway PostgreSQL server (started by tests/CMakeLists.txt), reached through QPSQL or through the ODBC driver
// psqlodbc. A test that uses the server is registered with bsa_requires_pg(TestX). Usage in a test function:
//     DatabaseLogin login;
//     BSA_PREPARE_TEST_DATABASE(TestDatabaseServer::Kind::PostgreSQL, m_dir, login);
//     Database db(TestDatabaseServer::loginFrom(login), m_dir.path());
namespace TestDatabaseServer {

enum class Kind { SQLite, PostgreSQL, Odbc };
enum class Outcome { Ready, Unavailable, Failed };

// The connection facts that pg_start wrote.
struct Facts
{
    Outcome outcome = Outcome::Failed;
    QString reason; // why the server cannot be used
    QString host;
    int port = 0;
    QString user;
    QString password;
    QString database; // the maintenance database of the test role
    QString schema; // sql/postgresql/schema.sql
};

// The facts that pg_start wrote into `path`.
inline Facts factsIn(const QString &path)
{
    Facts facts;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        facts.reason = QStringLiteral("no facts of the PostgreSQL test server in %1 (did pg_start run?)").arg(path);
        return facts;
    }
    QHash<QString, QString> values;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            values.insert(QString::fromUtf8(line.left(equals)), QString::fromUtf8(line.mid(equals + 1)).trimmed());
    }
    if (values.value(QStringLiteral("status")) != QLatin1String("ok")) {
        facts.outcome = Outcome::Unavailable;
        facts.reason = QStringLiteral("the PostgreSQL test server could not start: %1")
                           .arg(values.value(QStringLiteral("reason")));
        return facts;
    }
    facts.outcome = Outcome::Ready;
    facts.host = values.value(QStringLiteral("host"));
    facts.port = values.value(QStringLiteral("port")).toInt();
    facts.user = values.value(QStringLiteral("user"));
    facts.password = values.value(QStringLiteral("password"));
    facts.database = values.value(QStringLiteral("database"));
    facts.schema = values.value(QStringLiteral("schema"));
    return facts;
}

// The facts of the test server of this build folder.
inline Facts facts()
{
    const QString path = qEnvironmentVariable("BSA_PG_FACTS");
    if (path.isEmpty()) {
        Facts facts;
#ifdef Q_OS_WIN
        facts.outcome = Outcome::Unavailable;
        facts.reason = QStringLiteral("Windows lacks the PostgreSQL test server, which the Linux tests start");
        return facts;
#endif
        facts.reason = QStringLiteral("BSA_PG_FACTS is not set: register this test with bsa_requires_pg()");
        return facts;
    }
    return factsIn(path);
}

// The database of this test program on the server: tests running side by side never share tables.
inline QString databaseName()
{
    QString name = QStringLiteral("bsa_%1_%2")
                       .arg(QCoreApplication::applicationName().toLower())
                       .arg(QCoreApplication::applicationPid());
    for (QChar &c : name) {
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80))
            c = QLatin1Char('_');
    }
    return name.left(63);
}

// Runs statements, unprepared, as the test role on one database of the server.
inline bool runOn(const Facts &facts, const QString &database, const QStringList &statements, QString *error)
{
    const QString connection = QStringLiteral("test-server-") + QUuid::createUuid().toString(QUuid::Id128);
    bool ok = true;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
        db.setHostName(facts.host);
        db.setPort(facts.port);
        db.setDatabaseName(database);
        db.setUserName(facts.user);
        db.setPassword(facts.password);
        if (!db.open()) {
            *error = QStringLiteral("connecting to the test server: %1").arg(db.lastError().text());
            ok = false;
        }
        QSqlQuery query(db);
        for (const QString &statement : statements) {
            if (!ok)
                break;
            if (!query.exec(statement)) {
                *error = QStringLiteral("%1: %2").arg(statement, query.lastError().text());
                ok = false;
            }
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return ok;
}

// Runs statements on this test program's own database of the server (after prepare()).
inline bool runOnServer(const QStringList &statements, QString *error)
{
    return runOn(facts(), databaseName(), statements, error);
}

// This test program's database, created at the first call, with the schema applied and the tables emptied.
inline bool cleanServerDatabase(const Facts &facts, QString *error)
{
    static bool created = false;
    if (!created) {
        const QString name = databaseName();
        if (!runOn(facts, facts.database,
                { QStringLiteral("DROP DATABASE IF EXISTS %1").arg(name),
                    QStringLiteral("CREATE DATABASE %1").arg(name) },
                error))
            return false;
        created = true;
    }
    QFile schema(facts.schema);
    if (!schema.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read the schema %1").arg(facts.schema);
        return false;
    }
    QStringList statements = PlanningSchema::splitStatements(QString::fromUtf8(schema.readAll()));
    statements << QStringLiteral("TRUNCATE planning, transacties RESTART IDENTITY");
    return runOn(facts, databaseName(), statements, error);
}

inline Outcome prepare(Kind kind, const QTemporaryDir &dir, DatabaseLogin *login, QString *message)
{
    *login = DatabaseLogin();
    if (kind == Kind::SQLite) {
        if (!dir.isValid()) {
            *message = QStringLiteral("no temporary folder");
            return Outcome::Failed;
        }
        // A file of its own at every call: a clean database even when an earlier connection still holds a file.
        static int files = 0;
        login->server = QStringLiteral("sqlite:%1/planning-%2.db").arg(dir.path()).arg(++files);
        return Outcome::Ready;
    }

    const Facts server = facts();
    if (server.outcome != Outcome::Ready) {
        *message = server.reason;
        return server.outcome;
    }
    if (!cleanServerDatabase(server, message))
        return Outcome::Failed;
    const QString name = databaseName();
    if (kind == Kind::PostgreSQL) {
        login->server = QStringLiteral("postgresql:%1:%2").arg(server.host).arg(server.port);
        login->database = name;
        login->user = server.user;
        login->password = server.password;
    } else {
        login->server = QStringLiteral("odbc:DRIVER={PostgreSQL Unicode};SERVER=%1;PORT=%2;DATABASE=%3;"
                                       "UID=%4;PWD=%5")
                            .arg(server.host)
                            .arg(server.port)
                            .arg(name, server.user, server.password);
    }
    return Outcome::Ready;
}

#ifdef BSA_PG_SCRIPTS
// A second throwaway PostgreSQL server of one test, for what must not happen to the shared one: it can be paused
// whole with SIGSTOP. Started by start(), paused and resumed by pid, stopped and removed when it goes.
class ThrowawayServer
{
public:
    ~ThrowawayServer()
    {
        resume();
        if (m_started)
            run(QStringLiteral("pg_stop.sh"), { anchor(), factsFile() });
    }

    // The server runs with the planning tables in its database; the login reaches it through QPSQL.
    Outcome start(const QTemporaryDir &dir, DatabaseLogin *login, QString *message)
    {
        m_dir = dir.path();
        const QString schema = facts().schema; // the shared server's facts name the schema of this source tree
        if (!run(QStringLiteral("pg_start.sh"), { anchor(), factsFile(), schema })) {
            *message = QStringLiteral("pg_start.sh did not run");
            return Outcome::Failed;
        }
        m_started = true;
        m_facts = factsIn(factsFile());
        if (m_facts.outcome != Outcome::Ready) {
            *message = m_facts.reason;
            return m_facts.outcome;
        }
        QFile file(schema);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
            *message = QStringLiteral("cannot read the schema %1").arg(schema);
            return Outcome::Failed;
        }
        if (!runOn(
                m_facts, m_facts.database, PlanningSchema::splitStatements(QString::fromUtf8(file.readAll())), message))
            return Outcome::Failed;
        login->server = QStringLiteral("postgresql:%1:%2").arg(m_facts.host).arg(m_facts.port);
        login->database = m_facts.database;
        login->user = m_facts.user;
        login->password = m_facts.password;
        return Outcome::Ready;
    }

    const Facts &serverFacts() const { return m_facts; }

    // Stops the server's every process: the postmaster and all it started. False when one could not be stopped.
    bool pause()
    {
        QFile pidFile(QString::fromLocal8Bit(readAll(anchor() + QStringLiteral("/location")).trimmed())
            + QStringLiteral("/data/postmaster.pid"));
        if (!pidFile.open(QIODevice::ReadOnly))
            return false;
        const qint64 postmaster = pidFile.readLine().trimmed().toLongLong();
        if (postmaster <= 0)
            return false;
        m_paused = { postmaster };
        const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        for (const QString &process : processes) {
            // /proc/PID/stat: "PID (NAME) STATE PPID ...", NAME without ") ".
            const QByteArray stat = readAll(QStringLiteral("/proc/%1/stat").arg(process));
            const QList<QByteArray> after = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
            if (after.size() > 1 && after.at(1).toLongLong() == postmaster)
                m_paused << process.toLongLong();
        }
        bool all = true;
        for (qint64 pid : std::as_const(m_paused))
            all = ::kill(pid_t(pid), SIGSTOP) == 0 && all;
        return all;
    }

    void resume()
    {
        for (qint64 pid : std::as_const(m_paused))
            ::kill(pid_t(pid), SIGCONT);
        m_paused.clear();
    }

private:
    static QByteArray readAll(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QString anchor() const { return m_dir + QStringLiteral("/second-pg"); }
    QString factsFile() const { return m_dir + QStringLiteral("/second-pg.facts"); }
    static bool run(const QString &script, const QStringList &arguments)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral("bash"),
            QStringList { QStringLiteral(BSA_PG_SCRIPTS) + QLatin1Char('/') + script } + arguments);
        return process.waitForFinished(180000) && process.exitStatus() == QProcess::NormalExit;
    }

    QString m_dir;
    bool m_started = false;
    Facts m_facts;
    QList<qint64> m_paused;
};
#endif

// A login source that reads `login` at every connect, as the owner reads the settings: a test that changes the
// login sees the change at the next connect. `login` must outlive the Database.
inline Database::LoginSource loginFrom(const DatabaseLogin &login)
{
    return [&login] { return login; };
}

} // namespace TestDatabaseServer

// Fills `login` for a ready database of `kind`; skips the test when the server could not start and fails it
// when the database could not be prepared.
#define BSA_PREPARE_TEST_DATABASE(kind, dir, login)                                                                    \
    do {                                                                                                               \
        QString bsaMessage_;                                                                                           \
        switch (TestDatabaseServer::prepare((kind), (dir), &(login), &bsaMessage_)) {                                  \
        case TestDatabaseServer::Outcome::Ready:                                                                       \
            break;                                                                                                     \
        case TestDatabaseServer::Outcome::Unavailable:                                                                 \
            QTest::qSkip(qPrintable(bsaMessage_), __FILE__, __LINE__);                                                 \
            return;                                                                                                    \
        case TestDatabaseServer::Outcome::Failed:                                                                      \
            QFAIL(qPrintable(bsaMessage_));                                                                            \
        }                                                                                                              \
    } while (false)
