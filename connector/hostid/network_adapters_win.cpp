#include "connector/hostid/network_adapters_win.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "connector/platform/dll_search_win.h"

namespace kx7 {
namespace {

// The fields the enumeration reads, where the system writes them in the 32-bit layout.
static_assert(sizeof(IP_ADAPTER_INFO::AdapterName) == kNicNameSize, "AdapterName size");
static_assert(sizeof(IP_ADAPTER_INFO::Description) == kNicDescriptionSize, "Description size");
static_assert(sizeof(IP_ADAPTER_INFO::Address) == kNicAddressSize, "Address size");
#if defined(__i386__)
static_assert(offsetof(IP_ADAPTER_INFO, Next) == 0, "Next");
static_assert(offsetof(IP_ADAPTER_INFO, AdapterName) == 8, "AdapterName");
static_assert(offsetof(IP_ADAPTER_INFO, Description) == 268, "Description");
static_assert(offsetof(IP_ADAPTER_INFO, AddressLength) == 400, "AddressLength");
static_assert(offsetof(IP_ADAPTER_INFO, Address) == 404, "Address");
static_assert(offsetof(IP_ADAPTER_INFO, Type) == 416, "Type");
static_assert(offsetof(IP_ADAPTER_INFO, IpAddressList) == 428, "IpAddressList");
#endif

// A fixed platform field as text: up to its first NUL and never past its end.
template <size_t N>
std::string FieldText(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}

struct FreeDeleter {
    void operator()(void* block) const { std::free(block); }
};

}  // namespace

bool WinNetworkAdapterList::GetAdapters(std::vector<NetworkAdapterRecord>* adapters) {
    adapters->clear();
    if (getAdaptersInfo_ == nullptr) {
        return false;
    }
    ULONG size = 0;
    getAdaptersInfo_(nullptr, &size);
    if (size == 0) {
        return false;  // no adapters at all, or the query itself failed
    }
    std::unique_ptr<void, FreeDeleter> buffer(std::malloc(size));
    if (!buffer) {
        return false;
    }
    auto* first = static_cast<IP_ADAPTER_INFO*>(buffer.get());
    if (getAdaptersInfo_(first, &size) != ERROR_SUCCESS) {
        return false;
    }
    for (const IP_ADAPTER_INFO* info = first; info != nullptr; info = info->Next) {
        NetworkAdapterRecord record;
        record.type = info->Type;
        record.name = FieldText(info->AdapterName);
        record.description = FieldText(info->Description);
        record.addressLength = info->AddressLength;
        std::memcpy(record.address.data(), info->Address, kNicAddressSize);
        record.ipAddress = FieldText(info->IpAddressList.IpAddress.String);
        adapters->push_back(std::move(record));
    }
    return true;
}

GetAdaptersInfoFn SystemGetAdaptersInfo() {
    // Kept loaded for the life of the process, as an import would be.
    HMODULE ipHelper = LoadSystemLibrary(L"iphlpapi.dll");
    if (ipHelper == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<GetAdaptersInfoFn>(
        reinterpret_cast<void*>(GetProcAddress(ipHelper, "GetAdaptersInfo")));
}

NetworkAdapterList& SystemNetworkAdapterList() {
    static WinNetworkAdapterList list(SystemGetAdaptersInfo());
    return list;
}

}  // namespace kx7
