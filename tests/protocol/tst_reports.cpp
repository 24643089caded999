#include "protocol/models.h"
#include "protocol/reports.h"

#include <QCryptographicHash>
#include <QTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// An output report with the given payload bytes set, all others zero.
QByteArray outputReport(const QList<QPair<int, quint8>> &bytes)
{
    QByteArray report(Report::outputSize, '\0');
    for (const auto &byte : bytes)
        report[byte.first + 1] = char(byte.second);
    return report;
}

QByteArray payload(const QList<QPair<int, quint8>> &bytes)
{
    return outputReport(bytes).mid(1);
}

const unsigned char *bytesOf(const QByteArray &array)
{
    return reinterpret_cast<const unsigned char *>(array.constData());
}

} // namespace

class TestReports : public QObject
{
    Q_OBJECT

private slots:
    void modelTable();
    void layouts();
    void transferStart_data();
    void transferStart();
    void dataPacketNumbering_data();
    void dataPacketNumbering();
    void transferEnd_data();
    void transferEnd();
    void logRequests();
    void statusCodes_data();
    void statusCodes();
    void versionByte_data();
    void versionByte();
    void logHeader();
    void logLastPartIsCapped_data();
    void logLastPartIsCapped();
};

void TestReports::modelTable()
{
    QSet<unsigned short> productIds;
    for (int unitType = 0; unitType < unitTypeCount; ++unitType) {
        const ModelInfo *model = modelForUnitType(unitType);
        QVERIFY(model);
        QCOMPARE(model->unitType, unitType);
        QCOMPARE(unitTypeForProductId(model->productId), unitType);
        productIds.insert(model->productId);
    }
    QCOMPARE(productIds.size(), unitTypeCount);
    QVERIFY(!modelForUnitType(-1));
    QVERIFY(!modelForUnitType(unitTypeCount));

    QCOMPARE(otherHalf(13), 14);
    QCOMPARE(otherHalf(14), 13);
    QCOMPARE(otherHalf(15), 16);
    QCOMPARE(otherHalf(16), 15);
    QCOMPARE(otherHalf(12), -1);
    QVERIFY(!isHalf(12) && isHalf(13) && isHalf(16) && !isHalf(17));
    QCOMPARE(QByteArray(modelForUnitType(mossUnitType)->name), QByteArray("MOSS"));
}

void TestReports::layouts()
{
    for (int unitType = 0; unitType < unitTypeCount; ++unitType) {
        const Report::Layout layout = Report::layoutForUnitType(unitType);
        QCOMPARE(layout.commandOffset, unitType <= 11 ? 0 : 60);
        QCOMPARE(layout.dataOffset, unitType <= 11 ? 4 : 0);
    }
}

void TestReports::transferStart_data()
{
    QTest::addColumn<int>("unitType");
    QTest::addColumn<int>("commandOffset");
    QTest::newRow("leading") << 0 << 0;
    QTest::newRow("trailing") << 12 << 60;
}

void TestReports::transferStart()
{
    QFETCH(int, unitType);
    QFETCH(int, commandOffset);

    const QByteArray md5 = QCryptographicHash::hash(QByteArray(), QCryptographicHash::Md5).toHex();
    QCOMPARE(md5, QByteArray("d41d8cd98f00b204e9800998ecf8427e"));
    const QByteArray report = Report::buildTransferStart(Report::layoutForUnitType(unitType), md5);

    QCOMPARE(report.size(), 65);
    QCOMPARE(report.at(0), '\0');
    QCOMPARE(quint8(report.at(1 + commandOffset)), quint8(0x80));
    QCOMPARE(report.mid(2, 32), md5);
    QByteArray rest = report;
    rest.replace(2, 32, QByteArray(32, '\0'));
    rest[1 + commandOffset] = '\0';
    QCOMPARE(rest, QByteArray(65, '\0'));
}

void TestReports::dataPacketNumbering_data()
{
    QTest::addColumn<int>("unitType");
    QTest::addColumn<quint32>("packet");
    QTest::addColumn<QByteArray>("header");

    QTest::newRow("1 leading") << 0 << 1u << hex("00000001");
    QTest::newRow("300 leading") << 0 << 300u << hex("0000012c");
    QTest::newRow("300 trailing") << 12 << 300u << hex("0000012c");
    QTest::newRow("28 bits") << 3 << 0x0ABCDEF1u << hex("0abcdef1");
    QTest::newRow("above 28 bits") << 17 << 0xFABCDEF1u << hex("0abcdef1");
}

void TestReports::dataPacketNumbering()
{
    QFETCH(int, unitType);
    QFETCH(quint32, packet);
    QFETCH(QByteArray, header);

    QByteArray data(60, '\0');
    for (int i = 0; i < data.size(); ++i)
        data[i] = char(0xA0 + i);
    const Report::Layout layout = Report::layoutForUnitType(unitType);
    const QByteArray report = Report::buildDataPacket(layout, packet, data.constData());

    QCOMPARE(report.size(), 65);
    QCOMPARE(report.at(0), '\0');
    QCOMPARE(report.mid(1 + layout.commandOffset, 4), header);
    QCOMPARE(report.mid(1 + layout.dataOffset, 60), data);
}

void TestReports::transferEnd_data()
{
    QTest::addColumn<int>("unitType");
    QTest::addColumn<quint32>("packet");
    QTest::addColumn<int>("count");
    QTest::addColumn<QByteArray>("expected");

    QByteArray bytes("abcdefghij");
    QTest::newRow("empty image") << 0 << 1u << 0 << payload({ { 0, 0xD0 }, { 3, 1 } });
    QTest::newRow("ten bytes leading")
        << 0 << 3u << 10 << payload({ { 0, 0xD0 }, { 1, 10 }, { 3, 3 } }).replace(4, 10, bytes);
    QTest::newRow("ten bytes trailing")
        << 12 << 3u << 10 << payload({ { 60, 0xD0 }, { 61, 10 }, { 63, 3 } }).replace(0, 10, bytes);
    QTest::newRow("packet 300") << 13 << 300u << 0 << payload({ { 60, 0xD0 }, { 62, 0x01 }, { 63, 0x2C } });
    QTest::newRow("low 16 bits only") << 1 << 0x12345u << 0 << payload({ { 0, 0xD0 }, { 2, 0x23 }, { 3, 0x45 } });
}

void TestReports::transferEnd()
{
    QFETCH(int, unitType);
    QFETCH(quint32, packet);
    QFETCH(int, count);
    QFETCH(QByteArray, expected);

    const QByteArray report = Report::buildTransferEnd(Report::layoutForUnitType(unitType), packet,
                                                       "abcdefghij", count);
    QCOMPARE(report.size(), 65);
    QCOMPARE(report.at(0), '\0');
    QCOMPARE(report.mid(1), expected);
}

void TestReports::logRequests()
{
    QCOMPARE(Report::buildLogRequest(Report::leadingHeader, 1), outputReport({ { 0, 0x10 }, { 1, 1 } }));
    QCOMPARE(Report::buildLogRequest(Report::trailingHeader, 1), outputReport({ { 60, 0x10 }, { 61, 1 } }));
    QCOMPARE(Report::buildLogRequest(Report::leadingHeader, 2), outputReport({ { 0, 0x10 }, { 1, 2 } }));
    QCOMPARE(Report::buildLogAck(), outputReport({ { 0, 0x30 } }));
    QCOMPARE(Report::buildLogResend(), outputReport({ { 0, 0x70 } }));
}

void TestReports::statusCodes_data()
{
    QTest::addColumn<int>("unitType");
    QTest::addColumn<int>("offset");
    QTest::addColumn<quint8>("byte");
    QTest::addColumn<quint8>("status");

    const QList<quint8> codes { Report::statusReady, Report::statusTimeout, Report::statusInternalError,
                                Report::statusPacketsSkipped, Report::statusTransferComplete,
                                Report::statusUpdateFinished, Report::statusWrongMd5, Report::statusWrongFile };
    for (quint8 code : codes) {
        QTest::addRow("0x%X leading", code) << 0 << 0 << quint8(code << 4) << code;
        QTest::addRow("0x%X trailing", code) << 12 << 60 << quint8(code << 4) << code;
    }
    QTest::newRow("low nibble ignored") << 0 << 0 << quint8(0x9F) << quint8(Report::statusReady);
    QTest::newRow("trailing reads offset 60") << 14 << 60 << quint8(0xE3) << quint8(Report::statusTransferComplete);
}

void TestReports::statusCodes()
{
    QFETCH(int, unitType);
    QFETCH(int, offset);
    QFETCH(quint8, byte);
    QFETCH(quint8, status);

    QByteArray input(64, '\0');
    input[offset] = char(byte);
    // A byte in the other layout's header position must not be taken.
    input[offset == 0 ? 60 : 0] = char(0x70);
    QCOMPARE(Report::statusCode(bytesOf(input), Report::layoutForUnitType(unitType)), status);
}

void TestReports::versionByte_data()
{
    QTest::addColumn<int>("unitType");
    QTest::addColumn<quint8>("version");

    for (int unitType = 0; unitType < unitTypeCount; ++unitType)
        QTest::addRow("unit type %d", unitType) << unitType << quint8(unitType >= 5 && unitType <= 8 ? 13 : 15);
}

void TestReports::versionByte()
{
    QFETCH(int, unitType);
    QFETCH(quint8, version);

    QByteArray input(64, '\0');
    input[62] = 0x0D;
    input[63] = 0x0F;
    QCOMPARE(Report::versionByte(bytesOf(input), unitType), version);
}

void TestReports::logHeader()
{
    QByteArray input = payload({ { 0, 0x20 }, { 35, 0x01 } });
    const QByteArray digest("0123456789abcdef0123456789abcdef");
    input.replace(1, 32, digest);
    Report::LogHeaderInfo header = Report::decodeLogHeader(bytesOf(input));
    QCOMPARE(header.digest, digest);
    QCOMPARE(header.parts, 256);

    input.replace(33, 4, hex("0102030a"));
    QCOMPARE(Report::decodeLogHeader(bytesOf(input)).parts, 0x0102030A);
}

void TestReports::logLastPartIsCapped_data()
{
    QTest::addColumn<quint8>("count");
    QTest::addColumn<int>("written");

    QTest::newRow("none") << quint8(0) << 0;
    QTest::newRow("twenty") << quint8(20) << 20;
    QTest::newRow("all the report holds") << quint8(62) << 62;
    QTest::newRow("more than it holds") << quint8(63) << 62;
    QTest::newRow("far more") << quint8(255) << 62;
}

void TestReports::logLastPartIsCapped()
{
    QFETCH(quint8, count);
    QFETCH(int, written);

    QByteArray input(64, '\0');
    input[0] = char(0x50);
    input[1] = char(count);
    for (int i = 2; i < 64; ++i)
        input[i] = char(i);
    const QByteArray bytes = Report::logLastPartBytes(bytesOf(input));
    QCOMPARE(bytes.size(), written);
    QCOMPARE(bytes, input.mid(2, written));
}

QTEST_GUILESS_MAIN(TestReports)
#include "tst_reports.moc"
