// The device layer on threads of its own against the system's hidapi, the
// library the programs link: hidapi's process-wide calls corrupt its heap
// unless they are serialised. No controller is needed: enumerations of
// products that are not attached and opens of paths that do not exist go
// through the same process-wide state. Built with the address sanitizer.

#include "device/controllerlink.h"
#include "device/hidlibrary.h"
#include "protocol/models.h"

#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

class SystemHidapiTest : public QObject
{
    Q_OBJECT

private slots:
    void callsFromManyThreads_data();
    void callsFromManyThreads();
};

void SystemHidapiTest::callsFromManyThreads_data()
{
    QTest::addColumn<QString>("calls");  // the other threads' calls, beside one that enumerates

    QTest::newRow("opens of missing paths") << QStringLiteral("open");
    QTest::newRow("the station: listing and connecting") << QStringLiteral("connect");
    QTest::newRow("init, open and exit") << QStringLiteral("init");
}

void SystemHidapiTest::callsFromManyThreads()
{
    QFETCH(QString, calls);

    // An enumeration takes far longer than a failed open: the other threads
    // make many calls per enumeration, so that all run side by side.
    // Serialised, each enumeration walks the system's devices: enough
    // rounds to see the corruption without the lock, few enough to run
    // beside the rest of the suite.
    constexpr int enumerations = 150;
    constexpr int callsPerEnumeration = 20;
    constexpr int otherThreads = 3;
    std::atomic<bool> go { false };
    std::atomic<int> opened { 0 };
    std::atomic<int> unexplained { 0 };  // failed opens without hidapi's reason

    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        while (!go) {
        }
        for (int round = 0; round < enumerations; ++round) {
            if (calls == QLatin1String("connect"))
                ControllerLink::attachedControllers();
            else
                HidLibrary::enumerate(vendorId, 0x7777);
        }
    });
    for (int index = 0; index < otherThreads; ++index) {
        threads.emplace_back([&, index] {
            const QByteArray path = "/dev/tavoro-missing-" + QByteArray::number(index);
            while (!go) {
            }
            for (int round = 0; round < enumerations * callsPerEnumeration; ++round) {
                if (calls == QLatin1String("open")) {
                    QString error;
                    opened += HidLibrary::openPath(path.constData(), &error) ? 1 : 0;
                    unexplained += error.isEmpty() ? 1 : 0;
                } else if (calls == QLatin1String("connect")) {
                    ControllerLink link;
                    ControllerEntry entry;
                    entry.unitType = 12;
                    entry.paths = { path };
                    opened += link.connectTo(entry) ? 1 : 0;
                    unexplained += link.lastOpenError().isEmpty() ? 1 : 0;
                } else if (round % 3 == 0) {
                    HidLibrary::init();
                } else if (round % 3 == 1) {
                    opened += HidLibrary::openPath(path.constData()) ? 1 : 0;
                } else {
                    HidLibrary::exit();
                }
            }
        });
    }
    go = true;
    for (std::thread &thread : threads)
        thread.join();

    QCOMPARE(opened.load(), 0);
    QCOMPARE(unexplained.load(), 0);
}

QTEST_GUILESS_MAIN(SystemHidapiTest)
#include "tst_systemhidapi.moc"
