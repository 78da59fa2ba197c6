// Our cabinet writer: one folder, every entry in it, data blocks of 32,768
// uncompressed bytes (the last one shorter), stored (level 0), MSZIP
// (levels 1 to 9, see Mszip.h) or LZX (see Lzx.h). Files are read while the cabinet is
// written, so memory stays a few blocks per thread whatever the payload.
#pragma once
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/pack/FileUtil.h"
#include "tools/pack/cab/CabReader.h"
#include "tools/pack/cab/Lzx.h"
#include "tools/pack/cab/Mszip.h"

// What readers accept as one folder's uncompressed size.
constexpr uint64_t kMaxFolderBytes = 0x7FFF8000;
constexpr size_t kMaxCabinetFiles = 0xFFFF;

struct CabEntry {
    std::string name;                 // stored bytes, ANSI code page
    std::string sourcePath;           // read at write time when set, size bytes...
    uint64_t size = 0;
    std::vector<unsigned char> data;  // ...else these bytes
    uint16_t date = 0x21;             // DOS date, 1980-01-01
    uint16_t time = 0;                // DOS time
    uint16_t attribs = kAttrArchive;

    uint64_t Size() const { return sourcePath.empty() ? data.size() : size; }
};

struct CabWriteOptions {
    int level = kDefaultLevel; // 0 stored, 1..9 MSZIP
    int lzxWindowBits = 0;     // 15..21: LZX with a window of 2^bits, level unused
    unsigned threads = 0;      // 0: one per core
    std::atomic<uint64_t>* progress = nullptr; // counts the uncompressed bytes written, for a progress line
};

// Refuses, before anything is read, what one cabinet cannot hold: no entry,
// more than 65,535, a name the format cannot store, more than 2 GB of data.
void CheckCabinetEntries(const std::vector<CabEntry>& entries);

struct CabWritten {
    uint64_t size = 0;
    uint32_t crc = 0; // CRC-32 of the cabinet's bytes
};

// Appends the cabinet to out. Throws ToolError for an unreadable source, a
// source whose size changed since it was collected, or what
// CheckCabinetEntries refuses.
CabWritten WriteCabinet(const std::vector<CabEntry>& entries, const CabWriteOptions& options, OutputSink& out);
std::vector<unsigned char> WriteCabinet(const std::vector<CabEntry>& entries, const CabWriteOptions& options);

// The CFDATA checksum over a block's size fields and its data.
uint32_t CabDataChecksum(const unsigned char* data, size_t count, uint16_t cbData, uint16_t cbUncomp);

// DOS date and time of a Unix time seen at a fixed offset from UTC (the
// installer takes them as the target machine's local time). Clamped to
// 1980..2107. Depends on nothing in the environment.
void DosDateTime(int64_t unixTime, int offsetMinutes, uint16_t& date, uint16_t& time);
