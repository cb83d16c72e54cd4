#include <gtest/gtest.h>

#include "saving/save_rules.h"

using saving::fileNameExtension;
using saving::saveDialogPosition;
using saving::saveTargetName;

TEST(SaveRules, ExtensionIsTheTextFromTheLastDotAfterTheLastDelimiter)
{
    EXPECT_EQ(fileNameExtension("C:\\pics\\desk.bmp"), ".bmp");
    EXPECT_EQ(fileNameExtension("C:\\pics\\desk.BMP"), ".BMP");
    EXPECT_EQ(fileNameExtension("archive.tar.gz"), ".gz");
    EXPECT_EQ(fileNameExtension("desk."), ".");
    EXPECT_EQ(fileNameExtension(".bmp"), ".bmp");
    // A dot before the last delimiter belongs to a folder, not to the name.
    EXPECT_EQ(fileNameExtension("C:\\pics\\desk"), "");
    EXPECT_EQ(fileNameExtension("C:\\my.pics\\desk"), "");
    EXPECT_EQ(fileNameExtension("C:desk"), "");
    EXPECT_EQ(fileNameExtension("c.d:desk"), "");
    EXPECT_EQ(fileNameExtension("/home/u/my.pics/desk"), "");
    EXPECT_EQ(fileNameExtension("/home/u/my.pics/"), "");
    EXPECT_EQ(fileNameExtension(""), "");
    EXPECT_EQ(fileNameExtension("/home/u/Рисунки/стол.бмп"), ".бмп");
    EXPECT_EQ(fileNameExtension("/home/u/мои.рисунки/стол"), "");
}

TEST(SaveRules, OnlyANameWithoutAnyExtensionGetsBmp)
{
    EXPECT_EQ(saveTargetName("C:\\pics\\desk"), "C:\\pics\\desk.bmp");
    EXPECT_EQ(saveTargetName("/home/u/my.pics/desk"), "/home/u/my.pics/desk.bmp");
    EXPECT_EQ(saveTargetName("/tmp/Мой рисунок"), "/tmp/Мой рисунок.bmp");
    EXPECT_EQ(saveTargetName("/tmp/desk.bmp"), "/tmp/desk.bmp");
    EXPECT_EQ(saveTargetName("/tmp/desk.BMP"), "/tmp/desk.BMP");
    EXPECT_EQ(saveTargetName("/tmp/desk.png"), "/tmp/desk.png");
    EXPECT_EQ(saveTargetName("/tmp/desk."), "/tmp/desk.");
}

TEST(SaveRules, DialogIsCentredWithAThirdOfTheFreeHeightAbove)
{
    EXPECT_EQ(saveDialogPosition(Rect{0, 0, 1024, 768}, 600, 400), (Point{212, 122}));
    // Odd free space truncates; the monitor's origin counts.
    EXPECT_EQ(saveDialogPosition(Rect{1920, 0, 3200, 1024}, 601, 401), (Point{1920 + 339, 207}));
    EXPECT_EQ(saveDialogPosition(Rect{-1280, -200, 0, 824}, 500, 300), (Point{-1280 + 390, -200 + 241}));
    // Larger than the monitor: overhangs it, rounding towards zero.
    EXPECT_EQ(saveDialogPosition(Rect{0, 0, 800, 600}, 805, 610), (Point{-2, -3}));
}
