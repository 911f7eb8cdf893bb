// Conversions between the portable interface class ids and the platform's GUID record, for the
// Win32 backends only.
#pragma once

#include <windows.h>

#include <cstring>

#include "connector/platform/interface_class.h"

namespace kx7 {

inline GUID ToGuid(const InterfaceGuid& id) {
    GUID guid;
    guid.Data1 = id.data1;
    guid.Data2 = id.data2;
    guid.Data3 = id.data3;
    std::memcpy(guid.Data4, id.data4, sizeof(guid.Data4));
    return guid;
}

inline InterfaceGuid FromGuid(const GUID& guid) {
    InterfaceGuid id{};
    id.data1 = guid.Data1;
    id.data2 = guid.Data2;
    id.data3 = guid.Data3;
    std::memcpy(id.data4, guid.Data4, sizeof(id.data4));
    return id;
}

}  // namespace kx7
