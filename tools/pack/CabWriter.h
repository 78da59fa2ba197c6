// Our cabinet writer: one folder, every entry in it, data blocks of 32,768
// uncompressed bytes (the last one shorter). Level 0 stores the blocks;
// levels 1 to 9 are MSZIP, each block a complete deflate stream that starts
// from the previous block's data as preset dictionary. That dictionary is
// known before anything is compressed, so blocks compress in parallel and
// the output does not depend on the number of threads. Level 9 compresses
// each block several ways and keeps the smallest.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Cabinet file attributes. 0x40 asks the installer to start the file;
// 0x80 would mark a UTF-8 name, which the stub does not read, so it is never
// written.
constexpr uint16_t kAttrReadOnly = 0x01;
constexpr uint16_t kAttrHidden = 0x02;
constexpr uint16_t kAttrSystem = 0x04;
constexpr uint16_t kAttrArchive = 0x20;
constexpr uint16_t kAttrRun = 0x40;
constexpr uint16_t kAttrUtf8Name = 0x80;

constexpr uint32_t kCabBlockSize = 32768;
constexpr int kDefaultLevel = 9;

struct CabEntry {
    std::string name;                 // stored bytes, ANSI code page
    std::string sourcePath;           // read at write time when set...
    std::vector<unsigned char> data;  // ...else these bytes
    uint16_t date = 0x21;             // DOS date, 1980-01-01
    uint16_t time = 0;                // DOS time
    uint16_t attribs = kAttrArchive;
};

struct CabWriteOptions {
    int level = kDefaultLevel; // 0 stored, 1..9 MSZIP
    unsigned threads = 0;      // 0: one per core
};

// Throws ToolError for an unreadable source, a name the format cannot hold,
// or more data or entries than one cabinet takes.
std::vector<unsigned char> WriteCabinet(const std::vector<CabEntry>& entries, const CabWriteOptions& options);

// The CFDATA checksum over a block's size fields and its data.
uint32_t CabDataChecksum(const unsigned char* data, size_t count, uint16_t cbData, uint16_t cbUncomp);

// DOS date and time of a Unix time, in local time (the installer turns them
// from local time into UTC). Clamped to 1980..2107.
void DosDateTime(int64_t unixTime, uint16_t& date, uint16_t& time);
