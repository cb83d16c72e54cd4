#pragma once

// The value rules of the numeric spin field: how its text reads as a number,
// how a written value is clamped, which typed characters it takes, and its
// smallest height. Plain C++, no Qt.

#include <cstdint>
#include <string_view>

namespace spin {

// Reads the whole text as a signed 32-bit integer: leading blanks, an
// optional '+' or '-', then decimal digits, or hexadecimal digits after a
// "$", "x", "X", "0x" or "0X" prefix. Empty text, a sign alone, any other
// character (a decimal separator, a trailing blank, a letter) or a number
// outside the signed 32-bit range reads as `minValue`. Never clamps.
std::int32_t readValue(std::u16string_view text, std::int32_t minValue);

// The value a write stores: below `minValue` gives `minValue`, otherwise
// above `maxValue` gives `maxValue`. Bounds that are equal switch clamping
// off; then a value beyond the 32-bit range saturates at its end.
std::int32_t clampValue(std::int64_t value, std::int32_t minValue, std::int32_t maxValue);

// The value of one step from `current` by `increment` (negative for the down
// step), clamped as a write is. Computed in 64 bits, so a text reading
// 2147483647 steps without overflow.
std::int32_t stepValue(std::int32_t current, std::int32_t increment, std::int32_t minValue, std::int32_t maxValue);

// What leaving the field writes back: the clamped value when it differs from
// the value read, nothing (false) otherwise.
bool valueOnLeaving(std::int32_t valueRead, std::int32_t minValue, std::int32_t maxValue, std::int32_t *toWrite);

enum class TypedChar {
    Accept, // the field takes it
    Reject, // discarded with a beep
};

// A typed character with the editor switched on: digits, '+', '-', the
// locale's decimal separator and control characters other than Enter (13)
// are taken; everything else, Enter included, is rejected.
TypedChar checkTypedChar(char32_t c, char32_t decimalSeparator);

// With the editor switched off printable characters, Backspace and Delete are
// rejected as well; only the other control characters pass.
TypedChar checkTypedCharEditorOff(char32_t c);

// The smallest height of a field: its font's line height, plus a quarter
// (rounded down) of the smaller of that and the system font's line height,
// plus four borders, plus 2.
int minimumFieldHeight(int lineHeight, int systemLineHeight, int borderWidth);

} // namespace spin
