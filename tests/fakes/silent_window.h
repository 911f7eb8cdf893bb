// A window that shows nothing and a shell that starts nothing, for runs of the connector's state
// in which what it shows or starts does not matter: benchmarks and fuzzing.
#pragma once

#include <string>

#include "connector/engine/cleanup_launcher.h"
#include "connector/engine/worker/connector_state.h"

namespace kx7::test {

class SilentView : public ConnectorView {
  public:
    void SetLogText(const std::wstring&) override {}
    void AddLogLine(const std::wstring&) override {}
    void SetDeviceSerialText(const std::wstring&) override {}
    void ShowAppMessage(const std::wstring&) override {}
    void ShowRefusal(const std::wstring&) override {}
    void PostWorkerDone(uintptr_t, intptr_t) override {}
    WindowHandle OwnerWindow() override { return 0; }
};

class NoShell final : public ShellLauncher {
  public:
    bool GetModulePath(std::wstring*) override { return false; }
    bool ShellOpenHidden(const std::wstring&) override { return false; }
    bool ShellRunAsHidden(WindowHandle, const std::wstring&) override { return false; }
};

}  // namespace kx7::test
