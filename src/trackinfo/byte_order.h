#pragma once
// The big-endian numbers tags and frame headers are made of.

#include <cstdint>

namespace melodex::trackinfo {

inline uint32_t bigEndian32(const unsigned char* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

} // namespace melodex::trackinfo
