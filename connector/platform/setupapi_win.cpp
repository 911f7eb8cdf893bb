#include "connector/platform/setupapi_win.h"

#include "connector/platform/dll_search_win.h"

namespace kx7 {
namespace {

#define KX7_RESOLVE(member) \
    ResolveSystemCall<decltype(&::SetupDi##member)>(module, "SetupDi" #member, &found.member)

struct Resolved {
    SetupApi table{};
    bool complete = false;
    DWORD error = ERROR_SUCCESS;
};

Resolved LoadSystemSetupApi() {
    Resolved resolved;
    HMODULE module = LoadSystemLibrary(L"setupapi.dll");
    resolved.complete = module != nullptr && ResolveSetupApi(module, &resolved.table);
    if (!resolved.complete) {
        resolved.error = GetLastError();
    }
    return resolved;
}

}  // namespace

bool ResolveSetupApi(HMODULE module, SetupApi* table) {
    SetupApi found{};
    const bool all = KX7_RESOLVE(GetClassDevsW) && KX7_RESOLVE(EnumDeviceInterfaces) &&
                     KX7_RESOLVE(GetDeviceInterfaceDetailW) && KX7_RESOLVE(EnumDeviceInfo) &&
                     KX7_RESOLVE(GetDeviceInstanceIdW) && KX7_RESOLVE(GetDeviceRegistryPropertyW) &&
                     KX7_RESOLVE(DestroyDeviceInfoList) && KX7_RESOLVE(GetClassDescriptionW) &&
                     KX7_RESOLVE(GetClassImageList) && KX7_RESOLVE(GetClassImageIndex) &&
                     KX7_RESOLVE(DestroyClassImageList);
    *table = all ? found : SetupApi{};
    return all;
}

#undef KX7_RESOLVE

const SetupApi* SystemSetupApi() {
    // Both threads of the connector reach here; the first one resolves, the other waits for it.
    static const Resolved resolved = LoadSystemSetupApi();
    if (!resolved.complete) {
        SetLastError(resolved.error);
        return nullptr;
    }
    return &resolved.table;
}

}  // namespace kx7
