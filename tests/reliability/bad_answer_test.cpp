// Bad printer answers: status values outside the catalogue, odd details and button types, the
// reset flag on every poll, and answers of four entries with unknown and mixed-case paths, null
// and short data. What the dialog must show is worked out from the catalogue and the rules of the
// answer, not from the program.
#include "answer_shapes.h"
#include "watcher_harness.h"

#include <climits>
#include <cstring>
#include <optional>
#include <ostream>

namespace
{

using namespace rel;
using oracle::Effect;
using oracle::Values;

// ---------------------------------------------------------------------------------------------
// Odd values in a well-formed answer, one job each, all at once.

struct OddValues
{
    const char* name;
    Values values;
};

const OddValues kOddRows[] = {
    {"CodeBelowCatalogue", {1999, 0x10, 1, 0}},
    {"CodeAboveCatalogue", {2027, 0x10, 1, 0}},
    {"CodeFarAbove", {100000, 0x10, 2, 0}},
    {"CodeNegative", {-5, 0x10, 1, 0}},
    {"CodeMinimum", {LONG_MIN, 0x10, 1, 0}},
    {"CodeMaximum", {LONG_MAX, 0x10, 1, 0}},
    {"CodeZero", {0, 0, 0, 0}},
    {"DetailZero", {2009, 0, 1, 0}},
    {"DetailAllOnes", {2009, static_cast<LONG>(0xFFFFFFFF), 2, 0}},
    {"DetailNegative", {2012, -2, 1, 0}},
    {"DetailMaximum", {2014, LONG_MAX, 1, 0}},
    {"HidingCode2019", {2019, 0x10, 1, 0}},
    {"HidingCode2024", {2024, 0x10, 1, 0}},
    {"HidingCode2026", {2026, 0x10, 1, 0}},
    {"KeepingCode2028", {2028, 0x10, 1, 0}},
    {"KeepingCode2029", {2029, 0x10, 1, 0}},
    {"NoError", {2000, 0x10, 1, 0}},
    {"NoButton", {2005, 0x10, 0, 0}},
    {"ButtonTypeThree", {2005, 0x10, 3, 0}},
    {"ButtonTypeNegative", {2005, 0x10, -7, 0}},
};
constexpr int kOddRowCount = static_cast<int>(std::size(kOddRows));

class OddValuesTest : public WatcherTest
{
protected:
    int Printers() const override { return 2; }
};

TEST_F(OddValuesTest, DialogShowsWhatTheCatalogueSays)
{
    ASSERT_TRUE(StartWatcher());
    std::vector<HWND> dialogs;
    for (int i = 0; i < kOddRowCount; ++i)
    {
        dialogs.push_back(AddWatchedJob(static_cast<DWORD>(i + 1), 1 + i % 2, &kOddRows[i].values));
        ASSERT_NE(nullptr, dialogs.back()) << kOddRows[i].name;
    }
    // Two reads of every job.
    for (int i = 0; i < kOddRowCount; ++i)
        ASSERT_TRUE(WaitPolls(static_cast<DWORD>(i + 1), 3)) << kOddRows[i].name;
    for (int i = 0; i < kOddRowCount; ++i)
    {
        const Values& v = kOddRows[i].values;
        if (oracle::EffectOf(v.lCode) == Effect::Show)
        {
            EXPECT_TRUE(Shows(dialogs[i], v)) << kOddRows[i].name;
        }
        else
        {
            // Never shown: codes that hide, keep or mean no error leave it hidden.
            EXPECT_FALSE(Visible(dialogs[i])) << kOddRows[i].name;
        }
    }
}

// The reset flag on every poll: a press reaches the printer and the dialog is back at once, from
// the read that follows the press.
TEST_F(WatcherTest, ResetFlagOnEveryPollBringsTheDialogBackAfterEachPress)
{
    const Values v = {2009, 0x1A2B, 1, 1};
    ASSERT_TRUE(StartWatcher());
    const HWND hDlg = AddWatchedJob(1, 1, &v);
    ASSERT_NE(nullptr, hDlg);
    ASSERT_TRUE(WaitShows(hDlg, v));
    for (DWORD press = 1; press <= 3; ++press)
    {
        Press(hDlg);
        EXPECT_TRUE(WaitFor([&] { return Clicks(1) == press; }));
        EXPECT_TRUE(WaitShows(hDlg, v));
    }
}

// ---------------------------------------------------------------------------------------------
// Answers with four entries of odd paths and data.

TEST_F(WatcherTest, AnswersWithOddPathsAndData)
{
    using namespace shapes;
    ASSERT_TRUE(StartWatcher());
    const HWND hDlg = AddWatchedJob(1, 1);
    ASSERT_NE(nullptr, hDlg);
    PlayShapes(
        hDlg,
        {
            {"Normal", Normal(), {2005, 0x11, 1, 0}},
            {"MixedCasePaths",
             {Entry(L"\\PRINTER.MEJOB.MESTATUS:MEERRORCODE", 0),
              Entry(L"\\printer.mejob.mestatus:meerrorcodedetail", 1),
              Entry(L"\\Printer.MEJob.MEStatus:MEShowButtonTYPE", 2),
              Entry(L"\\Printer.mejob.MEStatus:MEButtonResetSw", 3)},
             {2012, 0x22, 2, 0}},
            {"UnknownPaths",
             {Entry(L"\\Printer.MEJob.MEStatus:MEErrorCodes", 0), Entry(L"MEErrorCodeDetail", 1),
              Entry(L"\\Printer.MEJob.MEStatus:", 2), Entry(L"", 3)},
             {2012, 0x22, 2, 0}},
            {"NullPath", NormalWith(0, Entry(nullptr, 0)), {2009, 0x33, 1, 0}},
            {"NullData", NormalWith(1, Entry(kDetail, 1, 0, -1)), {2009, 0x44, 1, 0}},
            {"OneByteData", NormalWith(1, Entry(kDetail, 1, 0, 1)), {2013, 0x55, 1, 0}},
            {"TwoByteCode", NormalWith(0, Entry(kCode, 0, 0, 2)), {2014, 0x66, 2, 0}},
            {"ThreeByteData", NormalWith(1, Entry(kDetail, 1, 0, 3)), {2021, 0x77, 1, 0}},
            {"EmptyData", NormalWith(2, Entry(kButton, 2, 0, 0)), {2022, 0x78, 1, 0}},
            {"RepeatedPathLaterWins",
             {Entry(kCode, -1, 2005), Entry(kCode, 0), Entry(kDetail, 1), Entry(kButton, 2)},
             {2022, 0x88, 1, 0}},
            {"EightByteData", NormalWith(1, Entry(kDetail, 1, 0, 8)), {2009, 0x99, 1, 0}},
            {"OtherReportedTypes", Typed(BIDI_STRING), {2012, 0xAA, 2, 0}},
            {"ContainerPath",
             {Entry(L"\\Printer.MEJob.MEStatus", 0), Entry(L"\\Printer.MEJob.MEStatus", 1),
              Entry(L"\\Printer.MEJob.MEStatus", 2), Entry(L"\\Printer.MEJob.MEStatus", 3)},
             {2012, 0xAA, 2, 0}},
            {"NegativeCodeFromThePrinter", NormalWith(0, Entry(kCode, -1, -1)), {2005, 0xBB, 1, 0}},
        });
}

} // namespace
