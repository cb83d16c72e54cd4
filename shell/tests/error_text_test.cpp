#include <gtest/gtest.h>

#include "shell/error_text.h"

TEST(ErrorBoxText, AppendsAFullStopOnlyAfterCharactersAboveTheFullStop)
{
    struct Row {
        const char *message;
        const char *shown;
    } rows[] = {
        {"Cannot create file /tmp/x.bmp", "Cannot create file /tmp/x.bmp."},
        {"Out of system resources", "Out of system resources."},
        {"Stream write error.", "Stream write error."},
        {"Why?", "Why?."},
        {"Path:", "Path:."},
        {"Value 42", "Value 42."},
        {"Stop!", "Stop!"},
        {"a,", "a,"},
        {"a-", "a-"},
        {"(a)", "(a)"},
        {"trailing ", "trailing "},
        {"slash/", "slash/."}, // '/' is 0x2F, just above the full stop
        {"", ""},
        {"Ошибка", "Ошибка."}, // a Cyrillic letter ends in a byte above 0x2E
    };
    for (const Row &row : rows)
        EXPECT_EQ(errorBoxText(row.message), row.shown) << '"' << row.message << '"';
}

TEST(StartupFailureText, NamesKindModuleAndAddressAndEndsTheMessageWithOneFullStop)
{
    const void *address = reinterpret_cast<const void *>(0x1234);
    const std::string text = startupFailureText("EOutOfResources", "skarvel", address, "Not enough timers available");
    EXPECT_EQ(text.rfind("Exception EOutOfResources in module skarvel at ", 0), 0u) << text;
    EXPECT_NE(text.find("1234.\nNot enough timers available."), std::string::npos) << text;

    // Unlike the error box, a message ending in '!' or '?' still gets its full stop here.
    EXPECT_NE(startupFailureText("E", "m", nullptr, "Why?").find("\nWhy?."), std::string::npos);
    EXPECT_NE(startupFailureText("E", "m", nullptr, "Done.").find("\nDone."), std::string::npos);
    EXPECT_EQ(startupFailureText("E", "m", nullptr, "Done.").find("Done.."), std::string::npos);
    const std::string empty = startupFailureText("E", "m", nullptr, "");
    EXPECT_EQ(empty.back(), '\n');
}
