// The adapter list backend against the IP Helper that Wine provides, and its one size query and
// one fill against a stand-in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "connector/hostid/mac_address.h"
#include "connector/hostid/network_adapters_win.h"
#include "connector/hostid/system_info.h"
#include "connector/platform/dll_search_win.h"
#include "tests/fakes/linux_files.h"

namespace kx7 {
namespace {

TEST(SystemAdapters, WiredAdaptersAreTheKernelsEthernetInterfaces) {
    const std::vector<std::wstring> expected = test::LinuxEthernetMacs();
    ASSERT_FALSE(expected.empty()) << "no Ethernet interface visible through Z:";

    std::vector<NetworkAdapterRecord> records;
    ASSERT_TRUE(SystemNetworkAdapterList().GetAdapters(&records));
    std::vector<std::wstring> wired;
    for (const NetworkAdapterRecord& r : records) {
        if (r.type == kIfTypeEthernet) {
            EXPECT_EQ(r.addressLength, 6u);
            EXPECT_FALSE(r.ipAddress.empty()) << "an adapter without address reads 0.0.0.0";
            uint8_t address[8];
            std::memcpy(address, r.address.data(), 8);
            wired.push_back(FormatMacAddress(address));
        }
    }
    std::sort(wired.begin(), wired.end());
    EXPECT_EQ(wired, expected);

    NicAdapterTable table;
    const int count = GetSystemNICInfo(SystemNetworkAdapterList(), &table);
    EXPECT_EQ(static_cast<size_t>(count), std::min(expected.size(), kNicAdapterTableSize));
}

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(towlower(c));
    }
    return text;
}

// The folder a loaded module was mapped from, lower-cased for comparison.
std::wstring FolderOf(HMODULE module) {
    wchar_t path[MAX_PATH];
    const std::wstring file(path, GetModuleFileNameW(module, path, MAX_PATH));
    const size_t slash = file.find_last_of(L'\\');
    return Lower(file.substr(0, slash == std::wstring::npos ? 0 : slash));
}

TEST(SystemAdapters, IpHelperComesFromTheSystemFolderEitherWay) {
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_GT(length, 0u);
    const std::wstring expected = Lower(std::wstring(system, length));
    // With the loader's search flag, and by full path as on a loader without it.
    HMODULE flagged = LoadSystemLibrary(L"iphlpapi.dll");
    HMODULE byPath = LoadSystemLibraryByPath(L"iphlpapi.dll");
    ASSERT_NE(flagged, nullptr);
    ASSERT_NE(byPath, nullptr);
    EXPECT_EQ(FolderOf(flagged), expected);
    EXPECT_EQ(byPath, flagged) << "one module, from one place";
    EXPECT_EQ(LoadSystemLibraryByPath(L"kx7-no-such.dll"), nullptr);
    EXPECT_EQ(LoadSystemLibraryByPath(std::wstring(MAX_PATH, L'a').c_str()), nullptr)
        << "a path that does not fit is refused, not cut short";

    EXPECT_EQ(reinterpret_cast<void*>(SystemGetAdaptersInfo()),
              reinterpret_cast<void*>(GetProcAddress(flagged, "GetAdaptersInfo")));
    FreeLibrary(byPath);
    FreeLibrary(flagged);
}

// What the stand-in for GetAdaptersInfo saw, and how it answers.
struct AdapterCapture {
    int calls = 0;
    bool firstHadBuffer = true;
    ULONG firstSize = 1;
    ULONG needed = 0;  // size reported by the query
    ULONG fillResult = ERROR_SUCCESS;
};
AdapterCapture g_adapters;

ULONG WINAPI StandInGetAdaptersInfo(PIP_ADAPTER_INFO info, PULONG size) {
    AdapterCapture& c = g_adapters;
    if (++c.calls == 1) {
        c.firstHadBuffer = info != nullptr;
        c.firstSize = *size;
    }
    if (info == nullptr || *size < c.needed) {
        *size = c.needed;
        return c.needed == 0 ? ERROR_NO_DATA : ERROR_BUFFER_OVERFLOW;
    }
    if (c.fillResult != ERROR_SUCCESS) {
        return c.fillResult;
    }
    // Two records chained the way the system lays them out, every text field filled to its end.
    std::memset(info, 0, 2 * sizeof(IP_ADAPTER_INFO));
    IP_ADAPTER_INFO& a = info[0];
    IP_ADAPTER_INFO& b = info[1];
    a.Next = &b;
    a.Type = 71;
    std::memcpy(a.AdapterName, "{WIFI}", 7);
    b.Type = 6;
    std::memset(b.AdapterName, 'N', sizeof(b.AdapterName));
    std::memset(b.Description, 'D', sizeof(b.Description));  // no terminator in the field
    b.AddressLength = 6;
    const BYTE address[8] = {0x00, 0x1B, 0x21, 0xAA, 0xBB, 0xCC, 0x01, 0x02};
    std::memcpy(b.Address, address, 8);
    std::memcpy(b.IpAddressList.IpAddress.String, "0.0.0.0", 8);
    return ERROR_SUCCESS;
}

TEST(WinAdapterList, OneSizeQueryOneFillAndEveryFailureIsNoList) {
    std::vector<NetworkAdapterRecord> records;

    g_adapters = AdapterCapture();
    g_adapters.needed = 2 * sizeof(IP_ADAPTER_INFO);
    WinNetworkAdapterList list(StandInGetAdaptersInfo);
    ASSERT_TRUE(list.GetAdapters(&records));
    EXPECT_EQ(g_adapters.calls, 2);
    EXPECT_FALSE(g_adapters.firstHadBuffer);
    EXPECT_EQ(g_adapters.firstSize, 0u);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].type, 71u);
    EXPECT_EQ(records[0].name, "{WIFI}");
    EXPECT_EQ(records[1].type, 6u);
    EXPECT_EQ(records[1].name, std::string(260, 'N'));
    EXPECT_EQ(records[1].description, std::string(132, 'D'));
    EXPECT_EQ(records[1].addressLength, 6u);
    EXPECT_EQ(records[1].address[5], 0xCC);
    EXPECT_EQ(records[1].address[7], 0x02);
    EXPECT_EQ(records[1].ipAddress, "0.0.0.0");

    // The enumeration keeps the copied fields terminated even so.
    NicAdapterTable table;
    ASSERT_EQ(GetSystemNICInfo(list, &table), 1);
    EXPECT_EQ(strnlen(table[0].description, kNicDescriptionSize), kNicDescriptionSize - 1);

    g_adapters = AdapterCapture();  // no adapters at all
    EXPECT_FALSE(list.GetAdapters(&records));
    EXPECT_EQ(g_adapters.calls, 1);

    g_adapters = AdapterCapture();  // the list grew between the two calls
    g_adapters.needed = 2 * sizeof(IP_ADAPTER_INFO);
    g_adapters.fillResult = ERROR_BUFFER_OVERFLOW;
    EXPECT_FALSE(list.GetAdapters(&records));
    EXPECT_EQ(g_adapters.calls, 2) << "no retry";
    EXPECT_EQ(GetSystemNICInfo(list, &table), 0);

    // Without the IP Helper there is no list, not even the one from before.
    g_adapters = AdapterCapture();
    g_adapters.needed = 2 * sizeof(IP_ADAPTER_INFO);
    ASSERT_TRUE(WinNetworkAdapterList(StandInGetAdaptersInfo).GetAdapters(&records));
    WinNetworkAdapterList none(nullptr);
    EXPECT_FALSE(none.GetAdapters(&records));
    EXPECT_TRUE(records.empty());
}

}  // namespace
}  // namespace kx7
