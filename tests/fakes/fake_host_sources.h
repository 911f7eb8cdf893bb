// Stand-ins for the platform sources of the host fingerprint: an adapter list, a disk that
// answers IDENTIFY or not, a processor, a local clock and a recorder of trace lines. Together
// with FakeRegistry and Latin1CodePage they make a whole HostSources for native tests, which
// FakeHostSources bundles for a test fixture to derive from.
#pragma once

#include <array>
#include <ctime>
#include <string>
#include <vector>

#include "connector/hostid/cpu_id.h"
#include "connector/hostid/date_time.h"
#include "connector/hostid/debug_out.h"
#include "connector/hostid/disk_serial.h"
#include "connector/hostid/network_adapters.h"
#include "connector/hostid/system_info.h"
#include "tests/fakes/fake_registry.h"
#include "tests/fakes/latin1_code_page.h"

namespace kx7::test {

class FakeAdapterList final : public NetworkAdapterList {
  public:
    bool GetAdapters(std::vector<NetworkAdapterRecord>* adapters) override {
        // A failing platform may leave a partial list behind; the enumeration must not use it.
        *adapters = records;
        return obtainable;
    }
    std::vector<NetworkAdapterRecord> records;
    bool obtainable = true;
};

class FakeAtaIdentify final : public AtaIdentify {
  public:
    bool Identify(int driveNumber, std::array<uint8_t, kIdentifySize>* identify) override {
        drives.push_back(driveNumber);
        if (!answers) {
            return false;
        }
        *identify = answer;
        return true;
    }
    // An answer whose serial field reads as these characters, blank-padded to 20, stored as a
    // drive sends them (first character of each pair in the word's high byte).
    void SetSerial(const std::string& serial) {
        answer.fill(0x5A);
        for (size_t i = 0; i < kSerialLength; ++i) {
            answer[2 * kSerialFirstWord + (i ^ 1)] =
                static_cast<uint8_t>(i < serial.size() ? serial[i] : ' ');
        }
        answers = true;
    }
    std::array<uint8_t, kIdentifySize> answer{};
    bool answers = false;
    std::vector<int> drives;  // every drive number asked for
};

class FakeCpu final : public CpuSignature {
  public:
    uint32_t GetCpuId() override { return signature; }
    uint32_t signature = 0;
};

class FakeLocalTime final : public LocalTimeSource {
  public:
    bool LocalNow(std::tm* local) override {
        if (!works) {
            return false;
        }
        *local = now;
        return true;
    }
    // Year, month, day, hour, minute, second and weekday as the C library fills them: years
    // since 1900, months from 0.
    void Set(const std::array<int, 7>& fields) {
        int std::tm::*const members[] = {&std::tm::tm_year, &std::tm::tm_mon, &std::tm::tm_mday,
                                         &std::tm::tm_hour, &std::tm::tm_min, &std::tm::tm_sec,
                                         &std::tm::tm_wday};
        for (size_t i = 0; i < fields.size(); ++i) {
            now.*members[i] = fields[i];
        }
    }
    std::tm now{};
    bool works = true;
};

class RecordingDebugSink final : public DebugSink {
  public:
    void Write(const wchar_t* line) override { lines.emplace_back(line); }
    std::vector<std::wstring> lines;
};

// Every source a collection reads, each a fake the test sets, and the HostSources over them.
struct FakeHostSources {
    FakeAdapterList adapters_;
    FakeAtaIdentify disk_;
    FakeRegistry registry_;
    FakeCpu cpu_;
    FakeLocalTime clock_;
    Latin1CodePage codePage_;
    RecordingDebugSink debug_;
    HostSources sources_{adapters_, disk_, registry_, cpu_, clock_, codePage_, debug_};
};

// A time block's fields in their declared order, so a whole block is checked at once.
inline std::vector<int> Fields(const SystemTime& t) {
    return {t.wYear, t.wMonth,  t.wDayOfWeek, t.wDay,
            t.wHour, t.wMinute, t.wSecond,    t.wMilliseconds};
}

// The six identity texts of a fingerprint or a registered record, in the record's order.
template <typename Identity>
std::vector<std::wstring> IdentityTexts(const Identity& i) {
    return {i.m_strNicDescription, i.m_strMacId, i.m_strDiskSerial,
            i.m_strComputerName,   i.m_strOsKey, i.m_strCpuId};
}

}  // namespace kx7::test
