#include "models.h"

#include <QtGlobal>

namespace {

constexpr ReportLayout Leading = ReportLayout::LeadingHeader;
constexpr ReportLayout Trailing = ReportLayout::TrailingHeader;

constexpr ModelInfo models[unitTypeCount] = {
    { 0, 0x0101, "CALYX4", QT_TRANSLATE_NOOP("MainWindow", "CALYX4 connected"), Leading, UnitHalf::None, 63, "CALYX4" },
    { 1, 0x0102, "CALYX2", QT_TRANSLATE_NOOP("MainWindow", "CALYX2 connected"), Leading, UnitHalf::None, 63, "CALYX2" },
    { 2, 0x0103, "DORIC", QT_TRANSLATE_NOOP("MainWindow", "DORIC connected"), Leading, UnitHalf::None, 63, "DORIC" },
    { 3, 0x0104, "GLYPH PRO", QT_TRANSLATE_NOOP("MainWindow", "GLYPH PRO connected"), Leading, UnitHalf::None, 63, "GLYPHPRO" },
    { 4, 0x0105, "GLYPH IO", QT_TRANSLATE_NOOP("MainWindow", "GLYPH IO connected"), Leading, UnitHalf::None, 63, "GLYPHPRO" },
    { 5, 0x0106, "HALO2", QT_TRANSLATE_NOOP("MainWindow", "HALO2 connected"), Leading, UnitHalf::None, 62, "HALO" },
    { 6, 0x0107, "HALO4", QT_TRANSLATE_NOOP("MainWindow", "HALO4 connected"), Leading, UnitHalf::None, 62, "HALO" },
    { 7, 0x0108, "IRIS / IRIS S", QT_TRANSLATE_NOOP("MainWindow", "IRIS/IRIS S connected"), Leading, UnitHalf::None, 62, "IRIS" },
    { 8, 0x0109, "JADE / JADE S", QT_TRANSLATE_NOOP("MainWindow", "JADE/JADE S connected"), Leading, UnitHalf::None, 62, "IRIS" },
    { 9, 0x010A, "KITE", QT_TRANSLATE_NOOP("MainWindow", "KITE connected"), Leading, UnitHalf::None, 63, "KITE" },
    { 10, 0x010B, "LARK", QT_TRANSLATE_NOOP("MainWindow", "LARK connected"), Leading, UnitHalf::None, 63, "LARK" },
    { 11, 0x010C, "MOSS", QT_TRANSLATE_NOOP("MainWindow", "MOSS connected"), Leading, UnitHalf::None, 63, "MOSS" },
    { 12, 0x010D, "EBONY", QT_TRANSLATE_NOOP("MainWindow", "EBONY connected"), Trailing, UnitHalf::None, 63, "EBONY" },
    { 13, 0x010E, "ARDEN", QT_TRANSLATE_NOOP("MainWindow", "ARDEN connected"), Trailing, UnitHalf::Left, 63, "EBONY" },
    { 14, 0x010F, "ARDEN", QT_TRANSLATE_NOOP("MainWindow", "ARDEN connected"), Trailing, UnitHalf::Right, 63, "EBONY" },
    { 15, 0x0110, "BRISK", QT_TRANSLATE_NOOP("MainWindow", "BRISK connected"), Trailing, UnitHalf::Left, 63, "EBONY" },
    { 16, 0x0111, "BRISK", QT_TRANSLATE_NOOP("MainWindow", "BRISK connected"), Trailing, UnitHalf::Right, 63, "EBONY" },
    { 17, 0x0112, "FJORD", QT_TRANSLATE_NOOP("MainWindow", "FJORD connected"), Trailing, UnitHalf::None, 63, "EBONY" },
};

} // namespace

const ModelInfo *modelForUnitType(int unitType)
{
    if (unitType < 0 || unitType >= unitTypeCount)
        return nullptr;
    return &models[unitType];
}

int unitTypeForProductId(unsigned short productId)
{
    for (const ModelInfo &model : models) {
        if (model.productId == productId)
            return model.unitType;
    }
    return -1;
}

bool isHalf(int unitType)
{
    const ModelInfo *model = modelForUnitType(unitType);
    return model && model->half != UnitHalf::None;
}

int otherHalf(int unitType)
{
    const ModelInfo *model = modelForUnitType(unitType);
    if (!model || model->half == UnitHalf::None)
        return -1;
    return model->half == UnitHalf::Left ? unitType + 1 : unitType - 1;
}
