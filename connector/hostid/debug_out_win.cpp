#include <windows.h>

#include "connector/hostid/debug_out.h"

namespace kx7 {
namespace {

class WinDebugSink final : public DebugSink {
  public:
    void Write(const wchar_t* line) override { OutputDebugStringW(line); }
};

}  // namespace

DebugSink& SystemDebugSink() {
    static WinDebugSink sink;
    return sink;
}

}  // namespace kx7
