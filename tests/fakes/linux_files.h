// The Linux side of this machine as a Wine program sees it through the Z: drive, so that what
// the Win32 backends report can be checked against what the kernel says.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace kx7::test {

// The whole file, or empty when it cannot be read.
inline std::string ReadLinuxFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::string();
    }
    std::string text;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &got, nullptr) && got != 0) {
        text.append(chunk, got);
    }
    CloseHandle(file);
    return text;
}

// Names in a Linux directory, without "." and "..".
inline std::vector<std::wstring> ListLinuxDirectory(const std::wstring& directory) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((directory + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") {
            names.push_back(name);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

inline std::string TrimLine(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

// "02:fc:00:00:00:01" as the fingerprint writes it.
inline std::wstring LinuxMacText(const std::string& address) {
    std::wstring text;
    for (char c : TrimLine(address)) {
        text.push_back(c == ':' ? L'-' : static_cast<wchar_t>(std::toupper(c)));
    }
    return text;
}

// The addresses of the kernel's Ethernet interfaces (ARPHRD_ETHER, type 1): the ones Wine
// reports as type 6. Loopback has its own type and is not listed.
inline std::vector<std::wstring> LinuxEthernetMacs() {
    const std::wstring root = L"Z:\\sys\\class\\net";
    std::vector<std::wstring> macs;
    for (const std::wstring& name : ListLinuxDirectory(root)) {
        const std::wstring dir = root + L"\\" + name;
        if (TrimLine(ReadLinuxFile(dir + L"\\type")) == "1") {
            macs.push_back(LinuxMacText(ReadLinuxFile(dir + L"\\address")));
        }
    }
    std::sort(macs.begin(), macs.end());
    return macs;
}

}  // namespace kx7::test
