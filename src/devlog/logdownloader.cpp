#include "logdownloader.h"

LogDownloader::LogDownloader(hid_device *device)
    : device(device)
{
}

LogDownloader::~LogDownloader() = default;

void LogDownloader::setDevice(hid_device *newDevice, int newUnitType)
{
    device = newDevice;
    unitType = newUnitType;
}

void LogDownloader::needreadLogPart2() {}
void LogDownloader::startDownload(int) {}
void LogDownloader::dumpFile() {}
void LogDownloader::cleanHistory() {}
void LogDownloader::checkFile() {}
void LogDownloader::resendMessage(int) {}
void LogDownloader::dataCompleted(int) {}
void LogDownloader::waitLogFileMd5() {}
void LogDownloader::readLogPart() {}
void LogDownloader::stopTransfer() {}
void LogDownloader::startTransfer() {}
void LogDownloader::process() {}
