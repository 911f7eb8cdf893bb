// The main job end to end: the simulation build of the connector (the shipped program with its
// device seams bound to a simulated bus) unlocks, refuses and tracks simulated drives, driven from
// outside as a user and the system would, and checked by what a user sees.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "sim/win32/sim_pipe_win.h"
#include "tests/e2e/process_driver_win.h"
#include "tests/fakes/product_texts.h"
#include "tests/fakes/standin_process_win.h"

namespace kx7::e2e {
namespace {

using namespace test;

constexpr DWORD kTimeoutMs = 30000;

std::string Field(const std::string& answer, const std::string& key) {
    const size_t at = answer.find(" " + key + "=");
    if (at == std::string::npos) {
        return "";
    }
    const size_t start = at + key.size() + 2;
    return answer.substr(start, answer.find(' ', start) - start);
}

// Wine's debug output holds each event report: the call with its type and ID, then one line per
// string, written by the reporting thread (the first field of each line).
std::wstring DebugString(const std::string& line) {
    std::wstring out;
    const size_t begin = line.find("L\"") + 2;
    for (size_t i = begin; i + 1 < line.size(); ++i) {
        if (line[i] != '\\') {
            out += static_cast<wchar_t>(line[i]);
        } else if (line[++i] == 'x') {
            out += static_cast<wchar_t>(std::stoi(line.substr(i + 1, 4), nullptr, 16));
            i += 4;
        } else {
            out += line[i] == 'r' ? L'\r' : line[i] == 'n' ? L'\n' : static_cast<wchar_t>(line[i]);
        }
    }
    return out;
}

// The events reported since offset of the file, as "<id> <I|W|A> <string>|<string>...".
std::vector<std::wstring> ReportedEvents(std::streamoff offset) {
    std::ifstream in(ProgramPath(L"kx7_sim_e2e_tests-eventlog.txt").c_str());
    in.seekg(offset);
    std::vector<std::wstring> events;
    std::map<std::string, size_t> lastOfThread;
    for (std::string line; std::getline(in, line);) {
        const std::string thread = line.substr(0, line.find(':'));
        const size_t call = line.find(":ReportEventW (");
        if (call != std::string::npos) {
            const size_t type = line.find(',', call) + 1;
            const size_t id = line.find(',', line.find(',', type) + 1) + 1;
            const char kind = line.substr(type, 6) == "0x0002"   ? 'W'
                              : line.substr(type, 6) == "0x0008" ? 'A'
                                                                 : 'I';
            events.push_back(std::to_wstring(std::stoul(line.substr(id, 10), nullptr, 16)) + L" " +
                             wchar_t(kind) + L" ");
            lastOfThread[thread] = events.size();
        } else if (line.find(":eventlog:ReportEventW") != std::string::npos &&
                   lastOfThread.count(thread)) {
            std::wstring& event = events[lastOfThread[thread] - 1];
            event += (event.back() == L' ' ? L"" : L"|") + DebugString(line);
        }
    }
    return events;
}

std::streamoff EventLogEnd() {
    std::ifstream in(ProgramPath(L"kx7_sim_e2e_tests-eventlog.txt").c_str(), std::ios::ate);
    return in ? static_cast<std::streamoff>(in.tellg()) : 0;
}

class SimulatedDrives : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(FindWindowW(nullptr, kTitle), nullptr) << "a connector is already running";
        DeleteUserKey(kSettingsKey);
        DeleteUserKey(kAgentKey);
        ASSERT_TRUE(WriteUserDword(kSettingsKey, L"Interval", 2));  // a 1 s settle wait
        DeleteFileW(StandInLog().c_str());
        eventsFrom = EventLogEnd();
        // This PC is registered before the connector starts, so its first pass stays silent.
        ASSERT_EQ(Pair(L"this none KX7NOTHING000000 --print").rfind("host none ", 0), 0u);
    }
    void TearDown() override {
        connector.Kill();
        SetEnvironmentVariableW(L"KX7SIM_SCRIPT", nullptr);
        DeleteUserKey(kSettingsKey);
        DeleteUserKey(kAgentKey);
    }

    static std::wstring SimDir() {
        std::wstring exe = ProgramPath(L"sim\\KX7AutoConnector.exe");
        return exe.substr(0, exe.rfind(L'\\') + 1);
    }
    static std::wstring StandInLog() { return SimDir() + test::kCleanupToolLogName; }

    HWND Start() {
        if (!connector.Start(ProgramPath(L"sim\\KX7AutoConnector.exe"), L"")) {
            return nullptr;
        }
        window = WaitForWindow(kClass, kTitle, connector.pid(), kTimeoutMs);
        return window;
    }

    // Starts with drives that were attached before the program listened: the script's commands
    // run first, and the first pass takes them all.
    HWND StartWithScript(const std::string& lines) {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        const std::wstring script = std::wstring(temp) + L"kx7sim-start.txt";
        std::ofstream(script.c_str()) << lines;
        SetEnvironmentVariableW(L"KX7SIM_SCRIPT", script.c_str());
        return Start();
    }

    static std::string Sim(const std::string& line) { return sim::SendSimCommand(line); }

    // Runs the pairing helper; returns the first line it printed.
    static std::string Pair(const std::wstring& arguments) {
        std::string output;
        DWORD code = 1;
        RunCapturingOutput(ProgramPath(L"kx7pair.exe"), arguments, kTimeoutMs, &output, &code);
        return LastLine(output);
    }

    // Adds a drive and pairs this PC with it.
    void AddPaired(const std::string& name, const std::string& id, const std::string& extra = "") {
        ASSERT_EQ(Sim("add " + name + " id=" + id + " " + extra), "ok");
        ASSERT_EQ(Pair(L"this " + std::wstring(name.begin(), name.end()) + L" " +
                       std::wstring(id.begin(), id.end())),
                  "ok");
    }

    bool WaitStatus(const std::string& name, const std::string& key, const std::string& value,
                    DWORD timeoutMs = kTimeoutMs) {
        return WaitUntil([&] { return Field(Sim("status " + name), key) == value; }, timeoutMs);
    }

    HWND WaitForBox(const wchar_t* caption, DWORD timeoutMs = kTimeoutMs) {
        return WaitForWindow(L"#32770", caption, connector.pid(), timeoutMs);
    }

    // The box that is up: its text, then OK.
    std::wstring Dismiss(HWND box) {
        const std::wstring text = MessageBoxText(box);
        ClickButton(box, IDOK);
        WaitUntil([&] { return IsWindow(box) == FALSE; }, kTimeoutMs);
        return text;
    }

    void ExitAndExpectCleanEnd(DWORD timeoutMs = 20000) {
        PostMessageW(window, WM_COMMAND, 32775, 0);
        HWND box = WaitForBox(kAppName);
        ASSERT_NE(box, nullptr);
        ClickButton(box, IDOK);
        DWORD code = 1234;
        ASSERT_TRUE(connector.WaitExit(timeoutMs, &code));
        EXPECT_EQ(code, 0u);
    }

    ChildProcess connector;
    HWND window = nullptr;
    std::streamoff eventsFrom = 0;
};

TEST_F(SimulatedDrives, PairedDriveUnlocksAndRefusalsAreShownAsTheDriveGivesThem) {
    ASSERT_NE(Start(), nullptr);
    AddPaired("good", "KX7GOOD000000001", "serial=GOOD0001");
    ASSERT_EQ(Sim("plug good"), "ok");
    ASSERT_TRUE(WaitStatus("good", "unlocked", "1"));
    ASSERT_TRUE(WaitUntil(
        [&] {
            return ControlText(window, kLog).find(L"Adding USBSTOR\\DISK&VEN_SVI&PROD_") !=
                   std::wstring::npos;
        },
        kTimeoutMs))
        << "the unlocked disk's arrival is logged";
    EXPECT_EQ(ControlText(window, kLog).find(L"Adding USB\\VID_6B2F&PID_1180\\GOOD0001\r\n"), 0u);
    EXPECT_EQ(ControlText(window, kSerial), L"GOOD0001");
    EXPECT_EQ(WaitForBox(kTitle, 1500), nullptr) << "no box for an accepted drive";

    struct Case {
        const char* fault;
        const wchar_t* text;
    };
    const Case cases[] = {
        {"refuse=27", L"The HostPair mode is disable. After changing the KX7 setup, use."},
        {"refuse=28", L"Empty Host PC ID !"},
        {"refuse=29", L"Can't find PC ID !"},
        {"refuse=30", L"The system authentication has expired !"},
        {"refuse=99", L"KX7 Invalid Error code !, Cmd = 41, Err Code = 99"},
        {"check=commandstatus:on", L"KX7 System Error !, Cmd = 0, Err Code = 0"},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string name = "refusing" + std::to_string(++n);
        const std::string id = "KX7REFUSE0000" + std::to_string(100 + n);
        AddPaired(name, id, "serial=REFUSE" + std::to_string(n));
        const std::string fault = c.fault;
        if (fault.rfind("check=", 0) == 0) {
            ASSERT_EQ(Sim("fault " + name + " refuse=29 " + fault), "ok");
        } else {
            ASSERT_EQ(Sim("fault " + name + " " + fault), "ok");
        }
        ASSERT_EQ(Sim("plug " + name), "ok");
        HWND box = WaitForBox(kTitle);
        ASSERT_NE(box, nullptr) << c.fault;
        EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr) << "the refusal box has no owner";
        EXPECT_EQ(ControlText(window, kLog), c.text) << "the log shows the refusal alone";
        EXPECT_EQ(Dismiss(box), c.text) << c.fault;
        EXPECT_EQ(Field(Sim("status " + name), "unlocked"), "0");
        ASSERT_EQ(Sim("unplug " + name), "ok");
    }

    // Firmware older than 1.19: the framework's box, and the drive is not served.
    AddPaired("old", "KX7OLDFIRMWARE01", "fw=1.18");
    ASSERT_EQ(Sim("plug old"), "ok");
    HWND box = WaitForBox(kAppName);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Dismiss(box), L"Can't support KX7 firmware version ! (Above V1.19)");
    EXPECT_EQ(Field(Sim("status old"), "auth"), "0");
    ExitAndExpectCleanEnd();

    // Each outcome is in the event log too, as an administrator collects it.
    std::vector<std::wstring> expected = {L"1000 I 2.0.5.3|no", L"2000 A GOOD0001|KX7|2.0|0x1D"};
    for (int i = 0; i < 6; ++i) {
        const wchar_t* codes[] = {L"27", L"28", L"29", L"30", L"99", L"0"};
        expected.push_back(L"2001 W REFUSE" + std::to_wstring(i + 1) + L"|KX7|" + codes[i] + L"|" +
                           cases[i].text);
    }
    expected.push_back(L"2004 W SIMSERIAL008|Can't support KX7 firmware version ! (Above V1.19)");
    expected.push_back(L"1001 I 2.0.5.3|no");
    EXPECT_EQ(ReportedEvents(eventsFrom), expected);
}

TEST_F(SimulatedDrives, TwoDrivesOfWhichTheFirstRefusesAreServedInTurn) {
    ASSERT_NE(Start(), nullptr);
    AddPaired("first", "KX7FIRST00000001", "serial=FIRST001");
    AddPaired("second", "KX7SECOND0000002", "serial=SECOND02 pid=1181");
    ASSERT_EQ(Sim("fault first hostpair=off"), "ok");
    ASSERT_EQ(Sim("plug first"), "ok");
    ASSERT_EQ(Sim("plug second"), "ok");
    HWND box = WaitForBox(kTitle);
    ASSERT_NE(box, nullptr);
    Sleep(2000);
    EXPECT_EQ(Field(Sim("status second"), "auth"), "0")
        << "the second drive waits for the first one's box";
    EXPECT_EQ(Dismiss(box), L"The HostPair mode is disable. After changing the KX7 setup, use.");
    ASSERT_TRUE(WaitStatus("second", "unlocked", "1"));
    ASSERT_TRUE(WaitUntil(
        [&] { return ControlText(window, kLog).find(L"PROD_KX7FIPS") != std::wstring::npos; },
        kTimeoutMs))
        << "a 1181 drive's disk is the FIPS one";

    // Reconnect serves the refused drive again once it would accept.
    ASSERT_EQ(Sim("fault first hostpair=on"), "ok");
    PostMessageW(window, WM_COMMAND, 32780, 0);
    ASSERT_TRUE(WaitStatus("first", "unlocked", "1"));
    ExitAndExpectCleanEnd();
}

TEST_F(SimulatedDrives, UnregisteredPcIsToldWhenADriveArrives) {
    DeleteUserKey(kAgentKey);
    ASSERT_NE(Start(), nullptr);
    // The first pass at start-up finds no record.
    HWND box = WaitForBox(kAppName);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Dismiss(box), kNotRegistered);
    ASSERT_EQ(Sim("add lonely id=KX7LONELY0000001"), "ok");
    ASSERT_EQ(Sim("plug lonely"), "ok");
    box = WaitForBox(kAppName);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(Dismiss(box), kNotRegistered);
    EXPECT_EQ(Field(Sim("status lonely"), "calls"), "0") << "the drive is never asked";
    ExitAndExpectCleanEnd();
    // At start-up no drive is known; later, the one whose arrival the window shows. The box's
    // text is on one line in the log.
    const std::wstring logged =
        L"Error ! This computer is not registered on the HostPair. / Please register to use the "
        L"KX7.";
    EXPECT_EQ(ReportedEvents(eventsFrom),
              (std::vector<std::wstring>{L"1000 I 2.0.5.3|no", L"2003 W (unknown)|" + logged,
                                         L"2003 W SIMSERIAL001|" + logged, L"1001 I 2.0.5.3|no"}));
}

TEST_F(SimulatedDrives, ChangedAdapterIsReportedWithTheRegisteredNic) {
    // Paired, then the registered adapter is another one: bound by MAC address only.
    const std::string host = Pair(L"this macbound KX7MACBOUND00001 --print");
    ASSERT_EQ(host.rfind("host macbound ", 0), 0u) << host;
    wchar_t current[64] = {};
    DWORD size = sizeof(current);
    RegGetValueW(HKEY_CURRENT_USER, kRecordKey, L"MACID", RRF_RT_REG_SZ, nullptr, current, &size);
    wchar_t description[256] = {};
    size = sizeof(description);
    RegGetValueW(HKEY_CURRENT_USER, kRecordKey, L"NICDescription", RRF_RT_REG_SZ, nullptr,
                 description, &size);
    const wchar_t registered[] = L"00-11-22-33-44-55";
    RegSetKeyValueW(HKEY_CURRENT_USER, kRecordKey, L"MACID", REG_SZ, registered,
                    sizeof(registered));
    ASSERT_TRUE(WriteUserDword(kRecordKey, L"NICIndex", 3));
    ASSERT_TRUE(
        WriteUserDword(L"SOFTWARE\\Stonevault\\KX7EntryPCAgent\\KX7MACBOUND00001", L"Mode", 1));

    ASSERT_NE(Start(), nullptr);
    ASSERT_EQ(Sim("add macbound id=KX7MACBOUND00001"), "ok");
    ASSERT_EQ(Sim(host), "ok");
    ASSERT_EQ(Sim("plug macbound"), "ok");
    HWND box = WaitForBox(kAppName);
    ASSERT_NE(box, nullptr);
    // With the registered adapter gone, no adapter is chosen: the current MAC is empty.
    (void)current;
    EXPECT_EQ(Dismiss(box), std::wstring(L"Error ! System environment has changed.\r\n\r\n") +
                                L"Nic #3 Name : " + description + L"\r\n" +
                                L"Entry   MAC ID : 00-11-22-33-44-55\r\n" +
                                L"Current MAC ID : \r\n");
    EXPECT_EQ(Field(Sim("status macbound"), "auth"), "0");
    ExitAndExpectCleanEnd();
    EXPECT_EQ(ReportedEvents(eventsFrom)[1],
              L"2002 W SIMSERIAL001|MAC ID|XX-XX-XX-XX-44-55|(empty)");
}

TEST_F(SimulatedDrives, AttachedAtStartIsUnlockedByTheFirstPassAndItsRemovalStartsTheCleanup) {
    const std::string host = Pair(L"this early KX7EARLY00000001 --print");
    ASSERT_TRUE(WriteUserDword(kRecordKey, L"CleanRegistry", 1));
    ASSERT_NE(StartWithScript("add early id=KX7EARLY00000001 serial=EARLY001\n" + host +
                              "\nplug early\n"),
              nullptr);
    ASSERT_TRUE(WaitStatus("early", "unlocked", "1")) << "the first pass serves it";
    EXPECT_EQ(ControlText(window, kLog).find(L"Adding USB\\VID"), std::wstring::npos)
        << "its arrival was before the program listened";
    ASSERT_TRUE(WaitUntil(
        [&] { return ControlText(window, kLog).find(L"Adding USBSTOR") != std::wstring::npos; },
        kTimeoutMs));

    // Removing the unlocked drive starts the cleanup tool once, more than 10 ticks later.
    const ULONGLONG removed = GetTickCount64();
    ASSERT_EQ(Sim("unplug early"), "ok");
    ASSERT_TRUE(WaitUntil(
        [&] { return GetFileAttributesW(StandInLog().c_str()) != INVALID_FILE_ATTRIBUTES; },
        kTimeoutMs));
    EXPECT_GT(GetTickCount64() - removed, 10 * 500u);
    Sleep(8000);
    const std::vector<test::StandInStart> starts = test::ReadStandInStarts(StandInLog());
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_NE(starts[0].program.find("SVCleanRegWin7.exe"), std::string::npos) << starts[0].program;
    ExitAndExpectCleanEnd();
    const std::vector<std::wstring> events = ReportedEvents(eventsFrom);
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[2], L"3000 I " + SimDir() + L"SVCleanRegWin7.exe");
}

TEST_F(SimulatedDrives, DrivePulledOutInItsTurnGivesWayToTheNextDriveAndToExit) {
    // One pass takes the three in turn; while the first one's refusal is up, the second stalls.
    const std::string hosts = Pair(L"this refusing KX7REFUSING00001 --print") + "\n" +
                              Pair(L"this stuck KX7STUCK00000002 --print") + "\n" +
                              Pair(L"this next KX7NEXT000000003 --print") + "\n";
    ASSERT_NE(StartWithScript("add refusing id=KX7REFUSING00001\nadd stuck id=KX7STUCK00000002\n"
                              "add next id=KX7NEXT000000003\nfault refusing hostpair=off\n" +
                              hosts + "plug refusing\nplug stuck\nplug next\n"),
              nullptr);
    HWND box = WaitForBox(kTitle);
    ASSERT_NE(box, nullptr);
    ASSERT_EQ(Sim("fault stuck stall=on"), "ok");
    Dismiss(box);
    PostMessageW(window, WM_COMMAND, 32775, 0);  // Exit, confirmed while the turn hangs
    HWND confirm = WaitForBox(kAppName);
    ASSERT_NE(confirm, nullptr);
    ClickButton(confirm, IDOK);
    Sleep(3000);
    EXPECT_EQ(Field(Sim("status next"), "auth"), "0") << "the stalled drive holds the pass";

    // Pulled out, it is given up at once. Under Wine, ending the window and its tray icon take
    // about 2 s each.
    const ULONGLONG removed = GetTickCount64();
    ASSERT_EQ(Sim("unplug stuck"), "ok");
    EXPECT_TRUE(WaitStatus("next", "unlocked", "1", 2000)) << "served within 2 s of the removal";
    DWORD code = 1234;
    ASSERT_TRUE(connector.WaitExit(kTimeoutMs, &code));
    EXPECT_LT(GetTickCount64() - removed, 2000u + 6000u) << "Exit honoured soon after the removal";
    EXPECT_EQ(code, 0u);
}

TEST_F(SimulatedDrives, LogOffWhileAPassWaitsOnAStalledDriveEndsTheProgramWithoutABox) {
    ASSERT_NE(Start(), nullptr);
    AddPaired("stuck", "KX7STUCK00000001");
    AddPaired("refusing", "KX7REFUSING00002");
    ASSERT_EQ(Sim("fault stuck stall=on"), "ok");
    ASSERT_EQ(Sim("fault refusing hostpair=off"), "ok");
    ASSERT_EQ(Sim("plug stuck"), "ok");
    ASSERT_EQ(Sim("plug refusing"), "ok");
    Sleep(3000);  // the 1 s settle wait, then the pass hangs on the stalled drive

    // The drive answers again early in the session's last 1.5 s: its turn, which shows the
    // serial through the window, sends the packet within them, not once they are over.
    bool packetInGrace = false;
    std::thread recovery([&] {
        Sleep(300);
        Sim("fault stuck stall=off");
        packetInGrace = WaitStatus("stuck", "auth", "1", 800);
    });
    EXPECT_EQ(EndSession(window), TRUE);
    recovery.join();
    EXPECT_TRUE(packetInGrace);
    bool boxShown = false;
    const bool ended = WaitUntil(
        [&] {
            boxShown = boxShown || WaitForWindow(L"#32770", nullptr, connector.pid(), 0) != nullptr;
            return !connector.Running();
        },
        5000);
    EXPECT_TRUE(ended) << "the session's few seconds are not held";
    EXPECT_FALSE(boxShown);
    DWORD code = 1234;
    ASSERT_TRUE(connector.WaitExit(0, &code));
    EXPECT_EQ(code, 0u);
    // The next drive's turn may go on until the process is ended (under Wine 2 s after the end
    // is logged, once the tray icon has gone), so the end need not be the last event.
    const std::vector<std::wstring> events = ReportedEvents(eventsFrom);
    EXPECT_EQ(std::count(events.begin(), events.end(), L"1001 I 2.0.5.3|no"), 1)
        << "the end is logged";
}

// The shipped program's message table gives each event its text, as Event Viewer shows it.
TEST(EventMessages, TheConnectorFormatsEachEvent) {
    HMODULE module = LoadLibraryExW(ProgramPath(L"KX7AutoConnector.exe").c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    const std::vector<std::pair<DWORD, std::wstring>> cases = {
        {1000, L"KX7 HostPair Auto Connector %1 started (hide mode: %2).\r\n"},
        {1001, L"KX7 HostPair Auto Connector %1 ended (hide mode: %2).\r\n"},
        {2000,
         L"A KX7 drive accepted this PC's authentication and unlocks.\r\nDevice serial: "
         L"%1\r\nProduct: %2\r\nFirmware version: %3\r\nBinding mask: %4\r\n"},
        {2001,
         L"A KX7 drive refused this PC's authentication and stays locked.\r\nDevice "
         L"serial: %1\r\nProduct: %2\r\nRefusal code: %3\r\nMessage shown: %4\r\n"},
        {2002,
         L"A KX7 drive was not unlocked: an identity item it is bound to differs from the "
         L"one registered for this PC.\r\nDevice serial: %1\r\nItem: %2\r\nRegistered: "
         L"%3\r\nCurrent: %4\r\n"},
        {2003,
         L"A KX7 drive was not unlocked: this PC is not registered for it.\r\nDevice "
         L"serial: %1\r\nMessage shown: %2\r\n"},
        {2004,
         L"A KX7 drive was not unlocked: its firmware is older than this program "
         L"supports.\r\nDevice serial: %1\r\nMessage shown: %2\r\n"},
        {2005,
         L"No KX7 drive was unlocked: this PC's date is invalid.\r\nDevice serial: "
         L"%1\r\nMessage shown: %2\r\n"},
        {2006,
         L"A KX7 drive was left alone in this pass: another program on this PC was serving it "
         L"for longer than %2 seconds, or its lock could not be opened.\r\nDevice serial: "
         L"%1\r\n"},
        {3000,
         L"An unlocked KX7 drive was removed, and the registry cleanup tool was started: "
         L"%1\r\n"},
    };
    // Each insertion string names itself, so the text comes back as the table holds it.
    DWORD_PTR samples[] = {reinterpret_cast<DWORD_PTR>(L"%1"), reinterpret_cast<DWORD_PTR>(L"%2"),
                           reinterpret_cast<DWORD_PTR>(L"%3"), reinterpret_cast<DWORD_PTR>(L"%4")};
    for (const auto& [id, text] : cases) {
        wchar_t out[1024] = {};
        const DWORD length =
            FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY, module, id,
                           MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), out, 1024,
                           reinterpret_cast<va_list*>(samples));
        EXPECT_EQ(std::wstring(out, length), text) << id;
    }
    // A serial "A%1%%4" and a two-line text as the log holds them: Event Viewer's second pass,
    // which reads the shown message as a format once more, finds nothing to expand.
    const auto format = [](DWORD from, const void* source, DWORD id, const wchar_t* each) {
        DWORD_PTR strings[] = {DWORD_PTR(each), DWORD_PTR(each), DWORD_PTR(each), DWORD_PTR(each)};
        wchar_t out[1024] = {};
        return std::wstring(out, FormatMessageW(from | FORMAT_MESSAGE_ARGUMENT_ARRAY, source, id, 0,
                                                out, 1024, reinterpret_cast<va_list*>(strings)));
    };
    for (const auto& [id, text] : cases) {
        const std::wstring shown =
            format(FORMAT_MESSAGE_FROM_HMODULE, module, id, L"A\uFF051\uFF05\uFF054 / B");
        EXPECT_EQ(format(FORMAT_MESSAGE_FROM_STRING, shown.c_str(), 0, L"PULLED"), shown) << id;
    }
    FreeLibrary(module);
}

}  // namespace
}  // namespace kx7::e2e
