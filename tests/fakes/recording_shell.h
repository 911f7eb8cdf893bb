// A shell that starts nothing and records what it was asked to start, in order.
#pragma once

#include <string>
#include <vector>

#include "connector/engine/cleanup_launcher.h"

namespace kx7::test {

struct ShellCall {
    std::wstring verb;  // "open" or "runas"
    WindowHandle owner;
    std::wstring file;
};

class RecordingShell final : public ShellLauncher {
  public:
    bool pathAvailable = true;
    bool starts = true;  // what each start reports
    // A folder with a space, as a path cut at its first blank would show.
    std::wstring modulePath = L"C:\\Program Files\\Stone vault\\KX7AutoConnector.exe";
    std::vector<ShellCall> calls;

    bool GetModulePath(std::wstring* path) override {
        if (!pathAvailable) {
            return false;
        }
        *path = modulePath;
        return true;
    }
    bool ShellOpenHidden(const std::wstring& file) override {
        calls.push_back({L"open", 0, file});
        return starts;
    }
    bool ShellRunAsHidden(WindowHandle owner, const std::wstring& file) override {
        calls.push_back({L"runas", owner, file});
        return starts;
    }

    // Each call as "<verb> <file>".
    std::vector<std::wstring> Started() const {
        std::vector<std::wstring> started;
        for (const ShellCall& call : calls) {
            started.push_back(call.verb + L" " + call.file);
        }
        return started;
    }
};

}  // namespace kx7::test
