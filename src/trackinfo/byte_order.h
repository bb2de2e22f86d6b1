#pragma once
// The numbers tags, frame headers, boxes and chunks are made of: big-endian
// in ID3v2, MPEG headers, MP4 boxes, AIFF and RIFX chunks; little-endian in
// APE tags and WAV.

#include <cstdint>

namespace melodex::trackinfo {

inline uint16_t bigEndian16(const unsigned char* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

inline uint16_t littleEndian16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

inline uint32_t bigEndian32(const unsigned char* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

inline uint32_t littleEndian32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint64_t bigEndian64(const unsigned char* p)
{
    return uint64_t(bigEndian32(p)) << 32 | bigEndian32(p + 4);
}

inline uint64_t littleEndian64(const unsigned char* p)
{
    return uint64_t(littleEndian32(p + 4)) << 32 | littleEndian32(p);
}

} // namespace melodex::trackinfo
