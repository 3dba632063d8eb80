// Every bidi call of a job monitor's status read made to fail, with errors the bidi interfaces
// document: a failed read changes nothing on the dialog, the first read that works shows the
// printer's news, and nothing is left with the printer's provider.
#include "watcher_harness.h"

#include <ostream>

namespace
{

using namespace rel;

constexpr oracle::Values kBefore = {2005, 0x0000AB, 1, 0};
constexpr oracle::Values kAfter = {2012, 0x00CDEF, 2, 0};

enum class PollOutcome
{
    Fails, // the read fails: the dialog keeps what it showed
    Works, // the failure does not matter to the read
};

struct PollFailure
{
    const char* name;
    SimCall call;
    HRESULT hr;
    DWORD dwSkip;
    PollOutcome outcome;
    bool bLogged; // the read reaches the printer (a status request is logged) before it fails
};

// Status reads failing on one printer each, all at once: each row has its own printer and job.
const PollFailure kPollRows[] = {
    {"BindHandle", SIM_BIND_DEVICE, E_HANDLE, 0, PollOutcome::Fails, false},
    {"BindPrinterName", SIM_BIND_DEVICE, HRESULT_FROM_WIN32(ERROR_INVALID_PRINTER_NAME), 0,
     PollOutcome::Fails, false},
    {"SendHandle", SIM_SEND_RECV, E_HANDLE, 0, PollOutcome::Fails, false},
    {"SendDeviceOffline", SIM_SEND_RECV, HRESULT_FROM_WIN32(ERROR_BIDI_DEVICE_OFFLINE), 0,
     PollOutcome::Fails, false},
    {"ResultPointer", SIM_GET_RESULT, E_POINTER, 0, PollOutcome::Fails, true},
    {"ResultServerOffline", SIM_RESULT_VALUE, HRESULT_FROM_WIN32(ERROR_BIDI_SERVER_OFFLINE), 0,
     PollOutcome::Fails, true},
    {"ResultSchemaNotSupported", SIM_RESULT_VALUE,
     HRESULT_FROM_WIN32(ERROR_BIDI_SCHEMA_NOT_SUPPORTED), 0, PollOutcome::Fails, true},
    {"EnumCountHandle", SIM_GET_ENUM_COUNT, E_HANDLE, 0, PollOutcome::Fails, true},
    {"OutputDataFirstEntry", SIM_GET_OUTPUT_DATA, E_OUTOFMEMORY, 0, PollOutcome::Fails, true},
    {"OutputDataSecondEntry", SIM_GET_OUTPUT_DATA, E_OUTOFMEMORY, 1, PollOutcome::Fails, true},
    {"OutputDataThirdEntry", SIM_GET_OUTPUT_DATA, E_INVALIDARG, 2, PollOutcome::Fails, true},
    {"OutputDataFourthEntry", SIM_GET_OUTPUT_DATA, E_INVALIDARG, 3, PollOutcome::Fails, true},
    {"UnbindHandle", SIM_UNBIND_DEVICE, E_HANDLE, 0, PollOutcome::Works, true},
};
constexpr int kPollRowCount = static_cast<int>(std::size(kPollRows));

class PrinterPollFailureTest : public WatcherTest
{
protected:
    int Printers() const override { return kPollRowCount; }
};

TEST_F(PrinterPollFailureTest, DialogKeepsWhatItShowedUntilAReadWorks)
{
    ASSERT_TRUE(StartWatcher());
    std::vector<HWND> dialogs;
    for (int i = 0; i < kPollRowCount; ++i)
    {
        dialogs.push_back(AddWatchedJob(static_cast<DWORD>(i + 1), i + 1, &kBefore));
        ASSERT_NE(nullptr, dialogs.back()) << kPollRows[i].name;
    }
    for (int i = 0; i < kPollRowCount; ++i)
        ASSERT_TRUE(WaitShows(dialogs[i], kBefore)) << kPollRows[i].name;

    // Failing from now on, each on its own printer; meanwhile the printers report news.
    std::vector<DWORD> polls;
    for (int i = 0; i < kPollRowCount; ++i)
    {
        const PollFailure& f = kPollRows[i];
        ASSERT_TRUE(
            SimSetFault(f.call, static_cast<DWORD>(f.hr), f.dwSkip, 0, Printer(i + 1).c_str()));
        polls.push_back(Polls(static_cast<DWORD>(i + 1)));
    }
    const ULONGLONG ullArmed = GetTickCount64();
    for (int i = 0; i < kPollRowCount; ++i)
        SetValues(static_cast<DWORD>(i + 1), kAfter);

    // Two reads of every job: counted where they reach the printer, else given the time of two.
    for (int i = 0; i < kPollRowCount; ++i)
    {
        if (kPollRows[i].bLogged)
        {
            ASSERT_TRUE(WaitPolls(static_cast<DWORD>(i + 1), polls[i] + 2)) << kPollRows[i].name;
        }
    }
    while (GetTickCount64() < ullArmed + 2500)
        Sleep(50);
    for (int i = 0; i < kPollRowCount; ++i)
    {
        if (kPollRows[i].outcome == PollOutcome::Fails)
        {
            EXPECT_TRUE(Shows(dialogs[i], kBefore)) << kPollRows[i].name;
        }
        else
        {
            EXPECT_TRUE(Shows(dialogs[i], kAfter)) << kPollRows[i].name;
        }
    }

    SimClearFaults();
    for (int i = 0; i < kPollRowCount; ++i)
        EXPECT_TRUE(WaitShows(dialogs[i], kAfter)) << kPollRows[i].name;
    ASSERT_TRUE(m_watcher->Stop());
    // The failed unbinding dropped its binding with the next one; none stays open.
    EXPECT_GT(SimGetDroppedBindings(), 0u);
}

// Failures of calls that name no printer hit every job; one job each.
class PollFailureTest : public WatcherTest, public ::testing::WithParamInterface<PollFailure>
{
};

TEST_P(PollFailureTest, DialogKeepsWhatItShowedUntilAReadWorks)
{
    const PollFailure& f = GetParam();
    ASSERT_TRUE(StartWatcher());
    const HWND hDlg = AddWatchedJob(1, 1, &kBefore);
    ASSERT_NE(nullptr, hDlg);
    ASSERT_TRUE(WaitShows(hDlg, kBefore));

    SimAccounting a{};
    SimGetAccounting(&a);
    const LONG lRequests = a.lObtained[SIM_RES_BIDI_REQUEST];
    ASSERT_TRUE(SimSetFault(f.call, static_cast<DWORD>(f.hr), f.dwSkip, 0, nullptr));
    const ULONGLONG ullArmed = GetTickCount64();
    SetValues(1, kAfter);
    if (f.call != SIM_CREATE_BIDI_REQUEST)
    {
        // Two reads, each with a request object of its own.
        ASSERT_TRUE(WaitFor(
            [&]
            {
                SimAccounting now{};
                SimGetAccounting(&now);
                return now.lObtained[SIM_RES_BIDI_REQUEST] >= lRequests + 2;
            }));
    }
    while (GetTickCount64() < ullArmed + 2500)
        Sleep(50);
    EXPECT_TRUE(Shows(hDlg, kBefore));
    SimClearFaults();
    EXPECT_TRUE(WaitShows(hDlg, kAfter));
}

INSTANTIATE_TEST_SUITE_P(
    Bidi, PollFailureTest,
    ::testing::Values(PollFailure{"RequestOutOfMemory", SIM_CREATE_BIDI_REQUEST, E_OUTOFMEMORY, 0,
                                  PollOutcome::Fails, false},
                      PollFailure{"RequestNotRegistered", SIM_CREATE_BIDI_REQUEST,
                                  REGDB_E_CLASSNOTREG, 0, PollOutcome::Fails, false},
                      PollFailure{"SchemaInvalid", SIM_SET_SCHEMA, E_INVALIDARG, 0,
                                  PollOutcome::Fails, false},
                      PollFailure{"InputOutOfMemory", SIM_SET_INPUT_DATA, E_OUTOFMEMORY, 0,
                                  PollOutcome::Fails, false}),
    [](const auto& info) { return info.param.name; });

} // namespace
