#include <windows.h>

#include <dbt.h>

#include <cstddef>

#include "connector/devtree/device_broadcast_win.h"
#include "connector/devtree/device_tracking.h"
#include "connector/platform/guid_win.h"

namespace kx7 {
namespace {

class Win32TextComparer final : public TextComparer {
  public:
    bool EqualIgnoreCase(const std::wstring& a, const std::wstring& b) override {
        return CompareStringW(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, a.c_str(),
                              static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size())) == CSTR_EQUAL;
    }
};

}  // namespace

static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) == 32, "the filter record is 32 bytes");
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) == 28,
              "the interface name follows the class GUID");
static_assert(DBT_DEVTYP_DEVICEINTERFACE == 5, "device interface broadcasts");

bool InterfaceNameOf(const void* broadcast, std::wstring* name) {
    const auto* header = static_cast<const DEV_BROADCAST_HDR*>(broadcast);
    if (header == nullptr || header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) {
        return false;
    }
    const size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    if (header->dbch_size < nameOffset) {
        return false;
    }
    const auto* record = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(broadcast);
    const size_t units = (header->dbch_size - nameOffset) / sizeof(wchar_t);
    name->clear();
    for (size_t i = 0; i < units && record->dbcc_name[i] != L'\0'; ++i) {
        name->push_back(record->dbcc_name[i]);
    }
    return true;
}

DEV_BROADCAST_DEVICEINTERFACE_W InterfaceClassFilter(const InterfaceGuid& interfaceClass) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter;
    ZeroMemory(&filter, sizeof(filter));
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = ToGuid(interfaceClass);
    return filter;
}

TextComparer& SystemTextComparer() {
    static Win32TextComparer compare;
    return compare;
}

}  // namespace kx7
