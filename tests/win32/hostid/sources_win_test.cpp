// The processor, the clock and the whole collection with the system's own sources under Wine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>

#include "connector/hostid/mac_address.h"
#include "connector/hostid/system_info.h"
#include "tests/fakes/linux_files.h"

namespace kx7 {
namespace {

// A field of the first processor in the kernel's cpuinfo, or -1.
long CpuInfoField(const std::string& cpuinfo, const std::string& name) {
    std::istringstream lines(cpuinfo);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) {
            continue;
        }
        std::string key = line.substr(0, colon);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) {
            key.pop_back();
        }
        if (key == name) {
            return std::strtol(line.c_str() + colon + 1, nullptr, 10);
        }
    }
    return -1;
}

TEST(SystemCpu, SignatureIsTheKernelsFamilyModelAndStepping) {
    const std::string cpuinfo = test::ReadLinuxFile(L"Z:\\proc\\cpuinfo");
    const long family = CpuInfoField(cpuinfo, "cpu family");
    const long model = CpuInfoField(cpuinfo, "model");
    const long stepping = CpuInfoField(cpuinfo, "stepping");
    ASSERT_GE(family, 0) << "no x86 cpuinfo through Z:";
    ASSERT_GE(model, 0);
    ASSERT_GE(stepping, 0);

    // The kernel's numbers are the signature's fields folded together; unfold them.
    const uint32_t baseFamily = family >= 15 ? 15 : static_cast<uint32_t>(family);
    const uint32_t extFamily = family >= 15 ? static_cast<uint32_t>(family - 15) : 0;
    const bool extendedModel = baseFamily == 6 || baseFamily == 15;
    const uint32_t baseModel = extendedModel ? (model & 0xF) : static_cast<uint32_t>(model);
    const uint32_t extModel = extendedModel ? static_cast<uint32_t>(model >> 4) : 0;
    const uint32_t expected = static_cast<uint32_t>(stepping) | baseModel << 4 | baseFamily << 8 |
                              extModel << 16 | extFamily << 20;

    const uint32_t signature = SystemCpuSignature().GetCpuId();
    EXPECT_EQ(signature & ~0x3000u, expected) << std::hex << signature;  // type bits aside
    EXPECT_EQ(signature & 0xF0000000u, 0u) << "reserved bits: not the signature register";
}

TEST(SystemClock, LocalDateAndTimeAsTheSystemReportsThem) {
    // Taken until both readings fall into the same minute, so a minute boundary between them
    // cannot make the comparison fail.
    for (int attempt = 0; attempt < 3; ++attempt) {
        SYSTEMTIME before;
        GetLocalTime(&before);
        SystemTime t;
        GetCurrentDateTime(SystemLocalTime(), &t);
        SYSTEMTIME after;
        GetLocalTime(&after);
        if (before.wMinute != after.wMinute) {
            continue;
        }
        EXPECT_EQ(t.wYear, after.wYear);
        EXPECT_EQ(t.wMonth, after.wMonth);
        EXPECT_EQ(t.wDay, after.wDay);
        EXPECT_EQ(t.wHour, after.wHour);
        EXPECT_EQ(t.wMinute, after.wMinute);
        EXPECT_GE(t.wSecond, before.wSecond);
        EXPECT_LE(t.wSecond, after.wSecond);
        EXPECT_EQ(t.wDayOfWeek, 0);
        EXPECT_EQ(t.wMilliseconds, 0);
        return;
    }
    FAIL() << "the clock never held still for a minute";
}

TEST(SystemHostSources, CollectionChoosesTheRegisteredAdapter) {
    std::vector<NetworkAdapterRecord> records;
    ASSERT_TRUE(SystemNetworkAdapterList().GetAdapters(&records));
    NicAdapterTable table;
    const int count = GetSystemNICInfo(SystemNetworkAdapterList(), &table);
    ASSERT_GE(count, 1) << "Wine lists the machine's Ethernet interfaces";
    // The last wired adapter, so that choosing the first one by mistake shows.
    const NicAdapterEntry& last = table[static_cast<size_t>(count - 1)];

    RegisteredPcRecord record;
    record.m_strMacId = FormatMacAddress(last.address);
    HostFingerprint fp;
    ASSERT_TRUE(GetSystemInfo(SystemHostSources(), record, &fp));
    EXPECT_EQ(fp.m_strMacId, record.m_strMacId);
    EXPECT_EQ(fp.m_strNicDescription, SystemCodePage().ToWide(last.description, 132));
    EXPECT_EQ(fp.m_strDiskSerial, L"") << "Wine cannot read a disk serial";
    EXPECT_EQ(fp.m_strOsKey.size(), 29u);
    EXPECT_FALSE(fp.m_strComputerName.empty());
    EXPECT_EQ(fp.m_strCpuId, CpuIdText(SystemCpuSignature().GetCpuId()));
    EXPECT_GE(fp.m_stCollected.wYear, 2024);
}

}  // namespace
}  // namespace kx7
