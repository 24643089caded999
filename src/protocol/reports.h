#ifndef REPORTS_H
#define REPORTS_H

#include <QByteArray>
#include <QtGlobal>

// The HID reports spoken with the controllers.
//
// An output report is 65 bytes: byte 0 is the report ID (always 0), bytes
// 1..64 the payload. An input report is the 64-byte payload alone. Offsets
// below are payload offsets; payload offset k is byte k + 1 of an output
// report. Multi-byte numbers are big-endian.

namespace Report {

constexpr int outputSize = 65;
constexpr int payloadSize = 64;
constexpr int dataBytesPerReport = 60;
constexpr int logPartBytes = 63;
constexpr int logLastPartMaxBytes = 62;  // payload 2..63

// Read time-outs, in milliseconds.
constexpr int versionReadTimeout = 1000;
constexpr int readyPollTimeout = 1;
constexpr int resultReadTimeout = 100;
constexpr int logPartReadTimeout = 100;

// Host-to-device command bytes.
enum Command : quint8 {
    transferStart = 0x80,
    dataPacket = 0x00,
    transferEnd = 0xD0,
    logRequest = 0x10,
    logAck = 0x30,
    logResend = 0x70,
};

// Device-to-host firmware status codes: the high nibble of the command byte.
enum Status : quint8 {
    statusInternalError = 0x6,
    statusWrongFile = 0x7,
    statusReady = 0x9,
    statusTimeout = 0xA,
    statusPacketsSkipped = 0xB,
    statusWrongMd5 = 0xC,
    statusTransferComplete = 0xE,
    statusUpdateFinished = 0xF,
};

// Device-to-host log replies: the whole of payload byte 0.
enum LogReply : quint8 {
    logHeader = 0x20,
    logPart = 0x40,
    logLastPart = 0x50,
    logClose = 0x60,
};

// Where the 4-byte header and the 60-byte data area sit in a payload.
struct Layout
{
    quint8 commandOffset;
    quint8 dataOffset;
};

constexpr Layout leadingHeader { 0, 4 };
constexpr Layout trailingHeader { 60, 0 };

// The layout of a unit type: leading for 0..11, trailing for 12..17.
Layout layoutForUnitType(int unitType);

// Output reports, each 65 bytes with the report ID 0 in front.

// transferStart announcing the image's 32-character lowercase hex MD5.
QByteArray buildTransferStart(Layout layout, const QByteArray &md5Hex);

// A data report with packet number `packet` (low 28 bits) and 60 image bytes.
QByteArray buildDataPacket(Layout layout, quint32 packet, const char *data);

// The end report: packet number `packet` (low 16 bits) and the last
// `count` image bytes (0..59); `data` may be null when count is 0.
QByteArray buildTransferEnd(Layout layout, quint32 packet, const char *data, int count);

QByteArray buildLogRequest(Layout layout, quint8 number);
QByteArray buildLogAck();
QByteArray buildLogResend();

// Input reports (64-byte payloads).

// The status code: the high nibble of payload[commandOffset].
quint8 statusCode(const unsigned char *payload, Layout layout);

// The firmware version byte of a unit type's first report.
quint8 versionByte(const unsigned char *payload, int unitType);

struct LogHeaderInfo
{
    QByteArray digest;  // 32 hex characters as sent
    qint32 parts;       // logPart and logLastPart replies that follow
};

LogHeaderInfo decodeLogHeader(const unsigned char *payload);

// The log bytes of a logLastPart reply: its count, capped at the 62 bytes
// the report holds.
QByteArray logLastPartBytes(const unsigned char *payload);

} // namespace Report

#endif // REPORTS_H
