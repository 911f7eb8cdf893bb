// kx7pair: pairs this PC with a simulated drive for demonstrations and tests, standing in for
// the separate registration program. It collects this PC's identity with the connector's own
// host-identity code, writes the registered record and the drive's binding mask where the
// connector reads them, and registers the PC on the simulated drive (over the control pipe, or
// printed as a control command with --print).
//
//   kx7pair this  DRIVE-NAME DRIVE-ID [--print]
//       this PC, bound by every item it can read (the disk serial is left out when empty)
//   kx7pair other DRIVE-NAME DRIVE-ID COMPUTER [--print]
//       a drive paired with another PC: this PC's "Mode" binds it by computer name only, and
//       the drive knows only COMPUTER
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "connector/engine/record.h"
#include "connector/hostid/mac_address.h"
#include "connector/hostid/system_info.h"
#include "connector/platform/reg_values.h"
#include "connector/platform/registration.h"
#include "connector/platform/registry.h"
#include "sim/host_acceptance.h"
#include "sim/win32/sim_pipe_win.h"

namespace {

using namespace kx7;

constexpr uint32_t kBindMac = 1;
constexpr uint32_t kBindDisk = 2;
constexpr uint32_t kBindName = 4;
constexpr uint32_t kBindOsKey = 8;
constexpr uint32_t kBindCpu = 16;

std::string Narrow(const std::wstring& text) {
    std::string narrow;
    for (wchar_t c : text) {
        narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return narrow;
}

bool WriteString(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const LONG result =
        RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

// This PC as the registration program would record it: the first wired adapter, and every
// other item as the connector itself collects it.
HostFingerprint CollectThisPc(RegisteredPcRecord* record) {
    NicAdapterTable adapters{};
    const int count = GetSystemNICInfo(SystemNetworkAdapterList(), &adapters);
    RegisteredPcRecord chosen;
    chosen.m_nNicIndex = 0;
    if (count > 0) {
        chosen.m_strMacId = FormatMacAddress(adapters[0].address);
    }
    HostFingerprint fingerprint;
    GetSystemInfo(SystemHostSources(), chosen, &fingerprint);
    *record = chosen;
    record->m_strNicDescription = fingerprint.m_strNicDescription;
    record->m_strMacId = fingerprint.m_strMacId;
    record->m_strDiskSerial = fingerprint.m_strDiskSerial;
    record->m_strComputerName = fingerprint.m_strComputerName;
    record->m_strOsKey = fingerprint.m_strOsKey;
    record->m_strCpuId = fingerprint.m_strCpuId;
    return fingerprint;
}

bool WriteRecord(const RegisteredPcRecord& record) {
    Registry& registry = SystemRegistry();
    const std::wstring path = RecordKeyPath();
    bool ok = WriteRegDword(registry, path, L"NICIndex", static_cast<uint32_t>(record.m_nNicIndex));
    ok = WriteString(path, L"NICDescription", record.m_strNicDescription) && ok;
    ok = WriteString(path, L"MACID", record.m_strMacId) && ok;
    ok = WriteString(path, L"DIskSerial", record.m_strDiskSerial) && ok;
    ok = WriteString(path, L"ComputerName", record.m_strComputerName) && ok;
    ok = WriteString(path, L"OSKey", record.m_strOsKey) && ok;
    ok = WriteString(path, L"CPUID", record.m_strCpuId) && ok;
    ok = WriteRegDword(registry, path, L"CleanRegistry", 0) && ok;
    return ok;
}

std::string HostCommand(const std::string& drive, const std::wstring& computer, uint32_t mask,
                        const std::wstring* const items[sim::kSimItemCount]) {
    std::string line = "host " + drive + " computer=" + Narrow(computer) +
                       " mask=" + std::to_string(mask) + " check=";
    for (size_t i = 0; i < sim::kSimItemCount; ++i) {
        line += (i == 0 ? "" : ",") + std::to_string(sim::CheckValueOf(*items[i]));
    }
    return line;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: kx7pair this DRIVE-NAME DRIVE-ID [--print]\n"
                 "       kx7pair other DRIVE-NAME DRIVE-ID COMPUTER [--print]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    bool printOnly = false;
    if (!args.empty() && args.back() == "--print") {
        printOnly = true;
        args.pop_back();
    }
    if (args.size() < 3 || (args[0] != "this" && args[0] != "other") ||
        (args[0] == "other" && args.size() != 4) || args[2].empty() || args[2].size() > 16) {
        return Usage();
    }
    const std::string& drive = args[1];
    const std::wstring driveId(args[2].begin(), args[2].end());
    const std::wstring modeKey = std::wstring(kAgentKeyPath) + L"\\" + driveId + L"\\";

    RegisteredPcRecord record;
    const HostFingerprint self = CollectThisPc(&record);
    std::string host;
    uint32_t mode = 0;
    if (args[0] == "this") {
        mode = kBindMac | kBindDisk | kBindName | kBindOsKey | kBindCpu;
        if (self.m_strDiskSerial.empty()) {
            mode &= ~kBindDisk;
            std::fprintf(stderr,
                         "kx7pair: this PC's disk serial cannot be read (SMART is not available "
                         "here, as under Wine); the drive is not bound to it\n");
        }
        if (!WriteRecord(record)) {
            std::fprintf(stderr, "kx7pair: cannot write the registered record\n");
            return 1;
        }
        const std::wstring* const items[] = {&self.m_strMacId, &self.m_strDiskSerial,
                                             &self.m_strComputerName, &self.m_strOsKey,
                                             &self.m_strCpuId};
        host = HostCommand(drive, self.m_strComputerName, mode, items);
        std::fprintf(stderr, "kx7pair: this PC is %s (MAC %s, CPU %s), mask %u\n",
                     Narrow(self.m_strComputerName).c_str(), Narrow(self.m_strMacId).c_str(),
                     Narrow(self.m_strCpuId).c_str(), mode);
    } else {
        mode = kBindName;
        const std::wstring other(args[3].begin(), args[3].end());
        const std::wstring empty;
        const std::wstring* const items[] = {&empty, &empty, &other, &empty, &empty};
        host = HostCommand(drive, other, mode, items);
    }
    if (!WriteRegDword(SystemRegistry(), modeKey, L"Mode", mode)) {
        std::fprintf(stderr, "kx7pair: cannot write the drive's Mode\n");
        return 1;
    }
    if (printOnly) {
        std::printf("%s\n", host.c_str());
        return 0;
    }
    const std::string answer = sim::SendSimCommand(host);
    std::printf("%s\n", answer.c_str());
    return answer.rfind("ok", 0) == 0 ? 0 : 1;
}
