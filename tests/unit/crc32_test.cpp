#include "package/CRC32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(Crc32, KnownValues)
{
    EXPECT_EQ(Crc32Of("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32Of("", 0), 0u);
    EXPECT_EQ(Crc32Of("a", 1), 0xE8B7BE43u);
    EXPECT_EQ(Crc32Init(), 0xFFFFFFFFu);
    EXPECT_EQ(Crc32Final(0x12345678u), 0xEDCBA987u);
}

TEST(Crc32, PiecesGiveTheWholeResult)
{
    std::vector<unsigned char> data(70001);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 131 + (i >> 7));
    uint32_t whole = Crc32Of(data.data(), data.size());
    // Odd piece sizes cross the eight-byte steps at every alignment.
    for (size_t piece : {1u, 3u, 5u, 16384u, 7777u}) {
        uint32_t r = Crc32Init();
        for (size_t at = 0; at < data.size(); at += piece)
            r = Crc32Update(r, data.data() + at, std::min(piece, data.size() - at));
        EXPECT_EQ(Crc32Final(r), whole) << "piece " << piece;
    }
}

TEST(Crc32, MatchesBitwiseReference)
{
    std::string text;
    for (int i = 0; i < 1000; ++i)
        text += static_cast<char>(i * 7);
    uint32_t r = 0xFFFFFFFFu;
    for (unsigned char c : text) {
        r ^= c;
        for (int k = 0; k < 8; ++k)
            r = (r & 1) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
    }
    EXPECT_EQ(Crc32Of(text.data(), text.size()), ~r);
}
