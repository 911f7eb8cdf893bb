// A registry that can be looked at but not changed: reads pass through to the real one, every
// attempt to create a key or write a value is refused. The host check loads the registered
// record through the connector's own loader, which repairs a missing "CleanRegistry" as it goes;
// through this view that repair simply fails, as a failed write does for the connector.
#pragma once

#include <string>

#include "connector/platform/registry.h"

namespace kx7 {

class ReadOnlyRegistry final : public Registry {
  public:
    explicit ReadOnlyRegistry(Registry& inner) : inner_(inner) {}

    // The connector opens its keys asking for write access too; asking for the same keeps a
    // key that this user may read but not change exactly as unreadable here as it is there.
    // Opening for writing changes nothing by itself.
    long OpenKey(RegRoot root, const std::wstring& path, uint32_t access, RegKey* key) override {
        return inner_.OpenKey(root, path, access, key);
    }
    long CreateKey(RegRoot, const std::wstring&, uint32_t, RegKey* key) override {
        *key = 0;
        return kErrorAccessDenied;
    }
    long QueryValue(RegKey key, const std::wstring& name, uint32_t* type, uint8_t* data,
                    uint32_t* size) override {
        return inner_.QueryValue(key, name, type, data, size);
    }
    long SetDword(RegKey, const std::wstring&, uint32_t) override { return kErrorAccessDenied; }
    long EnumSubKey(RegKey key, uint32_t index, std::wstring* name) override {
        return inner_.EnumSubKey(key, index, name);
    }
    void CloseKey(RegKey key) override { inner_.CloseKey(key); }

  private:
    Registry& inner_;
};

}  // namespace kx7
