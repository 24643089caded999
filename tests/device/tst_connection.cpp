// "Connect" against the simulated controllers: which device is taken, how
// two-unit models are paired, what the user is told and what is logged.

#include "device/models.h"
#include "ui/mainwindow.h"

#include "hidsim.h"
#include "logcapture.h"
#include "httpserver.h"
#include "messageboxdriver.h"

#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include <optional>
#include <string>

Q_DECLARE_METATYPE(std::optional<std::wstring>)

namespace {

const QString notFoundText = QStringLiteral("Device is not found.\nPlease connect.");
const QString versionWarning = QStringLiteral("Can't read current version\n");

// The announcement of each unit type, as the user must see it.
const char *const announcements[unitTypeCount] = {
    "CALYX4 connected", "CALYX2 connected", "DORIC connected", "GLYPH PRO connected",
    "GLYPH IO connected", "HALO2 connected", "HALO4 connected", "IRIS/IRIS S connected",
    "JADE/JADE S connected", "KITE connected", "LARK connected", "MOSS connected",
    "EBONY connected", "ARDEN connected", "ARDEN connected", "BRISK connected",
    "BRISK connected", "FJORD connected",
};

unsigned short productIdOf(int unitType)
{
    return modelForUnitType(unitType)->productId;
}

// A device on the product ID of `unitType` with the given product string
// (nullopt: none at all), driven by a controller of that model.
HidSim::Controller attachWithProduct(int unitType, std::optional<std::wstring> product,
                                     std::optional<std::wstring> manufacturer = std::wstring(L"Tavoro"))
{
    HidSim::DeviceDescription description;
    description.vendorId = vendorId;
    description.productId = productIdOf(unitType);
    description.product = std::move(product);
    description.manufacturer = std::move(manufacturer);
    HidSim::ControllerSettings settings;
    settings.unitType = unitType;
    return HidSim::attach(description, settings);
}

QList<HidSim::Controller> attachModels(const QList<int> &unitTypes)
{
    QList<HidSim::Controller> controllers;
    for (int unitType : unitTypes)
        controllers.append(HidSim::attachModel(unitType));
    return controllers;
}

// A 64-byte input report with the given bytes at payload 62 and 63.
QByteArray firstReport(quint8 at62, quint8 at63)
{
    QByteArray report(64, '\0');
    report[62] = char(at62);
    report[63] = char(at63);
    return report;
}

int warningCount(const LogCapture &log)
{
    int count = 0;
    for (const QString &line : log.lines())
        count += line.startsWith(versionWarning) ? 1 : 0;
    return count;
}

// The line written when the device at `path` could not be opened, or a
// null string.
QString openFailureLine(const LogCapture &log, const std::string &path)
{
    const QString prefix = QStringLiteral("can't open device \"%1\" ").arg(QString::fromStdString(path));
    for (const QString &line : log.lines()) {
        if (line.startsWith(prefix))
            return line;
    }
    return QString();
}

// One user in front of one freshly started window.
struct Session
{
    LogCapture log;
    MessageBoxDriver boxes;
    MainWindow window;

    Session() { window.show(); }

    QPushButton *connectButton() { return window.findChild<QPushButton *>("connect_button"); }
    void pressConnect() { connectButton()->click(); }

    // The unit version shown in the firmware offer, or a null string when
    // no offer was shown.
    QString shownUnitVersion()
    {
        const int before = boxes.count();
        boxes.answerNext(QMessageBox::No);
        window.onFindNewVersion(QStringLiteral("0"), QString());
        static const QRegularExpression current(QStringLiteral("^Your unit current version: (\\S+)\n"));
        const QList<MessageBoxDriver::Box> seen = boxes.boxes();
        for (int index = before; index < seen.size(); ++index) {
            const QRegularExpressionMatch match = current.match(seen.at(index).text);
            if (match.hasMatch())
                return match.captured(1);
        }
        return QString();
    }
};

} // namespace

class ConnectionTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void connectsEveryModel_data();
    void connectsEveryModel();
    void logsEveryEnumeratedEntry();
    void skipsForeignProductStrings_data();
    void skipsForeignProductStrings();
    void earlierModelWins();
    void pairsHalfListedTwiceWithItsPartner();
    void reportsNotFound_data();
    void reportsNotFound();
    void connectsUnitThatSendsNothing_data();
    void connectsUnitThatSendsNothing();
    void retryStartsAfresh();
    void failedOpenIsLoggedAndSearchGoesOn_data();
    void failedOpenIsLoggedAndSearchGoesOn();
    void failedPairOpenEndsSearch_data();
    void failedPairOpenEndsSearch();
    void versionFromFirstReport_data();
    void versionFromFirstReport();

private:
    static void expectAnnounced(Session &session, const QString &text);
    static void expectNotFound(Session &session);

    HttpServer server;
};

// Connecting starts an update check. Its manifest request goes to a
// loopback server that never answers, so that no problem report (and the
// end of the program that follows it) comes between a test and its boxes.
void ConnectionTest::initTestCase()
{
    QVERIFY(server.listen());
    server.route("/TVDownloadSite/wp-content/uploads/versions.txt", HttpServer::Response::hanging());
    server.becomeHttpProxy();
}

void ConnectionTest::init()
{
    HidSim::reset();
}

void ConnectionTest::expectAnnounced(Session &session, const QString &text)
{
    QCOMPARE(session.boxes.count(), 1);
    const MessageBoxDriver::Box box = session.boxes.boxes().first();
    QCOMPARE(box.title, QStringLiteral("Info"));
    QCOMPARE(box.text, text);
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(box.hasParent);
    QVERIFY(!session.connectButton()->isEnabled());
}

void ConnectionTest::expectNotFound(Session &session)
{
    QCOMPARE(session.boxes.count(), 1);
    const MessageBoxDriver::Box box = session.boxes.boxes().first();
    QCOMPARE(box.title, QStringLiteral("Error"));
    QCOMPARE(box.text, notFoundText);
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(box.hasParent);
    QVERIFY(session.connectButton()->isEnabled());
}

void ConnectionTest::connectsEveryModel_data()
{
    QTest::addColumn<QList<int>>("attached");
    QTest::addColumn<int>("connected");
    QTest::addColumn<QString>("announcement");

    for (int unitType = 0; unitType < unitTypeCount; ++unitType) {
        const QString row = QStringLiteral("%1 %2").arg(unitType).arg(modelForUnitType(unitType)->name);
        if (isHalf(unitType)) {
            // Both halves, attached in either order; the right half is
            // always found second and gives the unit type.
            const int right = qMax(unitType, otherHalf(unitType));
            QTest::newRow(qPrintable(row)) << QList<int> { unitType, otherHalf(unitType) } << right
                                           << QString::fromLatin1(announcements[unitType]);
        } else {
            QTest::newRow(qPrintable(row)) << QList<int> { unitType } << unitType
                                           << QString::fromLatin1(announcements[unitType]);
        }
    }
}

void ConnectionTest::connectsEveryModel()
{
    QFETCH(QList<int>, attached);
    QFETCH(int, connected);
    QFETCH(QString, announcement);

    const QList<HidSim::Controller> controllers = attachModels(attached);
    Session session;
    session.pressConnect();

    expectAnnounced(session, announcement);
    for (const HidSim::Controller &controller : controllers)
        QVERIFY(controller->isOpen());
    QCOMPARE(HidSim::openHandleCount(), controllers.size());
    QCOMPARE(HidSim::enumerationCount(), connected + 1);
    QVERIFY(session.log.contains(QStringLiteral("cur dev pid= %1").arg(productIdOf(connected))));
    QCOMPARE(warningCount(session.log), 0);
}

void ConnectionTest::logsEveryEnumeratedEntry()
{
    const HidSim::Controller foreign = attachWithProduct(12, std::wstring(L"Keypad"), std::nullopt);
    const HidSim::Controller ebony = HidSim::attachModel(12);
    Session session;
    session.pressConnect();

    expectAnnounced(session, QStringLiteral("EBONY connected"));
    QVERIFY(!foreign->isOpen());
    QVERIFY(ebony->isOpen());

    static const QRegularExpression entryLine(QStringLiteral("^(device|manufacturer_string|cur dev pid=) "));
    const QStringList entryLines = session.log.lines().filter(entryLine);
    const QStringList expected {
        QStringLiteral("device \"Keypad\""),
        QStringLiteral("manufacturer_string \"\""),
        QStringLiteral("cur dev pid= %1").arg(productIdOf(12)),
        QStringLiteral("device \"Tavoro HID\""),
        QStringLiteral("manufacturer_string \"Tavoro\""),
        QStringLiteral("cur dev pid= %1").arg(productIdOf(12)),
    };
    QCOMPARE(entryLines, expected);
}

void ConnectionTest::skipsForeignProductStrings_data()
{
    QTest::addColumn<std::optional<std::wstring>>("product");
    QTest::addColumn<QString>("logged");

    QTest::newRow("lower case") << std::optional<std::wstring>(L"tavoro hid") << "device \"tavoro hid\"";
    QTest::newRow("upper case") << std::optional<std::wstring>(L"TAVORO HID") << "device \"TAVORO HID\"";
    QTest::newRow("prefix only") << std::optional<std::wstring>(L"Tavoro") << "device \"Tavoro\"";
    QTest::newRow("trailing space") << std::optional<std::wstring>(L"Tavoro HID ") << "device \"Tavoro HID \"";
    QTest::newRow("empty") << std::optional<std::wstring>(L"") << "device \"\"";
    QTest::newRow("none") << std::optional<std::wstring>() << "device \"\"";
}

// A device on DORIC's product ID that is not a Tavoro controller is passed
// over, and the search reaches the last model of the table.
void ConnectionTest::skipsForeignProductStrings()
{
    QFETCH(std::optional<std::wstring>, product);
    QFETCH(QString, logged);

    const HidSim::Controller foreign = attachWithProduct(2, product);
    const HidSim::Controller fjord = HidSim::attachModel(17);
    Session session;
    session.pressConnect();

    expectAnnounced(session, QStringLiteral("FJORD connected"));
    QCOMPARE(foreign->openCount(), 0);
    QVERIFY(fjord->isOpen());
    QVERIFY(session.log.contains(logged));
}

void ConnectionTest::earlierModelWins()
{
    const HidSim::Controller calyx2 = HidSim::attachModel(1);
    const HidSim::Controller ebony = HidSim::attachModel(12);
    Session session;
    session.pressConnect();

    expectAnnounced(session, QStringLiteral("CALYX2 connected"));
    QVERIFY(calyx2->isOpen());
    QCOMPARE(ebony->openCount(), 0);
    QCOMPARE(HidSim::enumerationCount(), 2);
}

// A half that enumerates once per usage must not be paired with itself.
void ConnectionTest::pairsHalfListedTwiceWithItsPartner()
{
    HidSim::DeviceDescription description;
    description.vendorId = vendorId;
    description.productId = productIdOf(13);
    description.listings = 2;
    HidSim::ControllerSettings settings;
    settings.unitType = 13;
    const HidSim::Controller left = HidSim::attach(description, settings);
    const HidSim::Controller right = HidSim::attachModel(14);
    Session session;
    session.pressConnect();

    expectAnnounced(session, QStringLiteral("ARDEN connected"));
    QCOMPARE(left->openCount(), 1);
    QCOMPARE(right->openCount(), 1);
    QCOMPARE(HidSim::openHandleCount(), 2);
}

void ConnectionTest::reportsNotFound_data()
{
    QTest::addColumn<QList<int>>("attached");

    QTest::newRow("nothing attached") << QList<int> {};
    QTest::newRow("left ARDEN half alone") << QList<int> { 13 };
    QTest::newRow("right BRISK half alone") << QList<int> { 16 };
    QTest::newRow("left ARDEN and right BRISK") << QList<int> { 13, 16 };
    QTest::newRow("right ARDEN and left BRISK") << QList<int> { 14, 15 };
    QTest::newRow("left ARDEN and a whole BRISK") << QList<int> { 13, 15, 16 };
    QTest::newRow("single unit after a waiting half") << QList<int> { 13, 17 };
}

void ConnectionTest::reportsNotFound()
{
    QFETCH(QList<int>, attached);

    const QList<HidSim::Controller> controllers = attachModels(attached);
    Session session;
    session.pressConnect();

    expectNotFound(session);
    for (const HidSim::Controller &controller : controllers)
        QCOMPARE(controller->openCount(), 0);
    QCOMPARE(HidSim::enumerationCount(), unitTypeCount);
}

void ConnectionTest::connectsUnitThatSendsNothing_data()
{
    QTest::addColumn<QList<int>>("attached");
    QTest::addColumn<QList<int>>("silent");  // indexes into attached
    QTest::addColumn<QString>("announcement");

    QTest::newRow("single unit") << QList<int> { 12 } << QList<int> { 0 } << "EBONY connected";
    QTest::newRow("left half of a pair") << QList<int> { 15, 16 } << QList<int> { 0 } << "BRISK connected";
    QTest::newRow("both halves") << QList<int> { 13, 14 } << QList<int> { 0, 1 } << "ARDEN connected";
}

void ConnectionTest::connectsUnitThatSendsNothing()
{
    QFETCH(QList<int>, attached);
    QFETCH(QList<int>, silent);
    QFETCH(QString, announcement);

    const QList<HidSim::Controller> controllers = attachModels(attached);
    for (int index : silent)
        controllers.at(index)->setSilent(true);
    Session session;
    session.pressConnect();

    expectAnnounced(session, announcement);
    QCOMPARE(warningCount(session.log), silent.size());
    for (const HidSim::Controller &controller : controllers)
        QVERIFY(controller->isOpen());
}

// A half found in a failed attempt must not hold back a later one.
void ConnectionTest::retryStartsAfresh()
{
    const HidSim::Controller lonelyHalf = HidSim::attachModel(13);
    Session session;
    session.pressConnect();
    expectNotFound(session);

    HidSim::detach(lonelyHalf);
    const HidSim::Controller fjord = HidSim::attachModel(17);
    session.boxes.clear();
    session.pressConnect();

    expectAnnounced(session, QStringLiteral("FJORD connected"));
    QVERIFY(fjord->isOpen());
}

void ConnectionTest::failedOpenIsLoggedAndSearchGoesOn_data()
{
    QTest::addColumn<bool>("laterModelAttached");

    QTest::newRow("alone") << false;
    QTest::newRow("a later model attached") << true;
}

void ConnectionTest::failedOpenIsLoggedAndSearchGoesOn()
{
    QFETCH(bool, laterModelAttached);

    const HidSim::Controller locked = HidSim::attachModel(12);
    locked->setOpenFails(true);
    HidSim::Controller fjord;
    if (laterModelAttached)
        fjord = HidSim::attachModel(17);
    Session session;
    session.pressConnect();

    if (laterModelAttached) {
        expectAnnounced(session, QStringLiteral("FJORD connected"));
        QVERIFY(fjord->isOpen());
    } else {
        expectNotFound(session);
    }
    const QString failure = openFailureLine(session.log, locked->path());
    QVERIFY2(!failure.isNull(), "no line about the failed open");
    QVERIFY2(!failure.endsWith(QStringLiteral(" \"\"")), "the failed open is logged without hidapi's reason");
}

void ConnectionTest::failedPairOpenEndsSearch_data()
{
    QTest::addColumn<int>("failingHalf");

    QTest::newRow("right half") << 14;
    QTest::newRow("left half") << 13;
}

void ConnectionTest::failedPairOpenEndsSearch()
{
    QFETCH(int, failingHalf);

    const HidSim::Controller left = HidSim::attachModel(13);
    const HidSim::Controller right = HidSim::attachModel(14);
    const HidSim::Controller fjord = HidSim::attachModel(17);
    const HidSim::Controller failing = failingHalf == 13 ? left : right;
    failing->setOpenFails(true);
    Session session;
    session.pressConnect();

    expectNotFound(session);
    QCOMPARE(fjord->openCount(), 0);
    QCOMPARE(HidSim::enumerationCount(), 15);
    QVERIFY(!openFailureLine(session.log, failing->path()).isNull());
}

void ConnectionTest::versionFromFirstReport_data()
{
    QTest::addColumn<QList<int>>("attached");
    QTest::addColumn<QList<QByteArray>>("firstReports");  // per attached unit; empty: sends nothing
    QTest::addColumn<QString>("shown");

    const QByteArray both = firstReport(13, 15);
    QTest::newRow("GLYPH IO reads payload 63") << QList<int> { 4 } << QList<QByteArray> { both } << "1.5";
    QTest::newRow("HALO2 reads payload 62") << QList<int> { 5 } << QList<QByteArray> { both } << "1.3";
    QTest::newRow("JADE reads payload 62") << QList<int> { 8 } << QList<QByteArray> { both } << "1.3";
    QTest::newRow("KITE reads payload 63") << QList<int> { 9 } << QList<QByteArray> { both } << "1.5";
    QTest::newRow("ARDEN halves read payload 63") << QList<int> { 13, 14 } << QList<QByteArray> { both, both } << "1.5";
    // The version shown for a pair is the left half's.
    QTest::newRow("halves with different versions")
        << QList<int> { 13, 14 } << QList<QByteArray> { firstReport(0, 14), firstReport(0, 12) } << "1.4";
    QTest::newRow("left half silent")
        << QList<int> { 15, 16 } << QList<QByteArray> { QByteArray(), firstReport(0, 12) } << "1.2";
    QTest::newRow("silent unit") << QList<int> { 12 } << QList<QByteArray> { QByteArray() } << "0.0";
}

void ConnectionTest::versionFromFirstReport()
{
    QFETCH(QList<int>, attached);
    QFETCH(QList<QByteArray>, firstReports);
    QFETCH(QString, shown);

    for (int index = 0; index < attached.size(); ++index) {
        const HidSim::Controller controller = HidSim::attachModel(attached.at(index));
        if (firstReports.at(index).isEmpty())
            controller->setSilent(true);
        else
            controller->queueInputReport(firstReports.at(index));
    }
    Session session;
    session.pressConnect();
    QCOMPARE(session.boxes.count(), 1);
    QVERIFY(!session.connectButton()->isEnabled());

    QCOMPARE(session.shownUnitVersion(), shown);
}

QTEST_MAIN(ConnectionTest)
#include "tst_connection.moc"
