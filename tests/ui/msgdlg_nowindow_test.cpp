// The dialog thread in a program without the error dialog's template: the window cannot be made.
#include "dialog_thread.h"

#include <gtest/gtest.h>

namespace
{

TEST(MsgDlgNoWindow, ThreadWhoseDialogCannotBeCreatedEnds)
{
    ASSERT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(IDD_MSGDLG), RT_DIALOG), nullptr);
    DialogThread dialog;
    ASSERT_NE(dialog.Thread(), nullptr);
    EXPECT_EQ(dialog.Dlg(), nullptr);
    // The job monitor's wait ends: the thread is no longer running, and there is no dialog.
    EXPECT_EQ(WaitForSingleObject(dialog.Thread()->m_hThread, 20000), DWORD(WAIT_OBJECT_0));
    EXPECT_EQ(dialog.Thread()->GetMsgDlg(), nullptr);
    EXPECT_EQ(dialog.Thread()->m_pMainWnd, nullptr);
    EXPECT_FALSE(dialog.EventSet());
}

} // namespace
