#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "Palitra/spin_value.h"

using spin::TypedChar;

namespace {

struct ReadRow {
    const char16_t *text;
    std::int32_t value;
};

} // namespace

TEST(SpinRead, ParsesTheWholeTextOrFallsBackToTheMinimum)
{
    const ReadRow rows[] = {
        {u"1", 1},
        {u"10", 10},
        {u"0", 0},            // reading never clamps
        {u"-5", -5},
        {u"500", 500},
        {u"+7", 7},
        {u"0007", 7},
        {u"  42", 42},        // leading blanks are skipped
        {u" -3", -3},
        {u"", 1},
        {u"   ", 1},
        {u"+", 1},
        {u"-", 1},
        {u"- 5", 1},          // nothing may stand between the sign and the digits
        {u"+-5", 1},
        {u"1,5", 1},
        {u"1.5", 1},
        {u"1-+2", 1},
        {u"42 ", 1},          // a trailing blank spoils it
        {u"\t42", 1},         // only blanks are skipped
        {u"abc", 1},
        {u"12a", 1},
        {u"$10", 16},
        {u"-$10", -16},
        {u"x1F", 31},
        {u"X1f", 31},
        {u"0x10", 16},
        {u"0X10", 16},
        {u"$", 1},
        {u"0x", 1},
        {u"$G", 1},
        {u"10h", 1},
        {u"2147483647", 2147483647},
        {u"2147483648", 1},
        {u"-2147483648", INT_MIN},
        {u"-2147483649", 1},
        {u"99999999999999999999", 1},
        {u"$7FFFFFFF", INT_MAX},
        {u"$80000000", 1},
        {u"-$80000000", INT_MIN},
        {u"$FFFFFFFF", 1},
        {u"\u0661\u0662", 1}, // digits of another script are not digits here
        {u"\uFF11", 1},       // nor is a full-width one
    };
    for (const ReadRow &row : rows) {
        const std::u16string text(row.text);
        EXPECT_EQ(spin::readValue(text, 1), row.value) << std::string(text.begin(), text.end());
    }
}

TEST(SpinRead, UnreadableTextReadsAsTheGivenMinimum)
{
    EXPECT_EQ(spin::readValue(u"", -40), -40);
    EXPECT_EQ(spin::readValue(u"x", 17), 17);
    EXPECT_EQ(spin::readValue(u"9", 17), 9);
}

TEST(SpinRead, CopesWithLongAndOddText)
{
    // A long run of leading zeros is still a small number; a long run of
    // digits is out of range; neither may overflow on the way.
    EXPECT_EQ(spin::readValue(std::u16string(10000, u'0') + u"12", 1), 12);
    EXPECT_EQ(spin::readValue(std::u16string(10000, u'9'), 1), 1);
    EXPECT_EQ(spin::readValue(u"-" + std::u16string(10000, u'9'), 1), 1);
    EXPECT_EQ(spin::readValue(std::u16string(10000, u' '), 1), 1);
    EXPECT_EQ(spin::readValue(std::u16string(u"12\0" u"3", 4), 1), 1);
    EXPECT_EQ(spin::readValue(u"\r\n", 1), 1);
}

TEST(SpinClamp, WritesClampToTheBounds)
{
    EXPECT_EQ(spin::clampValue(0, 1, 100), 1);
    EXPECT_EQ(spin::clampValue(-5, 1, 100), 1);
    EXPECT_EQ(spin::clampValue(1, 1, 100), 1);
    EXPECT_EQ(spin::clampValue(100, 1, 100), 100);
    EXPECT_EQ(spin::clampValue(500, 1, 100), 100);
    EXPECT_EQ(spin::clampValue(std::int64_t(INT_MAX) + 1, 1, 100), 100);
    EXPECT_EQ(spin::clampValue(std::int64_t(INT_MIN) - 1, 1, 100), 1);
}

TEST(SpinClamp, EqualBoundsSwitchClampingOffButNeverWrap)
{
    EXPECT_EQ(spin::clampValue(-5, 0, 0), -5);
    EXPECT_EQ(spin::clampValue(500, 7, 7), 500);
    EXPECT_EQ(spin::clampValue(std::int64_t(INT_MAX) + 1, 0, 0), INT_MAX);
    EXPECT_EQ(spin::clampValue(std::int64_t(INT_MIN) - 1, 0, 0), INT_MIN);
}

TEST(SpinClamp, CrossedBoundsTestTheMinimumFirst)
{
    EXPECT_EQ(spin::clampValue(7, 10, 5), 10);
    EXPECT_EQ(spin::clampValue(12, 10, 5), 5);
}

TEST(SpinStep, StepsFromTheValueReadAndClamps)
{
    // An empty text reads as 1: up gives 2, down gives 0 clamped to 1.
    EXPECT_EQ(spin::stepValue(spin::readValue(u"", 1), 1, 1, 100), 2);
    EXPECT_EQ(spin::stepValue(spin::readValue(u"", 1), -1, 1, 100), 1);
    EXPECT_EQ(spin::stepValue(500, 1, 1, 100), 100);
    EXPECT_EQ(spin::stepValue(500, -1, 1, 100), 100);
    EXPECT_EQ(spin::stepValue(-5, 1, 1, 100), 1);
    EXPECT_EQ(spin::stepValue(99, 1, 1, 100), 100);
    EXPECT_EQ(spin::stepValue(100, 1, 1, 100), 100);
}

TEST(SpinStep, NoOverflowAtTheEndsOfTheRange)
{
    EXPECT_EQ(spin::stepValue(INT_MAX, 1, 1, 100), 100);
    EXPECT_EQ(spin::stepValue(INT_MIN, -1, 1, 100), 1);
    EXPECT_EQ(spin::stepValue(INT_MAX, INT_MAX, 0, 0), INT_MAX);
    EXPECT_EQ(spin::stepValue(INT_MIN, INT_MIN, 0, 0), INT_MIN);
    EXPECT_EQ(spin::stepValue(INT_MIN, -1, INT_MIN, INT_MAX), INT_MIN);
    EXPECT_EQ(spin::stepValue(INT_MAX, 1, INT_MIN, INT_MAX), INT_MAX);
}

TEST(SpinLeave, WritesBackOnlyAValueThatClampingChanges)
{
    std::int32_t written = 12345;
    EXPECT_TRUE(spin::valueOnLeaving(0, 1, 100, &written));
    EXPECT_EQ(written, 1);
    EXPECT_TRUE(spin::valueOnLeaving(-5, 1, 100, &written));
    EXPECT_EQ(written, 1);
    EXPECT_TRUE(spin::valueOnLeaving(500, 1, 100, &written));
    EXPECT_EQ(written, 100);
    EXPECT_TRUE(spin::valueOnLeaving(INT_MIN, 1, 100, &written));
    EXPECT_EQ(written, 1);

    written = 12345;
    EXPECT_FALSE(spin::valueOnLeaving(50, 1, 100, &written));
    // An unreadable text reads as the minimum, which is in range: it stays.
    EXPECT_FALSE(spin::valueOnLeaving(spin::readValue(u"1,5", 1), 1, 100, &written));
    EXPECT_FALSE(spin::valueOnLeaving(spin::readValue(u"", 1), 1, 100, &written));
    EXPECT_FALSE(spin::valueOnLeaving(500, 3, 3, &written));
    EXPECT_EQ(written, 12345);
}

TEST(SpinTyping, AcceptsDigitsSignsTheSeparatorAndControlCharactersButEnter)
{
    for (char32_t c = U'0'; c <= U'9'; ++c)
        EXPECT_EQ(spin::checkTypedChar(c, U','), TypedChar::Accept) << char(c);
    for (char32_t c : {U'+', U'-', U','})
        EXPECT_EQ(spin::checkTypedChar(c, U','), TypedChar::Accept) << char(c);
    for (char32_t c = 0; c < 32; ++c)
        EXPECT_EQ(spin::checkTypedChar(c, U','), c == U'\r' ? TypedChar::Reject : TypedChar::Accept) << int(c);

    for (char32_t c : {U'.', U' ', U'a', U'Z', U'x', U'$', U'/', U':', U'e', U'\x7F', U'\u0661', U'\u044F', U'\U0001F600'})
        EXPECT_EQ(spin::checkTypedChar(c, U','), TypedChar::Reject) << std::uint32_t(c);

    // The separator follows the locale.
    EXPECT_EQ(spin::checkTypedChar(U'.', U'.'), TypedChar::Accept);
    EXPECT_EQ(spin::checkTypedChar(U',', U'.'), TypedChar::Reject);
    EXPECT_EQ(spin::checkTypedChar(U'\u066B', U'\u066B'), TypedChar::Accept);
}

TEST(SpinTyping, WithTheEditorOffOnlyNonEditingControlCharactersPass)
{
    for (char32_t c : {U'5', U'+', U'-', U'a', U'\b', U'\x7F', U'\r'})
        EXPECT_EQ(spin::checkTypedCharEditorOff(c), TypedChar::Reject) << std::uint32_t(c);
    for (char32_t c : {U'\x03', U'\x16', U'\x1B', U'\t'})
        EXPECT_EQ(spin::checkTypedCharEditorOff(c), TypedChar::Accept) << std::uint32_t(c);
}

TEST(SpinGeometry, MinimumHeightOfTheLayoutFontIs22)
{
    EXPECT_EQ(spin::minimumFieldHeight(13, 16, 1), 22);
    // The quarter is of the smaller line height, rounded down.
    EXPECT_EQ(spin::minimumFieldHeight(20, 13, 1), 20 + 3 + 4 + 2);
    EXPECT_EQ(spin::minimumFieldHeight(15, 16, 2), 15 + 3 + 8 + 2);
}
