// Answers of every shape, played one after another on one job. An answer of any count but four
// fails: the dialog keeps what it showed. Four entries always give a status: each entry with a
// path, data of at least four bytes and one of the four names (in any case) sets its field, the
// later of two with one name wins, every other field is 0.
#pragma once

#include "watcher_harness.h"

#include <cstring>
#include <optional>
#include <vector>

namespace shapes
{

using namespace rel;
using oracle::Effect;
using oracle::Entry;
using oracle::Values;

constexpr LPCWSTR kCode = oracle::kValuePaths[0];
constexpr LPCWSTR kDetail = oracle::kValuePaths[1];
constexpr LPCWSTR kButton = oracle::kValuePaths[2];
constexpr LPCWSTR kReset = oracle::kValuePaths[3];

inline std::vector<SimAnswerEntry> Normal()
{
    return {Entry(kCode, 0), Entry(kDetail, 1), Entry(kButton, 2), Entry(kReset, 3)};
}

inline std::vector<SimAnswerEntry> FirstOfNormal(size_t n)
{
    std::vector<SimAnswerEntry> entries = Normal();
    while (entries.size() < n)
        entries.push_back(Entry(kCode, 0));
    entries.resize(n);
    return entries;
}

// The normal answer with one entry replaced.
inline std::vector<SimAnswerEntry> NormalWith(size_t i, const SimAnswerEntry& e)
{
    std::vector<SimAnswerEntry> entries = Normal();
    entries[i] = e;
    return entries;
}

inline std::vector<SimAnswerEntry> Typed(DWORD dwType)
{
    std::vector<SimAnswerEntry> entries = Normal();
    for (SimAnswerEntry& e : entries)
        e.dwType = dwType;
    return entries;
}

struct ShapeRow
{
    const char* name;
    std::vector<SimAnswerEntry> answer;
    Values values; // the job's values behind the answer
};

// Plays the rows one after another on one job (the watcher is running, its dialog is `hDlg`).
inline void PlayShapes(HWND hDlg, const std::vector<ShapeRow>& rows)
{
    bool bVisible = false;
    std::optional<Values> shown;
    for (const ShapeRow& row : rows)
    {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(SimSetAnswer(static_cast<DWORD>(row.answer.size()), row.answer.data()));
        SetValues(1, row.values);
        const ULONGLONG ullChanged = LogTime();
        const std::optional<Values> status = oracle::StatusFromAnswer(row.answer, row.values);
        bool bChanges = false;
        if (status)
        {
            switch (oracle::EffectOf(status->lCode))
            {
            case Effect::Show:
                bChanges =
                    !bVisible || !shown || std::memcmp(&*shown, &*status, sizeof(Values)) != 0;
                bVisible = true;
                shown = status;
                break;
            case Effect::Hide:
            case Effect::Hidden:
                bChanges = bVisible;
                bVisible = false;
                break;
            case Effect::Keep:
                break;
            }
        }
        // What changes is awaited; what must not change is looked at once a read of the new
        // answer has been acted on.
        if (bChanges && bVisible)
        {
            EXPECT_TRUE(WaitShows(hDlg, *shown));
        }
        else if (bChanges)
        {
            EXPECT_TRUE(WaitHidden(hDlg));
        }
        else
        {
            ASSERT_TRUE(WaitReadActedOn(1, ullChanged));
            if (bVisible)
            {
                EXPECT_TRUE(Shows(hDlg, *shown));
            }
            else
            {
                EXPECT_FALSE(Visible(hDlg));
            }
        }
    }
    SimClearAnswer();
}

} // namespace shapes
