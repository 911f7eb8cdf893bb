// The fingerprint and the registered record are replaced whole on the user-interface thread
// while the connect worker takes copies. Run under ThreadSanitizer: a copy taken without the
// lock shows up as a race, and a torn copy as a mix of two generations.
#include "connector/platform/guarded.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "connector/engine/record.h"
#include "connector/hostid/fingerprint.h"

namespace kx7 {
namespace {

constexpr int kGenerations = 3000;

// Long enough to live on the heap, so a torn string copy would touch freed or changing memory.
std::wstring Text(const wchar_t* item, int generation) {
    return std::wstring(item) + L"-" + std::to_wstring(generation) + std::wstring(40, L'.');
}

HostFingerprint FingerprintOf(int generation) {
    HostFingerprint fp;
    fp.m_stCollected.wYear = static_cast<uint16_t>(2000 + generation % 100);
    fp.m_stCollected.wSecond = static_cast<uint16_t>(generation);
    fp.m_strNicDescription = Text(L"nic", generation);
    fp.m_strMacId = Text(L"mac", generation);
    fp.m_strDiskSerial = Text(L"disk", generation);
    fp.m_strComputerName = Text(L"name", generation);
    fp.m_strOsKey = Text(L"key", generation);
    fp.m_strCpuId = Text(L"cpu", generation);
    return fp;
}

RegisteredPcRecord RecordOf(int generation) {
    RegisteredPcRecord r;
    r.m_nNicIndex = generation;
    r.m_strNicDescription = Text(L"nic", generation);
    r.m_strMacId = Text(L"mac", generation);
    r.m_strDiskSerial = Text(L"disk", generation);
    r.m_strComputerName = Text(L"name", generation);
    r.m_strOsKey = Text(L"key", generation);
    r.m_strCpuId = Text(L"cpu", generation);
    r.m_bCleanRegistry = generation % 2 == 1;
    return r;
}

bool Consistent(const HostFingerprint& fp) {
    const int generation = fp.m_stCollected.wSecond;
    const HostFingerprint expected = FingerprintOf(generation);
    return fp.m_stCollected.wYear == expected.m_stCollected.wYear &&
           fp.m_strNicDescription == expected.m_strNicDescription &&
           fp.m_strMacId == expected.m_strMacId && fp.m_strDiskSerial == expected.m_strDiskSerial &&
           fp.m_strComputerName == expected.m_strComputerName &&
           fp.m_strOsKey == expected.m_strOsKey && fp.m_strCpuId == expected.m_strCpuId;
}

bool Consistent(const RegisteredPcRecord& r) {
    const RegisteredPcRecord expected = RecordOf(r.m_nNicIndex);
    return r.m_strNicDescription == expected.m_strNicDescription &&
           r.m_strMacId == expected.m_strMacId && r.m_strDiskSerial == expected.m_strDiskSerial &&
           r.m_strComputerName == expected.m_strComputerName &&
           r.m_strOsKey == expected.m_strOsKey && r.m_strCpuId == expected.m_strCpuId &&
           r.m_bCleanRegistry == expected.m_bCleanRegistry;
}

TEST(GuardedIdentity, ReaderOnlyEverSeesWholeGenerations) {
    Guarded<HostFingerprint> fingerprint(FingerprintOf(0));
    Guarded<RegisteredPcRecord> record(RecordOf(0));
    std::atomic<bool> done{false};

    std::thread writer([&] {
        for (int g = 1; g <= kGenerations; ++g) {
            fingerprint.Replace(FingerprintOf(g));
            record.Replace(RecordOf(g));
        }
        done = true;
    });

    int torn = 0;
    int lastFingerprint = 0;
    int lastRecord = 0;
    bool backwards = false;
    // One last round after the writer finished, so the final generation is seen too.
    for (bool finished = false; !finished;) {
        finished = done.load();
        const HostFingerprint fp = fingerprint.Copy();
        const RegisteredPcRecord r = record.Copy();
        torn += Consistent(fp) ? 0 : 1;
        torn += Consistent(r) ? 0 : 1;
        backwards =
            backwards || fp.m_stCollected.wSecond < lastFingerprint || r.m_nNicIndex < lastRecord;
        lastFingerprint = fp.m_stCollected.wSecond;
        lastRecord = r.m_nNicIndex;
    }
    writer.join();
    EXPECT_EQ(torn, 0);
    EXPECT_FALSE(backwards);
    EXPECT_EQ(lastFingerprint, kGenerations);
    EXPECT_EQ(lastRecord, kGenerations);
}

}  // namespace
}  // namespace kx7
