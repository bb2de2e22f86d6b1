#pragma once
// The numbers tags and frame headers are made of: big-endian in ID3v2 and
// MPEG headers, little-endian in APE tags.

#include <cstdint>

namespace melodex::trackinfo {

inline uint32_t bigEndian32(const unsigned char* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

inline uint32_t littleEndian32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

} // namespace melodex::trackinfo
