// An update server for looking at the update as the operator sees it (scripts/screenshots): on 127.0.0.1 it offers
// a newer KorvelBSA with a readme, and a download that stops halfway and waits, so the download dialog stays open.
// Prints the address of the description file for --update-url, then serves until it is ended.
#include <cstdio>

#include <QCoreApplication>

#include "tests/support/LoopbackHttpServer.h"

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    LoopbackHttpServer server;
    if (!server.listen()) {
        std::fprintf(stderr, "UpdateOfferServer: cannot listen on 127.0.0.1\n");
        return 1;
    }
    server.answer("/KorvelBSA.ini",
        HttpAnswer::ok("[KorvelBSA]\r\nVersion=99.0.0.0\r\nReadmeFileURL=" + server.url("/readme.txt").toEncoded()
            + "\r\nDownloadFileURL=" + server.url("/download/KorvelBSA").toEncoded()
            + "\r\nSHA1Hash=0000000000000000000000000000000000000000\r\n"));
    server.answer("/readme.txt",
        HttpAnswer::ok("KorvelBSA 99.0.0.0\r\n\r\n- Ritten met een naam van 40 tekens worden volledig bewaard.\r\n"
                       "- De terugkoppeling naar BSA herstelt sneller na een verbroken verbinding.\r\n"));
    HttpAnswer download = HttpAnswer::ok(QByteArray(6 * 1024 * 1024, 'K'));
    download.delivery = HttpAnswer::Delivery::HalfThenHold;
    server.answer("/download/KorvelBSA", download);

    std::printf("%s\n", server.url("/KorvelBSA.ini").toEncoded().constData());
    std::fflush(stdout);
    return app.exec();
}
