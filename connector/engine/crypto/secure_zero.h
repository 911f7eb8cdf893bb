// Wiping of key material and intermediate state before a buffer goes out of scope.
#pragma once

#include <cstddef>

namespace kx7 {

// A plain memset on a buffer that is never read again may be dropped by the optimiser; writing
// through a volatile pointer keeps the stores.
inline void SecureZero(void* buffer, size_t length) {
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(buffer);
    for (size_t i = 0; i < length; ++i) {
        bytes[i] = 0;
    }
}

}  // namespace kx7
