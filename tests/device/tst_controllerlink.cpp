// The link's search against the simulated controllers: which device is
// taken, how two-unit models are paired, which versions are read and what
// is logged.

#include "device/controllerlink.h"
#include "protocol/models.h"

#include "hidsim.h"
#include "logcapture.h"

#include <QRegularExpression>
#include <QtTest>

#include <optional>
#include <string>

Q_DECLARE_METATYPE(std::optional<std::wstring>)

using Devices = QList<QPair<int, int>>;  // vendor and product ID

namespace {

const QString versionWarning = QStringLiteral("Can't read current version\n");

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

// One search, as "Connect" runs it, with the program log it writes.
struct Session
{
    LogCapture log;
    ControllerLink link;
    bool connected = false;

    void pressConnect() { connected = link.connectFirst(); }
};

} // namespace

class ControllerLinkTest : public QObject
{
    Q_OBJECT

private slots:
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
    void listsEveryController_data();
    void listsEveryController();

private:
    static void expectConnected(Session &session, int unitType);
    static void expectNotFound(Session &session);
};

void ControllerLinkTest::init()
{
    HidSim::reset();
}

void ControllerLinkTest::expectConnected(Session &session, int unitType)
{
    QVERIFY(session.connected);
    QVERIFY(session.link.isConnected());
    QCOMPARE(session.link.unitType(), unitType);
    QCOMPARE(session.link.isPair(), isHalf(unitType));
}

void ControllerLinkTest::expectNotFound(Session &session)
{
    QVERIFY(!session.connected);
    QVERIFY(!session.link.isConnected());
}

void ControllerLinkTest::connectsEveryModel_data()
{
    QTest::addColumn<QList<int>>("attached");
    QTest::addColumn<int>("connected");

    for (int unitType = 0; unitType < unitTypeCount; ++unitType) {
        const QString row = QStringLiteral("%1 %2").arg(unitType).arg(modelForUnitType(unitType)->name);
        // Both halves of a pair, attached in either order; the right half is
        // always found second and gives the unit type.
        if (isHalf(unitType))
            QTest::newRow(qPrintable(row)) << QList<int> { unitType, otherHalf(unitType) }
                                           << qMax(unitType, otherHalf(unitType));
        else
            QTest::newRow(qPrintable(row)) << QList<int> { unitType } << unitType;
    }
}

void ControllerLinkTest::connectsEveryModel()
{
    QFETCH(QList<int>, attached);
    QFETCH(int, connected);

    const QList<HidSim::Controller> controllers = attachModels(attached);
    Session session;
    session.pressConnect();

    expectConnected(session, connected);
    for (const HidSim::Controller &controller : controllers)
        QVERIFY(controller->isOpen());
    QCOMPARE(HidSim::openHandleCount(), controllers.size());
    QCOMPARE(HidSim::enumerationCount(), connected + 1);
    QVERIFY(session.log.contains(QStringLiteral("cur dev pid= %1").arg(productIdOf(connected))));
    QCOMPARE(warningCount(session.log), 0);

    // The link lets go of every handle when it goes.
    session.link.close();
    QCOMPARE(HidSim::openHandleCount(), 0);
}

void ControllerLinkTest::logsEveryEnumeratedEntry()
{
    const HidSim::Controller foreign = attachWithProduct(12, std::wstring(L"Keypad"), std::nullopt);
    const HidSim::Controller ebony = HidSim::attachModel(12);
    Session session;
    session.pressConnect();

    expectConnected(session, 12);
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

void ControllerLinkTest::skipsForeignProductStrings_data()
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
void ControllerLinkTest::skipsForeignProductStrings()
{
    QFETCH(std::optional<std::wstring>, product);
    QFETCH(QString, logged);

    const HidSim::Controller foreign = attachWithProduct(2, product);
    const HidSim::Controller fjord = HidSim::attachModel(17);
    Session session;
    session.pressConnect();

    expectConnected(session, 17);
    QCOMPARE(foreign->openCount(), 0);
    QVERIFY(fjord->isOpen());
    QVERIFY(session.log.contains(logged));
}

void ControllerLinkTest::earlierModelWins()
{
    const HidSim::Controller calyx2 = HidSim::attachModel(1);
    const HidSim::Controller ebony = HidSim::attachModel(12);
    Session session;
    session.pressConnect();

    expectConnected(session, 1);
    QVERIFY(calyx2->isOpen());
    QCOMPARE(ebony->openCount(), 0);
    QCOMPARE(HidSim::enumerationCount(), 2);
}

// A half that enumerates once per usage must not be paired with itself.
void ControllerLinkTest::pairsHalfListedTwiceWithItsPartner()
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

    expectConnected(session, 14);
    QCOMPARE(left->openCount(), 1);
    QCOMPARE(right->openCount(), 1);
    QCOMPARE(HidSim::openHandleCount(), 2);
}

void ControllerLinkTest::reportsNotFound_data()
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

void ControllerLinkTest::reportsNotFound()
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

void ControllerLinkTest::connectsUnitThatSendsNothing_data()
{
    QTest::addColumn<QList<int>>("attached");
    QTest::addColumn<QList<int>>("silent");  // indexes into attached
    QTest::addColumn<int>("connected");

    QTest::newRow("single unit") << QList<int> { 12 } << QList<int> { 0 } << 12;
    QTest::newRow("left half of a pair") << QList<int> { 15, 16 } << QList<int> { 0 } << 16;
    QTest::newRow("both halves") << QList<int> { 13, 14 } << QList<int> { 0, 1 } << 14;
}

void ControllerLinkTest::connectsUnitThatSendsNothing()
{
    QFETCH(QList<int>, attached);
    QFETCH(QList<int>, silent);
    QFETCH(int, connected);

    const QList<HidSim::Controller> controllers = attachModels(attached);
    for (int index : silent)
        controllers.at(index)->setSilent(true);
    Session session;
    session.pressConnect();

    expectConnected(session, connected);
    QCOMPARE(warningCount(session.log), silent.size());
    for (const HidSim::Controller &controller : controllers)
        QVERIFY(controller->isOpen());
}

// A half found in a failed attempt must not hold back a later one.
void ControllerLinkTest::retryStartsAfresh()
{
    const HidSim::Controller lonelyHalf = HidSim::attachModel(13);
    Session session;
    session.pressConnect();
    expectNotFound(session);

    HidSim::detach(lonelyHalf);
    const HidSim::Controller fjord = HidSim::attachModel(17);
    session.pressConnect();

    expectConnected(session, 17);
    QVERIFY(fjord->isOpen());
}

void ControllerLinkTest::failedOpenIsLoggedAndSearchGoesOn_data()
{
    QTest::addColumn<bool>("laterModelAttached");

    QTest::newRow("alone") << false;
    QTest::newRow("a later model attached") << true;
}

void ControllerLinkTest::failedOpenIsLoggedAndSearchGoesOn()
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
        expectConnected(session, 17);
        QVERIFY(fjord->isOpen());
    } else {
        expectNotFound(session);
    }
    const QString failure = openFailureLine(session.log, locked->path());
    QVERIFY2(!failure.isNull(), "no line about the failed open");
    QVERIFY2(!failure.endsWith(QStringLiteral(" \"\"")), "the failed open is logged without hidapi's reason");
}

void ControllerLinkTest::failedPairOpenEndsSearch_data()
{
    QTest::addColumn<int>("failingHalf");

    QTest::newRow("right half") << 14;
    QTest::newRow("left half") << 13;
}

void ControllerLinkTest::failedPairOpenEndsSearch()
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

void ControllerLinkTest::versionFromFirstReport_data()
{
    QTest::addColumn<QList<int>>("attached");
    QTest::addColumn<QList<QByteArray>>("firstReports");  // per attached unit; empty: sends nothing
    QTest::addColumn<int>("checked");  // the version the update check compares with; -1: none read
    QTest::addColumn<int>("shown");    // the version the window shows

    const QByteArray both = firstReport(13, 15);
    QTest::newRow("GLYPH IO reads payload 63") << QList<int> { 4 } << QList<QByteArray> { both } << 15 << 15;
    QTest::newRow("HALO2 reads payload 62") << QList<int> { 5 } << QList<QByteArray> { both } << 13 << 13;
    QTest::newRow("JADE reads payload 62") << QList<int> { 8 } << QList<QByteArray> { both } << 13 << 13;
    QTest::newRow("KITE reads payload 63") << QList<int> { 9 } << QList<QByteArray> { both } << 15 << 15;
    QTest::newRow("ARDEN halves read payload 63") << QList<int> { 13, 14 } << QList<QByteArray> { both, both }
                                                  << 15 << 15;
    // The check compares with the right half; the version shown for a pair
    // is the left half's.
    QTest::newRow("halves with different versions")
        << QList<int> { 13, 14 } << QList<QByteArray> { firstReport(0, 14), firstReport(0, 12) } << 12 << 14;
    QTest::newRow("left half silent")
        << QList<int> { 15, 16 } << QList<QByteArray> { QByteArray(), firstReport(0, 12) } << 12 << 12;
    QTest::newRow("silent unit") << QList<int> { 12 } << QList<QByteArray> { QByteArray() } << -1 << 0;
}

void ControllerLinkTest::versionFromFirstReport()
{
    QFETCH(QList<int>, attached);
    QFETCH(QList<QByteArray>, firstReports);
    QFETCH(int, checked);
    QFETCH(int, shown);

    for (int index = 0; index < attached.size(); ++index) {
        const HidSim::Controller controller = HidSim::attachModel(attached.at(index));
        if (firstReports.at(index).isEmpty())
            controller->setSilent(true);
        else
            controller->queueInputReport(firstReports.at(index));
    }
    Session session;
    session.pressConnect();
    QVERIFY(session.connected);

    QCOMPARE(session.link.checkedVersion().has_value(), checked >= 0);
    if (checked >= 0)
        QCOMPARE(int(*session.link.checkedVersion()), checked);
    QCOMPARE(int(session.link.deviceVersion()), shown);
}

void ControllerLinkTest::listsEveryController_data()
{
    QTest::addColumn<QList<int>>("attached");
    QTest::addColumn<int>("listings");       // how often hidapi lists each device (once per HID usage)
    QTest::addColumn<Devices>("others");     // "Tavoro HID" devices that are no model, attached first
    QTest::addColumn<QList<int>>("listed");  // unit types, in order

    QTest::newRow("nothing") << QList<int> {} << 1 << Devices {} << QList<int> {};
    QTest::newRow("two models, table order") << QList<int> { 17, 1 } << 1 << Devices {} << QList<int> { 1, 17 };
    QTest::newRow("two of one model") << QList<int> { 12, 12 } << 1 << Devices {} << QList<int> { 12, 12 };
    // A pair is one controller, under its right half; a lone half is none.
    QTest::newRow("a pair and a lone half") << QList<int> { 13, 14, 15 } << 1 << Devices {} << QList<int> { 14 };
    // One device path is one controller, however often it is listed.
    QTest::newRow("a unit listed per usage") << QList<int> { 12 } << 3 << Devices {} << QList<int> { 12 };
    QTest::newRow("a pair listed per usage") << QList<int> { 13, 14 } << 2 << Devices {} << QList<int> { 14 };
    // Attached out of order, halves apart: each pair by its own halves.
    QTest::newRow("pairs and units mixed") << QList<int> { 16, 12, 13, 1, 15, 14, 16, 15 } << 1 << Devices {}
                                           << QList<int> { 1, 12, 14, 16, 16 };
    QTest::newRow("another product of the vendor, another vendor's device")
        << QList<int> { 2 } << 1 << Devices { { vendorId, 0x0200 }, { 0x1234, productIdOf(12) } }
        << QList<int> { 2 };
}

// Every attached controller, as the flasher lists them; nothing is opened.
void ControllerLinkTest::listsEveryController()
{
    QFETCH(QList<int>, attached);
    QFETCH(int, listings);
    QFETCH(Devices, others);
    QFETCH(QList<int>, listed);

    QList<HidSim::Controller> controllers;
    for (const QPair<int, int> &ids : others) {
        HidSim::DeviceDescription description;
        description.vendorId = ushort(ids.first);
        description.productId = ushort(ids.second);
        controllers.append(HidSim::attach(description, HidSim::ControllerSettings()));
    }
    for (int unitType : attached) {
        HidSim::DeviceDescription description;
        description.vendorId = vendorId;
        description.productId = productIdOf(unitType);
        description.listings = listings;
        HidSim::ControllerSettings settings;
        settings.unitType = unitType;
        controllers.append(HidSim::attach(description, settings));
    }
    QList<int> types;
    for (const ControllerEntry &entry : ControllerLink::attachedControllers()) {
        types.append(entry.unitType);
        QCOMPARE(entry.paths.size(), isHalf(entry.unitType) ? 2 : 1);
    }
    QCOMPARE(types, listed);
    QCOMPARE(HidSim::openHandleCount(), 0);
    QCOMPARE(HidSim::enumerationCount(), 1);

    // Each entry connects on its own.
    for (const ControllerEntry &entry : ControllerLink::attachedControllers()) {
        ControllerLink link;
        QVERIFY(link.connectTo(entry));
        QCOMPARE(link.unitType(), entry.unitType);
    }
}

QTEST_GUILESS_MAIN(ControllerLinkTest)
#include "tst_controllerlink.moc"
