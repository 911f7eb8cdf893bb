// kx7sim: drives the simulation build of the connector from outside. Commands for the simulated
// bus (add, set, host, fault, plug, unplug, ...) go over the named pipe; a few more act on the
// connector's window as a user would (read it, answer its boxes, use its tray menu). Prints the
// answer; exits 0 when it starts with "ok", 1 otherwise. See sim/README.md.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "sim/win32/sim_pipe_win.h"

namespace {

const wchar_t kTitle[] = L"KX7 HostPair Auto Connector";
const wchar_t kClass[] = L"KX7AutoConnector_Class";

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) {
        narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return narrow;
}

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

std::wstring TextOf(HWND window) {
    std::vector<wchar_t> text(32768, L'\0');
    SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_BLOCK, 5000, nullptr);
    text.back() = L'\0';
    return text.data();
}

// Line breaks shown as " | ", so that one answer stays one line.
std::string OneLine(const std::wstring& text) {
    std::string line;
    for (const char c : Narrow(text)) {
        if (c == '\r') {
            continue;
        }
        line += c == '\n' ? std::string(" | ") : std::string(1, c);
    }
    return line;
}

struct Box {
    HWND window;
    std::wstring caption;
    std::wstring text;
};

BOOL CALLBACK StaticTextOf(HWND child, LPARAM param) {
    wchar_t name[32] = {};
    GetClassNameW(child, name, 32);
    const LONG type = GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK;
    if (_wcsicmp(name, L"Static") == 0 && type != SS_ICON) {
        const std::wstring text = TextOf(child);
        if (!text.empty()) {
            *reinterpret_cast<std::wstring*>(param) = text;
            return FALSE;
        }
    }
    return TRUE;
}

struct BoxQuery {
    DWORD pid;
    std::vector<Box> boxes;
};

BOOL CALLBACK CollectBox(HWND window, LPARAM param) {
    auto* query = reinterpret_cast<BoxQuery*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t name[32] = {};
    GetClassNameW(window, name, 32);
    if (pid == query->pid && wcscmp(name, L"#32770") == 0 && IsWindowVisible(window)) {
        Box box{window, TextOf(window), L""};
        EnumChildWindows(window, StaticTextOf, reinterpret_cast<LPARAM>(&box.text));
        query->boxes.push_back(box);
    }
    return TRUE;
}

HWND MainWindow() {
    return FindWindowW(kClass, kTitle);
}

std::vector<Box> Boxes(HWND main) {
    BoxQuery query{0, {}};
    GetWindowThreadProcessId(main, &query.pid);
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&query));
    return query.boxes;
}

int Reply(const std::string& answer) {
    std::printf("%s\n", answer.c_str());
    return answer.rfind("ok", 0) == 0 ? 0 : 1;
}

unsigned long Number(const char* text, unsigned long fallback) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    return (end != nullptr && *end == '\0') ? value : fallback;
}

int WindowCommand(const std::vector<std::string>& args) {
    HWND main = MainWindow();
    if (main == nullptr) {
        return Reply("error the connector's window is not there");
    }
    const std::string& verb = args[0];
    if (verb == "window") {
        RECT rect = {};
        GetWindowRect(main, &rect);
        return Reply("ok visible=" + std::to_string(IsWindowVisible(main) ? 1 : 0) +
                     " rect=" + std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
                     std::to_string(rect.right - rect.left) + "," +
                     std::to_string(rect.bottom - rect.top) +
                     " serial=" + Narrow(TextOf(GetDlgItem(main, 1004))) +
                     " log=" + OneLine(TextOf(GetDlgItem(main, 1001))));
    }
    if (verb == "boxes") {
        std::string answer = "ok";
        for (const Box& box : Boxes(main)) {
            if (box.window != main) {
                answer += " [" + Narrow(box.caption) + "] " + OneLine(box.text) + ";";
            }
        }
        return Reply(answer);
    }
    if (verb == "wait-box" || verb == "wait-log") {
        // wait-box [MS] / wait-log TEXT [MS]
        const bool forBox = verb == "wait-box";
        const size_t timeoutArg = forBox ? 1 : 2;
        if (!forBox && args.size() < 2) {
            return Reply("error usage: wait-log TEXT [MS]");
        }
        const unsigned long timeout =
            args.size() > timeoutArg ? Number(args[timeoutArg].c_str(), 30000) : 30000;
        const ULONGLONG deadline = GetTickCount64() + timeout;
        do {
            if (forBox) {
                for (const Box& box : Boxes(main)) {
                    if (box.window != main) {
                        return Reply("ok [" + Narrow(box.caption) + "] " + OneLine(box.text));
                    }
                }
            } else {
                const std::string log = Narrow(TextOf(GetDlgItem(main, 1001)));
                if (log.find(args[1]) != std::string::npos) {
                    return Reply("ok " + OneLine(Widen(log)));
                }
            }
            Sleep(50);
        } while (GetTickCount64() < deadline);
        return Reply("error timed out");
    }
    if (verb == "press") {
        // press OK|Cancel: answers the box that is up.
        if (args.size() < 2) {
            return Reply("error usage: press OK|Cancel");
        }
        const int button = args[1] == "Cancel" ? IDCANCEL : IDOK;
        for (const Box& box : Boxes(main)) {
            if (box.window != main && GetDlgItem(box.window, button) != nullptr) {
                PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(box.window, button)));
                return Reply("ok pressed " + args[1] + " on [" + Narrow(box.caption) + "]");
            }
        }
        return Reply("error no box with that button");
    }
    if (verb == "menu") {
        // menu open|reconnect|info|exit: the tray menu's commands.
        static const struct {
            const char* name;
            WPARAM id;
        } kItems[] = {{"open", 32773}, {"reconnect", 32780}, {"info", 32774}, {"exit", 32775}};
        for (const auto& item : kItems) {
            if (args.size() > 1 && args[1] == item.name) {
                PostMessageW(main, WM_COMMAND, item.id, 0);
                return Reply("ok");
            }
        }
        return Reply("error usage: menu open|reconnect|info|exit");
    }
    return Reply("error unknown command " + verb);
}

const char kUsage[] =
    "usage: kx7sim COMMAND [ARGS]     (kx7sim help prints this)\n"
    "  bus:    add NAME [id=..] [serial=..] [vid=..] [pid=..] [fw=M.mm] | set NAME ... |\n"
    "          host NAME computer=.. mask=.. check=a,b,c,d,e [expiry=YYYY-MM-DD] |\n"
    "          clearhosts NAME | fault NAME KEY=VALUE ... | plug NAME | unplug NAME |\n"
    "          replug NAME | status NAME (shows the id= that kx7pair needs) | list |\n"
    "          date YYYY-MM-DD | events | usage\n"
    "  faults: fail=N stall=on|off check=KIND:on|off ready=on|off refuse=CODE|off\n"
    "          hostpair=on|off inquiry=N\n"
    "  window: window | boxes | wait-box [MS] | wait-log TEXT [MS] | press OK|Cancel |\n"
    "          menu open|reconnect|info|exit\n"
    "The connector's simulation build must be running; see sim/README.md.\n";

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    // Asked for, the usage is an answer like any other, on standard output.
    static const char* const kHelpWords[] = {"help", "/?", "-h", "--help"};
    for (const char* word : kHelpWords) {
        if (args[0] == word) {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    static const char* const kWindowVerbs[] = {"window",   "boxes", "wait-box",
                                               "wait-log", "press", "menu"};
    for (const char* verb : kWindowVerbs) {
        if (args[0] == verb) {
            return WindowCommand(args);
        }
    }
    std::string line;
    for (const std::string& arg : args) {
        line += (line.empty() ? "" : " ") + arg;
    }
    return Reply(kx7::sim::SendSimCommand(line));
}
