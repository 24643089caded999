// The checker's inactivity watchdog, in real time: a request that makes no
// progress is reported after 30 s, without being aborted.

#include "checkerharness.h"
#include "httpserver.h"

class UpdateWatchdogTest : public QObject
{
    Q_OBJECT

private slots:
    void hangingServerIsReported()
    {
        HttpServer server;
        QVERIFY(server.listen());
        server.becomeHttpProxy();
        server.route(manifestPath, HttpServer::Response::hanging());

        CheckerRun run;
        run.check();
        QVERIFY(server.waitForRequests(1));

        QVERIFY(run.trace.waitForCount(1, 45000));
        QCOMPARE(run.trace.events, QStringList{ connectionProblem });
        QCOMPARE(run.log(), QStringList{ "UpdateChecker::exitSlot" });
        // The request is still open: the report does not end it.
        QCOMPARE(server.openConnectionCount(), 1);

        // Dropping the connection at last ends the request as a failed reply.
        server.reset();
        QVERIFY(run.trace.waitForCount(2));
        QCOMPARE(run.trace.events.last(), connectionProblem);
        QCOMPARE(run.log().last(), QStringLiteral("Error by download info file"));
    }
};

QTEST_GUILESS_MAIN(UpdateWatchdogTest)
#include "tst_updatewatchdog.moc"
