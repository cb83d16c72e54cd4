#include "Palitra/spin_value.h"

#include <algorithm>
#include <limits>

namespace spin {

namespace {

constexpr std::int64_t int32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t int32Max = std::numeric_limits<std::int32_t>::max();

int digitValue(char16_t c, int base)
{
    int d = -1;
    if (c >= u'0' && c <= u'9')
        d = c - u'0';
    else if (base == 16 && c >= u'a' && c <= u'f')
        d = c - u'a' + 10;
    else if (base == 16 && c >= u'A' && c <= u'F')
        d = c - u'A' + 10;
    return d;
}

} // namespace

std::int32_t readValue(std::u16string_view text, std::int32_t minValue)
{
    std::size_t i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size())
        return minValue; // nothing after the blanks, the sign or the prefix

    // The magnitude may reach 2^31 (for -2147483648); anything beyond stops
    // the loop before it can overflow, however many digits follow.
    const std::int64_t limit = negative ? -int32Min : int32Max;
    std::int64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        const int d = digitValue(text[i], base);
        if (d < 0)
            return minValue;
        magnitude = magnitude * base + d;
        if (magnitude > limit)
            return minValue;
    }
    return std::int32_t(negative ? -magnitude : magnitude);
}

std::int32_t clampValue(std::int64_t value, std::int32_t minValue, std::int32_t maxValue)
{
    if (minValue != maxValue) {
        if (value < minValue)
            return minValue;
        if (value > maxValue)
            return maxValue;
    }
    return std::int32_t(std::clamp(value, int32Min, int32Max));
}

std::int32_t stepValue(std::int32_t current, std::int32_t increment, std::int32_t minValue, std::int32_t maxValue)
{
    return clampValue(std::int64_t(current) + increment, minValue, maxValue);
}

bool valueOnLeaving(std::int32_t valueRead, std::int32_t minValue, std::int32_t maxValue, std::int32_t *toWrite)
{
    const std::int32_t clamped = clampValue(valueRead, minValue, maxValue);
    if (clamped == valueRead)
        return false;
    *toWrite = clamped;
    return true;
}

TypedChar checkTypedChar(char32_t c, char32_t decimalSeparator)
{
    if (c == U'\r')
        return TypedChar::Reject;
    if (c < 32)
        return TypedChar::Accept;
    if ((c >= U'0' && c <= U'9') || c == U'+' || c == U'-' || c == decimalSeparator)
        return TypedChar::Accept;
    return TypedChar::Reject;
}

TypedChar checkTypedCharEditorOff(char32_t c)
{
    if (c == U'\r' || c == U'\b' || c == 0x7F || c >= 32)
        return TypedChar::Reject;
    return TypedChar::Accept;
}

int minimumFieldHeight(int lineHeight, int systemLineHeight, int borderWidth)
{
    return lineHeight + std::min(lineHeight, systemLineHeight) / 4 + 4 * borderWidth + 2;
}

} // namespace spin
