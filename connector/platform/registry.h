// The narrow view of the Windows registry that the connector uses. The Win32 backend in
// registry_win.cpp forwards each call to the matching Reg* function; native tests use an
// in-memory fake. Results are Win32 error codes so that callers keep the platform's rules.
#pragma once

#include <cstdint>
#include <string>

namespace kx7 {

constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorMoreData = 234;
constexpr long kErrorNoMoreItems = 259;

constexpr uint32_t kRegNone = 0;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegQword = 11;

constexpr uint32_t kKeyQueryValue = 0x0001;
constexpr uint32_t kKeySetValue = 0x0002;
constexpr uint32_t kKeyWow64_64Key = 0x0100;
// KEY_READ | KEY_WRITE: what the connector asks for on its own keys under HKEY_CURRENT_USER.
constexpr uint32_t kKeyReadWrite = 0x2001F;

// kUsers holds the hive of every user who is logged on, each under the text of its SID.
enum class RegRoot { kCurrentUser, kLocalMachine, kUsers };

// An open key; 0 is no key.
using RegKey = std::uintptr_t;

class Registry {
  public:
    virtual ~Registry() = default;
    virtual long OpenKey(RegRoot root, const std::wstring& path, uint32_t access, RegKey* key) = 0;
    // Opens the key, creating it and any missing parents first (non-volatile, no class).
    virtual long CreateKey(RegRoot root, const std::wstring& path, uint32_t access,
                           RegKey* key) = 0;
    // As RegQueryValueExW: *size is the buffer's size in bytes on entry and the value's size on
    // return; data may be null to learn type and size only; a value larger than the buffer
    // gives kErrorMoreData with *type and *size still set. type may be null.
    virtual long QueryValue(RegKey key, const std::wstring& name, uint32_t* type, uint8_t* data,
                            uint32_t* size) = 0;
    // Writes a REG_DWORD, replacing a value of that name whatever its type.
    virtual long SetDword(RegKey key, const std::wstring& name, uint32_t value) = 0;
    // As RegEnumKeyExW: the name of the index-th subkey of an open key (opened with
    // KEY_ENUMERATE_SUB_KEYS, which the read-write mask includes), kErrorNoMoreItems past the
    // last one.
    virtual long EnumSubKey(RegKey key, uint32_t index, std::wstring* name) = 0;
    virtual void CloseKey(RegKey key) = 0;
};

// Closes a key when it leaves scope, so every early return releases it.
class ScopedRegKey {
  public:
    explicit ScopedRegKey(Registry& registry) : registry_(registry) {}
    ~ScopedRegKey() {
        if (key_ != 0) {
            registry_.CloseKey(key_);
        }
    }
    ScopedRegKey(const ScopedRegKey&) = delete;
    ScopedRegKey& operator=(const ScopedRegKey&) = delete;

    RegKey* out() { return &key_; }
    RegKey get() const { return key_; }

  private:
    Registry& registry_;
    RegKey key_ = 0;
};

// The real registry of the running Windows system; only the Win32 build provides it.
Registry& SystemRegistry();

}  // namespace kx7
