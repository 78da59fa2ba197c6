// CRC-32 of ISO-HDLC (zlib, PKZIP): reflected polynomial 0xEDB88320,
// register starts at 0xFFFFFFFF, result complemented.
#pragma once
#include <cstddef>
#include <cstdint>

uint32_t Crc32Init();
uint32_t Crc32Update(uint32_t crc, const void* data, size_t count);
uint32_t Crc32Final(uint32_t crc);
uint32_t Crc32Of(const void* data, size_t count);

// An update step in the register form above. The stub uses Crc32Update; the
// packaging tool hands the package code a faster one (zlib's) of the same
// result.
using Crc32Function = uint32_t (*)(uint32_t crc, const void* data, size_t count);
