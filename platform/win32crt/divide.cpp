// 64-bit division for the Windows images. The compiler turns a 64-bit / or % on the i486 into a
// call of these helpers (__udivdi3 and its kin); the library versions are built for a newer
// processor, so the images carry their own, written with 32-bit operations and shifts.
#include "runtime.h"

namespace win32crt {

uint64_t DivideUnsigned(uint64_t dividend, uint64_t divisor, uint64_t* remainder) {
    uint64_t quotient = 0;
    uint64_t rest = 0;
    if (divisor == 0) {
        quotient = ~quotient;
        rest = dividend;
    } else if ((dividend >> 32) == 0 && (divisor >> 32) == 0) {
        // Both fit the processor's own 32-bit divide.
        quotient = static_cast<uint32_t>(dividend) / static_cast<uint32_t>(divisor);
        rest = static_cast<uint32_t>(dividend) % static_cast<uint32_t>(divisor);
    } else {
        // Long division, one bit a step. After k steps the rest is below 2^k, so the shift never
        // loses a bit.
        for (int bit = 63; bit >= 0; --bit) {
            rest = (rest << 1) | ((dividend >> bit) & 1);
            if (rest >= divisor) {
                rest -= divisor;
                quotient |= uint64_t{1} << bit;
            }
        }
    }
    if (remainder != nullptr) {
        *remainder = rest;
    }
    return quotient;
}

// C's rule: the quotient is cut toward zero and the remainder takes the dividend's sign.
int64_t DivideSigned(int64_t dividend, int64_t divisor, int64_t* remainder) {
    uint64_t magnitude = dividend < 0 ? 0 - static_cast<uint64_t>(dividend) : dividend;
    uint64_t by = divisor < 0 ? 0 - static_cast<uint64_t>(divisor) : divisor;
    uint64_t rest = 0;
    uint64_t quotient = DivideUnsigned(magnitude, by, &rest);
    if (remainder != nullptr) {
        *remainder = static_cast<int64_t>(dividend < 0 ? 0 - rest : rest);
    }
    return static_cast<int64_t>((dividend < 0) != (divisor < 0) ? 0 - quotient : quotient);
}

} // namespace win32crt

#if defined(_WIN32)
extern "C" {

unsigned long long __udivdi3(unsigned long long dividend, unsigned long long divisor) {
    return win32crt::DivideUnsigned(dividend, divisor, nullptr);
}

unsigned long long __umoddi3(unsigned long long dividend, unsigned long long divisor) {
    uint64_t rest = 0;
    win32crt::DivideUnsigned(dividend, divisor, &rest);
    return rest;
}

long long __divdi3(long long dividend, long long divisor) {
    return win32crt::DivideSigned(dividend, divisor, nullptr);
}

long long __moddi3(long long dividend, long long divisor) {
    int64_t rest = 0;
    win32crt::DivideSigned(dividend, divisor, &rest);
    return rest;
}

} // extern "C"
#endif
