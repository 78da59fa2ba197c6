// Prints the throughput of the stub's CRC-32 (Crc32Update) and of the
// packaging tool's (zlib's) on this machine.
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "package/CRC32.h"

int main()
{
    std::vector<unsigned char> data(64 << 20);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 2654435761u >> 13);
    uint32_t r = Crc32Init();
    r = Crc32Update(r, data.data(), 1024); // table built outside the timing
    auto start = std::chrono::steady_clock::now();
    const int rounds = 8;
    for (int i = 0; i < rounds; ++i)
        r = Crc32Update(r, data.data(), data.size());
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("Crc32Update: %.0f MB/s (crc %08x)\n", rounds * (data.size() / 1e6) / s, Crc32Final(r));

    uLong z = crc32_z(0, data.data(), 1024);
    start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i)
        z = crc32_z(z, data.data(), data.size());
    s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("zlib crc32 (cabsetup): %.0f MB/s (crc %08lx)\n", rounds * (data.size() / 1e6) / s, z);
    return 0;
}
