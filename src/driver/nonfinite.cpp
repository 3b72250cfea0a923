#include "driver/nonfinite.h"

#include <bit>
#include <cstdint>
#include <mutex>

namespace bm7 {

double rtInf = 0.0;
double rtMinusInf = 0.0;
double rtNaN = 0.0;
float rtInfF = 0.0F;
float rtMinusInfF = 0.0F;
float rtNaNF = 0.0F;

namespace {
std::once_flag doublesSet;
std::once_flag singlesSet;
}  // namespace

// Each set is written once, so models started on several threads never race on them.
bool initializeNonFinites(std::size_t realSize) {
    if (realSize == 8) {
        std::call_once(doublesSet, [] {
            rtInf = std::bit_cast<double>(std::uint64_t{0x7FF0000000000000});
            rtMinusInf = std::bit_cast<double>(std::uint64_t{0xFFF0000000000000});
            // A quiet NaN with every fraction bit set.
            rtNaN = std::bit_cast<double>(std::uint64_t{0x7FFFFFFFFFFFFFFF});
        });
        return true;
    }
    if (realSize == 4) {
        std::call_once(singlesSet, [] {
            rtInfF = std::bit_cast<float>(std::uint32_t{0x7F800000});
            rtMinusInfF = std::bit_cast<float>(std::uint32_t{0xFF800000});
            rtNaNF = std::bit_cast<float>(std::uint32_t{0x7FFFFFFF});
        });
        return true;
    }
    return false;
}

}  // namespace bm7
