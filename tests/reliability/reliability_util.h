// What the reliability tests look at from outside the program: the printer's event log, the
// simulator's accounting and the dialogs' windows, with what they must show.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include "dialog_oracle.h"
#include "outside.h"
#include "quenlo_sim.h"
#include "sim_session.h"
#include "wait_for.h"

#include <algorithm>
#include <string>
#include <vector>

namespace rel
{

inline constexpr WCHAR kTargetDriver[] = L"ORLUME 470 Photo Printer";
inline constexpr WCHAR kOtherDriver[] = L"Generic Text Only";

using qtest::AccountingText;
using qtest::kDeadlineMs;
using qtest::WaitFor;

// A session of its own for every test.
inline std::wstring TestSessionName()
{
    return qtest::HashedSessionName(L"rel");
}

// Resources the simulator handed out and did not get back, per kind.
inline std::vector<LONG> Held()
{
    SimAccounting a{};
    SimGetAccounting(&a);
    std::vector<LONG> held(SIM_RES_COUNT);
    for (DWORD r = 0; r < SIM_RES_COUNT; ++r)
        held[r] = a.lObtained[r] - a.lReleased[r];
    return held;
}

inline DWORD Polls(DWORD dwJobId)
{
    return SimCountEvents(SIM_EV_STATUS_REQUEST, dwJobId);
}

inline DWORD Clicks(DWORD dwJobId)
{
    return SimCountEvents(SIM_EV_CLICK, dwJobId);
}

inline bool WaitPolls(DWORD dwJobId, DWORD n, DWORD ms = kDeadlineMs)
{
    return WaitFor([=] { return Polls(dwJobId) >= n; }, ms);
}

// The clock of the simulator's event log.
inline ULONGLONG LogTime()
{
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    return (static_cast<ULONGLONG>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// Status requests for the job logged after `ullTime`: the printer answered them with what it
// held at that time or later.
inline DWORD PollsAfter(DWORD dwJobId, ULONGLONG ullTime)
{
    DWORD n = 0;
    const DWORD total = SimGetEventCount();
    for (DWORD i = total; i-- > 0;)
    {
        SimEvent e{};
        if (!SimGetEvent(i, &e) || e.ullTime <= ullTime)
            break;
        n += (e.dwKind == SIM_EV_STATUS_REQUEST && e.dwJobId == dwJobId) ? 1 : 0;
    }
    return n;
}

// Waits until a read made after `ullTime` has been acted on: the one after it has begun.
inline bool WaitReadActedOn(DWORD dwJobId, ULONGLONG ullTime)
{
    return WaitFor([=] { return PollsAfter(dwJobId, ullTime) >= 2; });
}

// The dialog windows of this process, visible or not.
inline std::vector<HWND> Dialogs()
{
    return outside::TopWindows(GetCurrentProcessId(), outside::kDialogClass, nullptr);
}

inline std::wstring TextOf(HWND hWnd)
{
    WCHAR szText[512] = {};
    GetWindowTextW(hWnd, szText, ARRAYSIZE(szText));
    return szText;
}

inline std::wstring MessageOf(HWND hDlg)
{
    return TextOf(GetDlgItem(hDlg, IDC_MSGTEXT));
}

inline bool Visible(HWND hWnd)
{
    return IsWindowVisible(hWnd) != FALSE;
}

// The catalogue is in this test program's resources, as it is in the program's.
inline std::wstring ExpectedText(const oracle::Values& v)
{
    return oracle::ExpectedText(GetModuleHandleW(nullptr), v);
}

// The dialog shows the text and button of `v`.
inline ::testing::AssertionResult Shows(HWND hDlg, const oracle::Values& v)
{
    if (!Visible(hDlg))
        return ::testing::AssertionFailure() << "the dialog is hidden";
    const std::wstring text = MessageOf(hDlg);
    if (text != ExpectedText(v))
        return ::testing::AssertionFailure() << "the dialog shows another text (code " << v.lCode
                                             << ", detail " << v.lDetail << ")";
    const HWND hButton = GetDlgItem(hDlg, IDCANCEL);
    if (Visible(hButton) != (v.lButton != 0))
        return ::testing::AssertionFailure() << "the button is " << (Visible(hButton) ? "" : "not ")
                                             << "visible for button type " << v.lButton;
    if (v.lButton != 0 && v.lButton != -1)
    {
        const std::wstring caption = TextOf(hButton);
        const std::wstring expected = oracle::ButtonCaption(GetModuleHandleW(nullptr), v.lButton);
        if (caption != expected)
            return ::testing::AssertionFailure()
                   << "the button has another caption for type " << v.lButton;
    }
    return ::testing::AssertionSuccess();
}

inline bool WaitShows(HWND hDlg, const oracle::Values& v, DWORD ms = kDeadlineMs)
{
    return WaitFor([&] { return static_cast<bool>(Shows(hDlg, v)); }, ms);
}

inline bool WaitHidden(HWND hDlg, DWORD ms = kDeadlineMs)
{
    return WaitFor([&] { return !Visible(hDlg); }, ms);
}

// The four values the printer reports for the job.
inline void SetValues(DWORD dwJobId, const oracle::Values& v)
{
    SimSetJobValues(dwJobId, v.lCode, v.lDetail, v.lButton, v.lReset);
}

// Presses the dialog's button the way a user's click arrives.
inline void Press(HWND hDlg)
{
    DWORD_PTR result = 0;
    SendMessageTimeoutW(GetDlgItem(hDlg, IDCANCEL), BM_CLICK, 0, 0, SMTO_NORMAL, kDeadlineMs,
                        &result);
}

// What a failure of the cancel-click leaves.
enum class ClickOutcome
{
    Refused,     // the printer saw nothing; the press is forgotten, the dialog is back
    Unconfirmed, // the printer saw it but its result is lost; the dialog is back all the same
    Delivered,   // the printer took it; the dialog stays hidden until the printer resets
};

// Presses the button of the dialog (showing `shown` for the job) while `call` fails once with
// `hr` for calls about `about`, and checks the outcome. The failure must meet the click, not a
// read: it is set right after a read and the press follows at once, the next timed read being a
// second away. Should a read take it all the same (the press then goes through), the attempt is
// repeated. Afterwards the dialog shows `shown` again and no failure is set.
inline ::testing::AssertionResult PressWithFailure(HWND hDlg, DWORD dwJobId,
                                                   const oracle::Values& shown, SimCall call,
                                                   HRESULT hr, LPCWSTR about, ClickOutcome outcome)
{
    const oracle::Values reset = {shown.lCode, shown.lDetail, shown.lButton, 1};
    for (int attempt = 0; attempt < 3; ++attempt)
    {
        if (!WaitPolls(dwJobId, Polls(dwJobId) + 1))
            return ::testing::AssertionFailure() << "the job is not read";
        Sleep(100); // the rest of that read
        if (!SimSetFault(call, static_cast<DWORD>(hr), 0, 1, about))
            return ::testing::AssertionFailure() << "SimSetFault failed";
        const DWORD dwClicks = Clicks(dwJobId);
        const DWORD dwPressed = Polls(dwJobId);
        Press(hDlg);
        // The read right after the press, and the timed one after it.
        const bool bRead = WaitPolls(dwJobId, dwPressed + 2);
        const bool bClicked = Clicks(dwJobId) > dwClicks;
        const bool bBack = Visible(hDlg);
        SimClearFaults();
        if (!bRead)
            return ::testing::AssertionFailure() << "no read after the press";
        const bool bMet = outcome == ClickOutcome::Refused       ? !bClicked && bBack
                          : outcome == ClickOutcome::Unconfirmed ? bClicked && bBack
                                                                 : bClicked && !bBack;
        if (bMet)
        {
            if (outcome == ClickOutcome::Delivered)
            {
                // Hidden until the printer resets.
                SetValues(dwJobId, reset);
                const bool bShown = WaitShows(hDlg, shown);
                SetValues(dwJobId, shown);
                if (!bShown)
                    return ::testing::AssertionFailure() << "not shown after the reset";
            }
            else if (!Shows(hDlg, shown))
            {
                return ::testing::AssertionFailure() << "the dialog is back with another face";
            }
            return ::testing::AssertionSuccess();
        }
        if (!bClicked || bBack)
            return ::testing::AssertionFailure()
                   << "clicked " << bClicked << ", dialog back " << bBack;
        // The press went through: have the printer reset it for the next attempt.
        SetValues(dwJobId, reset);
        const bool bShown = WaitShows(hDlg, shown);
        SetValues(dwJobId, shown);
        if (!bShown)
            return ::testing::AssertionFailure() << "not shown after the reset";
    }
    return ::testing::AssertionFailure() << "the failure never met the click";
}

} // namespace rel
