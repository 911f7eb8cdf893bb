// The simulation build's device services: discovery, the pass-through and the device tree's
// information sets reach a simulated bus, and the bus's interface arrivals and removals reach the
// main window as WM_DEVICECHANGE through its window procedure, as the system delivers them. The
// bus is driven from outside through a named pipe (see sim/README.md), and a script named by the
// environment variable KX7SIM_SCRIPT runs before the window listens, for drives that are already
// attached when the program starts.
#include <windows.h>

#include <dbt.h>
#include <process.h>

#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <deque>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "connector/app/device_seams_win.h"
#include "connector/devtree/device_tracking.h"
#include "connector/platform/guid_win.h"
#include "connector/platform/setupapi_win.h"
#include "sim/sim_control.h"
#include "sim/seams/sim_device_info.h"
#include "sim/simulated_bus.h"
#include "sim/win32/sim_pipe_win.h"
#include "sim/seams/sim_seams.h"

namespace kx7 {
namespace {

struct Notification {
    bool arrival;
    std::wstring name;
};

// The simulated system: its bus, the control language over it, and the notifications on their
// way to the window, with a record of those delivered.
class SimulatedSystem {
  public:
    SimulatedSystem() : control_(bus_), interfaces_(bus_) {
        // The drives keep the date of the machine they are plugged into.
        SYSTEMTIME today;
        GetLocalTime(&today);
        bus_.SetDate(sim::PackSimDate(today.wYear, today.wMonth, today.wDay));
    }

    DeviceInterfaces& interfaces() { return interfaces_; }
    sim::SimControl& control() { return control_; }

    void Start(HWND window) {
        window_ = window;
        started_ = GetTickCount64();
        RunStartupScript();
        bus_.SetEventListener([this](const sim::SimDeviceEvent& event) { OnEvent(event); });
        CloseHandle(reinterpret_cast<HANDLE>(
            _beginthreadex(nullptr, 0, &SimulatedSystem::NotifierEntry, this, 0, nullptr)));
        CloseHandle(reinterpret_cast<HANDLE>(
            _beginthreadex(nullptr, 0, &SimulatedSystem::PipeEntry, this, 0, nullptr)));
    }

  private:
    void RunStartupScript() {
        char path[MAX_PATH] = {};
        const DWORD length = GetEnvironmentVariableA("KX7SIM_SCRIPT", path, sizeof(path));
        if (length == 0 || length >= sizeof(path)) {
            return;
        }
        std::ifstream script(path);
        std::string line;
        while (std::getline(script, line)) {
            control_.Execute(line);
        }
    }

    // On the thread that caused the event: only queued, as the system broadcasts on its own.
    void OnEvent(const sim::SimDeviceEvent& event) {
        control_.NoteEvent(event);
        if (!IsNotificationClass(event.interfaceClass)) {
            return;  // no window listens for the CD-ROM class
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_back({event.kind == sim::SimEventKind::kArrival, event.name});
        }
        wake_.notify_one();
    }

    static unsigned __stdcall NotifierEntry(void* self) {
        static_cast<SimulatedSystem*>(self)->Notify();
        return 0;
    }

    void Notify() {
        for (;;) {
            Notification next;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return !queue_.empty(); });
                next = queue_.front();
                queue_.pop_front();
            }
            const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
            std::vector<BYTE> record(nameOffset + (next.name.size() + 1) * sizeof(wchar_t));
            auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(record.data());
            broadcast->dbcc_size = static_cast<DWORD>(record.size());
            broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
            std::memcpy(record.data() + nameOffset, next.name.c_str(),
                        (next.name.size() + 1) * sizeof(wchar_t));
            {
                std::lock_guard<std::mutex> lock(mutex_);
                delivered_ += std::to_string(GetTickCount64() - started_) +
                              (next.arrival ? " + " : " - ") + Narrow(next.name) + ";";
                // The newest notifications only, so that a long run does not grow without end.
                if (delivered_.size() > kDeliveredKeepChars) {
                    delivered_.erase(
                        0, delivered_.find(';', delivered_.size() - kDeliveredKeepChars) + 1);
                }
            }
            SendMessageW(window_, WM_DEVICECHANGE,
                         next.arrival ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE,
                         reinterpret_cast<LPARAM>(record.data()));
        }
    }

    static std::string Narrow(const std::wstring& text) {
        std::string narrow;
        for (wchar_t c : text) {
            narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
        }
        return narrow;
    }

    static unsigned __stdcall PipeEntry(void* self) {
        static_cast<SimulatedSystem*>(self)->Serve();
        return 0;
    }

    std::string Answer(const std::string& line) {
        if (line.rfind("events", 0) == 0) {
            // The notifications delivered so far, milliseconds after the window was ready.
            std::lock_guard<std::mutex> lock(mutex_);
            return "ok " + delivered_;
        }
        if (line == "usage") {
            return "ok " + Usage();
        }
        return control_.Execute(line);
    }

    // What the process holds, for the storm test. Wine counts no handles and no private bytes
    // for a process, so: the bytes of every heap block in use, and the slot a new handle gets
    // (the lowest free one, so handles that are never closed push it up).
    static std::string Usage() {
        size_t busy = 0;
        HANDLE heaps[64];
        const DWORD count = GetProcessHeaps(64, heaps);
        for (DWORD i = 0; i < count && i < 64; ++i) {
            if (!HeapLock(heaps[i])) {
                continue;
            }
            PROCESS_HEAP_ENTRY entry = {};
            while (HeapWalk(heaps[i], &entry)) {
                if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
                    busy += entry.cbData;
                }
            }
            HeapUnlock(heaps[i]);
        }
        HANDLE probe = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        const uintptr_t slot = reinterpret_cast<uintptr_t>(probe) / 4;
        CloseHandle(probe);
        return "heap=" + std::to_string(busy) + " handleslot=" + std::to_string(slot);
    }

    void Serve() {
        for (;;) {
            HANDLE pipe = CreateNamedPipeW(sim::kSimPipeName, PIPE_ACCESS_DUPLEX,
                                           PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 4096,
                                           4096, 0, nullptr);
            if (pipe == INVALID_HANDLE_VALUE) {
                Sleep(500);
                continue;
            }
            if (ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED) {
                std::string pending;
                char buffer[1024];
                DWORD got = 0;
                while (ReadFile(pipe, buffer, sizeof(buffer), &got, nullptr) && got > 0) {
                    pending.append(buffer, got);
                    for (size_t end = pending.find('\n'); end != std::string::npos;
                         end = pending.find('\n')) {
                        std::string line = pending.substr(0, end);
                        pending.erase(0, end + 1);
                        if (!line.empty() && line.back() == '\r') {
                            line.pop_back();
                        }
                        const std::string answer = Answer(line) + "\n";
                        DWORD written = 0;
                        WriteFile(pipe, answer.data(), static_cast<DWORD>(answer.size()), &written,
                                  nullptr);
                    }
                }
                DisconnectNamedPipe(pipe);
            }
            CloseHandle(pipe);
        }
    }

    sim::SimulatedBus bus_;
    sim::SimControl control_;
    sim::SimBusInterfaces interfaces_;
    HWND window_ = nullptr;
    ULONGLONG started_ = 0;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Notification> queue_;
    static constexpr size_t kDeliveredKeepChars = 16384;
    std::string delivered_;
};

SimulatedSystem& System() {
    // Lives until the process ends: the notifier and the pipe threads run until then.
    static SimulatedSystem* system = new SimulatedSystem();
    return *system;
}

}  // namespace

DeviceInterfaces& ConnectorDeviceInterfaces() {
    return System().interfaces();
}

std::unique_ptr<DeviceInfoSource> MakeDeviceInfoSource(SP_CLASSIMAGELIST_DATA* imageList) {
    return std::make_unique<sim::SimDeviceInfoSource>(
        System().control(), [imageList](const InterfaceGuid& classGuid) {
            int index = -1;
            const GUID guid = ToGuid(classGuid);
            const SetupApi* api = SystemSetupApi();
            if (api == nullptr || imageList == nullptr || imageList->ImageList == nullptr ||
                !api->GetClassImageIndex(imageList, &guid, &index)) {
                return -1;
            }
            return index;
        });
}

void OnDeviceWindowReady(HWND window) {
    System().Start(window);
}

}  // namespace kx7
