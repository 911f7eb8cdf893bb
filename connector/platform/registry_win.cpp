#include "connector/platform/registry.h"

#include <windows.h>

namespace kx7 {
namespace {

HKEY RootKey(RegRoot root) {
    switch (root) {
        case RegRoot::kLocalMachine:
            return HKEY_LOCAL_MACHINE;
        case RegRoot::kUsers:
            return HKEY_USERS;
        case RegRoot::kCurrentUser:
            break;
    }
    return HKEY_CURRENT_USER;
}

class Win32Registry final : public Registry {
  public:
    long OpenKey(RegRoot root, const std::wstring& path, uint32_t access, RegKey* key) override {
        HKEY handle = nullptr;
        LONG rc = RegOpenKeyExW(RootKey(root), path.c_str(), 0, access, &handle);
        *key = rc == ERROR_SUCCESS ? reinterpret_cast<RegKey>(handle) : 0;
        return rc;
    }

    long CreateKey(RegRoot root, const std::wstring& path, uint32_t access, RegKey* key) override {
        HKEY handle = nullptr;
        LONG rc = RegCreateKeyExW(RootKey(root), path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  access, nullptr, &handle, nullptr);
        *key = rc == ERROR_SUCCESS ? reinterpret_cast<RegKey>(handle) : 0;
        return rc;
    }

    long QueryValue(RegKey key, const std::wstring& name, uint32_t* type, uint8_t* data,
                    uint32_t* size) override {
        DWORD valueType = 0;
        DWORD bytes = *size;
        LONG rc = RegQueryValueExW(reinterpret_cast<HKEY>(key), name.c_str(), nullptr, &valueType,
                                   data, &bytes);
        if (type != nullptr) {
            *type = valueType;
        }
        *size = bytes;
        return rc;
    }

    long SetDword(RegKey key, const std::wstring& name, uint32_t value) override {
        DWORD data = value;
        return RegSetValueExW(reinterpret_cast<HKEY>(key), name.c_str(), 0, REG_DWORD,
                              reinterpret_cast<const BYTE*>(&data), sizeof(data));
    }

    long EnumSubKey(RegKey key, uint32_t index, std::wstring* name) override {
        // A key name has at most 255 characters.
        wchar_t buffer[256] = {};
        DWORD chars = 256;
        LONG rc = RegEnumKeyExW(reinterpret_cast<HKEY>(key), index, buffer, &chars, nullptr,
                                nullptr, nullptr, nullptr);
        if (rc == ERROR_SUCCESS) {
            name->assign(buffer, chars);
        }
        return rc;
    }

    void CloseKey(RegKey key) override { RegCloseKey(reinterpret_cast<HKEY>(key)); }
};

}  // namespace

Registry& SystemRegistry() {
    static Win32Registry registry;
    return registry;
}

}  // namespace kx7
