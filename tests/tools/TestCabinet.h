// A small cabinet writer for tests: stored (uncompressed) data only, but with
// what the packaging tool never writes: sets that span several cabinets,
// entries continued from or to another cabinet, any attribute bits, and
// deliberately damaged data. Portable C++.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct TestEntry {
    std::string name;
    std::string data;
    uint16_t date = 0x5A21; // 2025-01-01
    uint16_t time = 0x6000; // 12:00:00
    uint16_t attribs = 0x20;
};

// One cabinet with one folder holding every entry.
std::string MakeCabinet(const std::vector<TestEntry>& entries);

// A set of two cabinets: "first" holds the entries of firstOnly and the
// beginning of spanning; "second" holds the rest of spanning, then the
// entries of secondOnly in a folder of their own. Both carry set id 0x1234;
// first names second (secondName, disk "Disk 2") as the next cabinet, second
// names first (firstName, disk "Disk 1") as the previous one.
struct TestCabinetSet {
    std::string first;
    std::string second;
};
TestCabinetSet MakeCabinetSet(const std::vector<TestEntry>& firstOnly, const TestEntry& spanning,
                              const std::vector<TestEntry>& secondOnly, const std::string& firstName,
                              const std::string& secondName);

// A cabinet whose single folder claims MSZIP compression but holds garbage.
std::string MakeDamagedCabinet(const std::vector<TestEntry>& entries);
