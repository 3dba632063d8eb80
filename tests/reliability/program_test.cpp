// The shipped quenlo.exe under failures that end or test its watch: the spooler not running at
// start, the driver removed in the same block as status entries, and a job whose printer answers
// badly and refuses a press. The program must end by itself with exit code 0 where it is asked
// to, keep watching everywhere else, and give back everything it obtained.
#include "outside.h"
#include "process.h"
#include "reliability_util.h"

#include <memory>

namespace
{

using namespace rel;
using bench::CQuenloProcess;

class ProgramTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_session = TestSessionName();
        ASSERT_TRUE(SimAttach(m_session.c_str()));
        SimReset();
        ASSERT_TRUE(SimAddDriver(kTargetDriver));
        ASSERT_TRUE(SimAddPrinter(L"P1", kTargetDriver));
        ASSERT_TRUE(SimAddPrinter(L"P2", kTargetDriver));
    }

    void TearDown() override
    {
        if (m_program.Running())
        {
            EXPECT_GE(m_program.Close(kDeadlineMs), 0.0) << "the program did not end on WM_CLOSE";
            EXPECT_EQ(0u, m_program.ExitCode());
        }
        m_program.Kill();
        SimClearFaults();
        EXPECT_TRUE(SimIsBalanced()) << AccountingText();
    }

    bool Start() { return m_program.Start(outside::ExeDir() + L"quenlo.exe", m_session); }

    bool Ended(DWORD ms = kDeadlineMs)
    {
        return WaitForSingleObject(m_program.Handle(), ms) == WAIT_OBJECT_0;
    }

    // Adds a printing job and returns its dialog once the printer was asked about it.
    HWND AddWatchedJob(DWORD dwJobId, LPCWSTR printer, const oracle::Values& v)
    {
        const std::vector<HWND> before = m_program.Dialogs();
        if (!SimAddJob(printer, dwJobId, JOB_STATUS_PRINTING, nullptr))
            return nullptr;
        SetValues(dwJobId, v);
        if (!WaitPolls(dwJobId, 1))
            return nullptr;
        for (HWND h : m_program.Dialogs())
        {
            if (std::find(before.begin(), before.end(), h) == before.end())
                return h;
        }
        return nullptr;
    }

    // The program's catalogue is the test's: both link the same resources.
    static ::testing::AssertionResult ShowsText(HWND hDlg, const oracle::Values& v)
    {
        if (!Visible(hDlg))
            return ::testing::AssertionFailure() << "hidden";
        if (MessageOf(hDlg) != ExpectedText(v))
            return ::testing::AssertionFailure() << "another text";
        return ::testing::AssertionSuccess();
    }

    std::wstring m_session;
    CQuenloProcess m_program;
};

TEST_F(ProgramTest, SpoolerNotRunningAtStartEndsTheProgram)
{
    ASSERT_TRUE(SimSetFault(SIM_OPEN_PRINTER, RPC_S_SERVER_UNAVAILABLE, 0, 0, L""));
    ASSERT_TRUE(SimAddJob(L"P1", 1, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(Start());
    ASSERT_TRUE(Ended()) << "the program kept running without a spooler";
    EXPECT_EQ(0u, m_program.ExitCode());
    EXPECT_EQ(0u, Polls(1));
    EXPECT_EQ(0u, SimCountRegistrations());
}

TEST_F(ProgramTest, DriverRemovedInTheSameBlockAsStatusEntriesEndsTheProgram)
{
    ASSERT_TRUE(Start());
    ASSERT_TRUE(m_program.WaitWatching(kDeadlineMs));
    const HWND hDlg = AddWatchedJob(1, L"P1", {2009, 0x1A2B, 1, 0});
    ASSERT_NE(nullptr, hDlg);
    ASSERT_TRUE(SimAddJob(L"P2", 2, JOB_STATUS_SPOOLING, nullptr));
    // The watcher's reads fail while the block is made: status entries and the driver deletion.
    ASSERT_TRUE(SimSetFault(SIM_FIND_NEXT_CHANGE, ERROR_NOT_ENOUGH_MEMORY, 0, 0, L""));
    ASSERT_TRUE(SimSetJobStatus(2, JOB_STATUS_PRINTING));
    ASSERT_TRUE(SimQueueEntry(JOB_NOTIFY_TYPE, JOB_NOTIFY_FIELD_STATUS, 1, JOB_STATUS_DELETED));
    ASSERT_TRUE(SimRemoveDriver(kTargetDriver));
    SimClearFaults();
    ASSERT_TRUE(Ended()) << "the program kept running without its driver";
    EXPECT_EQ(0u, m_program.ExitCode());
    EXPECT_EQ(0u, Polls(2)) << "an entry of the block was handled";
}

TEST_F(ProgramTest, BadAnswersAndARefusedPressLeaveItWatching)
{
    const oracle::Values error = {2012, 0x00BEEF, 1, 0};
    ASSERT_TRUE(Start());
    ASSERT_TRUE(m_program.WaitWatching(kDeadlineMs));
    const HWND hDlg = AddWatchedJob(1, L"P1", error);
    ASSERT_NE(nullptr, hDlg);
    ASSERT_TRUE(WaitFor([&] { return static_cast<bool>(ShowsText(hDlg, error)); }));

    // Three entries, then four whose code is three bytes long: the first read fails, the second
    // gives code 0, the general printer error.
    const std::vector<SimAnswerEntry> three = {oracle::Entry(oracle::kValuePaths[0], 0),
                                               oracle::Entry(oracle::kValuePaths[1], 1),
                                               oracle::Entry(oracle::kValuePaths[2], 2)};
    ASSERT_TRUE(SimSetAnswer(3, three.data()));
    const ULONGLONG ullChanged = LogTime();
    ASSERT_TRUE(WaitReadActedOn(1, ullChanged));
    EXPECT_TRUE(ShowsText(hDlg, error));
    std::vector<SimAnswerEntry> shortCode = three;
    shortCode[0].cbData = 3;
    shortCode.push_back(oracle::Entry(oracle::kValuePaths[3], 3));
    ASSERT_TRUE(SimSetAnswer(4, shortCode.data()));
    EXPECT_TRUE(WaitFor([&] { return static_cast<bool>(ShowsText(hDlg, {0, 0x00BEEF, 1, 0})); }));
    SimClearAnswer();
    ASSERT_TRUE(WaitFor([&] { return static_cast<bool>(ShowsText(hDlg, error)); }));

    // A press the printer refuses is forgotten: the dialog is back, and a second press reaches
    // the printer.
    ASSERT_TRUE(PressWithFailure(hDlg, 1, error, SIM_SEND_RECV,
                                 HRESULT_FROM_WIN32(ERROR_BIDI_DEVICE_OFFLINE), L"P1",
                                 ClickOutcome::Refused));
    const DWORD dwClicks = Clicks(1);
    Press(hDlg);
    EXPECT_TRUE(WaitFor([&] { return Clicks(1) > dwClicks; }));

    ASSERT_TRUE(SimDeleteJob(1));
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(hDlg); }));
    EXPECT_TRUE(m_program.Running());
}

} // namespace
