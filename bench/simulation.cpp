#include "simulation.h"

namespace bench
{

std::vector<std::wstring> PrepareSession(const std::wstring& session, int printers)
{
    std::vector<std::wstring> names;
    if (!SimAttach(session.c_str()))
        return names;
    SimReset();
    if (!SimAddDriver(kTargetDriver))
        return names;
    for (int i = 1; i <= printers; ++i)
    {
        std::wstring name = L"Photo 470 #" + std::to_wstring(i);
        if (!SimAddPrinter(name.c_str(), kTargetDriver))
            return {};
        names.push_back(name);
    }
    return names;
}

bool CEventLog::Update()
{
    const DWORD dwTotal = SimGetEventCount();
    bool bComplete = true;
    for (; m_dwNext < dwTotal; ++m_dwNext)
    {
        SimEvent e{};
        if (!SimGetEvent(m_dwNext, &e))
        {
            bComplete = false;
            continue;
        }
        JobEvents& job = m_jobs[e.dwJobId];
        switch (e.dwKind)
        {
        case SIM_EV_NOTIFY:
            job.notifies.push_back(e.ullTime);
            break;
        case SIM_EV_STATUS_REQUEST:
            job.requests.push_back(e.ullTime);
            break;
        case SIM_EV_CLICK:
            job.clicks.push_back(e.ullTime);
            break;
        default:
            break;
        }
    }
    return bComplete;
}

size_t CEventLog::RequestCount(DWORD dwJobId) const
{
    const auto it = m_jobs.find(dwJobId);
    return it == m_jobs.end() ? 0 : it->second.requests.size();
}

std::wstring AccountingText()
{
    static constexpr LPCWSTR kNames[SIM_RES_COUNT] = {
        L"printer handles", L"change handles", L"notify blocks", L"IBidiSpl",
        L"IBidiRequest",    L"bindings",       L"task memory"};
    SimAccounting a{};
    SimGetAccounting(&a);
    std::wstring text;
    for (DWORD r = 0; r < SIM_RES_COUNT; ++r)
    {
        if (!text.empty())
            text += L", ";
        text += std::wstring(kNames[r]) + L" " + std::to_wstring(a.lObtained[r]) + L"/" +
                std::to_wstring(a.lReleased[r]);
    }
    return text;
}

} // namespace bench
