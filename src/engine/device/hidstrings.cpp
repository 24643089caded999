#include "hidstrings.h"

#include <cwchar>

QString hidText(const wchar_t *text)
{
    return text ? QString::fromWCharArray(text) : QString();
}

bool isTavoroProduct(const wchar_t *product)
{
    return product && std::wcscmp(product, L"Tavoro HID") == 0;
}
