// How many BSA messages per second the codec takes apart and puts together.
#include <optional>

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include "codec/AckNackBSA.h"
#include "codec/Envelope.h"
#include "codec/EnvelopeFramer.h"
#include "codec/RitBSA.h"

namespace {

constexpr qsizetype SegmentSize = 1460; // what one TCP read typically holds
constexpr int EnvelopesPerStream = 1000;

// A full ride message of 75 fields, with a line break in the message text, as it arrives on the wire.
QByteArray rideEnvelope()
{
    const QStringList fields = {
        "BN",
        "BSA",
        "6",
        "",
        "",
        "123456",
        "987654",
        "PRJ-8",
        "Locatie",
        "202403151430",
        "",
        "202403151500",
        "Jansen, P. de",
        "201234567",
        "0",
        "0",
        "0",
        "0",
        "Utrecht",
        "3511AB",
        "Stationsplein",
        "12a",
        "Ingang achterzijde",
        "",
        "",
        "0",
        "Amersfoort",
        "3811CD",
        "Hof",
        "7",
        "",
        "",
        "",
        "2",
        "1",
        "2550",
        "1275",
        "3",
        "12.5",
        "Bel aan bij de buren, rolstoel mee",
        "T",
        "J",
        "N",
        "N",
        "J",
        "N",
        "N",
        "N",
        "N",
        "N",
        "T",
        "J",
        "N",
        "N",
        "N",
        "",
        "",
        "0",
        "Contant",
        "J",
        "N",
        "N",
        "N",
        "",
        "",
        "",
        "",
        "Eerste regel\x1BLFTweede regel caf\u00E9 \u20AC5",
        "F1",
        "0",
        "0",
        "0",
        "0",
        "0",
        "2",
    };
    return Inpakken(fields.join(u'\t'), false);
}

void decodeRide(benchmark::State &state)
{
    const QByteArray wire = rideEnvelope();
    tRitBSA rit;
    QString error;
    for (auto _ : state) {
        const bool parsed = TekstNaarRit(markLineBreaks(Uitpakken(wire)), rit, &error);
        benchmark::DoNotOptimize(parsed);
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * wire.size());
}

void frameStream(benchmark::State &state)
{
    QByteArray stream;
    for (int i = 0; i < EnvelopesPerStream; ++i)
        stream += rideEnvelope();
    QByteArrayList reads;
    for (qsizetype at = 0; at < stream.size(); at += SegmentSize)
        reads << stream.mid(at, SegmentSize);
    for (auto _ : state) {
        EnvelopeFramer framer;
        int taken = 0;
        for (const QByteArray &read : reads) {
            framer.append(read);
            while (std::optional<QByteArray> payload = framer.takeEnvelope())
                ++taken;
        }
        benchmark::DoNotOptimize(taken);
    }
    state.SetItemsProcessed(state.iterations() * EnvelopesPerStream);
    state.SetBytesProcessed(state.iterations() * stream.size());
}

void buildAnswer(benchmark::State &state)
{
    int ritnummer = 0;
    for (auto _ : state) {
        const QByteArray wire = Inpakken(AckNackNaarTekst(MaakAntwoord(QStringLiteral("AC"), ++ritnummer)), true);
        benchmark::DoNotOptimize(wire.constData());
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(decodeRide);
BENCHMARK(frameStream);
BENCHMARK(buildAnswer);

BENCHMARK_MAIN();
