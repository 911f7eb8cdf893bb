// The drive's turn lock against the system's named mutexes as Wine provides them. A mutex is
// recursive for the thread that owns it, so the other server is played by a second thread.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <thread>

#include "connector/engine/worker/drive_turn_lock.h"

namespace kx7 {
namespace {

TEST(DriveTurnLockWin, OneHolderAtATimeMachineWide) {
    const std::wstring name = DriveTurnLockName(L"LOCK/TEST\\01");
    ASSERT_EQ(name, L"Global\\KX7HostPair.Drive.LOCK_TEST_01");
    DriveTurnLocks& locks = SystemDriveTurnLocks();
    std::unique_ptr<HeldDriveTurn> held = locks.Take(name, 0);
    ASSERT_TRUE(held);

    // In the namespace every session shares, not in this session's own.
    HANDLE global = OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
    EXPECT_NE(global, nullptr);
    CloseHandle(global);
    const std::wstring local = L"Local\\" + name.substr(name.find(L'\\') + 1);
    HANDLE session = OpenMutexW(SYNCHRONIZE, FALSE, local.c_str());
    EXPECT_EQ(session, nullptr);
    if (session != nullptr) {
        CloseHandle(session);
    }

    // Another server waits for the bound and gets nothing; once the turn is given back it
    // gets it at once.
    bool takenWhileHeld = true;
    ULONGLONG waited = 0;
    std::thread([&] {
        const ULONGLONG start = GetTickCount64();
        takenWhileHeld = locks.Take(name, 300) != nullptr;
        waited = GetTickCount64() - start;
    }).join();
    EXPECT_FALSE(takenWhileHeld);
    EXPECT_GE(waited, 250u);
    held.reset();
    bool takenAfter = false;
    std::thread([&] { takenAfter = locks.Take(name, 0) != nullptr; }).join();
    EXPECT_TRUE(takenAfter);

    // A holder that ends without giving the turn back (as one that crashed) leaves the mutex
    // abandoned; the next server takes it. The leaked turn stands for the crashed holder.
    std::thread([&] { static_cast<void>(locks.Take(name, 0).release()); }).join();
    std::unique_ptr<HeldDriveTurn> afterAbandon = locks.Take(name, 1000);
    EXPECT_TRUE(afterAbandon);
}

}  // namespace
}  // namespace kx7
