// The processor signature as one item of the host fingerprint: what CPUID function 1 leaves in
// EAX (stepping, model, family and their extended fields), without the feature flags.
#pragma once

#include <cstdint>
#include <string>

namespace kx7 {

class CpuSignature {
  public:
    virtual ~CpuSignature() = default;
    // The signature of the processor the program runs on.
    virtual uint32_t GetCpuId() = 0;
};

// Upper-case hexadecimal without leading zeros or prefix ("306C3" for 0x000306C3), the form the
// registration program stores.
std::wstring CpuIdText(uint32_t signature);

// The processor of the running system; only the Win32 build provides it.
CpuSignature& SystemCpuSignature();

}  // namespace kx7
