#include "transferfixture.h"

#include "protocol/models.h"
#include "eventloop.h"

#include <QTest>

using namespace TransferFixture;

// A MOSS update as the installed programs run it, without the vendor's
// library: refused before anything reaches the controller.
class TestUtpMissing : public TransferTest
{
    Q_OBJECT

private slots:
    void refusedBeforeAnyReport()
    {
        Rig rig(mossUnitType);
        QVERIFY(rig.connect(randomImage(5000, 3)));
        rig.press();
        TestLoop::spin(200);
        QCOMPARE(rig.reports, QStringList { "transferFailed LibraryMissing" });
        QVERIFY(!rig.session.transferEngine()->isRunning());
        QCOMPARE(rig.controller->writtenReports(), QList<QByteArray>());
    }
};

QTEST_GUILESS_MAIN(TestUtpMissing)
#include "tst_utpmissing.moc"
