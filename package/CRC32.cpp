#include "package/CRC32.h"

#include "package/LittleEndian.h"

namespace {

// Built on first use and kept for the run. Four tables let the loop fold
// four bytes per step; table 0 is the classic byte table.
uint32_t Crc32Table[4][256];
bool tableBuilt = false;

void BuildTable()
{
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        Crc32Table[0][n] = c;
    }
    for (uint32_t n = 0; n < 256; ++n)
        for (int t = 1; t < 4; ++t)
            Crc32Table[t][n] = (Crc32Table[t - 1][n] >> 8) ^ Crc32Table[0][Crc32Table[t - 1][n] & 0xFF];
    tableBuilt = true;
}

} // namespace

uint32_t Crc32Init() { return 0xFFFFFFFFu; }

uint32_t Crc32Update(uint32_t crc, const void* data, size_t count)
{
    if (!tableBuilt)
        BuildTable();
    const unsigned char* p = static_cast<const unsigned char*>(data);
    while (count >= 4) {
        crc ^= GetU32(p);
        crc = Crc32Table[3][crc & 0xFF] ^ Crc32Table[2][(crc >> 8) & 0xFF] ^
              Crc32Table[1][(crc >> 16) & 0xFF] ^ Crc32Table[0][crc >> 24];
        p += 4;
        count -= 4;
    }
    while (count--)
        crc = Crc32Table[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
}

uint32_t Crc32Final(uint32_t crc) { return ~crc; }

uint32_t Crc32Of(const void* data, size_t count)
{
    return Crc32Final(Crc32Update(Crc32Init(), data, count));
}
