// The demo's download server: plays one scenario on the loopback interface.
//
// It writes into the scenario directory the simulated controllers'
// configuration ("sim.json"), the firmware image it offers the first ("firmware.sb")
// and, once it answers, the address to use as the updater's web proxy
// ("proxy"); then it serves until it is stopped. The simulator appends
// every report the controllers receive to "reports.txt" beside them.

#include "httpserver.h"
#include "scenario.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QSaveFile>
#include <QTcpServer>
#include <QTextStream>

#include <cstdlib>

namespace {

// Long enough to watch the download's progress.
constexpr int defaultDownloadTimeMs = 2500;

struct Options
{
    Demo::Settings settings;
    QString directory;
    int downloadTimeMs = defaultDownloadTimeMs;
};

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

[[noreturn]] void fail(const QString &message)
{
    QTextStream(stderr) << "tavoro-demo-server: " << message << '\n';
    std::exit(2);
}

int nonNegative(const QCommandLineParser &parser, const QString &option)
{
    bool ok = false;
    const int value = parser.value(option).toInt(&ok);
    if (!ok || value < 0)
        fail(QStringLiteral("--%1 takes a whole number of 0 or more").arg(option));
    return value;
}

Options parseOptions(const QCoreApplication &app)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Serves the Tavoro download server of one demo scenario on 127.0.0.1 and writes the "
        "simulated controllers' configuration. MODEL is a controller model (EBONY, ARDEN, MOSS, ...), "
        "VERSION its firmware version byte (12 is version 1.2); --unit attaches more controllers."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("MODEL"), QStringLiteral("controller model"));
    parser.addPositionalArgument(QStringLiteral("VERSION"), QStringLiteral("firmware version byte, 0..255"));
    parser.addOptions({
        { QStringLiteral("dir"), QStringLiteral("Scenario directory to write into (required)."), QStringLiteral("DIR") },
        { QStringLiteral("outcome"),
          QStringLiteral("One of: %1 (default: update).").arg(Demo::outcomeNames().join(QStringLiteral(", "))),
          QStringLiteral("NAME"), QStringLiteral("update") },
        { QStringLiteral("image-size"), QStringLiteral("Size of the offered firmware image in bytes (0: an empty one)."),
          QStringLiteral("BYTES"), QString::number(Demo::Settings().imageSize) },
        { QStringLiteral("apply-ms"), QStringLiteral("The controller's time to install the image."),
          QStringLiteral("MS"), QString::number(Demo::Settings().applyTimeMs) },
        { QStringLiteral("download-ms"), QStringLiteral("Spread the image download over about this time."),
          QStringLiteral("MS"), QString::number(defaultDownloadTimeMs) },
        { QStringLiteral("fractional-versions"),
          QStringLiteral("Write the manifest's firmware versions with a fraction: 13.0 instead of 13.") },
        { QStringLiteral("unit"),
          QStringLiteral("Attach a further controller, \"MODEL VERSION\", or \"MODEL VERSION +MS\" to plug it "
                         "in MS milliseconds after the program's first look (repeatable)."),
          QStringLiteral("UNIT") },
    });
    parser.process(app);

    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() != 2)
        fail(QStringLiteral("give a model and a firmware version, for example: EBONY 12"));
    if (!parser.isSet(QStringLiteral("dir")))
        fail(QStringLiteral("--dir is required"));

    Options options;
    options.directory = parser.value(QStringLiteral("dir"));
    Demo::Settings &settings = options.settings;
    settings.model = arguments.at(0);
    bool ok = false;
    settings.version = arguments.at(1).toInt(&ok);
    if (!ok)
        settings.version = -1;
    const auto outcome = Demo::outcomeFromName(parser.value(QStringLiteral("outcome")));
    if (!outcome)
        fail(QStringLiteral("unknown outcome; choose one of: %1").arg(Demo::outcomeNames().join(QStringLiteral(", "))));
    settings.outcome = *outcome;
    for (const QString &text : parser.values(QStringLiteral("unit"))) {
        QString error;
        const auto unit = Demo::unitFromText(text, &error);
        if (!unit)
            fail(QStringLiteral("--unit: %1").arg(error));
        settings.moreUnits.append(*unit);
    }
    settings.imageSize = nonNegative(parser, QStringLiteral("image-size"));
    settings.fractionalVersions = parser.isSet(QStringLiteral("fractional-versions"));
    settings.applyTimeMs = nonNegative(parser, QStringLiteral("apply-ms"));
    settings.recordFile = QStringLiteral("reports.txt");
    options.downloadTimeMs = nonNegative(parser, QStringLiteral("download-ms"));
    return options;
}

void writeFile(const QDir &directory, const QString &name, const QByteArray &content)
{
    QSaveFile file(directory.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() || !file.commit())
        fail(QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString()));
}

// A loopback port that nothing listens on: the address of a server that
// cannot be reached, which the updater's requests find refused.
quint16 closedPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost))
        fail(QStringLiteral("no free loopback port: %1").arg(probe.errorString()));
    return probe.serverPort();
}

// Paces a body so that the updater's progress bar is seen to move.
HttpServer::Response paced(HttpServer::Response response, int totalMs)
{
    constexpr int intervalMs = 50;
    if (totalMs <= 0)
        return response;
    const int chunks = qMax(1, totalMs / intervalMs);
    response.chunkSize = qMax(1, int((response.body.size() + chunks - 1) / chunks));
    response.chunkIntervalMs = intervalMs;
    return response;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavoro-demo-server"));
    const Options options = parseOptions(app);

    QString error;
    const auto scenario = Demo::makeScenario(options.settings, &error);
    if (!scenario)
        fail(error);

    QDir directory(options.directory);
    if (!directory.mkpath(QStringLiteral(".")))
        fail(QStringLiteral("cannot create %1").arg(options.directory));
    QFile::remove(directory.filePath(options.settings.recordFile));
    writeFile(directory, QStringLiteral("sim.json"), scenario->simulatorConfig);
    writeFile(directory, QStringLiteral("firmware.sb"), scenario->image);

    HttpServer server;
    QByteArray proxy;
    if (scenario->serverReachable) {
        if (!server.listen())
            fail(QStringLiteral("cannot listen on 127.0.0.1"));
        for (auto file = scenario->files.cbegin(); file != scenario->files.cend(); ++file) {
            HttpServer::Response response = HttpServer::Response::ok(file->body, file->contentType);
            if (file.key().endsWith(".sb"))
                response = paced(response, options.downloadTimeMs);
            server.route(file.key(), response);
        }
        QObject::connect(&server, &HttpServer::requestReceived, [&](const HttpServer::Request &request) {
            const bool known = scenario->files.contains(request.path);
            out() << "download server: " << request.method << ' ' << request.target << " -> "
                  << (known ? "200 OK" : "404 Not Found") << Qt::endl;
        });
        proxy = server.address();
        out() << "download server: answering at " << proxy << Qt::endl;
    } else {
        proxy = "http://127.0.0.1:" + QByteArray::number(closedPort());
        out() << "download server: unreachable; nothing answers at " << proxy << Qt::endl;
    }

    // Written last: its presence tells that everything else is in place.
    writeFile(directory, QStringLiteral("proxy"), proxy + '\n');
    return app.exec();
}
