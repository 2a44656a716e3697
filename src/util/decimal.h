// Decimal text of a number.
#pragma once

#include <cstdlib>
#include <string>

// What std::to_wstring writes, without linking the runtime's own printf
// (which std::to_wstring reaches through vswprintf).
inline std::wstring DecimalText(long long number) {
    wchar_t digits[24];
    _i64tow(number, digits, 10);
    return digits;
}
