// What a job's error dialog must show for the values its printer reports, worked out from the
// catalogue and the rules of the status answer, independently of the program's code.
#pragma once

#include <windows.h>
#include <bidispl.h>

#include "quenlo_sim.h"
#include "resource.h"

#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

namespace oracle
{

inline constexpr LONG kNoError = 2000;
inline constexpr LONG kGeneralError = 2023;

// The four values of one status answer.
struct Values
{
    LONG lCode = kNoError;
    LONG lDetail = 0;
    LONG lButton = 0;
    LONG lReset = 0;
};

// What one successful poll does to the dialog.
enum class Effect
{
    Hide,   // no error: the dialog hides
    Keep,   // the dialog is left as it is
    Show,   // the dialog shows a text
    Hidden, // the dialog hides itself: a code whose text is never shown
};

// Codes outside the catalogue show the general printer error.
constexpr LONG ShownCode(LONG lCode)
{
    return (lCode < 2000 || lCode > 2026) ? kGeneralError : lCode;
}

constexpr Effect EffectOf(LONG lCode)
{
    if (lCode == kNoError)
        return Effect::Hide;
    if (lCode == 2028 || lCode == 2029)
        return Effect::Keep;
    const LONG lShown = ShownCode(lCode);
    if (lShown == 2019 || lShown >= 2024)
        return Effect::Hidden;
    return Effect::Show;
}

// Catalogue string `id` of `hModule`, with the detail in its "%06X" placeholder if it has one.
inline std::wstring CatalogueText(HMODULE hModule, UINT id, LONG lDetail)
{
    const WCHAR* pText = nullptr;
    const int cch = LoadStringW(hModule, id, reinterpret_cast<LPWSTR>(&pText), 0);
    if (cch <= 0)
        return L"<no string " + std::to_wstring(id) + L">";
    const std::wstring format(pText, static_cast<size_t>(cch));
    std::wstring text(format.size() + 32, L'\0');
    const int n =
        _snwprintf(text.data(), text.size(), format.c_str(), static_cast<unsigned int>(lDetail));
    text.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return text;
}

// The text the dialog shows for a status whose effect is Show.
inline std::wstring ExpectedText(HMODULE hModule, const Values& v)
{
    return CatalogueText(hModule, static_cast<UINT>(ShownCode(v.lCode)), v.lDetail);
}

// Caption of the button for a non-zero button type: "취소" for 1, "예" for 2, empty otherwise.
inline std::wstring ButtonCaption(HMODULE hModule, LONG lButton)
{
    if (lButton != 1 && lButton != 2)
        return L"";
    const WCHAR* pText = nullptr;
    const int cch = LoadStringW(hModule, lButton == 2 ? IDS_BUTTON_YES : IDS_BUTTON_CANCEL,
                                reinterpret_cast<LPWSTR>(&pText), 0);
    return cch > 0 ? std::wstring(pText, static_cast<size_t>(cch)) : L"";
}

inline constexpr LPCWSTR kValuePaths[4] = {
    L"\\Printer.MEJob.MEStatus:MEErrorCode",
    L"\\Printer.MEJob.MEStatus:MEErrorCodeDetail",
    L"\\Printer.MEJob.MEStatus:MEShowButtonType",
    L"\\Printer.MEJob.MEStatus:MEButtonResetSW",
};

// The status the program reads from an answer of this shape for a job with these values, or
// nothing when the read fails (any count but 4). An entry counts when it has a path, data of at
// least four bytes, and a path equal to one of the four names without regard to case; the later of
// two entries with one path wins; fields without an entry are 0.
inline std::optional<Values> StatusFromAnswer(const std::vector<SimAnswerEntry>& answer,
                                              const Values& job)
{
    if (answer.size() != 4)
        return std::nullopt;
    LONG fields[4] = {};
    const LONG jobFields[4] = {job.lCode, job.lDetail, job.lButton, job.lReset};
    for (const SimAnswerEntry& e : answer)
    {
        if (e.bNullPath || e.bNullData || e.cbData < 4)
            continue;
        for (int i = 0; i < 4; ++i)
        {
            if (CompareStringOrdinal(e.szPath, -1, kValuePaths[i], -1, TRUE) == CSTR_EQUAL)
            {
                fields[i] = e.nValue >= 0 ? jobFields[e.nValue] : e.lValue;
                break;
            }
        }
    }
    return Values{fields[0], fields[1], fields[2], fields[3]};
}

// One answer entry: `path` (null: no path), the job's field `field` (0..3) or the literal `value`
// when field is -1, `cb` bytes of data (-1: no data).
inline SimAnswerEntry Entry(LPCWSTR path, int field, LONG value = 0, int cb = 4,
                            DWORD type = BIDI_INT)
{
    SimAnswerEntry e{};
    if (path == nullptr)
        e.bNullPath = TRUE;
    else
        wcsncpy(e.szPath, path, ARRAYSIZE(e.szPath) - 1);
    e.bNullData = cb < 0;
    e.cbData = cb < 0 ? 0 : static_cast<DWORD>(cb);
    e.nValue = field;
    e.lValue = value;
    e.dwType = type;
    return e;
}

} // namespace oracle
