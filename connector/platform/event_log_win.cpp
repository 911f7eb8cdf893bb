#include <windows.h>

#include <memory>
#include <mutex>

#include "connector/platform/event_log.h"

namespace kx7 {

namespace {

// The user the program runs for, so that an administrator sees who unlocked a drive.
std::unique_ptr<BYTE[]> ProcessUserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return nullptr;
    }
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::unique_ptr<BYTE[]> user(size != 0 ? new BYTE[size] : nullptr);
    if (!user || !GetTokenInformation(token, TokenUser, user.get(), size, &size)) {
        user.reset();
    }
    CloseHandle(token);
    return user;
}

class Win32EventLog final : public EventLog {
  public:
    Win32EventLog() : user_(ProcessUserSid()) {}
    ~Win32EventLog() override {
        if (source_ != nullptr) {
            DeregisterEventSource(source_);
        }
    }
    Win32EventLog(const Win32EventLog&) = delete;
    Win32EventLog& operator=(const Win32EventLog&) = delete;

  private:
    void Write(EventType type, uint32_t eventId,
               const std::vector<std::wstring>& strings) override {
        HANDLE source = Source();
        if (source == nullptr) {
            return;
        }
        std::vector<LPCWSTR> pointers;
        for (const std::wstring& s : strings) {
            pointers.push_back(s.c_str());
        }
        PSID sid = user_ ? reinterpret_cast<TOKEN_USER*>(user_.get())->User.Sid : nullptr;
        // The strings are this call's own and the handle no longer changes, so the worker and
        // the window may report at the same time.
        ReportEventW(source, static_cast<WORD>(type), 0, eventId, sid,
                     static_cast<WORD>(pointers.size()), 0,
                     pointers.empty() ? nullptr : pointers.data(), nullptr);
    }

    // The source is registered at the first event, and again at each later one while that
    // fails: a connector started at log-on may report before the event log service answers,
    // and must not stay silent for the rest of the session. The lock keeps the worker and the
    // window from registering it twice; once set, the handle does not change.
    HANDLE Source() {
        std::lock_guard<std::mutex> lock(sourceLock_);
        if (source_ == nullptr) {
            source_ = RegisterEventSourceW(nullptr, kEventSourceName);
        }
        return source_;
    }

    std::mutex sourceLock_;
    HANDLE source_ = nullptr;
    std::unique_ptr<BYTE[]> user_;
};

}  // namespace

EventLog& SystemEventLog() {
    static Win32EventLog log;
    return log;
}

}  // namespace kx7
