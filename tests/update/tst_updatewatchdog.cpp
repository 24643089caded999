// The checker's inactivity watchdog, in real time: a request that makes no
// progress is reported after 30 s, without being aborted.

#include "checkerharness.h"
#include "httpserver.h"

#include <QtTest>

class UpdateWatchdogTest : public QObject
{
    Q_OBJECT

private slots:
    void hangingServerIsReported();
};

void UpdateWatchdogTest::hangingServerIsReported()
{
    HttpServer server;
    QVERIFY(server.listen());
    server.becomeHttpProxy();
    server.route(manifestPath, HttpServer::Response::hanging());

    LogCapture capture;
    UpdateChecker checker;
    SignalTrace trace(checker);
    checker.setUnitType(12);
    checker.setCurrentVersion(QStringLiteral("23"));
    checker.checkVersion();
    QVERIFY(server.waitForRequests(1));

    QVERIFY(trace.waitForCount(1, 45000));
    QCOMPARE(trace.events, QStringList{ connectionProblem });
    QCOMPARE(programLog(capture), QStringList{ "UpdateChecker::exitSlot" });
    // The request is still open: the report does not end it.
    QCOMPARE(server.openConnectionCount(), 1);

    // Dropping the connection at last ends the request as a failed reply.
    server.reset();
    QVERIFY(trace.waitForCount(2));
    QCOMPARE(trace.events.last(), connectionProblem);
    QCOMPARE(programLog(capture).last(), QStringLiteral("Error by download info file"));
}

QTEST_GUILESS_MAIN(UpdateWatchdogTest)
#include "tst_updatewatchdog.moc"
