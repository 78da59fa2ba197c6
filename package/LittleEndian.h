// Little-endian integers in bytes, the one place that reads and writes
// them: the package, the PE headers and the cabinet all store theirs so,
// and they sit at odd offsets where no aligned structure can take them.
#pragma once
#include <cstdint>
#include <vector>

inline uint16_t GetU16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

inline uint32_t GetU32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void PutU16(unsigned char* p, uint16_t value)
{
    p[0] = static_cast<unsigned char>(value);
    p[1] = static_cast<unsigned char>(value >> 8);
}

inline void PutU32(unsigned char* p, uint32_t value)
{
    PutU16(p, static_cast<uint16_t>(value));
    PutU16(p + 2, static_cast<uint16_t>(value >> 16));
}

inline void AppendU16(std::vector<unsigned char>& out, uint16_t value)
{
    out.push_back(static_cast<unsigned char>(value));
    out.push_back(static_cast<unsigned char>(value >> 8));
}

inline void AppendU32(std::vector<unsigned char>& out, uint32_t value)
{
    AppendU16(out, static_cast<uint16_t>(value));
    AppendU16(out, static_cast<uint16_t>(value >> 16));
}
