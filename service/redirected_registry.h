// A view of the registry in which the current user's keys are found elsewhere. The service runs
// as the system, whose own current user is of no interest: its settings are the machine's keys
// of the same path, and the record and bindings are those in the hive of the user at the
// console. Keys of the other roots pass through unchanged.
#pragma once

#include <mutex>
#include <string>

#include "connector/platform/registry.h"

namespace kx7 {

class RedirectedRegistry final : public Registry {
  public:
    explicit RedirectedRegistry(Registry& base) : base_(base) {}

    // The current user's keys are the machine's (HKEY_LOCAL_MACHINE, same path).
    void ToMachine();
    // They are those of the user with this SID (HKEY_USERS\sid). With an empty SID there is no
    // current user, and every key of it is missing. May be called while another thread reads.
    void ToUser(const std::wstring& sid);

    long OpenKey(RegRoot root, const std::wstring& path, uint32_t access, RegKey* key) override;
    long CreateKey(RegRoot root, const std::wstring& path, uint32_t access, RegKey* key) override;
    long QueryValue(RegKey key, const std::wstring& name, uint32_t* type, uint8_t* data,
                    uint32_t* size) override {
        return base_.QueryValue(key, name, type, data, size);
    }
    long SetDword(RegKey key, const std::wstring& name, uint32_t value) override {
        return base_.SetDword(key, name, value);
    }
    long EnumSubKey(RegKey key, uint32_t index, std::wstring* name) override {
        return base_.EnumSubKey(key, index, name);
    }
    void CloseKey(RegKey key) override { base_.CloseKey(key); }

  private:
    // Where a key of root and path really is; false when it cannot exist.
    bool Map(RegRoot* root, std::wstring* path);

    Registry& base_;
    std::mutex mutex_;
    bool machine_ = false;
    std::wstring sid_;
};

}  // namespace kx7
