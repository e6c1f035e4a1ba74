// bsa-sim: plays BSA against a link, for operators who try a link out and for the tests and benchmarks.
#include <cstdio>
#include <limits>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QHostAddress>
#include <QTextStream>

#include "HostSimulator.h"
#include "LoadRunner.h"
#include "MessageFile.h"
#include "RideMessageBuilder.h"
#include "RideSender.h"
#include "codec/Envelope.h"

namespace {

constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

const char Overview[] = "Usage: bsa-sim COMMAND [options]\n"
                        "\n"
                        "Commands:\n"
                        "  send   send ride messages to a link and check that each is answered with \"AC\"\n"
                        "  host   play the BSA host: take the link's status messages and answer them\n"
                        "  load   send many new rides over several connections and measure the answers\n"
                        "\n"
                        "bsa-sim COMMAND --help shows the options of a command.\n";

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

int usage(const QString &message)
{
    err() << "bsa-sim: " << message << Qt::endl;
    return ExitUsage;
}

// Reads an option as a whole number between low and high; an absent option keeps *value.
bool readNumber(
    const QCommandLineParser &parser, const QString &name, qint64 low, qint64 high, qint64 *value, QString *error)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const qint64 number = parser.value(name).toLongLong(&ok);
    if (!ok || number < low || number > high) {
        *error = QStringLiteral("--%1 must be a whole number from %2 to %3").arg(name).arg(low).arg(high);
        return false;
    }
    *value = number;
    return true;
}

bool readSeconds(const QCommandLineParser &parser, std::chrono::milliseconds *value, QString *error)
{
    if (!parser.isSet(QStringLiteral("timeout")))
        return true;
    bool ok = false;
    const double seconds = parser.value(QStringLiteral("timeout")).toDouble(&ok);
    if (!ok || seconds <= 0 || seconds > 86400) {
        *error = QStringLiteral("--timeout must be a number of seconds above 0");
        return false;
    }
    *value = std::chrono::milliseconds(qint64(seconds * 1000));
    return true;
}

// Ride numbers that differ from run to run, so that a new run books new rides rather than changing old ones.
qint32 rideNumberFromClock()
{
    return qint32(1 + QDateTime::currentMSecsSinceEpoch() % 1'000'000'000);
}

void addConnectionOptions(QCommandLineParser &parser, const char *defaultPort)
{
    parser.addOption({ QStringLiteral("host"), QStringLiteral("Address of the link (default 127.0.0.1)."),
        QStringLiteral("H"), QStringLiteral("127.0.0.1") });
    parser.addOption({ QStringLiteral("port"), QStringLiteral("Port of the link (default %1).").arg(defaultPort),
        QStringLiteral("P"), QString::fromLatin1(defaultPort) });
}

bool parse(QCommandLineParser &parser, const QStringList &arguments, const char *command, int *exitCode)
{
    parser.addHelpOption();
    if (!parser.parse(arguments)) {
        *exitCode = usage(parser.errorText());
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        // The parser names the program by its path; the operator typed "bsa-sim send".
        QString help = parser.helpText();
        const QString program = QCoreApplication::arguments().constFirst();
        help.replace(help.indexOf(program), program.size(), QStringLiteral("bsa-sim %1").arg(command));
        out() << help;
        *exitCode = 0;
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *exitCode = usage(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
        return false;
    }
    return true;
}

int runSend(QCoreApplication &app, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Sends ride messages to the link, one at a time, and waits for each answer.\n"
                       "The message is built from the options, or each line of --file is one message."));
    addConnectionOptions(parser, "12001");
    parser.addOptions({
        { QStringLiteral("kind"), QStringLiteral("BN (a new or changed ride, default) or BV (a cancellation)."),
            QStringLiteral("BN|BV"), QStringLiteral("BN") },
        { QStringLiteral("ride"), QStringLiteral("BSA ride number (default: taken from the clock)."),
            QStringLiteral("N") },
        { QStringLiteral("set"),
            QStringLiteral("Sets a field by number or name; \\n in VALUE is a line break. "
                           "May be repeated."),
            QStringLiteral("FIELD=VALUE") },
        { QStringLiteral("fields"), QStringLiteral("Sends only the first N fields (default 75)."),
            QStringLiteral("N") },
        { QStringLiteral("file"), QStringLiteral("Sends the messages of this file, one per line."),
            QStringLiteral("F") },
        { QStringLiteral("repeat"), QStringLiteral("Sends the message(s) N times (default 1)."), QStringLiteral("N") },
        { QStringLiteral("crlf-expected"),
            QStringLiteral("Every answer must end in CR LF (the link's "
                           "\"CR+LF meezenden ACK/NACK\" is on).") },
        { QStringLiteral("timeout"),
            QStringLiteral("Seconds to wait for the connection (a link that is still starting is tried "
                           "again) and for each answer (default 10)."),
            QStringLiteral("S") },
        { QStringLiteral("print"), QStringLiteral("Prints each message text before it is sent.") },
    });
    int exitCode = 0;
    if (!parse(parser, arguments, "send", &exitCode))
        return exitCode;

    QString error;
    qint64 port = 12001;
    qint64 repeat = 1;
    qint64 fields = RideMessageBuilder::FieldCount;
    qint64 ride = rideNumberFromClock();
    std::chrono::milliseconds timeout { 10000 };
    if (!readNumber(parser, QStringLiteral("port"), 1, 65535, &port, &error)
        || !readNumber(parser, QStringLiteral("repeat"), 1, 1'000'000, &repeat, &error)
        || !readNumber(parser, QStringLiteral("fields"), 0, RideMessageBuilder::FieldCount, &fields, &error)
        || !readNumber(parser, QStringLiteral("ride"), std::numeric_limits<qint32>::min(),
            std::numeric_limits<qint32>::max(), &ride, &error)
        || !readSeconds(parser, &timeout, &error))
        return usage(error);

    QList<RideSender::Message> messages;
    if (parser.isSet(QStringLiteral("file"))) {
        for (const char *option : { "kind", "ride", "set", "fields" }) {
            if (parser.isSet(QString::fromLatin1(option)))
                return usage(QStringLiteral("--%1 cannot be combined with --file").arg(option));
        }
        QStringList texts;
        if (!MessageFile::read(parser.value(QStringLiteral("file")), &texts, &error))
            return usage(error);
        for (const QString &text : std::as_const(texts)) {
            const QStringList split = SplitsVelden(text);
            messages.append({ text, split.size() > 5 ? split.at(5).toInt() : 0 });
        }
        if (messages.isEmpty())
            return usage(QStringLiteral("%1 holds no messages").arg(parser.value(QStringLiteral("file"))));
    } else {
        RideMessageBuilder builder(qint32(ride), QDateTime::currentDateTime());
        const QString kind = parser.value(QStringLiteral("kind"));
        if (kind == QLatin1String("BV"))
            builder.setKind(RideMessageBuilder::Kind::Cancellation);
        else if (kind != QLatin1String("BN"))
            return usage(QStringLiteral("--kind must be BN or BV"));
        for (const QString &assignment : parser.values(QStringLiteral("set"))) {
            if (!builder.setAssignment(MessageFile::withLineBreaks(assignment), &error))
                return usage(error);
        }
        builder.truncate(int(fields));
        messages.append({ builder.text(), builder.rideNumber() });
    }
    const QList<RideSender::Message> once = messages;
    for (qint64 i = 1; i < repeat; ++i)
        messages += once;

    if (parser.isSet(QStringLiteral("print"))) {
        for (const RideSender::Message &message : std::as_const(once))
            out() << QString(message.text)
                         .replace(QLatin1Char('\t'), QStringLiteral(" | "))
                         .replace(QStringLiteral("\x1bLF"), QStringLiteral("\\n"))
                  << Qt::endl;
    }

    RideSender sender;
    sender.setCrlfExpected(parser.isSet(QStringLiteral("crlf-expected")));
    sender.setTimeout(timeout);
    QObject::connect(
        &sender, &RideSender::answerReceived, &app, [](const QString &answer) { out() << answer << Qt::endl; });
    QObject::connect(&sender, &RideSender::problem, &app,
        [](const QString &message) { err() << "bsa-sim: " << message << Qt::endl; });
    QObject::connect(&sender, &RideSender::finished, &app, [&app](bool ok) { app.exit(ok ? 0 : ExitFailed); });
    sender.start(parser.value(QStringLiteral("host")), quint16(port), messages);
    return app.exec();
}

int runHost(QCoreApplication &app, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Plays the BSA host: prints every status message the link sends and answers it."));
    parser.addOptions({
        { QStringLiteral("port"), QStringLiteral("Port to listen on (default 12000)."), QStringLiteral("P"),
            QStringLiteral("12000") },
        { QStringLiteral("listen"), QStringLiteral("Address to listen on (default 127.0.0.1)."),
            QStringLiteral("ADDRESS"), QStringLiteral("127.0.0.1") },
        { QStringLiteral("answer"), QStringLiteral("AC (default), NC, or none."), QStringLiteral("AC|NC|none"),
            QStringLiteral("AC") },
        { QStringLiteral("count"), QStringLiteral("Ends after N messages (default: runs until stopped)."),
            QStringLiteral("N") },
        { QStringLiteral("flood"),
            QStringLiteral("Sends \"AC\" envelopes for ride 0 without pause on every connection, as a hostile host "
                           "would.") },
    });
    int exitCode = 0;
    if (!parse(parser, arguments, "host", &exitCode))
        return exitCode;

    QString error;
    qint64 port = 12000;
    qint64 count = 0;
    if (!readNumber(parser, QStringLiteral("port"), 0, 65535, &port, &error)
        || !readNumber(parser, QStringLiteral("count"), 1, std::numeric_limits<int>::max(), &count, &error))
        return usage(error);
    const QHostAddress address(parser.value(QStringLiteral("listen")));
    if (address.isNull())
        return usage(QStringLiteral("--listen must be an IP address"));
    const QString answer = parser.value(QStringLiteral("answer"));
    HostSimulator host;
    if (answer == QLatin1String("AC"))
        host.setAnswer(HostSimulator::Answer::Accept);
    else if (answer == QLatin1String("NC"))
        host.setAnswer(HostSimulator::Answer::Refuse);
    else if (answer == QLatin1String("none"))
        host.setAnswer(HostSimulator::Answer::None);
    else
        return usage(QStringLiteral("--answer must be AC, NC or none"));
    host.setCount(int(count));
    host.setFlood(parser.isSet(QStringLiteral("flood")));

    QObject::connect(&host, &HostSimulator::logLine, &app, [](const QString &line) { out() << line << Qt::endl; });
    QObject::connect(&host, &HostSimulator::finished, &app, [&app] { app.exit(0); });
    if (!host.listen(address, quint16(port), &error)) {
        err() << "bsa-sim: " << error << Qt::endl;
        return ExitFailed;
    }
    return app.exec();
}

int runLoad(QCoreApplication &app, const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Sends new rides over several connections at once and reports rides per second and answer latency.\n"
        "Each connection sends its next ride when the answer to the previous one came."));
    addConnectionOptions(parser, "12001");
    parser.addOptions({
        { QStringLiteral("rides"), QStringLiteral("Number of new rides (default 100)."), QStringLiteral("N") },
        { QStringLiteral("connections"), QStringLiteral("Concurrent connections (default 1)."), QStringLiteral("C") },
        { QStringLiteral("fragment"), QStringLiteral("Writes each message in 2 to 5 random pieces, 0 to 2 ms apart.") },
        { QStringLiteral("first-ride"), QStringLiteral("Number of the first ride (default: taken from the clock)."),
            QStringLiteral("N") },
        { QStringLiteral("cancel-ratio"),
            QStringLiteral("Share (0 to 1) of the accepted rides that is cancelled "
                           "again with a BV (default 0)."),
            QStringLiteral("R") },
        { QStringLiteral("timeout"), QStringLiteral("Seconds for the whole run (default 120)."), QStringLiteral("S") },
        { QStringLiteral("json"), QStringLiteral("Prints the summary as one line of JSON.") },
    });
    int exitCode = 0;
    if (!parse(parser, arguments, "load", &exitCode))
        return exitCode;

    LoadRunner::Options options;
    options.host = parser.value(QStringLiteral("host"));
    options.fragment = parser.isSet(QStringLiteral("fragment"));
    QString error;
    qint64 port = options.port;
    qint64 rides = options.rides;
    qint64 connections = options.connections;
    qint64 firstRide = rideNumberFromClock();
    if (!readNumber(parser, QStringLiteral("port"), 1, 65535, &port, &error)
        || !readNumber(parser, QStringLiteral("rides"), 1, 1'000'000'000, &rides, &error)
        || !readNumber(parser, QStringLiteral("connections"), 1, 1000, &connections, &error)
        || !readNumber(parser, QStringLiteral("first-ride"), 1, std::numeric_limits<qint32>::max(), &firstRide, &error)
        || !readSeconds(parser, &options.timeout, &error))
        return usage(error);
    if (firstRide + rides - 1 > std::numeric_limits<qint32>::max())
        return usage(QStringLiteral("--first-ride plus --rides goes past the largest ride number"));
    if (parser.isSet(QStringLiteral("cancel-ratio"))) {
        bool ok = false;
        options.cancelRatio = parser.value(QStringLiteral("cancel-ratio")).toDouble(&ok);
        if (!ok || options.cancelRatio < 0 || options.cancelRatio > 1)
            return usage(QStringLiteral("--cancel-ratio must be a number from 0 to 1"));
    }
    options.port = quint16(port);
    options.rides = int(rides);
    options.connections = int(connections);
    options.firstRide = qint32(firstRide);

    const bool json = parser.isSet(QStringLiteral("json"));
    LoadRunner runner(options);
    QObject::connect(&runner, &LoadRunner::problem, &app,
        [](const QString &message) { err() << "bsa-sim: " << message << Qt::endl; });
    QObject::connect(&runner, &LoadRunner::finished, &app, [&app, &runner, json] {
        const LoadReport &report = runner.report();
        if (json)
            out() << QString::fromUtf8(report.json()) << Qt::endl;
        else
            out() << report.text() << Qt::endl;
        app.exit(report.ok() ? 0 : ExitFailed);
    });
    runner.start();
    return app.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("bsa-sim"));
    QStringList arguments = QCoreApplication::arguments();
    const QString command = arguments.size() > 1 ? arguments.at(1) : QString();
    if (command.isEmpty() || command == QLatin1String("help") || command == QLatin1String("--help")
        || command == QLatin1String("-h")) {
        out() << Overview;
        return command.isEmpty() ? ExitUsage : 0;
    }
    arguments.removeAt(1); // the parser of a command sees the program name and the command's own options
    if (command == QLatin1String("send"))
        return runSend(app, arguments);
    if (command == QLatin1String("host"))
        return runHost(app, arguments);
    if (command == QLatin1String("load"))
        return runLoad(app, arguments);
    return usage(QStringLiteral("unknown command \"%1\"\n%2").arg(command, QString::fromLatin1(Overview)));
}
