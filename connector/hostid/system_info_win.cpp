#include "connector/hostid/system_info.h"

namespace kx7 {
namespace {

// Keeps nothing between calls: every source it reads is the system's own.
class SystemCollector final : public FingerprintCollector {
  public:
    HostFingerprint Collect(const RegisteredPcRecord& record) override {
        HostFingerprint fingerprint;
        GetSystemInfo(SystemHostSources(), record, &fingerprint);
        return fingerprint;
    }
};

}  // namespace

HostSources SystemHostSources() {
    return HostSources{SystemNetworkAdapterList(), SystemAtaIdentify(), SystemRegistry(),
                       SystemCpuSignature(),       SystemLocalTime(),   SystemCodePage(),
                       SystemDebugSink()};
}

FingerprintCollector& SystemFingerprintCollector() {
    static SystemCollector collector;
    return collector;
}

}  // namespace kx7
