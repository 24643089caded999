// Time of a "Connect" that finds a controller only at the end of the
// search, through the simulator.
//
// For the last model in the search order (FJORD) and for an ARDEN pair,
// each run attaches the controller(s) to an empty simulator, opens a fresh
// window and presses "Connect"; it prints the time from the press to the
// "... connected" box and how many enumerations the search made. The update
// check that follows goes to a loopback proxy that never answers.
//
// Usage: connect-bench [--runs N]     (default 50)

#include "benchsupport.h"

#include "protocol/models.h"
#include "ui/mainwindow.h"

#include <hidsim.h>

#include <QApplication>
#include <QNetworkProxyFactory>
#include <QPushButton>
#include <QTcpServer>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

struct Case
{
    const char *name;
    QList<int> unitTypes;
};

struct Result
{
    QList<double> milliseconds;
    QSet<int> enumerations;
    QString announcement;
    int failed = 0;
};

Result measure(const Case &connectCase, int runs, Bench::BoxAnswerer &boxes)
{
    Result result;
    for (int i = 0; i < runs; ++i) {
        HidSim::reset();
        for (int unitType : connectCase.unitTypes)
            HidSim::attachModel(unitType);
        boxes.clear();
        auto window = std::make_unique<MainWindow>();
        window->show();
        QCoreApplication::processEvents();

        auto *connectButton = window->findChild<QPushButton *>(QStringLiteral("connect_button"));
        const qint64 pressedNs = Bench::nowNs();
        connectButton->click();
        // The box may be modal (answered inside the click) or not.
        while (boxes.count() == 0 && Bench::nowNs() - pressedNs < 5'000'000'000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (boxes.count() == 0 || !boxes.texts().first().endsWith(QLatin1String("connected"))) {
            ++result.failed;
        } else {
            result.milliseconds.append((boxes.shownAtNs(0) - pressedNs) / 1e6);
            result.announcement = boxes.texts().first();
        }
        result.enumerations.insert(HidSim::enumerationCount());
        window.reset();
    }
    return result;
}

QString joined(const QSet<int> &numbers)
{
    QStringList texts;
    QList<int> sorted = numbers.values();
    std::sort(sorted.begin(), sorted.end());
    for (int n : sorted)
        texts.append(QString::number(n));
    return texts.join(QLatin1Char('/'));
}

} // namespace

int main(int argc, char *argv[])
{
    Bench::prepareProcess(true);
    QApplication app(argc, argv);
    const int runs = Bench::argumentValue(app.arguments(), QStringLiteral("--runs"), 50);

    // The download server stands behind a proxy that takes the connection
    // and never answers, so no answer or error box interferes.
    QTcpServer silentProxy;
    if (!silentProxy.listen(QHostAddress::LocalHost))
        qFatal("cannot listen on the loopback interface");
    qputenv("http_proxy", "http://127.0.0.1:" + QByteArray::number(silentProxy.serverPort()));
    QNetworkProxyFactory::setUseSystemConfiguration(true);

    const QString dir = QCoreApplication::applicationDirPath();
    const QSet<QString> before = Bench::filesIn(dir);
    Bench::BoxAnswerer boxes;
    const Case cases[] = {
        { "FJORD, the last model", { unitTypeCount - 1 } },
        { "ARDEN pair", { 13, 14 } },
    };
    QTextStream &out = Bench::out();
    out << "\"Connect\" to the \"... connected\" box, simulated controllers, fresh window per run\n";
    out.flush();
    for (const Case &connectCase : cases) {
        const Result result = measure(connectCase, runs, boxes);
        out << "  " << connectCase.name << " (" << result.announcement << "): " << Bench::summary(result.milliseconds)
            << ", " << joined(result.enumerations) << " enumerations";
        if (result.failed)
            out << ", " << result.failed << " runs connected nothing";
        out << "\n";
        out.flush();
    }
    Bench::removeNewFiles(dir, before);
    return 0;
}
