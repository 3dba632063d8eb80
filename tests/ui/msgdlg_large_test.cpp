// The dialog thread in a program whose error dialog template is larger than the screen.
#include "dialog_thread.h"

#include <gtest/gtest.h>

namespace
{

TEST(MsgDlgLarge, DialogLargerThanTheScreenIsCentredToNegativeCoordinates)
{
    DialogThread dialog;
    ASSERT_NE(dialog.Dlg(), nullptr);
    RECT rc{};
    ASSERT_TRUE(GetWindowRect(dialog.Dlg(), &rc));
    const int w = rc.right - rc.left;
    const int h = rc.bottom - rc.top;
    const int cxScreen = GetSystemMetrics(SM_CXSCREEN);
    const int cyScreen = GetSystemMetrics(SM_CYSCREEN);
    ASSERT_GT(w, cxScreen);
    ASSERT_GT(h, cyScreen);
    EXPECT_EQ(rc.left, (cxScreen - w) / 2 - 10);
    EXPECT_EQ(rc.top, (cyScreen - h) / 2 - 10);
    EXPECT_LT(rc.left, 0);
    EXPECT_LT(rc.top, 0);
}

} // namespace
