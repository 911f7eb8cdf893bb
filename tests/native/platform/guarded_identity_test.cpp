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
#include "tests/fakes/fake_host_sources.h"

namespace kx7 {
namespace {

constexpr int kGenerations = 3000;

// Long enough to live on the heap, so a torn string copy would touch freed or changing memory.
std::wstring Text(const wchar_t* item, int generation) {
    return std::wstring(item) + L"-" + std::to_wstring(generation) + std::wstring(40, L'.');
}

// The six texts of a generation, in the order test::IdentityTexts reads them back.
template <typename Identity>
Identity Generation(Identity identity, int generation) {
    identity.m_strNicDescription = Text(L"nic", generation);
    identity.m_strMacId = Text(L"mac", generation);
    identity.m_strDiskSerial = Text(L"disk", generation);
    identity.m_strComputerName = Text(L"name", generation);
    identity.m_strOsKey = Text(L"key", generation);
    identity.m_strCpuId = Text(L"cpu", generation);
    return identity;
}

HostFingerprint FingerprintOf(int generation) {
    HostFingerprint fp;
    fp.m_stCollected.wYear = static_cast<uint16_t>(2000 + generation % 100);
    fp.m_stCollected.wSecond = static_cast<uint16_t>(generation);
    return Generation(fp, generation);
}

RegisteredPcRecord RecordOf(int generation) {
    RegisteredPcRecord r;
    r.m_nNicIndex = generation;
    r.m_bCleanRegistry = generation % 2 == 1;
    return Generation(r, generation);
}

bool Consistent(const HostFingerprint& fp) {
    const HostFingerprint expected = FingerprintOf(fp.m_stCollected.wSecond);
    return fp.m_stCollected.wYear == expected.m_stCollected.wYear &&
           test::IdentityTexts(fp) == test::IdentityTexts(expected);
}

bool Consistent(const RegisteredPcRecord& r) {
    const RegisteredPcRecord expected = RecordOf(r.m_nNicIndex);
    return r.m_bCleanRegistry == expected.m_bCleanRegistry &&
           test::IdentityTexts(r) == test::IdentityTexts(expected);
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
