#include "tests/fakes/fake_registry.h"

#include <cstring>
#include <cwctype>

namespace kx7::test {

std::wstring FakeRegistry::Lower(const std::wstring& text) {
    std::wstring lower = text;
    for (wchar_t& c : lower) {
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    }
    return lower;
}

FakeRegistry::KeyId FakeRegistry::Normal(RegRoot root, const std::wstring& path) {
    std::wstring p = Lower(path);
    while (!p.empty() && p.back() == L'\\') {
        p.pop_back();
    }
    return {static_cast<int>(root), p};
}

FakeRegistry::Key& FakeRegistry::Ensure(RegRoot root, const std::wstring& path) {
    // Creating a key creates its parents, as RegCreateKeyExW does.
    const KeyId id = Normal(root, path);
    for (size_t pos = id.second.find(L'\\'); pos != std::wstring::npos;
         pos = id.second.find(L'\\', pos + 1)) {
        Key& parent = keys_[{id.first, id.second.substr(0, pos)}];
        if (parent.path.empty()) {
            parent.path = path.substr(0, pos);  // lower-casing keeps the length
        }
    }
    Key& key = keys_[id];
    key.path = path;
    return key;
}

void FakeRegistry::AddKey(RegRoot root, const std::wstring& path) {
    Ensure(root, path);
}

void FakeRegistry::SetRaw(RegRoot root, const std::wstring& path, const std::wstring& name,
                          uint32_t type, std::vector<uint8_t> data) {
    Ensure(root, path).values[Lower(name)] = Value{type, std::move(data)};
}

void FakeRegistry::SetDwordValue(RegRoot root, const std::wstring& path, const std::wstring& name,
                                 uint32_t value) {
    SetRaw(root, path, name, kRegDword,
           {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)});
}

std::vector<uint8_t> FakeRegistry::Utf16(const std::wstring& text) {
    std::vector<uint8_t> data;
    for (wchar_t c : text) {
        const auto unit = static_cast<uint32_t>(c);
        data.push_back(static_cast<uint8_t>(unit & 0xFF));
        data.push_back(static_cast<uint8_t>((unit >> 8) & 0xFF));
    }
    return data;
}

void FakeRegistry::SetString(RegRoot root, const std::wstring& path, const std::wstring& name,
                             const std::wstring& text, bool terminate, uint32_t type) {
    std::vector<uint8_t> data = Utf16(text);
    if (terminate) {
        data.push_back(0);
        data.push_back(0);
    }
    SetRaw(root, path, name, type, std::move(data));
}

bool FakeRegistry::HasKey(RegRoot root, const std::wstring& path) const {
    return keys_.count(Normal(root, path)) != 0;
}

const FakeRegistry::Value* FakeRegistry::Find(RegRoot root, const std::wstring& path,
                                              const std::wstring& name) const {
    auto key = keys_.find(Normal(root, path));
    if (key == keys_.end()) {
        return nullptr;
    }
    auto value = key->second.values.find(Lower(name));
    return value == key->second.values.end() ? nullptr : &value->second;
}

size_t FakeRegistry::ValueCount(RegRoot root, const std::wstring& path) const {
    auto key = keys_.find(Normal(root, path));
    return key == keys_.end() ? 0 : key->second.values.size();
}

int64_t FakeRegistry::StoredDword(RegRoot root, const std::wstring& path,
                                  const std::wstring& name) const {
    const Value* v = Find(root, path, name);
    if (v == nullptr || v->type != kRegDword || v->data.size() != 4) {
        return -1;
    }
    return v->data[0] | v->data[1] << 8 | v->data[2] << 16 | int64_t{v->data[3]} << 24;
}

long FakeRegistry::OpenOrCreate(RegRoot root, const std::wstring& path, uint32_t access,
                                bool create, RegKey* key) {
    opens_.push_back({root, path, access, create});
    *key = 0;
    const KeyId id = Normal(root, path);
    if (denied_.count(id) != 0) {
        return kErrorAccessDenied;
    }
    if (create) {
        Ensure(root, path);
    } else if (keys_.count(id) == 0) {
        return kErrorFileNotFound;
    }
    *key = nextHandle_++;
    handles_[*key] = id;
    return kErrorSuccess;
}

long FakeRegistry::OpenKey(RegRoot root, const std::wstring& path, uint32_t access, RegKey* key) {
    return OpenOrCreate(root, path, access, false, key);
}

long FakeRegistry::CreateKey(RegRoot root, const std::wstring& path, uint32_t access, RegKey* key) {
    return OpenOrCreate(root, path, access, true, key);
}

long FakeRegistry::QueryValue(RegKey key, const std::wstring& name, uint32_t* type, uint8_t* data,
                              uint32_t* size) {
    auto handle = handles_.find(key);
    if (handle == handles_.end()) {
        return 6;  // ERROR_INVALID_HANDLE
    }
    const Key& k = keys_[handle->second];
    auto value = k.values.find(Lower(name));
    if (value == k.values.end()) {
        return kErrorFileNotFound;
    }
    if (type != nullptr) {
        *type = value->second.type;
    }
    const uint32_t available = *size;
    const auto needed = static_cast<uint32_t>(value->second.data.size());
    *size = needed;
    if (data == nullptr) {
        return kErrorSuccess;
    }
    if (needed > available) {
        return kErrorMoreData;
    }
    if (needed != 0) {
        std::memcpy(data, value->second.data.data(), needed);
    }
    return kErrorSuccess;
}

long FakeRegistry::SetDword(RegKey key, const std::wstring& name, uint32_t value) {
    auto handle = handles_.find(key);
    if (handle == handles_.end()) {
        return 6;
    }
    if (failWrites_) {
        return kErrorAccessDenied;
    }
    Key& k = keys_[handle->second];
    writes_.push_back({k.path, name, value});
    k.values[Lower(name)] =
        Value{kRegDword,
              {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
               static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)}};
    return kErrorSuccess;
}

long FakeRegistry::EnumSubKey(RegKey key, uint32_t index, std::wstring* name) {
    auto handle = handles_.find(key);
    if (handle == handles_.end()) {
        return 6;
    }
    const KeyId& parent = handle->second;
    const std::wstring prefix = parent.second + L'\\';
    uint32_t seen = 0;
    for (const auto& [id, k] : keys_) {
        if (id.first != parent.first || id.second.compare(0, prefix.size(), prefix) != 0 ||
            id.second.find(L'\\', prefix.size()) != std::wstring::npos) {
            continue;
        }
        if (seen++ == index) {
            std::wstring spelled = k.path;
            while (!spelled.empty() && spelled.back() == L'\\') {
                spelled.pop_back();
            }
            *name = spelled.substr(spelled.rfind(L'\\') + 1);
            return kErrorSuccess;
        }
    }
    return kErrorNoMoreItems;
}

void FakeRegistry::CloseKey(RegKey key) {
    handles_.erase(key);
}

}  // namespace kx7::test
