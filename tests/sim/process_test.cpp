// One model, several processes: quenlo-sim drives the session of this test from outside, and
// where Wine's own spooler answers a call, the simulator answers it the same way.
#include <objbase.h>

#include <cstring>
#include <map>
#include <thread>

#include "guids.h"
#include "sim_test_util.h"

using namespace simtest;

namespace
{

constexpr WCHAR kTarget[] = L"ORLUME 470 Photo Printer";

class ProcessTest : public SimTest
{
protected:
    // quenlo-sim with this test's session.
    ProcessResult Sim(const std::wstring& args, const std::string& input = {})
    {
        return RunProgram(ExeDir() + L"quenlo-sim.exe", L"--session " + m_session + L" " + args, {},
                          input);
    }
};

TEST_F(ProcessTest, TheControllerChangesWhatThisProcessSees)
{
    HANDLE server = nullptr;
    ASSERT_TRUE(OpenPrinterW(nullptr, &server, nullptr));
    WORD field = JOB_NOTIFY_FIELD_STATUS;
    PRINTER_NOTIFY_OPTIONS_TYPE type{JOB_NOTIFY_TYPE, 0, 0, 0, 1, &field};
    PRINTER_NOTIFY_OPTIONS options{2, 0, 1, &type};
    HANDLE change = FindFirstPrinterChangeNotification(server, PRINTER_CHANGE_DELETE_PRINTER_DRIVER,
                                                       0, &options);
    ASSERT_NE(INVALID_HANDLE_VALUE, change);

    EXPECT_EQ(0u, Sim(L"add-driver \"ORLUME 470 Photo Printer\"").dwExitCode);
    EXPECT_EQ(0u, Sim(L"add-printer \"Photo 470\" \"ORLUME 470 Photo Printer\"").dwExitCode);
    EXPECT_EQ(0u, Sim(L"add-job \"Photo 470\" 31 printing|paused").dwExitCode);

    // The other process's change signalled this process's handle.
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(change, 20000));
    DWORD word = 0;
    void* info = nullptr;
    ASSERT_TRUE(FindNextPrinterChangeNotification(change, &word, &options, &info));
    ASSERT_NE(nullptr, info);
    auto* block = static_cast<PRINTER_NOTIFY_INFO*>(info);
    ASSERT_EQ(1u, block->Count);
    EXPECT_EQ(31u, block->aData[0].Id);
    EXPECT_EQ(DWORD(JOB_STATUS_PRINTING | JOB_STATUS_PAUSED),
              block->aData[0].NotifyData.adwData[0]);
    EXPECT_TRUE(FreePrinterNotifyInfo(block));

    DWORD needed = 0;
    GetJobW(server, 31, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    ASSERT_TRUE(GetJobW(server, 31, 2, buffer.data(), needed, &needed));
    EXPECT_STREQ(L"Photo 470", reinterpret_cast<JOB_INFO_2W*>(buffer.data())->pPrinterName);

    EXPECT_EQ(0u, Sim(L"remove-driver \"ORLUME 470 Photo Printer\"").dwExitCode);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(change, 20000));
    ASSERT_TRUE(FindNextPrinterChangeNotification(change, &word, &options, &info));
    EXPECT_EQ(DWORD(PRINTER_CHANGE_DELETE_PRINTER_DRIVER), word);
    EXPECT_EQ(nullptr, info);

    // The controller lists the model through the spooler functions.
    const ProcessResult list = Sim(L"list");
    EXPECT_EQ(0u, list.dwExitCode);
    EXPECT_EQ((std::vector<std::string>{"printer Photo 470\tORLUME 470 Photo Printer",
                                        "job 31 0x11 Photo 470\tORLUME 470 Photo Printer"}),
              Lines(list.output));

    EXPECT_TRUE(FindClosePrinterChangeNotification(change));
    EXPECT_TRUE(ClosePrinter(server));
}

TEST_F(ProcessTest, TheControllerShapesThePrintersAnswersAndFaults)
{
    ASSERT_TRUE(SimAddDriver(kTarget));
    ASSERT_TRUE(SimAddPrinter(L"Photo 470", kTarget));
    ASSERT_TRUE(SimAddJob(L"Photo 470", 5, JOB_STATUS_PRINTING, nullptr));
    EXPECT_EQ(0u, Sim(L"set-values 5 2011 0xFF 2 1").dwExitCode);
    EXPECT_EQ(0u, Sim(L"answer \\Printer.MEJob.MEStatus:MEErrorCode,f0 -,f1 "
                      L"\\Printer.MEJob.MEStatus:MEShowButtonType,-,int "
                      L"\\Printer.MEJob.MEStatus:MEButtonResetSW,0x102,bool,2")
                      .dwExitCode);
    EXPECT_EQ(0u, Sim(L"fault bind-device 0x80070015 1 1 \"Photo 470\"").dwExitCode);

    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    {
        using namespace quenlo::sim;
        ComRef<IBidiSpl> spl;
        ComRef<IBidiRequest> request;
        ASSERT_EQ(S_OK, CoCreateInstance(kClsidBidiSpl, nullptr, CLSCTX_INPROC_SERVER, kIidBidiSpl,
                                         spl.PutVoid()));
        ASSERT_EQ(S_OK, CoCreateInstance(kClsidBidiRequest, nullptr, CLSCTX_INPROC_SERVER,
                                         kIidBidiRequest, request.PutVoid()));
        const DWORD job = 5;
        ASSERT_EQ(S_OK, request->SetSchema(L"\\Printer.MEJob.MEStatus"));
        ASSERT_EQ(S_OK, request->SetInputData(BIDI_INT, reinterpret_cast<const BYTE*>(&job), 4));
        // The fault lets one binding through, then fails the next.
        ASSERT_EQ(S_OK, spl->BindDevice(L"Photo 470", BIDI_ACCESS_USER));
        EXPECT_EQ(S_OK, spl->UnbindDevice());
        EXPECT_EQ(HRESULT(0x80070015), spl->BindDevice(L"Photo 470", BIDI_ACCESS_USER));
        ASSERT_EQ(S_OK, spl->BindDevice(L"Photo 470", BIDI_ACCESS_USER));
        ASSERT_EQ(S_OK, spl->SendRecv(L"GetAll", request.Get()));
        DWORD count = 0;
        ASSERT_EQ(S_OK, request->GetEnumCount(&count));
        ASSERT_EQ(4u, count);
        const struct
        {
            bool nullPath;
            DWORD type;
            bool nullData;
            std::vector<BYTE> data;
        } expected[] = {{false, BIDI_INT, false, {0xDB, 0x07, 0, 0}},
                        {true, BIDI_INT, false, {0xFF, 0, 0, 0}},
                        {false, BIDI_INT, true, {}},
                        {false, BIDI_BOOL, false, {0x02, 0x01}}};
        for (DWORD i = 0; i < count; ++i)
        {
            SCOPED_TRACE(i);
            LPWSTR path = nullptr;
            BYTE* data = nullptr;
            DWORD type = 0;
            ULONG size = 0;
            ASSERT_EQ(S_OK, request->GetOutputData(i, &path, &type, &data, &size));
            EXPECT_EQ(expected[i].nullPath, path == nullptr);
            EXPECT_EQ(expected[i].type, type);
            EXPECT_EQ(expected[i].nullData, data == nullptr);
            if (data != nullptr)
            {
                EXPECT_EQ(expected[i].data, std::vector<BYTE>(data, data + size));
            }
            CoTaskMemFree(path);
            CoTaskMemFree(data);
        }
        EXPECT_EQ(S_OK, spl->UnbindDevice());
    }
    CoUninitialize();
    EXPECT_TRUE(SimIsBalanced());
}

TEST_F(ProcessTest, TheControllerReportsClicksEventsAndAccounting)
{
    ASSERT_TRUE(SimAddPrinter(L"Photo 470", kTarget));
    ASSERT_TRUE(SimAddJob(L"Photo 470", 7, JOB_STATUS_PRINTING, nullptr));

    // Nothing clicked yet: waiting for a click times out.
    ProcessResult wait = Sim(L"wait-event click 7 1 300");
    EXPECT_EQ(1u, wait.dwExitCode);
    EXPECT_EQ(std::vector<std::string>{"timeout 0"}, Lines(wait.output));

    // A waiter started before the click sees it arrive.
    ProcessResult waited;
    std::thread waiter([&] { waited = Sim(L"wait-event click 7 2 20000"); });
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    for (int i = 0; i < 2; ++i)
    {
        using namespace quenlo::sim;
        ComRef<IBidiSpl> spl;
        ComRef<IBidiRequest> request;
        ASSERT_EQ(S_OK, CoCreateInstance(kClsidBidiSpl, nullptr, CLSCTX_INPROC_SERVER, kIidBidiSpl,
                                         spl.PutVoid()));
        ASSERT_EQ(S_OK, CoCreateInstance(kClsidBidiRequest, nullptr, CLSCTX_INPROC_SERVER,
                                         kIidBidiRequest, request.PutVoid()));
        const DWORD job = 7;
        ASSERT_EQ(S_OK, request->SetSchema(L"\\Printer.MEJob:MEClickCancelButton"));
        ASSERT_EQ(S_OK, request->SetInputData(BIDI_INT, reinterpret_cast<const BYTE*>(&job), 4));
        ASSERT_EQ(S_OK, spl->BindDevice(L"Photo 470", BIDI_ACCESS_USER));
        ASSERT_EQ(S_OK, spl->SendRecv(L"Set", request.Get()));
        ASSERT_EQ(S_OK, spl->UnbindDevice());
    }
    CoUninitialize();
    waiter.join();
    EXPECT_EQ(0u, waited.dwExitCode);
    EXPECT_EQ(std::vector<std::string>{"reached 2"}, Lines(waited.output));

    const ProcessResult clicks = Sim(L"clicks 7");
    const auto lines = Lines(clicks.output);
    ASSERT_EQ(2u, lines.size());
    for (const std::string& line : lines)
    {
        char printer[64] = {};
        unsigned long job = 0;
        unsigned long long time = 0;
        ASSERT_EQ(3, std::sscanf(line.c_str(), "click %lu %llu %63[^\n]", &job, &time, printer))
            << line;
        EXPECT_EQ(7u, job);
        EXPECT_GT(time, 0u);
        EXPECT_STREQ("Photo 470", printer);
    }
    EXPECT_EQ(std::vector<std::string>{"2"}, Lines(Sim(L"count click 7").output));
    EXPECT_EQ(std::vector<std::string>{"1"}, Lines(Sim(L"count notify").output));
    const auto events = Lines(Sim(L"events").output);
    ASSERT_EQ(3u, events.size());
    EXPECT_EQ(0u, events[0].find("event 0 notify 7 "));
    EXPECT_EQ(0u, events[2].find("event 2 click 7 "));

    // Balanced: exit code 0; a handle kept open here makes it 1.
    ProcessResult accounting = Sim(L"accounting");
    EXPECT_EQ(0u, accounting.dwExitCode);
    EXPECT_EQ("balanced yes", Lines(accounting.output).back());
    HANDLE server = nullptr;
    ASSERT_TRUE(OpenPrinterW(nullptr, &server, nullptr));
    accounting = Sim(L"accounting");
    EXPECT_EQ(1u, accounting.dwExitCode);
    const auto accountingLines = Lines(accounting.output);
    EXPECT_EQ("printer-handle 1 0", accountingLines.front());
    EXPECT_EQ("balanced no", accountingLines.back());
    EXPECT_TRUE(ClosePrinter(server));
}

TEST_F(ProcessTest, AScriptPlaysItsCommandsInOrder)
{
    HANDLE server = nullptr;
    ASSERT_TRUE(OpenPrinterW(nullptr, &server, nullptr));
    WORD field = JOB_NOTIFY_FIELD_STATUS;
    PRINTER_NOTIFY_OPTIONS_TYPE type{JOB_NOTIFY_TYPE, 0, 0, 0, 1, &field};
    PRINTER_NOTIFY_OPTIONS options{2, 0, 1, &type};
    HANDLE change = FindFirstPrinterChangeNotification(server, 0, 0, &options);
    ASSERT_NE(INVALID_HANDLE_VALUE, change);

    const std::string script = "# a job prints and is deleted\n"
                               "add-driver \"ORLUME 470 Photo Printer\"\n"
                               "add-printer P1 \"ORLUME 470 Photo Printer\"\n"
                               "\n"
                               "add-job P1 3 spooling\n"
                               "sleep 50\n"
                               "set-status P1 printing\n";
    // A bad line stops the script: nothing after it runs.
    ProcessResult bad = Sim(L"script -", script + "set-status 3 printing\n");
    EXPECT_EQ(2u, bad.dwExitCode);
    EXPECT_NE(std::string::npos, bad.output.find("-:7: bad job id: P1")) << bad.output;

    ProcessResult good =
        Sim(L"script -", "set-status 3 printing\nsleep 50\nset-values 3 2005 0 1 0\n"
                         "delete-job 3\ndelete-job 3\nadd-job P1 4 printing\n");
    EXPECT_EQ(1u, good.dwExitCode); // the second delete fails
    EXPECT_NE(std::string::npos, good.output.find("-:5: delete-job failed")) << good.output;

    DWORD word = 0;
    void* info = nullptr;
    ASSERT_TRUE(FindNextPrinterChangeNotification(change, &word, &options, &info));
    ASSERT_NE(nullptr, info);
    auto* block = static_cast<PRINTER_NOTIFY_INFO*>(info);
    std::vector<std::pair<DWORD, DWORD>> seen;
    for (DWORD i = 0; i < block->Count; ++i)
        seen.emplace_back(block->aData[i].Id, block->aData[i].NotifyData.adwData[0]);
    EXPECT_EQ((std::vector<std::pair<DWORD, DWORD>>{{3, JOB_STATUS_SPOOLING},
                                                    {3, JOB_STATUS_PRINTING},
                                                    {3, JOB_STATUS_PRINTING | JOB_STATUS_DELETED}}),
              seen);
    EXPECT_TRUE(FreePrinterNotifyInfo(block));
    // The events carry non-decreasing times in the order played.
    SimEvent previous{};
    for (DWORD i = 0; i < SimGetEventCount(); ++i)
    {
        SimEvent e{};
        ASSERT_TRUE(SimGetEvent(i, &e));
        EXPECT_GE(e.ullTime, previous.ullTime);
        previous = e;
    }
    EXPECT_TRUE(FindClosePrinterChangeNotification(change));
    EXPECT_TRUE(ClosePrinter(server));
}

// Registrations of other processes count while they run, and are forgotten when a process ends
// without closing its registration.
TEST_F(ProcessTest, RegistrationsOfEndedProcessesAreForgotten)
{
    ASSERT_TRUE(SimAddPrinter(L"Photo 470", kTarget));
    std::wstring cmd = L"\"" + ExeDir() + L"sim_probe.exe\" 60000";
    ASSERT_TRUE(SetEnvironmentVariableW(L"QUENLO_SIM_SESSION", m_session.c_str()));
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    const BOOL started = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi);
    SetEnvironmentVariableW(L"QUENLO_SIM_SESSION", nullptr);
    ASSERT_TRUE(started);
    EXPECT_TRUE(WaitFor([] { return SimCountRegistrations() == 1; }));
    EXPECT_EQ(std::vector<std::string>{"1"}, Lines(Sim(L"registrations").output));

    TerminateProcess(pi.hProcess, 1);
    WaitForSingleObject(pi.hProcess, INFINITE);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    EXPECT_TRUE(WaitFor([] { return SimCountRegistrations() == 0; }));
    // Changes go on without it.
    EXPECT_TRUE(SimAddJob(L"Photo 470", 1, JOB_STATUS_PRINTING, nullptr));
}

TEST_F(ProcessTest, UsageErrorsExitWithTwo)
{
    for (const wchar_t* args : {L"", L"frobnicate", L"add-job P1 x printing", L"set-status 1 shiny",
                                L"fault no-such-call 5", L"answer a,b,c,d,e", L"add-driver"})
    {
        SCOPED_TRACE(testing::Message() << std::wstring(args).size());
        EXPECT_EQ(2u, Sim(args).dwExitCode);
    }
    EXPECT_EQ(0u, Sim(L"help").dwExitCode);
}

// Wine's own spooler answers these questions about an empty spooler; the simulator must answer
// them alike. A copy of the asking program in a folder without the simulator's winspool.drv gets
// Wine's spooler (the runner's "native, then builtin" override finds no native one there).
TEST_F(ProcessTest, AnswersAgreeWithWinesSpooler)
{
    const std::wstring exe = ExeDir() + L"spooler_answers.exe";
    WCHAR temp[MAX_PATH];
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, temp));
    const std::wstring dir = std::wstring(temp) + L"quenlo-answers." + m_session;
    const std::wstring copy = dir + L"\\spooler_answers.exe";
    CreateDirectoryW(dir.c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(exe.c_str(), copy.c_str(), FALSE));
    const ProcessResult wine = RunProgram(copy, L"", {}, {}, dir);
    DeleteFileW(copy.c_str());
    RemoveDirectoryW(dir.c_str());
    const ProcessResult sim =
        RunProgram(exe, L"", {L"QUENLO_SIM_SESSION=" + m_session}, {}, ExeDir());
    ASSERT_EQ(0u, wine.dwExitCode);
    ASSERT_EQ(0u, sim.dwExitCode);
    const auto wineLines = Lines(wine.output);
    const auto simLines = Lines(sim.output);
    ASSERT_EQ(wineLines.size(), simLines.size()) << wine.output << "\n" << sim.output;
    // Where Wine's spooler is known to differ from the documented contract: question, Wine's
    // answer, the simulator's answer.
    const std::map<std::string, std::pair<std::string, std::string>> known = {
        // Wine skips the checks of the out pointers when it has no printers to report.
        {"enum-printers-no-size-out",
         {"enum-printers-no-size-out ok=1 error=0 needed=0 returned=0",
          "enum-printers-no-size-out ok=0 error=1780 needed=0 returned=0"}},
        {"enum-printers-size-without-buffer",
         {"enum-printers-size-without-buffer ok=1 error=0 needed=0 returned=0",
          "enum-printers-size-without-buffer ok=0 error=1784 needed=0 returned=0"}},
        // Wine fails these without setting an error.
        {"enum-jobs-null-handle",
         {"enum-jobs-null-handle ok=0 error=0 needed=0 returned=0",
          "enum-jobs-null-handle ok=0 error=6 needed=0 returned=0"}},
        {"enum-jobs-server",
         {"enum-jobs-server ok=0 error=0 needed=0 returned=0",
          "enum-jobs-server ok=0 error=6 needed=0 returned=0"}},
        // Wine's server handle holds no jobs; the spooler looks a job up among all printers.
        {"get-job-unknown",
         {"get-job-unknown ok=0 error=6 needed=0 returned=0",
          "get-job-unknown ok=0 error=87 needed=0 returned=0"}},
        // Wine registers no change notification (this also shows who answered each run).
        {"change-notification", {"change-notification 0", "change-notification 1"}}};
    for (size_t i = 0; i < wineLines.size(); ++i)
    {
        const std::string question = wineLines[i].substr(0, wineLines[i].find(' '));
        if (auto k = known.find(question); k != known.end())
        {
            EXPECT_EQ(k->second.first, wineLines[i]);
            EXPECT_EQ(k->second.second, simLines[i]);
            continue;
        }
        EXPECT_EQ(wineLines[i], simLines[i]);
    }
    // The simulator's run went through this session and gave everything back.
    SimAccounting a{};
    SimGetAccounting(&a);
    EXPECT_EQ(1, a.lObtained[SIM_RES_PRINTER_HANDLE]);
    EXPECT_EQ(1, a.lObtained[SIM_RES_CHANGE_HANDLE]);
    EXPECT_TRUE(SimIsBalanced());
}

} // namespace
