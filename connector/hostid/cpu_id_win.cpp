#include <cpuid.h>

#include "connector/hostid/cpu_id.h"

namespace kx7 {
namespace {

class X86CpuSignature final : public CpuSignature {
  public:
    uint32_t GetCpuId() override {
        unsigned int eax = 0;
        unsigned int ebx = 0;
        unsigned int ecx = 0;
        unsigned int edx = 0;
        // Every processor this program runs on has function 1; should one not, the signature
        // reads as 0 and the item still has a text.
        if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
            return 0;
        }
        return eax;
    }
};

}  // namespace

CpuSignature& SystemCpuSignature() {
    static X86CpuSignature cpu;
    return cpu;
}

}  // namespace kx7
