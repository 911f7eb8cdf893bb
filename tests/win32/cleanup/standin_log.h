// Where the stand-in cleanup tools record their starts: a file in their own directory, which
// is also the directory of the test that starts them.
#pragma once

namespace kx7 {
namespace test {

constexpr wchar_t kStandInLogName[] = L"cleanup_standin.log";

}  // namespace test
}  // namespace kx7
