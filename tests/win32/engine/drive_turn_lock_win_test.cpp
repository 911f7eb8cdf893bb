// The drive's turn lock on the system's named mutexes. A mutex is recursive for the thread that
// owns it, so the other server is played by a second thread.
#include <windows.h>

#include <gtest/gtest.h>

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
    HANDLE global = OpenMutexW(SYNCHRONIZE, FALSE, name.c_str());
    EXPECT_NE(global, nullptr) << "made in the namespace every session shares";
    CloseHandle(global);

    // Another server waits for the bound and gets nothing; then the turn is given back.
    ULONGLONG waited = GetTickCount64();
    std::thread([&] { EXPECT_FALSE(locks.Take(name, 300)); }).join();
    EXPECT_GE(GetTickCount64() - waited, 250u);
    held.reset();
    // The other server takes it, and ends without giving it back, as one that crashed: the
    // mutex is abandoned, and the next server takes it.
    std::thread([&] { EXPECT_TRUE(locks.Take(name, 0).release()); }).join();
    EXPECT_TRUE(locks.Take(name, 1000));
}

}  // namespace
}  // namespace kx7
