// libFuzzer target for the LZX compressor: the input, after two control
// bytes, is written as an LZX cabinet and must come back byte for byte from
// libmspack's decoder. The first byte picks the window (15 to 21 bits) and
// whether the rest is repeated, so one input can span many frames and
// reach farther back than a small window; the second says how long.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tools/pack/cab/CabReader.h"
#include "tools/pack/cab/CabWriter.h"
#include "tools/pack/ToolError.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    CabWriteOptions options;
    options.lzxWindowBits = kLzxMinWindowBits + data[0] % 7;
    std::vector<unsigned char> payload(data + 2, data + size);
    if ((data[0] & 0x80) && !payload.empty()) {
        const size_t want = (size_t(data[1]) + 1) * 1024;
        for (size_t i = 0; payload.size() < want; ++i)
            payload.push_back(static_cast<unsigned char>(payload[i] + (i / 1000 % 2)));
    }
    CabEntry entry;
    entry.name = "fuzz.bin";
    entry.data = payload;
    try {
        std::vector<std::vector<unsigned char>> back = VerifyCabinet(WriteCabinet({entry}, options), true);
        if (back.size() != 1 || back[0] != payload)
            std::abort();
    } catch (const ToolError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        std::abort();
    }
    return 0;
}
