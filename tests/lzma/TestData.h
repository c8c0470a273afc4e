#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace udra::test {

std::vector<uint8_t> TextData(size_t size);
std::vector<uint8_t> RandomData(size_t size, uint32_t seed);
// Looks like x86 code: many E8/E9 calls and jumps with small relative targets.
std::vector<uint8_t> X86LikeData(size_t size, uint32_t seed);

}  // namespace udra::test
