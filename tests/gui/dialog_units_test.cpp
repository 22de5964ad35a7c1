#include <gtest/gtest.h>

#include <QLabel>

#include "pages/dialog_units.h"

namespace {

// Units are a quarter of the average character width and an eighth of the font height,
// rounded to the nearest pixel.
TEST(DialogUnits, ConvertLikeDialogTemplates) {
    const DialogUnits du(6, 13);
    EXPECT_EQ(du.X(4), 6);
    EXPECT_EQ(du.Y(8), 13);
    EXPECT_EQ(du.X(351), 527);  // 526.5 rounds up
    EXPECT_EQ(du.Y(198), 322);  // 321.75
    EXPECT_EQ(du.Y(3), 5);      // 4.875
    EXPECT_EQ(du.Rect(7, 7, 337, 184), QRect(11, 11, 506, 299));
    EXPECT_EQ(du.Size(332, 170), QSize(498, 276));

    QLabel label;
    du.Place(label, 204, 154, 128, 8);
    EXPECT_EQ(label.geometry(), QRect(306, 250, 192, 13));
}

TEST(DialogUnits, FollowTheFont) {
    QFont small = DialogFont();
    QFont large = small;
    large.setPointSize(small.pointSize() * 2);
    const DialogUnits a(small);
    const DialogUnits b(large);
    EXPECT_GT(a.X(100), 0);
    EXPECT_GT(b.X(100), a.X(100));
    EXPECT_GT(b.Y(100), a.Y(100));
}

}  // namespace
