#ifndef MODELS_H
#define MODELS_H

#include <QString>

// The controllers' shared USB vendor ID and the table of supported models.
// The table's order is the search order of "Connect"; a model's position in
// it is its unit type, which every other part of the program keys on.

constexpr unsigned short vendorId = 0x3A52;

enum class ReportLayout { LeadingHeader, TrailingHeader };
enum class UnitHalf { None, Left, Right };

struct ModelInfo
{
    int unitType;
    unsigned short productId;
    const char *name;          // model name as the table and the log show it
    const char *announcement;  // the "... connected" message, translated in the window's context
    ReportLayout layout;
    UnitHalf half;
    int versionByte;           // payload offset of the version in the first report
    const char *manifestKey;   // prefix of the model's manifest entries
};

constexpr int unitTypeCount = 18;
constexpr int mossUnitType = 11;  // updated through the closed transfer library

// The model of unitType, or nullptr outside 0..17.
const ModelInfo *modelForUnitType(int unitType);

// The unit type whose product ID is productId, or -1.
int unitTypeForProductId(unsigned short productId);

// Unit types 13..16 are the halves of the two-unit models.
bool isHalf(int unitType);

// The half that completes unitType's pair (13 <-> 14, 15 <-> 16), or -1.
int otherHalf(int unitType);

#endif // MODELS_H
