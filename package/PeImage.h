// The headers of a Windows program file (PE), read from its bytes without
// <windows.h>: the packer checks a stub with them, inspect names the stub's
// machine, and the certificate table of a signed file is found through them.
// Integers in the file are little-endian.
#pragma once
#include <cstddef>
#include <cstdint>

#include "package/ByteSource.h"

constexpr uint16_t kPeMachineI386 = 0x014C;
constexpr uint16_t kPeMachineAmd64 = 0x8664;
constexpr uint16_t kPe32Magic = 0x010B;     // optional header of a 32-bit image
constexpr uint16_t kPe32PlusMagic = 0x020B; // optional header of a 64-bit image
constexpr uint16_t kPeSubsystemGui = 2;
constexpr uint16_t kPeSubsystemConsole = 3;
constexpr uint16_t kPeExecutableImage = 0x0002; // file header characteristics
constexpr uint16_t kPeDll = 0x2000;

struct PeDirectory {
    uint32_t address = 0; // an RVA; for the certificate table a file offset
    uint32_t size = 0;
};

struct PeImage {
    uint32_t signatureOffset = 0; // "PE\0\0", as e_lfanew gives it
    uint16_t machine = 0;
    uint16_t sectionCount = 0;
    uint16_t characteristics = 0;
    uint16_t magic = 0; // kPe32Magic or kPe32PlusMagic
    uint16_t subsystem = 0;
    uint32_t sizeOfHeaders = 0;
    uint32_t sectionTableEnd = 0; // file offset just past the section headers
    uint64_t dataEnd = 0;   // where the last section's bytes end in the file
    PeDirectory security;   // directory 4: the certificate table, zero when absent
};

enum class PeStatus {
    Ok,
    NotPe,    // no "MZ", no "PE\0\0" where e_lfanew points, or headers of no known kind
    CutShort, // "PE\0\0", but the headers or the section table pass the end of the bytes
};

// Reads the headers of the `size` bytes at `data` (a whole file, or at least
// its headers; dataEnd is then the end the sections claim).
PeStatus ReadPeImage(const unsigned char* data, size_t size, PeImage& image);
// The headers of the Windows program at the start of file: its DOS header,
// PE headers and section table, read on their own (not the bytes between
// them, not the sections): a few kilobytes, whatever the file. A source
// that delivers fewer bytes than its size promises reads as cut short.
PeStatus ReadPeHeaders(const ByteSource& file, PeImage& image);

// The two kinds of setup stub: i386 PE32 and x86-64 PE32+ GUI programs,
// whole in a file of `fileSize` bytes.
enum class StubFit { Ok, Dll, NotExecutable, OtherMachine, MachineMismatch, NotGui, CutShort };
StubFit CheckStubImage(const PeImage& image, uint64_t fileSize);

// "i386", "x86-64", "ARM64", ... or nullptr for a machine it does not know.
const char* PeMachineName(uint16_t machine);
inline unsigned PeBits(const PeImage& image) { return image.magic == kPe32PlusMagic ? 64 : 32; }

// The two header fields a signature touches, found from a file's headers
// alone: the stub reads them in its own file and in the uninstaller it
// copies. Offsets are file offsets; false for a file that is no PE32 or
// PE32+ program or whose directories end before the certificate table's.
struct PeSignatureFields {
    uint32_t checksumAt = 0;
    uint32_t securityAt = 0; // directory 4's entry: file offset and size of the table
    PeDirectory security;
};
bool FindSignatureFields(ByteSource file, PeSignatureFields& fields);

// The PE checksum of bytes that arrive in pieces, with the checksum field
// itself counted as zero: 16-bit little-endian words added with their
// carries folded back in, plus the file's length.
class PeChecksum {
public:
    void Add(const unsigned char* bytes, size_t count);
    uint32_t Final() const;

private:
    uint32_t sum_ = 0;
    uint32_t length_ = 0;
};
