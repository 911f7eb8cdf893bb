#include "service/redirected_registry.h"

namespace kx7 {

void RedirectedRegistry::ToMachine() {
    std::lock_guard<std::mutex> lock(mutex_);
    machine_ = true;
    sid_.clear();
}

void RedirectedRegistry::ToUser(const std::wstring& sid) {
    std::lock_guard<std::mutex> lock(mutex_);
    machine_ = false;
    sid_ = sid;
}

bool RedirectedRegistry::Map(RegRoot* root, std::wstring* path) {
    if (*root != RegRoot::kCurrentUser) {
        return true;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (machine_) {
        *root = RegRoot::kLocalMachine;
        return true;
    }
    // A SID with a backslash would name another user's key below HKEY_USERS.
    if (sid_.empty() || sid_.find(L'\\') != std::wstring::npos) {
        return false;
    }
    *root = RegRoot::kUsers;
    *path = sid_ + L"\\" + *path;
    return true;
}

long RedirectedRegistry::OpenKey(RegRoot root, const std::wstring& path, uint32_t access,
                                 RegKey* key) {
    std::wstring where = path;
    *key = 0;
    return Map(&root, &where) ? base_.OpenKey(root, where, access, key) : kErrorFileNotFound;
}

long RedirectedRegistry::CreateKey(RegRoot root, const std::wstring& path, uint32_t access,
                                   RegKey* key) {
    std::wstring where = path;
    *key = 0;
    return Map(&root, &where) ? base_.CreateKey(root, where, access, key) : kErrorFileNotFound;
}

}  // namespace kx7
