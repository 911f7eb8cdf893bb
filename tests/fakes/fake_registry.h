// An in-memory registry for native tests. Keys and value names compare case-insensitively, as
// in Windows; trailing backslashes of a path are ignored. Every open and write is logged so that
// tests can check access masks and the order of writes, and keys can be made to refuse opening.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "connector/platform/registry.h"

namespace kx7::test {

class FakeRegistry final : public Registry {
  public:
    struct Value {
        uint32_t type = kRegNone;
        std::vector<uint8_t> data;
    };
    struct Open {
        RegRoot root;
        std::wstring path;
        uint32_t access;
        bool create;
    };
    struct Write {
        std::wstring path;
        std::wstring name;
        uint32_t value;
    };

    // Planting values, as another program or the user would have left them.
    void SetRaw(RegRoot root, const std::wstring& path, const std::wstring& name, uint32_t type,
                std::vector<uint8_t> data);
    void SetDwordValue(RegRoot root, const std::wstring& path, const std::wstring& name,
                       uint32_t value);
    // A REG_SZ holding the text and, when terminate is true, a terminating NUL (UTF-16LE).
    void SetString(RegRoot root, const std::wstring& path, const std::wstring& name,
                   const std::wstring& text, bool terminate = true, uint32_t type = kRegSz);
    void AddKey(RegRoot root, const std::wstring& path);
    // The text as UTF-16LE bytes, without a terminator.
    static std::vector<uint8_t> Utf16(const std::wstring& text);

    bool HasKey(RegRoot root, const std::wstring& path) const;
    const Value* Find(RegRoot root, const std::wstring& path, const std::wstring& name) const;
    size_t ValueCount(RegRoot root, const std::wstring& path) const;
    // A stored REG_DWORD of 4 bytes; -1 for a missing value or any other.
    int64_t StoredDword(RegRoot root, const std::wstring& path, const std::wstring& name) const;

    // Opening or creating this key fails with kErrorAccessDenied.
    void DenyKey(RegRoot root, const std::wstring& path) { denied_.insert(Normal(root, path)); }
    // Every SetDword fails.
    void FailWrites(bool fail) { failWrites_ = fail; }

    const std::vector<Open>& opens() const { return opens_; }
    const std::vector<Write>& writes() const { return writes_; }
    size_t openHandles() const { return handles_.size(); }

    long OpenKey(RegRoot root, const std::wstring& path, uint32_t access, RegKey* key) override;
    long CreateKey(RegRoot root, const std::wstring& path, uint32_t access, RegKey* key) override;
    long QueryValue(RegKey key, const std::wstring& name, uint32_t* type, uint8_t* data,
                    uint32_t* size) override;
    long SetDword(RegKey key, const std::wstring& name, uint32_t value) override;
    // Subkeys in the order of their lower-case names, as the system lists them.
    long EnumSubKey(RegKey key, uint32_t index, std::wstring* name) override;
    void CloseKey(RegKey key) override;

  private:
    using KeyId = std::pair<int, std::wstring>;
    struct Key {
        std::wstring path;                     // as first spelled
        std::map<std::wstring, Value> values;  // by lower-case name
    };

    static KeyId Normal(RegRoot root, const std::wstring& path);
    static std::wstring Lower(const std::wstring& text);
    Key& Ensure(RegRoot root, const std::wstring& path);
    long OpenOrCreate(RegRoot root, const std::wstring& path, uint32_t access, bool create,
                      RegKey* key);

    std::map<KeyId, Key> keys_;
    std::set<KeyId> denied_;
    std::map<RegKey, KeyId> handles_;
    RegKey nextHandle_ = 0x100;
    bool failWrites_ = false;
    std::vector<Open> opens_;
    std::vector<Write> writes_;
};

}  // namespace kx7::test
