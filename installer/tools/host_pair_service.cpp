#include "installer/tools/host_pair_service.h"

#include <cwctype>

namespace kx7::installer {

const wchar_t kServiceProgram[] = L"KX7HostPairService.exe";
const wchar_t kServiceDescription[] =
    L"Unlocks the paired KX7 drives of the user at the console, with no prompt and no "
    L"administrator account.";

namespace {

std::wstring Lower(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
    }
    return text;
}

}  // namespace

std::wstring ServiceCommandLine(const std::wstring& folder) {
    return L"\"" + folder + L"\\" + kServiceProgram + L"\"";
}

bool ServiceRunsFrom(const std::wstring& commandLine, const std::wstring& folder) {
    std::wstring program;
    if (!commandLine.empty() && commandLine[0] == L'"') {
        const size_t close = commandLine.find(L'"', 1);
        if (close == std::wstring::npos) {
            return false;
        }
        program = commandLine.substr(1, close - 1);
    } else {
        // Unquoted, the system reads up to the first blank that ends an existing program; ours
        // is whole only if the line is the path and nothing else.
        program = commandLine;
    }
    return !folder.empty() && Lower(program) == Lower(folder + L"\\" + kServiceProgram);
}

}  // namespace kx7::installer
