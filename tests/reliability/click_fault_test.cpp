// The cancel-click made to fail at each of its bidi calls, with errors the bidi interfaces
// document: the press is forgotten unless the printer took it, so the user can press again.
#include "watcher_harness.h"

#include <ostream>

namespace
{

using namespace rel;

constexpr oracle::Values kBefore = {2005, 0x0000AB, 1, 0};

// ---------------------------------------------------------------------------------------------
// The cancel-click fails at each of its calls. The press hid the dialog; a notice the printer did
// not take is forgotten, so the dialog comes back at the read that follows at once and the user
// can press again. A notice that reached the printer but whose result cannot be read counts as
// not taken. A failed unbinding does not matter.

struct ClickFailure
{
    const char* name;
    SimCall call;
    HRESULT hr;
    bool bAboutPrinter; // the call names the printer
    ClickOutcome outcome;
};

void PrintTo(const ClickFailure& f, std::ostream* os)
{
    *os << f.name;
}

class ClickFailureTest : public WatcherTest, public ::testing::WithParamInterface<ClickFailure>
{
};

TEST_P(ClickFailureTest, PressIsForgottenUnlessThePrinterTookIt)
{
    const ClickFailure& f = GetParam();
    ASSERT_TRUE(StartWatcher());
    const HWND hDlg = AddWatchedJob(1, 1, &kBefore);
    ASSERT_NE(nullptr, hDlg);
    ASSERT_TRUE(WaitShows(hDlg, kBefore));

    ASSERT_TRUE(PressWithFailure(hDlg, 1, kBefore, f.call, f.hr,
                                 f.bAboutPrinter ? Printer(1).c_str() : nullptr, f.outcome));
    // Back with what it showed: a press reaches the printer now.
    const DWORD dwClicks = Clicks(1);
    Press(hDlg);
    EXPECT_TRUE(WaitFor([&] { return Clicks(1) > dwClicks; }));
}

INSTANTIATE_TEST_SUITE_P(
    Bidi, ClickFailureTest,
    ::testing::Values(
        ClickFailure{"RequestOutOfMemory", SIM_CREATE_BIDI_REQUEST, E_OUTOFMEMORY, false,
                     ClickOutcome::Refused},
        ClickFailure{"SchemaInvalid", SIM_SET_SCHEMA, E_INVALIDARG, false, ClickOutcome::Refused},
        ClickFailure{"InputOutOfMemory", SIM_SET_INPUT_DATA, E_OUTOFMEMORY, false,
                     ClickOutcome::Refused},
        ClickFailure{"BindHandle", SIM_BIND_DEVICE, E_HANDLE, true, ClickOutcome::Refused},
        ClickFailure{"SendDeviceOffline", SIM_SEND_RECV,
                     HRESULT_FROM_WIN32(ERROR_BIDI_DEVICE_OFFLINE), true, ClickOutcome::Refused},
        ClickFailure{"ResultHandle", SIM_GET_RESULT, E_HANDLE, true, ClickOutcome::Unconfirmed},
        ClickFailure{"ResultServerOffline", SIM_RESULT_VALUE,
                     HRESULT_FROM_WIN32(ERROR_BIDI_SERVER_OFFLINE), true,
                     ClickOutcome::Unconfirmed},
        ClickFailure{"UnbindHandle", SIM_UNBIND_DEVICE, E_HANDLE, true, ClickOutcome::Delivered}),
    [](const auto& info) { return info.param.name; });

} // namespace
