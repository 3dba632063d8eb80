// CBidiClient against the simulated printer: COM state, the printer name, the status answer in
// its good and bad shapes, failures at every step, and the release of everything it obtained.
#include "BidiClient.h"
#include "quenlo_sim.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <winspool.h>

#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

bool operator==(const JobStatus& a, const JobStatus& b)
{
    return a.ErrorCode == b.ErrorCode && a.ErrorCodeDetail == b.ErrorCodeDetail &&
           a.ShowButtonType == b.ShowButtonType && a.ButtonResetSW == b.ButtonResetSW;
}

void PrintTo(const JobStatus& s, std::ostream* os)
{
    *os << "{" << s.ErrorCode << ", " << s.ErrorCodeDetail << ", " << s.ShowButtonType << ", "
        << s.ButtonResetSW << "}";
}

namespace
{

constexpr WCHAR kDriver[] = L"ORLUME 470 Photo Printer";
constexpr WCHAR kPrinter[] = L"Photo Printer A";
constexpr WCHAR kOtherPrinter[] = L"Photo Printer B";
constexpr DWORD kJobId = 70001;
constexpr DWORD kOtherJobId = 70002;
constexpr JobStatus kJobValues = {2005, 0x00ABCDEF, 1, TRUE};
constexpr JobStatus kUntouched = {111, 222, 333, 444};

constexpr WCHAR kErrorCodePath[] = L"\\Printer.MEJob.MEStatus:MEErrorCode";
constexpr WCHAR kDetailPath[] = L"\\Printer.MEJob.MEStatus:MEErrorCodeDetail";
constexpr WCHAR kButtonTypePath[] = L"\\Printer.MEJob.MEStatus:MEShowButtonType";
constexpr WCHAR kResetPath[] = L"\\Printer.MEJob.MEStatus:MEButtonResetSW";

const char* ResourceName(DWORD res)
{
    static const char* const names[SIM_RES_COUNT] = {
        "printer handles", "change handles", "notify blocks", "IBidiSpl",
        "IBidiRequest",    "bindings",       "task memory"};
    return res < SIM_RES_COUNT ? names[res] : "?";
}

std::string AccountingText(const SimAccounting& a)
{
    std::string text;
    for (DWORD res = 0; res < SIM_RES_COUNT; ++res)
    {
        text += std::string(ResourceName(res)) + ": " + std::to_string(a.lObtained[res]) + "/" +
                std::to_string(a.lReleased[res]) + "  ";
    }
    return text;
}

SimAccounting Accounting()
{
    SimAccounting a{};
    SimGetAccounting(&a);
    return a;
}

// Requests, bindings and entry strings are all given back (the IBidiSpl may still be alive).
void ExpectRequestsReleased()
{
    const SimAccounting a = Accounting();
    for (DWORD res : {SIM_RES_BIDI_REQUEST, SIM_RES_BINDING, SIM_RES_TASK_MEM})
        EXPECT_EQ(a.lObtained[res], a.lReleased[res])
            << ResourceName(res) << "; " << AccountingText(a);
}

enum class Apartment
{
    None,
    Sta,
    Mta,
    Unknown
};

const char* ApartmentName(Apartment apt)
{
    switch (apt)
    {
    case Apartment::None:
        return "none";
    case Apartment::Sta:
        return "STA";
    case Apartment::Mta:
        return "MTA";
    default:
        return "unknown";
    }
}

void PrintTo(Apartment apt, std::ostream* os)
{
    *os << ApartmentName(apt);
}

// The calling thread's COM state, left as it was found.
Apartment ProbeApartment()
{
    const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (hr == RPC_E_CHANGED_MODE)
        return Apartment::Mta;
    if (FAILED(hr))
        return Apartment::Unknown;
    CoUninitialize();
    return hr == S_OK ? Apartment::None : Apartment::Sta;
}

template <class F> void RunOnFreshThread(F&& f)
{
    std::thread thread(std::forward<F>(f));
    thread.join();
}

// Every test works in a session of its own (reset, since an earlier run may have left it behind):
// one target printer with one printing job, and an empty second printer.
class BidiClientTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        static int s_nSession = 0;
        const std::wstring session = L"bidi-client-" + std::to_wstring(++s_nSession);
        ASSERT_TRUE(SimAttach(session.c_str()));
        SimReset();
        ASSERT_TRUE(SimAddDriver(kDriver));
        ASSERT_TRUE(SimAddPrinter(kPrinter, kDriver));
        ASSERT_TRUE(SimAddPrinter(kOtherPrinter, kDriver));
        ASSERT_TRUE(SimAddJob(kPrinter, kJobId, JOB_STATUS_PRINTING, nullptr));
        ASSERT_TRUE(SimSetJobValues(kJobId, kJobValues.ErrorCode, kJobValues.ErrorCodeDetail,
                                    kJobValues.ShowButtonType, kJobValues.ButtonResetSW));
    }

    void TearDown() override
    {
        const SimAccounting a = Accounting();
        EXPECT_TRUE(SimIsBalanced()) << AccountingText(a);
    }

    // A client opened on the calling thread with the target printer's name.
    static void OpenForPrinter(CBidiClient& client)
    {
        ASSERT_TRUE(client.Open());
        ASSERT_TRUE(client.SetPrinterName(kPrinter));
    }

    static DWORD ClickCount(DWORD dwJobId = 0) { return SimCountEvents(SIM_EV_CLICK, dwJobId); }

    // The printer named by the last click the simulated printer saw, or "" without one.
    static std::wstring LastClickPrinter()
    {
        std::wstring printer;
        const DWORD count = SimGetEventCount();
        for (DWORD i = 0; i < count; ++i)
        {
            SimEvent ev{};
            if (SimGetEvent(i, &ev) && ev.dwKind == SIM_EV_CLICK)
                printer = ev.szPrinter;
        }
        return printer;
    }
};

// --- Open, Close and the thread's COM state --------------------------------------------------

struct ComCase
{
    const char* name;
    Apartment before;       // the thread's state before the client exists
    bool failCreateBidiSpl; // CoCreateInstance of the bidi spooler fails
    bool expectOpen;
    bool endWithClose; // Close (twice) and reopen before destruction, else destroy while open
};

const ComCase kComCases[] = {
    {"FreshThread_Destroyed", Apartment::None, false, true, false},
    {"FreshThread_Closed", Apartment::None, false, true, true},
    {"AlreadyInMta_Destroyed", Apartment::Mta, false, true, false},
    {"AlreadyInMta_Closed", Apartment::Mta, false, true, true},
    {"InSta_CannotOpen", Apartment::Sta, false, false, false},
    {"CreateFails", Apartment::None, true, false, false},
    {"CreateFailsInMta", Apartment::Mta, true, false, false},
};

class BidiClientComTest : public BidiClientTest, public ::testing::WithParamInterface<ComCase>
{
};

TEST_P(BidiClientComTest, OpenAndCloseKeepTheThreadsComStateBalanced)
{
    const ComCase& c = GetParam();
    if (c.failCreateBidiSpl)
    {
        ASSERT_TRUE(
            SimSetFault(SIM_CREATE_BIDI_SPL, static_cast<DWORD>(E_OUTOFMEMORY), 0, 0, nullptr));
    }

    RunOnFreshThread(
        [&c]
        {
            if (c.before != Apartment::None)
            {
                const DWORD mode =
                    c.before == Apartment::Mta ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED;
                ASSERT_EQ(CoInitializeEx(nullptr, mode), S_OK);
            }
            {
                CBidiClient client;
                client.Close(); // closed: nothing to undo
                EXPECT_EQ(ProbeApartment(), c.before);

                EXPECT_EQ(client.Open(), c.expectOpen ? TRUE : FALSE);
                EXPECT_EQ(ProbeApartment(), c.expectOpen ? Apartment::Mta : c.before);

                if (c.expectOpen)
                {
                    EXPECT_FALSE(client.Open()); // already open: no second initialisation
                    EXPECT_EQ(ProbeApartment(), Apartment::Mta);
                    ASSERT_TRUE(client.SetPrinterName(kPrinter));
                    JobStatus status = kUntouched;
                    EXPECT_TRUE(client.GetJobStatus(kJobId, &status));
                    EXPECT_EQ(status, kJobValues);
                }
                if (c.endWithClose)
                {
                    client.Close();
                    EXPECT_EQ(ProbeApartment(), c.before);
                    client.Close();
                    EXPECT_EQ(ProbeApartment(), c.before);
                    // Reopens, and still holds the name from before Close.
                    ASSERT_TRUE(client.Open());
                    JobStatus status = kUntouched;
                    EXPECT_TRUE(client.GetJobStatus(kJobId, &status));
                    EXPECT_EQ(status, kJobValues);
                }
                if (c.expectOpen)
                {
                    EXPECT_EQ(ProbeApartment(), Apartment::Mta);
                }
            }
            // The client undid exactly its own initialisations: the thread is as it was.
            EXPECT_EQ(ProbeApartment(), c.before);
            if (c.before != Apartment::None)
                CoUninitialize();
            EXPECT_EQ(ProbeApartment(), Apartment::None);
        });

    const SimAccounting a = Accounting();
    const LONG created = !c.expectOpen ? 0 : c.endWithClose ? 2 : 1;
    EXPECT_EQ(a.lObtained[SIM_RES_BIDI_SPL], created) << AccountingText(a);
}

INSTANTIATE_TEST_SUITE_P(Cases, BidiClientComTest, ::testing::ValuesIn(kComCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- The printer name ------------------------------------------------------------------------

struct NameCase
{
    const char* name;
    LPCWSTR pszBefore; // set first (when non-null)
    LPCWSTR pszName;
    BOOL expected;
    LPCWSTR pszBound; // the printer a click reaches afterwards; null: none is held
    DWORD dwJobId;    // the job clicked (one that the bound printer prints)
};

const NameCase kNameCases[] = {
    {"First", nullptr, kPrinter, TRUE, kPrinter, kJobId},
    {"Replaces", kPrinter, kOtherPrinter, TRUE, kOtherPrinter, kOtherJobId},
    {"NullWithoutName", nullptr, nullptr, FALSE, nullptr, kJobId},
    {"EmptyWithoutName", nullptr, L"", FALSE, nullptr, kJobId},
    {"NullDropsName", kPrinter, nullptr, FALSE, nullptr, kJobId},
    {"EmptyDropsName", kPrinter, L"", FALSE, nullptr, kJobId},
};

class BidiClientNameTest : public BidiClientTest, public ::testing::WithParamInterface<NameCase>
{
};

TEST_P(BidiClientNameTest, SetPrinterNameDecidesWhichPrinterIsBound)
{
    const NameCase& c = GetParam();
    ASSERT_TRUE(SimAddJob(kOtherPrinter, kOtherJobId, JOB_STATUS_PRINTING, nullptr));
    CBidiClient client;
    ASSERT_TRUE(client.Open());
    if (c.pszBefore != nullptr)
    {
        ASSERT_TRUE(client.SetPrinterName(c.pszBefore));
    }

    EXPECT_EQ(client.SetPrinterName(c.pszName), c.expected);

    if (c.pszBound != nullptr)
    {
        EXPECT_TRUE(client.SendCancelClick(c.dwJobId));
        EXPECT_EQ(ClickCount(c.dwJobId), 1u);
        EXPECT_EQ(LastClickPrinter(), c.pszBound);
    }
    else
    {
        EXPECT_FALSE(client.SendCancelClick(c.dwJobId));
        EXPECT_EQ(ClickCount(), 0u);
    }
    ExpectRequestsReleased();
}

INSTANTIATE_TEST_SUITE_P(Cases, BidiClientNameTest, ::testing::ValuesIn(kNameCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(BidiClientTest, KeepsItsOwnCopyOfThePrinterName)
{
    CBidiClient client;
    ASSERT_TRUE(client.Open());
    std::wstring name = kPrinter;
    ASSERT_TRUE(client.SetPrinterName(name.c_str()));
    name.assign(name.size(), L'x');

    EXPECT_TRUE(client.SendCancelClick(kJobId));
    EXPECT_EQ(LastClickPrinter(), kPrinter);
}

// --- Reading the status ----------------------------------------------------------------------

TEST_F(BidiClientTest, ReadsTheValuesOfTheRequestedJob)
{
    const JobStatus other = {2017, -1, 0, FALSE};
    ASSERT_TRUE(SimAddJob(kPrinter, kOtherJobId, JOB_STATUS_PRINTING, nullptr));
    ASSERT_TRUE(SimSetJobValues(kOtherJobId, other.ErrorCode, other.ErrorCodeDetail,
                                other.ShowButtonType, other.ButtonResetSW));
    CBidiClient client;
    OpenForPrinter(client);

    JobStatus status = kUntouched;
    EXPECT_TRUE(client.GetJobStatus(kJobId, &status));
    EXPECT_EQ(status, kJobValues);
    EXPECT_TRUE(client.GetJobStatus(kOtherJobId, &status));
    EXPECT_EQ(status, other);

    EXPECT_EQ(SimCountEvents(SIM_EV_STATUS_REQUEST, kJobId), 1u);
    EXPECT_EQ(SimCountEvents(SIM_EV_STATUS_REQUEST, kOtherJobId), 1u);
    EXPECT_EQ(ClickCount(), 0u);
    ExpectRequestsReleased();
}

SimAnswerEntry Entry(LPCWSTR pszPath, LONG lValue, DWORD cbData = 4, DWORD dwType = BIDI_INT)
{
    SimAnswerEntry e{};
    lstrcpynW(e.szPath, pszPath, ARRAYSIZE(e.szPath));
    e.cbData = cbData;
    e.nValue = -1;
    e.lValue = lValue;
    e.dwType = dwType;
    return e;
}

SimAnswerEntry NullPath(LONG lValue)
{
    SimAnswerEntry e = Entry(L"", lValue);
    e.bNullPath = TRUE;
    return e;
}

SimAnswerEntry NullData(LPCWSTR pszPath)
{
    SimAnswerEntry e = Entry(pszPath, 0x7B7B7B7B);
    e.bNullData = TRUE;
    return e;
}

struct AnswerCase
{
    const char* name;
    std::vector<SimAnswerEntry> entries;
    BOOL expected;
    JobStatus status; // the record afterwards
};

const std::vector<AnswerCase>& AnswerCases()
{
    static const std::vector<AnswerCase> cases = {
        {"FourEntries",
         {Entry(kErrorCodePath, 2003), Entry(kDetailPath, -2), Entry(kButtonTypePath, 2),
          Entry(kResetPath, 1, 4, BIDI_BOOL)},
         TRUE,
         {2003, -2, 2, 1}},
        {"AnyOrder",
         {Entry(kResetPath, 1), Entry(kButtonTypePath, 2), Entry(kDetailPath, 0x123456),
          Entry(kErrorCodePath, 2010)},
         TRUE,
         {2010, 0x123456, 2, 1}},
        {"NoEntries", {}, FALSE, kUntouched},
        {"ThreeEntries",
         {Entry(kErrorCodePath, 2003), Entry(kDetailPath, 7), Entry(kButtonTypePath, 1)},
         FALSE,
         kUntouched},
        {"FiveEntries",
         {Entry(kErrorCodePath, 2003), Entry(kDetailPath, 7), Entry(kButtonTypePath, 1),
          Entry(kResetPath, 1), Entry(L"\\Printer.MEJob.MEStatus:MEOther", 9)},
         FALSE,
         kUntouched},
        {"UnknownPaths",
         {Entry(L"\\Printer.MEJob.MEStatus", 2003),
          Entry(L"\\Printer.MEJob.MEStatus:MEErrorCodeX", 2004),
          Entry(L"\\Printer.MEJob.MEStatus:MEErrorCod", 2005), Entry(L"", 2006)},
         TRUE,
         {0, 0, 0, 0}},
        {"LetterCase",
         {Entry(L"\\printer.mejob.mestatus:meerrorcode", 2011),
          Entry(L"\\PRINTER.MEJOB.MESTATUS:MEERRORCODEDETAIL", 12),
          Entry(L"\\Printer.MEJob.MEStatus:meShowButtonTYPE", 2),
          Entry(L"\\pRINTER.mEjOB.mEsTATUS:mEbUTTONrESETsw", 1)},
         TRUE,
         {2011, 12, 2, 1}},
        {"TypeNotExamined",
         {Entry(kErrorCodePath, 2012, 4, BIDI_STRING), Entry(kDetailPath, 5, 4, BIDI_NULL),
          Entry(kButtonTypePath, 1, 4, BIDI_BLOB), Entry(kResetPath, 1, 4, BIDI_INT)},
         TRUE,
         {2012, 5, 1, 1}},
        {"NullPathOrData",
         {NullPath(2013), NullData(kDetailPath), Entry(kButtonTypePath, 2), Entry(kResetPath, 1)},
         TRUE,
         {0, 0, 2, 1}},
        {"ShortData",
         {Entry(kErrorCodePath, 0x11223344, 1), Entry(kDetailPath, 0x11223344, 2),
          Entry(kButtonTypePath, 0x11223344, 3), Entry(kResetPath, 0x11223344, 0)},
         TRUE,
         {0, 0, 0, 0}},
        {"LaterDuplicateWins",
         {Entry(kErrorCodePath, 2001), Entry(kDetailPath, 3), Entry(kErrorCodePath, 2002),
          Entry(L"\\PRINTER.MEJOB.MESTATUS:MEERRORCODE", 2014)},
         TRUE,
         {2014, 3, 0, 0}},
        {"SkippedDuplicateKeepsValue",
         {Entry(kErrorCodePath, 2015), NullData(kErrorCodePath), Entry(kDetailPath, 4),
          Entry(kDetailPath, 0x11223344, 2)},
         TRUE,
         {2015, 4, 0, 0}},
    };
    return cases;
}

class BidiClientAnswerTest : public BidiClientTest, public ::testing::WithParamInterface<size_t>
{
};

TEST_P(BidiClientAnswerTest, BuildsTheRecordFromTheAnswer)
{
    const AnswerCase& c = AnswerCases()[GetParam()];
    ASSERT_TRUE(SimSetAnswer(static_cast<DWORD>(c.entries.size()), c.entries.data()));
    CBidiClient client;
    OpenForPrinter(client);

    JobStatus status = kUntouched;
    EXPECT_EQ(client.GetJobStatus(kJobId, &status), c.expected);
    EXPECT_EQ(status, c.status);
    ExpectRequestsReleased();
}

INSTANTIATE_TEST_SUITE_P(Cases, BidiClientAnswerTest,
                         ::testing::Range<size_t>(0, AnswerCases().size()),
                         [](const auto& info)
                         { return std::string(AnswerCases()[info.param].name); });

// --- Failures at every step ------------------------------------------------------------------

enum class Request
{
    Status,
    Click
};

struct FaultCase
{
    const char* name;
    Request request;
    SimCall call;
    DWORD skip;      // matching calls that succeed first
    HRESULT hr;      // what the failing call returns (or delivers, for SIM_RESULT_VALUE)
    BOOL expected;   // the request's result
    LONG bindings;   // successful BindDevice calls
    LONG unbindings; // bindings released before Close
};

constexpr HRESULT kNotReady = HRESULT_FROM_WIN32(ERROR_NOT_READY);

const FaultCase kFaultCases[] = {
    {"Status_CreateRequest", Request::Status, SIM_CREATE_BIDI_REQUEST, 0, E_OUTOFMEMORY, FALSE, 0,
     0},
    {"Status_SetSchema", Request::Status, SIM_SET_SCHEMA, 0, E_INVALIDARG, FALSE, 0, 0},
    {"Status_SetInputData", Request::Status, SIM_SET_INPUT_DATA, 0, E_INVALIDARG, FALSE, 0, 0},
    {"Status_BindDevice", Request::Status, SIM_BIND_DEVICE, 0, kNotReady, FALSE, 0, 0},
    {"Status_SendRecv", Request::Status, SIM_SEND_RECV, 0, kNotReady, FALSE, 1, 1},
    {"Status_GetResult", Request::Status, SIM_GET_RESULT, 0, E_FAIL, FALSE, 1, 1},
    {"Status_NegativeResult", Request::Status, SIM_RESULT_VALUE, 0, kNotReady, FALSE, 1, 1},
    {"Status_PositiveResult", Request::Status, SIM_RESULT_VALUE, 0, S_FALSE, TRUE, 1, 1},
    {"Status_GetEnumCount", Request::Status, SIM_GET_ENUM_COUNT, 0, E_FAIL, FALSE, 1, 1},
    {"Status_GetOutputData0", Request::Status, SIM_GET_OUTPUT_DATA, 0, E_FAIL, FALSE, 1, 1},
    {"Status_GetOutputData1", Request::Status, SIM_GET_OUTPUT_DATA, 1, E_FAIL, FALSE, 1, 1},
    {"Status_GetOutputData2", Request::Status, SIM_GET_OUTPUT_DATA, 2, E_FAIL, FALSE, 1, 1},
    {"Status_GetOutputData3", Request::Status, SIM_GET_OUTPUT_DATA, 3, E_FAIL, FALSE, 1, 1},
    {"Status_UnbindIgnored", Request::Status, SIM_UNBIND_DEVICE, 0, E_FAIL, TRUE, 1, 0},
    {"Click_CreateRequest", Request::Click, SIM_CREATE_BIDI_REQUEST, 0, E_OUTOFMEMORY, FALSE, 0, 0},
    {"Click_SetSchema", Request::Click, SIM_SET_SCHEMA, 0, E_INVALIDARG, FALSE, 0, 0},
    {"Click_SetInputData", Request::Click, SIM_SET_INPUT_DATA, 0, E_INVALIDARG, FALSE, 0, 0},
    {"Click_BindDevice", Request::Click, SIM_BIND_DEVICE, 0, kNotReady, FALSE, 0, 0},
    {"Click_SendRecv", Request::Click, SIM_SEND_RECV, 0, kNotReady, FALSE, 1, 1},
    {"Click_GetResult", Request::Click, SIM_GET_RESULT, 0, E_FAIL, FALSE, 1, 1},
    {"Click_NegativeResult", Request::Click, SIM_RESULT_VALUE, 0, kNotReady, FALSE, 1, 1},
    {"Click_PositiveResult", Request::Click, SIM_RESULT_VALUE, 0, S_FALSE, TRUE, 1, 1},
    {"Click_ReadsNoOutput", Request::Click, SIM_GET_OUTPUT_DATA, 0, E_FAIL, TRUE, 1, 1},
    {"Click_UnbindIgnored", Request::Click, SIM_UNBIND_DEVICE, 0, E_FAIL, TRUE, 1, 0},
};

class BidiClientFaultTest : public BidiClientTest, public ::testing::WithParamInterface<FaultCase>
{
};

TEST_P(BidiClientFaultTest, FailedStepFailsTheRequestAndReleasesWhatItGot)
{
    const FaultCase& c = GetParam();
    CBidiClient client;
    OpenForPrinter(client);
    // Without a binding there is nothing to unbind. A stray UnbindDevice leaves no trace in the
    // accounting (the printer answers E_HANDLE), but it uses up a pending one-shot unbind fault.
    const bool bNothingBound = c.bindings == 0;
    if (bNothingBound)
    {
        ASSERT_TRUE(SimSetFault(SIM_UNBIND_DEVICE, static_cast<DWORD>(E_FAIL), 0, 1, nullptr));
    }
    ASSERT_TRUE(SimSetFault(c.call, static_cast<DWORD>(c.hr), c.skip, 1, nullptr));

    if (c.request == Request::Status)
    {
        JobStatus status = kUntouched;
        EXPECT_EQ(client.GetJobStatus(kJobId, &status), c.expected);
        EXPECT_EQ(status, c.expected ? kJobValues : kUntouched);
    }
    else
    {
        EXPECT_EQ(client.SendCancelClick(kJobId), c.expected);
        // (The printer logs a click when it receives one, before the client reads the result.)
        if (c.expected)
        {
            EXPECT_EQ(ClickCount(kJobId), 1u);
        }
    }

    const SimAccounting a = Accounting();
    EXPECT_EQ(a.lObtained[SIM_RES_BINDING], c.bindings) << AccountingText(a);
    EXPECT_EQ(a.lReleased[SIM_RES_BINDING], c.unbindings) << AccountingText(a);
    for (DWORD res : {SIM_RES_BIDI_REQUEST, SIM_RES_TASK_MEM})
        EXPECT_EQ(a.lObtained[res], a.lReleased[res])
            << ResourceName(res) << "; " << AccountingText(a);

    if (bNothingBound)
    {
        // Still armed, the unbind fault fails the next request's own UnbindDevice (whose result
        // does not matter), so that binding stays until a later bind or Close drops it.
        JobStatus status = kUntouched;
        EXPECT_TRUE(client.GetJobStatus(kJobId, &status));
        const SimAccounting b = Accounting();
        EXPECT_EQ(b.lObtained[SIM_RES_BINDING], 1) << AccountingText(b);
        EXPECT_EQ(b.lReleased[SIM_RES_BINDING], 0) << "UnbindDevice without a binding";
    }

    // The failure leaves the client usable.
    SimClearFaults();
    JobStatus status = kUntouched;
    EXPECT_TRUE(client.GetJobStatus(kJobId, &status));
    EXPECT_EQ(status, kJobValues);
}

INSTANTIATE_TEST_SUITE_P(Cases, BidiClientFaultTest, ::testing::ValuesIn(kFaultCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A misuse that would otherwise dereference null fails instead, and asks the printer nothing.
TEST_F(BidiClientTest, RequestsWithoutAnOpenClientOrARecordFail)
{
    CBidiClient client;
    ASSERT_TRUE(client.SetPrinterName(kPrinter));
    JobStatus status = kUntouched;
    EXPECT_FALSE(client.GetJobStatus(kJobId, &status));
    EXPECT_FALSE(client.SendCancelClick(kJobId));

    ASSERT_TRUE(client.Open());
    EXPECT_FALSE(client.GetJobStatus(kJobId, nullptr));
    client.Close();
    EXPECT_FALSE(client.GetJobStatus(kJobId, &status));
    EXPECT_FALSE(client.SendCancelClick(kJobId));

    EXPECT_EQ(status, kUntouched);
    EXPECT_EQ(SimCountEvents(SIM_EV_STATUS_REQUEST, 0), 0u);
    EXPECT_EQ(ClickCount(), 0u);
    EXPECT_EQ(Accounting().lObtained[SIM_RES_BIDI_REQUEST], 0);
}

// --- The cancel click ------------------------------------------------------------------------

TEST_F(BidiClientTest, ClickReachesThePrinterForTheJob)
{
    CBidiClient client;
    OpenForPrinter(client);

    EXPECT_TRUE(client.SendCancelClick(kJobId));

    EXPECT_EQ(ClickCount(kJobId), 1u);
    EXPECT_EQ(ClickCount(), 1u);
    EXPECT_EQ(LastClickPrinter(), kPrinter);
    EXPECT_EQ(SimCountEvents(SIM_EV_STATUS_REQUEST, 0), 0u);
    ExpectRequestsReleased();
}

} // namespace
