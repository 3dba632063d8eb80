// The simulated printer's bidi provider, through CoCreateInstance as a client sees it.
#include <objbase.h>

#include <cstring>
#include <optional>

#include "guids.h"
#include "sim_test_util.h"

using namespace simtest;
using quenlo::sim::kClsidBidiRequest;
using quenlo::sim::kClsidBidiSpl;
using quenlo::sim::kIidBidiRequest;
using quenlo::sim::kIidBidiSpl;

namespace
{

constexpr WCHAR kPrinter[] = L"Photo 470";
constexpr WCHAR kOtherPrinter[] = L"Photo 470 (2)";
constexpr WCHAR kDriver[] = L"ORLUME 470 Photo Printer";
constexpr WCHAR kStatus[] = L"\\Printer.MEJob.MEStatus";
constexpr WCHAR kClick[] = L"\\Printer.MEJob:MEClickCancelButton";
constexpr WCHAR kErrorCode[] = L"\\Printer.MEJob.MEStatus:MEErrorCode";
constexpr WCHAR kDetail[] = L"\\Printer.MEJob.MEStatus:MEErrorCodeDetail";
constexpr WCHAR kButton[] = L"\\Printer.MEJob.MEStatus:MEShowButtonType";
constexpr WCHAR kReset[] = L"\\Printer.MEJob.MEStatus:MEButtonResetSW";

constexpr HRESULT kGetArgumentNotSupported = HRESULT_FROM_WIN32(13012);
constexpr HRESULT kGetMissingArgument = HRESULT_FROM_WIN32(13013);
constexpr HRESULT kSetUnknownFailure = HRESULT_FROM_WIN32(13009);
constexpr HRESULT kSchemaWriteOnly = HRESULT_FROM_WIN32(13010);
constexpr HRESULT kSetDifferentType = HRESULT_FROM_WIN32(13006);

struct Entry
{
    bool bNullPath = true;
    std::wstring path;
    DWORD dwType = 0;
    bool bNullData = true;
    std::vector<BYTE> data;

    LONG Value() const
    {
        LONG v = 0;
        std::memcpy(&v, data.data(), data.size() < 4 ? data.size() : 4);
        return v;
    }
};

struct Reply
{
    HRESULT hrSend = E_FAIL;
    HRESULT hrResult = E_FAIL;
    std::vector<Entry> entries;
};

struct Input
{
    DWORD dwType;
    std::vector<BYTE> data;
};

Input JobInput(DWORD jobId)
{
    Input in{BIDI_INT, std::vector<BYTE>(4)};
    std::memcpy(in.data.data(), &jobId, 4);
    return in;
}

class BidiTest : public SimTest
{
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        ASSERT_TRUE(SimAddDriver(kDriver));
        ASSERT_TRUE(SimAddPrinter(kPrinter, kDriver));
        ASSERT_TRUE(SimAddPrinter(kOtherPrinter, kDriver));
        ASSERT_TRUE(SimAddJob(kPrinter, 7, JOB_STATUS_PRINTING, nullptr));
        ASSERT_TRUE(SimAddJob(kOtherPrinter, 8, JOB_STATUS_PRINTING, nullptr));
    }
    void TearDown() override { CoUninitialize(); }

    // One request, the way a client makes it; everything it obtains is given back.
    static Reply Ask(LPCWSTR printer, LPCWSTR action, const wchar_t* schema,
                     std::optional<Input> input)
    {
        Reply reply;
        ComRef<IBidiSpl> spl;
        ComRef<IBidiRequest> request;
        EXPECT_EQ(S_OK, CoCreateInstance(kClsidBidiSpl, nullptr, CLSCTX_INPROC_SERVER, kIidBidiSpl,
                                         spl.PutVoid()));
        EXPECT_EQ(S_OK, CoCreateInstance(kClsidBidiRequest, nullptr, CLSCTX_INPROC_SERVER,
                                         kIidBidiRequest, request.PutVoid()));
        if (spl.Get() == nullptr || request.Get() == nullptr)
            return reply;
        if (schema != nullptr)
        {
            EXPECT_EQ(S_OK, request->SetSchema(schema));
        }
        if (input)
        {
            EXPECT_EQ(S_OK, request->SetInputData(input->dwType, input->data.data(),
                                                  static_cast<UINT>(input->data.size())));
        }
        EXPECT_EQ(S_OK, spl->BindDevice(printer, BIDI_ACCESS_USER));
        reply.hrSend = spl->SendRecv(action, request.Get());
        EXPECT_EQ(S_OK, request->GetResult(&reply.hrResult));
        DWORD count = 0;
        EXPECT_EQ(S_OK, request->GetEnumCount(&count));
        for (DWORD i = 0; i < count; ++i)
        {
            LPWSTR path = nullptr;
            BYTE* data = nullptr;
            DWORD type = 0;
            ULONG size = 0;
            EXPECT_EQ(S_OK, request->GetOutputData(i, &path, &type, &data, &size));
            Entry e;
            e.bNullPath = path == nullptr;
            e.path = path != nullptr ? path : L"";
            e.dwType = type;
            e.bNullData = data == nullptr;
            if (data != nullptr)
                e.data.assign(data, data + size);
            reply.entries.push_back(e);
            CoTaskMemFree(path);
            CoTaskMemFree(data);
        }
        EXPECT_EQ(S_OK, spl->UnbindDevice());
        return reply;
    }

    static Reply Status(LPCWSTR printer, DWORD jobId)
    {
        return Ask(printer, L"GetAll", kStatus, JobInput(jobId));
    }
};

TEST_F(BidiTest, GetAllAnswersTheFourValuesOfTheJob)
{
    ASSERT_TRUE(SimSetJobValues(7, 2005, 0x00ABCDEF, 2, TRUE));
    const Reply reply = Status(kPrinter, 7);
    EXPECT_EQ(S_OK, reply.hrSend);
    EXPECT_EQ(S_OK, reply.hrResult);
    ASSERT_EQ(4u, reply.entries.size());
    const struct
    {
        LPCWSTR path;
        DWORD type;
        LONG value;
    } expected[] = {{kErrorCode, BIDI_INT, 2005},
                    {kDetail, BIDI_INT, 0x00ABCDEF},
                    {kButton, BIDI_INT, 2},
                    {kReset, BIDI_BOOL, TRUE}};
    for (size_t i = 0; i < 4; ++i)
    {
        SCOPED_TRACE(i);
        EXPECT_EQ(expected[i].path, reply.entries[i].path);
        EXPECT_EQ(expected[i].type, reply.entries[i].dwType);
        ASSERT_EQ(4u, reply.entries[i].data.size());
        EXPECT_EQ(expected[i].value, reply.entries[i].Value());
    }
    EXPECT_EQ(1u, SimCountEvents(SIM_EV_STATUS_REQUEST, 7));
    EXPECT_TRUE(SimIsBalanced());
}

TEST_F(BidiTest, AJobWithoutValuesReportsNoError)
{
    const Reply reply = Status(kPrinter, 7);
    ASSERT_EQ(4u, reply.entries.size());
    EXPECT_EQ(2000, reply.entries[0].Value());
    EXPECT_EQ(0, reply.entries[1].Value());
    EXPECT_EQ(0, reply.entries[2].Value());
    EXPECT_EQ(0, reply.entries[3].Value());
}

TEST_F(BidiTest, AJobThePrinterDoesNotKnowFailsTheRequest)
{
    // Job 8 prints on the other printer; job 9 does not exist.
    for (DWORD job : {8u, 9u})
    {
        SCOPED_TRACE(job);
        const Reply reply = Status(kPrinter, job);
        EXPECT_EQ(S_OK, reply.hrSend);
        EXPECT_EQ(kGetArgumentNotSupported, reply.hrResult);
        EXPECT_TRUE(reply.entries.empty());
        EXPECT_EQ(1u, SimCountEvents(SIM_EV_STATUS_REQUEST, job)); // it reached the printer
    }
    ASSERT_TRUE(SimDeleteJob(7));
    EXPECT_EQ(kGetArgumentNotSupported, Status(kPrinter, 7).hrResult);
    EXPECT_TRUE(SimIsBalanced());
}

TEST_F(BidiTest, ACancelClickIsRecordedWithPrinterJobAndTime)
{
    const ULONGLONG before = []
    {
        FILETIME ft;
        GetSystemTimePreciseAsFileTime(&ft);
        return (ULONGLONG(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    }();
    const Reply reply = Ask(kPrinter, L"Set", kClick, JobInput(7));
    EXPECT_EQ(S_OK, reply.hrSend);
    EXPECT_EQ(S_OK, reply.hrResult);
    EXPECT_TRUE(reply.entries.empty());
    ASSERT_EQ(1u, SimCountEvents(SIM_EV_CLICK, 7));
    SimEvent event{};
    ASSERT_TRUE(SimGetEvent(SimGetEventCount() - 1, &event));
    EXPECT_EQ(DWORD(SIM_EV_CLICK), event.dwKind);
    EXPECT_EQ(7u, event.dwJobId);
    EXPECT_STREQ(kPrinter, event.szPrinter);
    EXPECT_GE(event.ullTime, before);

    // A click for a job the printer does not know fails and is not recorded.
    EXPECT_EQ(kSetUnknownFailure, Ask(kPrinter, L"Set", kClick, JobInput(8)).hrResult);
    EXPECT_EQ(0u, SimCountEvents(SIM_EV_CLICK, 8));
    EXPECT_TRUE(SimIsBalanced());
}

TEST_F(BidiTest, RequestsOutsideTheSchemaAreAnsweredWithTheirErrors)
{
    const Input text{BIDI_STRING, {'7', 0, 0, 0}};
    const struct
    {
        const char* name;
        LPCWSTR action;
        LPCWSTR schema;
        std::optional<Input> input;
        HRESULT hrSend;
        HRESULT hrResult;
        size_t entries;
    } cases[] = {
        {"no schema", L"GetAll", nullptr, JobInput(7), E_INVALIDARG, S_OK, 0},
        {"unknown action", L"Fetch", kStatus, JobInput(7), E_INVALIDARG, S_OK, 0},
        {"action in other case", L"getall", kStatus, JobInput(7), S_OK, S_OK, 4},
        {"unknown schema", L"GetAll", L"\\Printer.MEJob.MEOther", JobInput(7), S_OK,
         HRESULT_FROM_WIN32(ERROR_BIDI_SCHEMA_NOT_SUPPORTED), 0},
        {"schema in other case", L"GetAll", L"\\printer.mejob.mestatus", JobInput(7), S_OK,
         HRESULT_FROM_WIN32(ERROR_BIDI_SCHEMA_NOT_SUPPORTED), 0},
        {"no job id", L"GetAll", kStatus, std::nullopt, S_OK, kGetMissingArgument, 0},
        {"job id as text", L"GetAll", kStatus, text, S_OK, kGetArgumentNotSupported, 0},
        {"Get of one value", L"Get", kDetail, JobInput(7), S_OK, S_OK, 1},
        {"Get of the container", L"Get", kStatus, JobInput(7), S_OK,
         HRESULT_FROM_WIN32(ERROR_BIDI_SCHEMA_NOT_SUPPORTED), 0},
        {"Set of a status value", L"Set", kErrorCode, JobInput(7), S_OK,
         HRESULT_FROM_WIN32(ERROR_BIDI_SCHEMA_READ_ONLY), 0},
        {"GetAll of the click", L"GetAll", kClick, JobInput(7), S_OK, kSchemaWriteOnly, 0},
        {"click without job id", L"Set", kClick, std::nullopt, S_OK, kSetDifferentType, 0},
        {"EnumSchema", L"EnumSchema", kStatus, std::nullopt, S_OK,
         HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), 0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        const Reply reply = Ask(kPrinter, c.action, c.schema, c.input);
        EXPECT_EQ(c.hrSend, reply.hrSend);
        // A request that was not sent has no result yet.
        EXPECT_EQ(SUCCEEDED(c.hrSend) ? c.hrResult : E_PENDING, reply.hrResult);
        EXPECT_EQ(c.entries, reply.entries.size());
    }
    EXPECT_EQ(0u, SimCountEvents(SIM_EV_CLICK, 0));
    EXPECT_TRUE(SimIsBalanced());
}

TEST_F(BidiTest, BindingFollowsTheDocumentedContract)
{
    ComRef<IBidiSpl> spl;
    ComRef<IBidiRequest> request;
    ASSERT_EQ(S_OK, CoCreateInstance(kClsidBidiSpl, nullptr, CLSCTX_INPROC_SERVER, kIidBidiSpl,
                                     spl.PutVoid()));
    ASSERT_EQ(S_OK, CoCreateInstance(kClsidBidiRequest, nullptr, CLSCTX_INPROC_SERVER,
                                     kIidBidiRequest, request.PutVoid()));
    ASSERT_EQ(S_OK, request->SetSchema(kStatus));
    const DWORD job = 7;
    ASSERT_EQ(S_OK, request->SetInputData(BIDI_INT, reinterpret_cast<const BYTE*>(&job), 4));

    EXPECT_EQ(E_HANDLE, spl->SendRecv(L"GetAll", request.Get()));
    EXPECT_EQ(E_HANDLE, spl->UnbindDevice());
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_PRINTER_NAME),
              spl->BindDevice(L"No such printer", BIDI_ACCESS_USER));
    EXPECT_EQ(E_INVALIDARG, spl->BindDevice(kPrinter, 0));
    EXPECT_EQ(E_POINTER, spl->SendRecv(nullptr, request.Get()));

    // Printer names are matched as the spooler matches them.
    ASSERT_EQ(S_OK, spl->BindDevice(L"PHOTO 470", BIDI_ACCESS_ADMINISTRATOR));
    EXPECT_EQ(E_POINTER, spl->SendRecv(L"GetAll", nullptr));
    EXPECT_EQ(S_OK, spl->SendRecv(L"GetAll", request.Get()));
    HRESULT hr = E_FAIL;
    EXPECT_EQ(S_OK, request->GetResult(&hr));
    EXPECT_EQ(S_OK, hr);
    EXPECT_EQ(S_OK, spl->UnbindDevice());
    EXPECT_EQ(E_HANDLE, spl->UnbindDevice());

    // A printer removed after the binding is no longer reachable.
    ASSERT_EQ(S_OK, spl->BindDevice(kOtherPrinter, BIDI_ACCESS_USER));
    ASSERT_TRUE(SimRemovePrinter(kOtherPrinter));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_PRINTER_NAME),
              spl->SendRecv(L"GetAll", request.Get()));
    EXPECT_EQ(S_OK, spl->UnbindDevice());

    SimAccounting a{};
    SimGetAccounting(&a);
    EXPECT_EQ(2, a.lObtained[SIM_RES_BINDING]);
    EXPECT_EQ(2, a.lReleased[SIM_RES_BINDING]);
    EXPECT_EQ(0u, SimGetDroppedBindings());
}

TEST_F(BidiTest, RequestArgumentsAreChecked)
{
    ComRef<IBidiRequest> request;
    ASSERT_EQ(S_OK, CoCreateInstance(kClsidBidiRequest, nullptr, CLSCTX_INPROC_SERVER,
                                     kIidBidiRequest, request.PutVoid()));
    const BYTE data[8] = {};
    const struct
    {
        DWORD type;
        UINT size;
        HRESULT hr;
    } inputs[] = {
        {BIDI_NULL, 0, S_OK},         {BIDI_NULL, 4, E_INVALIDARG},
        {BIDI_INT, 4, S_OK},          {BIDI_INT, 2, E_INVALIDARG},
        {BIDI_INT, 8, E_INVALIDARG},  {BIDI_BOOL, 4, S_OK},
        {BIDI_BOOL, 1, E_INVALIDARG}, {BIDI_FLOAT, 4, S_OK},
        {BIDI_STRING, 6, S_OK},       {BIDI_STRING, 3, E_INVALIDARG},
        {BIDI_BLOB, 3, S_OK},         {BIDI_BLOB + 1, 4, E_INVALIDARG},
    };
    for (const auto& in : inputs)
    {
        SCOPED_TRACE(testing::Message() << "type " << in.type << " size " << in.size);
        EXPECT_EQ(in.hr, request->SetInputData(in.type, data, in.size));
    }
    EXPECT_EQ(E_POINTER, request->SetInputData(BIDI_INT, nullptr, 4));
    EXPECT_EQ(E_POINTER, request->SetSchema(nullptr));
    EXPECT_EQ(E_POINTER, request->GetResult(nullptr));
    EXPECT_EQ(E_POINTER, request->GetEnumCount(nullptr));
    LPWSTR path = nullptr;
    BYTE* out = nullptr;
    DWORD type = 0;
    ULONG size = 0;
    EXPECT_EQ(E_POINTER, request->GetOutputData(0, nullptr, &type, &out, &size));
    // Nothing was sent: no result yet and no output.
    HRESULT hr = S_OK;
    EXPECT_EQ(S_OK, request->GetResult(&hr));
    EXPECT_EQ(E_PENDING, hr);
    EXPECT_EQ(E_INVALIDARG, request->GetOutputData(0, &path, &type, &out, &size));
    EXPECT_EQ(nullptr, path);
    EXPECT_EQ(nullptr, out);
}

TEST_F(BidiTest, OutputDataPastTheLastEntryIsRefused)
{
    ComRef<IBidiSpl> spl;
    ComRef<IBidiRequest> request;
    ASSERT_EQ(S_OK, CoCreateInstance(kClsidBidiSpl, nullptr, CLSCTX_INPROC_SERVER, kIidBidiSpl,
                                     spl.PutVoid()));
    ASSERT_EQ(S_OK, CoCreateInstance(kClsidBidiRequest, nullptr, CLSCTX_INPROC_SERVER,
                                     kIidBidiRequest, request.PutVoid()));
    const DWORD job = 7;
    ASSERT_EQ(S_OK, request->SetSchema(kStatus));
    ASSERT_EQ(S_OK, request->SetInputData(BIDI_INT, reinterpret_cast<const BYTE*>(&job), 4));
    ASSERT_EQ(S_OK, spl->BindDevice(kPrinter, BIDI_ACCESS_USER));
    ASSERT_EQ(S_OK, spl->SendRecv(L"GetAll", request.Get()));
    LPWSTR path = nullptr;
    BYTE* data = nullptr;
    DWORD type = 0;
    ULONG size = 0;
    EXPECT_EQ(E_INVALIDARG, request->GetOutputData(4, &path, &type, &data, &size));
    // Each call hands out new copies that the caller frees.
    LPWSTR path2 = nullptr;
    BYTE* data2 = nullptr;
    ASSERT_EQ(S_OK, request->GetOutputData(0, &path, &type, &data, &size));
    ASSERT_EQ(S_OK, request->GetOutputData(0, &path2, &type, &data2, &size));
    EXPECT_NE(path, path2);
    EXPECT_NE(data, data2);
    CoTaskMemFree(path);
    CoTaskMemFree(data);
    CoTaskMemFree(path2);
    CoTaskMemFree(data2);
    EXPECT_EQ(S_OK, spl->UnbindDevice());
    spl.Reset();
    request.Reset();
    EXPECT_TRUE(SimIsBalanced());
}

SimAnswerEntry Shape(LPCWSTR path, int field, DWORD cb = 4, DWORD type = BIDI_INT)
{
    SimAnswerEntry e{};
    wcscpy(e.szPath, path);
    e.nValue = field;
    e.cbData = cb;
    e.dwType = type;
    return e;
}

TEST_F(BidiTest, AnswerShapesForBadProviders)
{
    ASSERT_TRUE(SimSetJobValues(7, 2010, 0x10, 1, FALSE));
    SimAnswerEntry nullPath = Shape(L"", 0);
    nullPath.bNullPath = TRUE;
    SimAnswerEntry nullData = Shape(kDetail, 1);
    nullData.bNullData = TRUE;
    SimAnswerEntry literal = Shape(kButton, -1, 4, BIDI_STRING);
    literal.lValue = 0x01020304;

    const struct
    {
        const char* name;
        std::vector<SimAnswerEntry> shape;
        std::vector<Entry> expected;
    } cases[] = {
        {"three entries",
         {Shape(kErrorCode, 0), Shape(kDetail, 1), Shape(kButton, 2)},
         {{false, kErrorCode, BIDI_INT, false, {0xDA, 0x07, 0, 0}},
          {false, kDetail, BIDI_INT, false, {0x10, 0, 0, 0}},
          {false, kButton, BIDI_INT, false, {1, 0, 0, 0}}}},
        {"five entries, a path twice",
         {Shape(kErrorCode, 0), Shape(kDetail, 1), Shape(kButton, 2), Shape(kReset, 3),
          Shape(kErrorCode, 1)},
         {{false, kErrorCode, BIDI_INT, false, {0xDA, 0x07, 0, 0}},
          {false, kDetail, BIDI_INT, false, {0x10, 0, 0, 0}},
          {false, kButton, BIDI_INT, false, {1, 0, 0, 0}},
          {false, kReset, BIDI_INT, false, {0, 0, 0, 0}},
          {false, kErrorCode, BIDI_INT, false, {0x10, 0, 0, 0}}}},
        {"unknown and mixed-case paths",
         {Shape(L"\\Printer.MEJob.MEStatus:Other", 0),
          Shape(L"\\PRINTER.mejob.MESTATUS:meerrorcode", 0)},
         {{false, L"\\Printer.MEJob.MEStatus:Other", BIDI_INT, false, {0xDA, 0x07, 0, 0}},
          {false, L"\\PRINTER.mejob.MESTATUS:meerrorcode", BIDI_INT, false, {0xDA, 0x07, 0, 0}}}},
        {"null path and null data",
         {nullPath, nullData},
         {{true, L"", BIDI_INT, false, {0xDA, 0x07, 0, 0}}, {false, kDetail, BIDI_INT, true, {}}}},
        {"short data",
         {Shape(kErrorCode, 0, 1), Shape(kDetail, 0, 2), Shape(kButton, 0, 3)},
         {{false, kErrorCode, BIDI_INT, false, {0xDA}},
          {false, kDetail, BIDI_INT, false, {0xDA, 0x07}},
          {false, kButton, BIDI_INT, false, {0xDA, 0x07, 0}}}},
        {"a literal with another type",
         {literal},
         {{false, kButton, BIDI_STRING, false, {4, 3, 2, 1}}}},
        {"no entries", {}, {}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(SimSetAnswer(static_cast<DWORD>(c.shape.size()), c.shape.data()));
        const Reply reply = Status(kPrinter, 7);
        EXPECT_EQ(S_OK, reply.hrResult);
        ASSERT_EQ(c.expected.size(), reply.entries.size());
        for (size_t i = 0; i < c.expected.size(); ++i)
        {
            SCOPED_TRACE(i);
            EXPECT_EQ(c.expected[i].bNullPath, reply.entries[i].bNullPath);
            EXPECT_EQ(c.expected[i].path, reply.entries[i].path);
            EXPECT_EQ(c.expected[i].dwType, reply.entries[i].dwType);
            EXPECT_EQ(c.expected[i].bNullData, reply.entries[i].bNullData);
            EXPECT_EQ(c.expected[i].data, reply.entries[i].data);
        }
    }
    // The shape does not make unknown jobs known.
    EXPECT_EQ(kGetArgumentNotSupported, Status(kPrinter, 8).hrResult);
    SimClearAnswer();
    EXPECT_EQ(4u, Status(kPrinter, 7).entries.size());
    EXPECT_TRUE(SimIsBalanced());

    SimAnswerEntry nine[9] = {};
    EXPECT_FALSE(SimSetAnswer(9, nine));
    SimAnswerEntry badField = Shape(kErrorCode, 4);
    EXPECT_FALSE(SimSetAnswer(1, &badField));
}

// Faults for every bidi call along a status request; each row names the call and what the
// client sees when it fails.
TEST_F(BidiTest, FaultsMakeEachCallFailOnceAlwaysOrAfterSkipping)
{
    const HRESULT kError = HRESULT_FROM_WIN32(ERROR_BIDI_DEVICE_OFFLINE);
    // Runs the request step by step and returns the first failing step's HRESULT, with
    // GetResult's delivered value counting as a step.
    const auto run = [&](LPCWSTR printer) -> HRESULT
    {
        ComRef<IBidiSpl> spl;
        ComRef<IBidiRequest> request;
        HRESULT hr = CoCreateInstance(kClsidBidiSpl, nullptr, CLSCTX_INPROC_SERVER, kIidBidiSpl,
                                      spl.PutVoid());
        if (FAILED(hr))
            return hr;
        if (FAILED(hr = CoCreateInstance(kClsidBidiRequest, nullptr, CLSCTX_INPROC_SERVER,
                                         kIidBidiRequest, request.PutVoid())))
            return hr;
        const DWORD job = printer == kPrinter ? 7 : 8;
        if (FAILED(hr = request->SetSchema(kStatus)) ||
            FAILED(hr = request->SetInputData(BIDI_INT, reinterpret_cast<const BYTE*>(&job), 4)) ||
            FAILED(hr = spl->BindDevice(printer, BIDI_ACCESS_USER)))
            return hr;
        HRESULT result = S_OK;
        DWORD count = 0;
        LPWSTR path = nullptr;
        BYTE* data = nullptr;
        DWORD type = 0;
        ULONG size = 0;
        if (FAILED(hr = spl->SendRecv(L"GetAll", request.Get())) ||
            FAILED(hr = request->GetResult(&result)) || FAILED(hr = result) ||
            FAILED(hr = request->GetEnumCount(&count)) ||
            FAILED(hr = request->GetOutputData(0, &path, &type, &data, &size)))
        {
            spl->UnbindDevice();
            return hr;
        }
        CoTaskMemFree(path);
        CoTaskMemFree(data);
        return spl->UnbindDevice();
    };
    const SimCall calls[] = {SIM_CREATE_BIDI_SPL, SIM_CREATE_BIDI_REQUEST, SIM_SET_SCHEMA,
                             SIM_SET_INPUT_DATA,  SIM_BIND_DEVICE,         SIM_SEND_RECV,
                             SIM_GET_RESULT,      SIM_RESULT_VALUE,        SIM_GET_ENUM_COUNT,
                             SIM_GET_OUTPUT_DATA, SIM_UNBIND_DEVICE};
    for (SimCall call : calls)
    {
        SCOPED_TRACE(testing::Message() << "call " << call);
        // Once.
        ASSERT_TRUE(SimSetFault(call, kError, 0, 1, nullptr));
        EXPECT_EQ(kError, run(kPrinter));
        EXPECT_EQ(S_OK, run(kPrinter));
        // After one call that goes through, twice.
        ASSERT_TRUE(SimSetFault(call, kError, 1, 2, nullptr));
        EXPECT_EQ(S_OK, run(kPrinter));
        EXPECT_EQ(kError, run(kPrinter));
        EXPECT_EQ(kError, run(kPrinter));
        EXPECT_EQ(S_OK, run(kPrinter));
        // Always, until cleared.
        ASSERT_TRUE(SimSetFault(call, kError, 0, 0, nullptr));
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(kError, run(kPrinter));
        SimClearFaults();
        EXPECT_EQ(S_OK, run(kPrinter));
    }
    // A printer filter restricts the calls about a bound printer.
    for (SimCall call : {SIM_BIND_DEVICE, SIM_SEND_RECV, SIM_GET_RESULT, SIM_RESULT_VALUE,
                         SIM_GET_ENUM_COUNT, SIM_GET_OUTPUT_DATA, SIM_UNBIND_DEVICE})
    {
        SCOPED_TRACE(testing::Message() << "filtered call " << call);
        ASSERT_TRUE(SimSetFault(call, kError, 0, 0, kOtherPrinter));
        EXPECT_EQ(S_OK, run(kPrinter));
        EXPECT_EQ(kError, run(kOtherPrinter));
        SimClearFaults();
    }
    EXPECT_TRUE(SimIsBalanced());
}

TEST_F(BidiTest, AccountingShowsWhatTheClientKept)
{
    ComRef<IBidiSpl> spl;
    ComRef<IBidiRequest> request;
    ASSERT_EQ(S_OK, CoCreateInstance(kClsidBidiSpl, nullptr, CLSCTX_INPROC_SERVER, kIidBidiSpl,
                                     spl.PutVoid()));
    ASSERT_EQ(S_OK, CoCreateInstance(kClsidBidiRequest, nullptr, CLSCTX_INPROC_SERVER,
                                     kIidBidiRequest, request.PutVoid()));
    const DWORD job = 7;
    ASSERT_EQ(S_OK, request->SetSchema(kStatus));
    ASSERT_EQ(S_OK, request->SetInputData(BIDI_INT, reinterpret_cast<const BYTE*>(&job), 4));
    ASSERT_EQ(S_OK, spl->BindDevice(kPrinter, BIDI_ACCESS_USER));
    ASSERT_EQ(S_OK, spl->SendRecv(L"GetAll", request.Get()));
    LPWSTR path = nullptr;
    BYTE* data = nullptr;
    DWORD type = 0;
    ULONG size = 0;
    ASSERT_EQ(S_OK, request->GetOutputData(1, &path, &type, &data, &size));

    SimAccounting a{};
    SimGetAccounting(&a);
    EXPECT_EQ(1, a.lObtained[SIM_RES_BIDI_SPL]);
    EXPECT_EQ(1, a.lObtained[SIM_RES_BIDI_REQUEST]);
    EXPECT_EQ(1, a.lObtained[SIM_RES_BINDING]);
    EXPECT_EQ(2, a.lObtained[SIM_RES_TASK_MEM]);
    EXPECT_EQ(0, a.lReleased[SIM_RES_TASK_MEM]);
    EXPECT_FALSE(SimIsBalanced());

    CoTaskMemFree(path);
    SimGetAccounting(&a);
    EXPECT_EQ(1, a.lReleased[SIM_RES_TASK_MEM]);
    CoTaskMemFree(data);
    request.Reset();
    // Releasing the bidi spooler while bound drops the binding.
    spl.Reset();
    SimGetAccounting(&a);
    for (DWORD r = 0; r < SIM_RES_COUNT; ++r)
        EXPECT_EQ(a.lObtained[r], a.lReleased[r]) << "resource " << r;
    EXPECT_EQ(1u, SimGetDroppedBindings());
    EXPECT_TRUE(SimIsBalanced());
}

TEST_F(BidiTest, ClassObjectsFollowCom)
{
    ComRef<IUnknown> unknown;
    ComRef<IUnknown> outer;
    ASSERT_EQ(S_OK, CoCreateInstance(kClsidBidiRequest, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                     outer.PutVoid()));
    EXPECT_EQ(CLASS_E_NOAGGREGATION,
              CoCreateInstance(kClsidBidiSpl, outer.Get(), CLSCTX_INPROC_SERVER, IID_IUnknown,
                               unknown.PutVoid()));
    EXPECT_EQ(E_NOINTERFACE, CoCreateInstance(kClsidBidiSpl, nullptr, CLSCTX_INPROC_SERVER,
                                              kIidBidiRequest, unknown.PutVoid()));
    ComRef<IBidiRequest> request;
    EXPECT_EQ(S_OK, outer->QueryInterface(kIidBidiRequest, request.PutVoid()));
    EXPECT_EQ(E_NOINTERFACE, outer->QueryInterface(kIidBidiSpl, unknown.PutVoid()));
    request.Reset();
    outer.Reset();
    EXPECT_TRUE(SimIsBalanced());
}

// Two threads with their own instances bind the same printer at once.
TEST_F(BidiTest, ConcurrentClientsOfOnePrinter)
{
    constexpr int kRounds = 50;
    const auto worker = [](void*) -> DWORD
    {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        DWORD failures = 0;
        for (int i = 0; i < kRounds; ++i)
        {
            const Reply reply = Status(kPrinter, 7);
            if (reply.hrResult != S_OK || reply.entries.size() != 4)
                ++failures;
        }
        CoUninitialize();
        return failures;
    };
    HANDLE threads[2];
    for (HANDLE& t : threads)
        t = CreateThread(nullptr, 0, worker, nullptr, 0, nullptr);
    WaitForMultipleObjects(2, threads, TRUE, INFINITE);
    for (HANDLE t : threads)
    {
        DWORD failures = 1;
        GetExitCodeThread(t, &failures);
        EXPECT_EQ(0u, failures);
        CloseHandle(t);
    }
    EXPECT_EQ(2u * kRounds, SimCountEvents(SIM_EV_STATUS_REQUEST, 7));
    EXPECT_TRUE(SimIsBalanced());
}

} // namespace
