// libFuzzer target: the version manifest as the download server might send
// it, checked for every kind of unit.
//
// Input: byte 0 picks the unit type (its value modulo 20: the 18 models and
// two unknown types, which take the fallback key), byte 1 is the firmware
// version byte the unit reports; the rest is the body as received, which
// the checker strips of carriage returns before it reads it.

#include "protocol/models.h"
#include "update/manifest.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr int unitTypesTried = unitTypeCount + 2;

bool requiredPresent(const Manifest::Values &values)
{
    return !values.firmwareVersion.isEmpty() && !values.firmwareBinaryUrl.isEmpty()
           && !values.firmwareChangeLogUrl.isEmpty() && !values.mainVersion.isEmpty()
           && !values.mainBinaryUrl.isEmpty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int unitType = data[0] % unitTypesTried;
    const QString currentVersion = QString::number(data[1]);
    const QByteArray received = QByteArray::fromRawData(reinterpret_cast<const char *>(data) + 2, int(size - 2));

    const QByteArray body = Manifest::withoutCarriageReturns(received);
    if (body.contains('\r') || body.size() != received.size() - received.count('\r'))
        std::abort();

    const Manifest::Check check = Manifest::evaluate(body, unitType, currentVersion);
    if (check.unitTypeKnown != (unitType < unitTypeCount))
        std::abort();
    // Only a manifest with every required entry, and a web address for the
    // updater, may lead anywhere: that address reaches the desktop's opener.
    const bool usable = requiredPresent(check.values) && Manifest::isWebAddress(check.values.mainBinaryUrl);
    if ((check.outcome == Manifest::Outcome::InformationMissing) == usable)
        std::abort();
    return 0;
}
