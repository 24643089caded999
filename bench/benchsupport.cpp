#include "benchsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QRandomGenerator>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>

namespace Bench {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QString summary(QList<double> milliseconds)
{
    if (milliseconds.isEmpty())
        return QStringLiteral("no runs");
    std::sort(milliseconds.begin(), milliseconds.end());
    const int n = milliseconds.size();
    const double median = n % 2 ? milliseconds[n / 2] : (milliseconds[n / 2 - 1] + milliseconds[n / 2]) / 2;
    return QStringLiteral("median %1 ms (min %2, max %3, %4 runs)")
        .arg(median, 0, 'f', 3)
        .arg(milliseconds.first(), 0, 'f', 3)
        .arg(milliseconds.last(), 0, 'f', 3)
        .arg(n);
}

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double repeatingTimerRate(int ms)
{
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    timer.start(1);
    clock.start();
    loop.exec();
    return ticks * 1e9 / double(clock.nsecsElapsed());
}

double singleShotChainRate(int ms)
{
    QThread worker;
    QObject context;
    context.moveToThread(&worker);
    int firings = 0;
    QElapsedTimer clock;
    std::atomic<qint64> elapsedNs { 0 };
    std::function<void()> fire = [&] {
        ++firings;
        if (clock.elapsed() < ms)
            QTimer::singleShot(1, &context, fire);
        else
            elapsedNs = clock.nsecsElapsed();
    };
    worker.start();
    clock.start();
    QMetaObject::invokeMethod(&context, [&] { QTimer::singleShot(1, &context, fire); });
    while (elapsedNs == 0)
        QThread::msleep(10);
    worker.quit();
    worker.wait();
    return firings * 1e9 / double(elapsedNs);
}

void prepareProcess(bool quiet)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (quiet)
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
}

int argumentValue(const QStringList &arguments, const QString &name, int fallback)
{
    const int at = arguments.indexOf(name);
    return at > 0 && at + 1 < arguments.size() ? qMax(1, arguments[at + 1].toInt()) : fallback;
}

QByteArray randomImage(qint64 size)
{
    QByteArray image(int(size), Qt::Uninitialized);
    QRandomGenerator generator(20240601);
    generator.fillRange(reinterpret_cast<quint32 *>(image.data()), image.size() / 4);
    return image;
}

QSet<QString> filesIn(const QString &dir)
{
    const QStringList names = QDir(dir).entryList(QDir::Files);
    return QSet<QString>(names.begin(), names.end());
}

void removeNewFiles(const QString &dir, const QSet<QString> &before)
{
    for (const QString &name : filesIn(dir) - before)
        QFile::remove(QDir(dir).filePath(name));
}

BoxAnswerer::BoxAnswerer()
{
    qApp->installEventFilter(this);
}

BoxAnswerer::~BoxAnswerer()
{
    qApp->removeEventFilter(this);
}

void BoxAnswerer::clear()
{
    shown.clear();
    boxTexts.clear();
}

bool BoxAnswerer::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Show) {
        if (auto *box = qobject_cast<QMessageBox *>(watched)) {
            shown.append(nowNs());
            boxTexts.append(box->text());
            QTimer::singleShot(0, box, [box] {
                QAbstractButton *button = box->defaultButton();
                if (!button)
                    button = box->escapeButton();
                if (button)
                    button->click();
                else
                    box->accept();
            });
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace Bench
