#include "connector/hostid/system_info.h"

namespace kx7 {

HostSources SystemHostSources() {
    return HostSources{SystemNetworkAdapterList(), SystemAtaIdentify(), SystemRegistry(),
                       SystemCpuSignature(),       SystemLocalTime(),   SystemCodePage(),
                       SystemDebugSink()};
}

}  // namespace kx7
