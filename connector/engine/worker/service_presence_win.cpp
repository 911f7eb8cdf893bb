#include <windows.h>

#include "connector/engine/worker/service_presence.h"

namespace kx7 {

namespace {

class Win32ServicePresence final : public ServicePresence {
  public:
    bool HostPairServiceRunning() override {
        // The least rights that answer the question, which every user has.
        SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
        if (manager == nullptr) {
            return false;
        }
        bool running = false;
        SC_HANDLE service = OpenServiceW(manager, kHostPairServiceName, SERVICE_QUERY_STATUS);
        if (service != nullptr) {
            SERVICE_STATUS status{};
            if (QueryServiceStatus(service, &status)) {
                running = status.dwCurrentState == SERVICE_RUNNING ||
                          status.dwCurrentState == SERVICE_START_PENDING ||
                          status.dwCurrentState == SERVICE_CONTINUE_PENDING;
            }
            CloseServiceHandle(service);
        }
        CloseServiceHandle(manager);
        return running;
    }
};

}  // namespace

ServicePresence& SystemServicePresence() {
    static Win32ServicePresence presence;
    return presence;
}

}  // namespace kx7
