// Reading cabinets: the directory from the headers (our own parser, which
// also sees the attribute bits and flags as stored), and a full decode of
// every entry through libmspack, which knows MSZIP, LZX and Quantum.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "tools/pack/FileUtil.h"

// Cabinet file attributes. 0x40 asks the installer to start the file;
// 0x80 would mark a UTF-8 name, which the stub does not read, so it is never
// written.
constexpr uint16_t kAttrReadOnly = 0x01;
constexpr uint16_t kAttrHidden = 0x02;
constexpr uint16_t kAttrSystem = 0x04;
constexpr uint16_t kAttrArchive = 0x20;
constexpr uint16_t kAttrRun = 0x40;
constexpr uint16_t kAttrUtf8Name = 0x80;

struct CabFolderInfo {
    uint32_t dataOffset = 0;
    uint16_t blockCount = 0;
    uint16_t compression = 0; // low 4 bits: 0 none, 1 MSZIP, 2 Quantum, 3 LZX
};

struct CabFileInfo {
    std::string name; // stored bytes
    uint32_t size = 0;
    uint32_t folderOffset = 0;
    uint16_t folder = 0; // 0xFFFD..0xFFFF: continued from or to another cabinet
    uint16_t date = 0;
    uint16_t time = 0;
    uint16_t attribs = 0;
};

struct CabInfo {
    uint32_t size = 0;      // cbCabinet
    uint16_t flags = 0;     // 1 previous, 2 next cabinet, 4 reserve
    uint16_t setId = 0;
    uint16_t setIndex = 0;
    std::vector<CabFolderInfo> folders;
    std::vector<CabFileInfo> files;

    bool PartOfSet() const;
};

// Throws ToolError naming what is wrong with the headers, including a file
// list that does not start right after the folder records: the platform
// reads it from there, others from where the header points, so the two
// would see different entries.
CabInfo ReadCabinetDirectory(const ByteSource& cab);
CabInfo ReadCabinetDirectory(const std::vector<unsigned char>& cab);

const char* CompressionName(uint16_t compression);

// Decodes every entry with libmspack, checking data checksums and sizes,
// a few blocks at a time, and given the CRC-32 of each entry's bytes in
// directory order, those too. Throws ToolError with libmspack's complaint
// or the entry that differs.
void VerifyCabinet(const ByteSource& cab, const std::vector<uint32_t>* crcs = nullptr);
// The same for a cabinet in memory; returns the entries' bytes in
// directory order when keep is set (else empty vectors).
std::vector<std::vector<unsigned char>> VerifyCabinet(const std::vector<unsigned char>& cab, bool keep);
