#include <windows.h>

#include <sddl.h>

#include "connector/engine/worker/drive_turn_lock.h"

namespace kx7 {

namespace {

// Only Administrators and SYSTEM may open the lock, and the DACL is protected from inheritance:
// a standard user who could open it could hold it and keep every drive locked. (Anyone may still
// create a Global\ mutex under a name nobody uses yet; see Take.)
constexpr wchar_t kLockDescriptor[] = L"D:P(A;;GA;;;BA)(A;;GA;;;SY)";

class HeldMutex final : public HeldDriveTurn {
  public:
    explicit HeldMutex(HANDLE mutex) : mutex_(mutex) {}
    // A mutex belongs to the thread that took it; the worker takes and gives back its turns on
    // its own thread.
    ~HeldMutex() override {
        ReleaseMutex(mutex_);
        CloseHandle(mutex_);
    }
    HeldMutex(const HeldMutex&) = delete;
    HeldMutex& operator=(const HeldMutex&) = delete;

  private:
    HANDLE mutex_;
};

class Win32DriveTurnLocks final : public DriveTurnLocks {
  public:
    std::unique_ptr<HeldDriveTurn> Take(const std::wstring& name, uint32_t timeoutMs) override {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kLockDescriptor, SDDL_REVISION_1,
                                                                  &descriptor, nullptr)) {
            return nullptr;
        }
        SECURITY_ATTRIBUTES attributes{};
        attributes.nLength = sizeof(attributes);
        attributes.lpSecurityDescriptor = descriptor;
        attributes.bInheritHandle = FALSE;
        // Made if nobody has it yet, else opened (the descriptor then plays no part). A name
        // that another user's object holds and that we may not open fails here, and the turn
        // is not taken: we cannot tell who talks to the drive.
        HANDLE mutex = CreateMutexW(&attributes, FALSE, name.c_str());
        LocalFree(descriptor);
        if (mutex == nullptr) {
            return nullptr;
        }
        const DWORD result = WaitForSingleObject(mutex, timeoutMs);
        // WAIT_ABANDONED: the last holder ended without giving the turn back (it was ended or
        // crashed mid-turn, or its session logged off). The mutex is ours now all the same,
        // and nobody else talks to the drive; a turn starts over from the drive's status reads,
        // which tell whether it still waits for a packet, so what the last holder left half
        // done does no harm.
        if (result != WAIT_OBJECT_0 && result != WAIT_ABANDONED) {
            CloseHandle(mutex);
            return nullptr;
        }
        return std::make_unique<HeldMutex>(mutex);
    }
};

}  // namespace

DriveTurnLocks& SystemDriveTurnLocks() {
    static Win32DriveTurnLocks locks;
    return locks;
}

}  // namespace kx7
