// An event storm on the simulation build: a thousand arrivals and removals of KX7 drives and of
// other devices, in bursts and interleaved, while connect passes run. The program must keep
// answering, end with its tree equal to what is attached, serve a drive plugged in afterwards,
// and not grow in handles or memory beyond a small bound.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>
#include <string>

#include "sim/win32/sim_pipe_win.h"
#include "tests/e2e/process_driver_win.h"
#include "tests/fakes/product_texts.h"

namespace kx7::e2e {
namespace {

using namespace test;

constexpr int kDrives = 3;
constexpr DWORD kTimeoutMs = 30000;

std::string Sim(const std::string& line) {
    return sim::SendSimCommand(line);
}

bool Unlocked(const std::string& name) {
    return Sim("status " + name).find(" unlocked=1") != std::string::npos;
}

// Runs the pairing helper for a drive of the bus and waits for it.
bool Pair(const std::string& name, const std::string& id) {
    ChildProcess pair;
    DWORD code = 1;
    return pair.Start(ProgramPath(L"kx7pair.exe"), L"this " +
                                                       std::wstring(name.begin(), name.end()) +
                                                       L" " + std::wstring(id.begin(), id.end())) &&
           pair.WaitExit(kTimeoutMs, &code) && code == 0;
}

std::string ControlTextNarrow(HWND window, int id) {
    std::string text;
    for (wchar_t c : ControlText(window, id)) {
        text.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return text;
}

// The pairing helper's host command for a drive, with this PC's record and the drive's "Mode"
// written as it goes.
std::wstring PairPrint(const std::string& name, const std::string& id) {
    std::string output;
    DWORD code = 1;
    RunCapturingOutput(ProgramPath(L"kx7pair.exe"),
                       L"this " + std::wstring(name.begin(), name.end()) + L" " +
                           std::wstring(id.begin(), id.end()) + L" --print",
                       kTimeoutMs, &output, &code);
    const std::string answer = LastLine(output);
    return std::wstring(answer.begin(), answer.end());
}

struct Usage {
    DWORD handles = 0;
    SIZE_T privateBytes = 0;
};

// What the connector holds: the slot its next handle would get, and its heap bytes in use.
Usage UsageOf() {
    const std::string answer = Sim("usage");
    Usage usage;
    const size_t handles = answer.find("handleslot=");
    const size_t bytes = answer.find("heap=");
    if (answer.rfind("ok ", 0) == 0 && handles != std::string::npos && bytes != std::string::npos) {
        usage.handles = std::stoul(answer.substr(handles + 11));
        usage.privateBytes = std::stoul(answer.substr(bytes + 5));
    }
    return usage;
}

std::wstring OtherDevice(int n) {
    wchar_t name[160];
    swprintf(name, 160,
             L"\\\\?\\HID#VID_046D&PID_C%03X#7&%x&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
             n % 7, n);
    return name;
}

TEST(EventStorm, ThousandEventsWhilePassesRun) {
    ASSERT_EQ(FindWindowW(nullptr, kTitle), nullptr) << "a connector is already running";
    DeleteUserKey(kSettingsKey);
    DeleteUserKey(kAgentKey);
    ASSERT_TRUE(WriteUserDword(kSettingsKey, L"Interval", 0));  // a pass at once
    // The drives and the pairing come from a start-up script, so the PC is registered before
    // the connector starts.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring script = std::wstring(temp) + L"kx7sim-storm.txt";
    {
        std::wstring lines;
        for (int d = 0; d < kDrives; ++d) {
            const std::string name = "d" + std::to_string(d);
            const std::string id = "KX7STORM0000000" + std::to_string(d);
            lines += std::wstring(L"add ") + std::wstring(name.begin(), name.end()) + L" id=" +
                     std::wstring(id.begin(), id.end()) + (d % 2 ? L" pid=1181\n" : L" pid=1180\n");
            lines += PairPrint(name, id) + L"\n";
        }
        FILE* out = _wfopen(script.c_str(), L"w");
        ASSERT_NE(out, nullptr);
        std::fputs(std::string(lines.begin(), lines.end()).c_str(), out);
        std::fclose(out);
    }
    SetEnvironmentVariableW(L"KX7SIM_SCRIPT", script.c_str());
    ChildProcess connector;
    ASSERT_TRUE(connector.Start(ProgramPath(L"sim\\KX7AutoConnector.exe"), L""));
    SetEnvironmentVariableW(L"KX7SIM_SCRIPT", nullptr);
    HWND window = WaitForWindow(kClass, kTitle, connector.pid(), kTimeoutMs);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindowVisible(window); }, kTimeoutMs));

    int events = 0;
    Usage warm;
    bool plugged[kDrives] = {};
    for (int round = 0; events < 1000; ++round) {
        // A burst of other devices coming and going.
        for (int i = 0; i < 12; ++i) {
            ASSERT_TRUE(SendInterfaceEvent(window, true, OtherDevice(round * 12 + i)));
            ASSERT_TRUE(SendInterfaceEvent(window, false, OtherDevice(round * 12 + i)));
            events += 2;
        }
        // A drive comes or goes, between more of them; a drive is pulled out only once it is
        // unlocked, since the vendor commands of a drive pulled out mid-call retry for a minute.
        const int d = round % kDrives;
        const std::string name = "d" + std::to_string(d);
        if (!plugged[d]) {
            ASSERT_EQ(Sim("plug " + name), "ok");
            plugged[d] = true;
            events += 1;
        } else if (Unlocked(name)) {
            ASSERT_EQ(Sim("unplug " + name), "ok");
            plugged[d] = false;
            events += 2;  // the disk, then the USB node
        }
        for (int i = 0; i < 4; ++i) {
            ASSERT_TRUE(SendInterfaceEvent(window, i % 2 == 0, OtherDevice(round)));
            ++events;
        }
        // Still answering, promptly.
        DWORD_PTR length = 0;
        ASSERT_NE(SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_BLOCK, 5000, &length), 0)
            << "round " << round;
        if (round == 10) {
            warm = UsageOf();
        }
    }

    // Settle: every drive still attached is unlocked, and the tree shows exactly them.
    int attached = 0;
    for (int d = 0; d < kDrives; ++d) {
        if (plugged[d]) {
            ++attached;
            ASSERT_TRUE(WaitUntil([&] { return Unlocked("d" + std::to_string(d)); }, 90000))
                << "d" << d << ": " << Sim("status d0") << " / " << Sim("status d1") << " / "
                << Sim("status d2") << "; events "
                << Sim("events").substr(Sim("events").size() > 1500 ? Sim("events").size() - 1500
                                                                    : 0)
                << "; serial " << std::string(ControlTextNarrow(window, 1004)) << "; log tail "
                << ControlTextNarrow(window, 1001)
                       .substr(ControlTextNarrow(window, 1001).size() > 400
                                   ? ControlTextNarrow(window, 1001).size() - 400
                                   : 0);
        }
    }
    HWND tree = GetDlgItem(window, 1000);
    // The root, and for each attached drive its USB node and its disk under their two classes.
    const LRESULT expected = attached == 0 ? 1 : 1 + 2 + 2 * attached;
    EXPECT_TRUE(
        WaitUntil([&] { return SendMessageW(tree, TVM_GETCOUNT, 0, 0) == expected; }, 10000))
        << "tree items " << SendMessageW(tree, TVM_GETCOUNT, 0, 0) << ", expected " << expected;

    const Usage after = UsageOf();
    std::printf("storm: %d events; handle slot %lu -> %lu; heap in use %lu KB -> %lu KB\n", events,
                warm.handles, after.handles, static_cast<unsigned long>(warm.privateBytes / 1024),
                static_cast<unsigned long>(after.privateBytes / 1024));
    ASSERT_GT(warm.handles, 0u) << "the connector reports what it holds";
    ASSERT_GT(warm.privateBytes, 0u);
    EXPECT_LE(after.handles, warm.handles + 20);
    // The log is capped at 30000 characters and the tree holds only what is attached.
    EXPECT_LE(after.privateBytes, warm.privateBytes + 512 * 1024);

    // A drive plugged in after the storm is served as usual: the counters are sound.
    ASSERT_EQ(Sim("add late id=KX7STORMLATE0001"), "ok");
    ASSERT_TRUE(Pair("late", "KX7STORMLATE0001"));
    ASSERT_EQ(Sim("plug late"), "ok");
    EXPECT_TRUE(WaitUntil([&] { return Unlocked("late"); }, kTimeoutMs));

    PostMessageW(window, WM_CLOSE, 0, 0);
    DWORD code = 1234;
    ASSERT_TRUE(connector.WaitExit(kTimeoutMs, &code));
    EXPECT_EQ(code, 0u);
    DeleteUserKey(kSettingsKey);
    DeleteUserKey(kAgentKey);
}

}  // namespace
}  // namespace kx7::e2e
