#include <windows.h>

#include <memory>

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
    Win32EventLog()
        : source_(RegisterEventSourceW(nullptr, kEventSourceName)), user_(ProcessUserSid()) {}
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
        if (source_ == nullptr) {
            return;
        }
        std::vector<LPCWSTR> pointers;
        for (const std::wstring& s : strings) {
            pointers.push_back(s.c_str());
        }
        PSID sid = user_ ? reinterpret_cast<TOKEN_USER*>(user_.get())->User.Sid : nullptr;
        // The handle and the strings are only read, so the worker and the window may report at
        // the same time.
        ReportEventW(source_, static_cast<WORD>(type), 0, eventId, sid,
                     static_cast<WORD>(pointers.size()), 0,
                     pointers.empty() ? nullptr : pointers.data(), nullptr);
    }

    HANDLE source_;
    std::unique_ptr<BYTE[]> user_;
};

}  // namespace

EventLog& SystemEventLog() {
    static Win32EventLog log;
    return log;
}

}  // namespace kx7
