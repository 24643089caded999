#ifndef HIDSTRINGS_H
#define HIDSTRINGS_H

#include <QString>

// The wide strings hidapi reports (product, manufacturer, error texts).
// hidapi gives NULL where a device has no such string; both functions
// accept NULL.

// The text of a hidapi string; an empty string for NULL.
QString hidText(const wchar_t *text);

// True only for the product string of a Tavoro controller, "Tavoro HID",
// compared whole and case-sensitively.
bool isTavoroProduct(const wchar_t *product);

#endif // HIDSTRINGS_H
