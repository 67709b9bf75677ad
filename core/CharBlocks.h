#pragma once

#include <cstdint>
#include <cstring>

// Eight UTF-16 characters as one 128-bit vector: GCC and Clang turn the operators on a Block into
// vector instructions on every target. The visit road scans each request and each line it writes
// several times; a scan a block at a time costs a fraction of one a character at a time.
namespace CharBlocks {

using Block = unsigned short __attribute__((vector_size(16)));
using Mask = short __attribute__((vector_size(16)));
inline constexpr int Size = 8;

inline Block load(const char16_t *at)
{
    Block block;
    std::memcpy(&block, at, sizeof block);
    return block;
}

// Every character of the block set to c.
inline Block splat(char16_t c)
{
    return Block {} + static_cast<unsigned short>(c);
}

// Whether any lane of a comparison's result is true.
inline bool any(Mask mask)
{
    std::uint64_t half[2];
    std::memcpy(half, &mask, sizeof half);
    return (half[0] | half[1]) != 0;
}

} // namespace CharBlocks
