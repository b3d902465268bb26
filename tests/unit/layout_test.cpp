// The keyboard's placement for a range of screen sizes: its origin, with the
// truncating division and the two different fall-backs, and every key's
// rectangle worked out here from the key geometry rather than from the code.
#include <gtest/gtest.h>
#include "keyboard/keys.h"

static const int BlackOffsets[BlackKeyCount] = { 50, 120, 260, 330, 400, 540, 610, 750, 820, 890 };

struct ScreenCase {
    int width, height;
    int left, top;   // expected keyboard origin
};

static const ScreenCase Screens[] = {
    { 1920, 1080, 435, 313 },
    { 3840, 1080, 1395, 313 },
    { 1052, 1080, 1, 313 },
    { 1050, 1080, 0, 313 },
    { 1049, 1080, 0, 313 },   // -1 / 2 truncates to 0: no fall-back yet
    { 1048, 1080, 4, 313 },   // -2 / 2 = -1: horizontal fall-back
    { 1920, 454, 435, 0 },
    { 1920, 453, 435, 0 },
    { 1920, 452, 435, 100 },  // vertical fall-back differs from the horizontal one
    { 640, 480, 4, 13 },
    { 800, 600, 4, 73 },
    { 0, 0, 4, 100 },
};

static void ExpectRect(const char *table, int index, const PianoKey &key, int left, int top, int width, int height)
{
    EXPECT_TRUE(key.left == left && key.top == top && key.right == left + width && key.bottom == top + height)
        << table << " key " << index << ": expected (" << left << "," << top << ")-(" << left + width << ","
        << top + height << ") got (" << key.left << "," << key.top << ")-(" << key.right << "," << key.bottom << ")";
}

// Leaves every field wrong, so the layout has to set each one.
static void Scramble(void)
{
    for (int i = 0; i < WhiteKeyCount; i++)
        WhiteKeys[i] = PianoKey{ -7, -7, -7, -7, 1, 99 };
    for (int j = 0; j < BlackKeyCount; j++)
        BlackKeys[j] = PianoKey{ -7, -7, -7, -7, 1, 99 };
}

TEST(Layout, EveryKeyPlacedForEachScreenSize)
{
    for (const ScreenCase &screen : Screens) {
        SCOPED_TRACE(testing::Message() << "screen " << screen.width << "x" << screen.height);
        Scramble();
        LayoutKeyboard(screen.width, screen.height);

        EXPECT_EQ(screen.left, KeyboardLeft);
        EXPECT_EQ(screen.top, KeyboardTop);
        for (int i = 0; i < WhiteKeyCount; i++) {
            ExpectRect("white", i, WhiteKeys[i], screen.left + 70 * i, screen.top, 70, 420);
            EXPECT_EQ(0, WhiteKeys[i].pressed) << "white key " << i;
        }
        for (int j = 0; j < BlackKeyCount; j++) {
            ExpectRect("black", j, BlackKeys[j], screen.left + BlackOffsets[j], screen.top, 40, 270);
            EXPECT_EQ(0, BlackKeys[j].pressed) << "black key " << j;
        }
    }
}

// Sorted by their centres from left to right, the 25 keys are the chromatic
// scale from middle C: sound numbers 40, 41, ... 64, each on exactly one key.
TEST(Layout, SoundNumbersRiseChromaticallyFromLeftToRight)
{
    LayoutKeyboard(1920, 1080);
    int previousCentre = -1;
    for (int number = 40; number <= 64; number++) {
        int found = 0, centre = 0;
        for (int i = 0; i < WhiteKeyCount; i++)
            if (WhiteKeys[i].soundNumber == number)
                found++, centre = WhiteKeys[i].left + WhiteKeys[i].right;
        for (int j = 0; j < BlackKeyCount; j++)
            if (BlackKeys[j].soundNumber == number)
                found++, centre = BlackKeys[j].left + BlackKeys[j].right;
        EXPECT_EQ(1, found) << "keys with sound number " << number;
        EXPECT_GT(centre, previousCentre) << "sound number " << number << " lies left of "
                                          << number - 1;
        previousCentre = centre;
    }
}

// C and F (white 0, 3, 7, 10, 14) have no black key at their left edge; the
// answer must not depend on where the keyboard sits.
TEST(Layout, WhiteKeysWithABlackKeyAtTheirLeft)
{
    static const int Expected[WhiteKeyCount] = { 0, 1, 1, 0, 1, 1, 1, 0, 1, 1, 0, 1, 1, 1, 0 };
    for (const ScreenCase &screen : Screens) {
        SCOPED_TRACE(testing::Message() << "screen " << screen.width << "x" << screen.height);
        LayoutKeyboard(screen.width, screen.height);
        for (int i = 0; i < WhiteKeyCount; i++)
            EXPECT_EQ(Expected[i], HasBlackKeyAtLeft(i) ? 1 : 0) << "white key " << i;
    }
}
