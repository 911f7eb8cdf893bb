// Registry values a test plants in the Wine prefix: under any key, or in HKLM saved first and
// put back afterwards, for tests that change the machine's identity.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kx7::test {

// Creates the key if need be and sets the value; a failure fails the test.
inline void PlantValue(HKEY root, const std::wstring& key, const wchar_t* name, DWORD type,
                       const void* data, DWORD size) {
    HKEY h = nullptr;
    ASSERT_EQ(
        RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &h, nullptr),
        ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(h, name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
    RegCloseKey(h);
}

// A value as the registry keeps it: its type and its bytes, written out by the test.
struct RegValue {
    DWORD type;
    std::vector<BYTE> bytes;
};
inline RegValue Dword(DWORD value) {
    return {REG_DWORD,
            {static_cast<BYTE>(value), static_cast<BYTE>(value >> 8),
             static_cast<BYTE>(value >> 16), static_cast<BYTE>(value >> 24)}};
}
inline RegValue Qword(ULONGLONG value) {
    RegValue v{REG_QWORD, {}};
    for (int i = 0; i < 8; ++i) {
        v.bytes.push_back(static_cast<BYTE>(value >> (8 * i)));
    }
    return v;
}
// Text with its terminator, as REG_SZ unless told otherwise.
inline RegValue Text(const std::wstring& text, DWORD type = REG_SZ) {
    const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
    return {type, std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))};
}
inline void PlantValue(HKEY root, const std::wstring& key, const wchar_t* name,
                       const RegValue& value) {
    PlantValue(root, key, name, value.type, value.bytes.data(),
               static_cast<DWORD>(value.bytes.size()));
}

// One HKLM value saved on entry and put back as it was on exit, or deleted if it was not there.
class SavedValue {
  public:
    SavedValue(const wchar_t* key, const wchar_t* name) : key_(key), name_(name) {
        DWORD size = 0;
        if (RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_ANY | RRF_NOEXPAND, &type_, nullptr,
                         &size) == ERROR_SUCCESS) {
            data_.resize(size);
            existed_ = RegGetValueW(HKEY_LOCAL_MACHINE, key, name, RRF_RT_ANY | RRF_NOEXPAND,
                                    &type_, data_.data(), &size) == ERROR_SUCCESS;
            data_.resize(size);
        }
    }
    ~SavedValue() {
        HKEY h = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key_, 0, KEY_SET_VALUE, &h) != ERROR_SUCCESS) {
            return;
        }
        if (existed_) {
            RegSetValueExW(h, name_, 0, type_, data_.data(), static_cast<DWORD>(data_.size()));
        } else {
            RegDeleteValueW(h, name_);
        }
        RegCloseKey(h);
    }
    void Plant(DWORD type, const void* data, DWORD size) const {
        PlantValue(HKEY_LOCAL_MACHINE, key_, name_, type, data, size);
    }
    SavedValue(const SavedValue&) = delete;
    SavedValue& operator=(const SavedValue&) = delete;

  private:
    const wchar_t* key_;
    const wchar_t* name_;
    DWORD type_ = REG_NONE;
    std::vector<BYTE> data_;
    bool existed_ = false;
};

}  // namespace kx7::test
