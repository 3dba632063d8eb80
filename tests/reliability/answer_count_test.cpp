// Printer answers of 0 to 8 entries: only an answer of four entries is read; with any other count
// the dialog keeps what it showed, visible or hidden.
#include "answer_shapes.h"

namespace
{

using namespace shapes;

TEST_F(WatcherTest, AnswersOfEveryEntryCount)
{
    ASSERT_TRUE(StartWatcher());
    const HWND hDlg = AddWatchedJob(1, 1);
    ASSERT_NE(nullptr, hDlg);
    PlayShapes(hDlg, {
                         {"Normal", Normal(), {2005, 0x11, 1, 0}},
                         {"NoEntry", {}, {2012, 0x22, 2, 0}},
                         {"OneEntry", FirstOfNormal(1), {2012, 0x22, 2, 0}},
                         {"TwoEntries", FirstOfNormal(2), {2012, 0x22, 2, 0}},
                         {"ThreeEntries", FirstOfNormal(3), {2012, 0x22, 2, 0}},
                         {"FourEntries", FirstOfNormal(4), {2012, 0x22, 2, 0}},
                         {"FiveEntries", FirstOfNormal(5), {2005, 0x11, 1, 0}},
                         {"SixEntries", FirstOfNormal(6), {2005, 0x11, 1, 0}},
                         {"SevenEntries", FirstOfNormal(7), {2005, 0x11, 1, 0}},
                         {"EightEntries", FirstOfNormal(8), {2005, 0x11, 1, 0}},
                         {"NoErrorHides", Normal(), {2000, 0, 0, 0}},
                         {"NoEntryWhileHidden", {}, {2005, 0xCC, 1, 0}},
                         {"EightEntriesWhileHidden", FirstOfNormal(8), {2005, 0xCC, 1, 0}},
                         {"NormalAgain", Normal(), {2005, 0xCC, 1, 0}},
                     });
}

} // namespace
