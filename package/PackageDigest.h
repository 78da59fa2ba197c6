// The package's digest, kept in the stub's own image: a SHA-256 of the
// package in the slack at the end of the stub's PE headers, which Windows
// maps with the image and a signature covers. The running stub compares it
// with the package it reads from its file, so that a file put under its
// name after the start (a rename, a look-alike name) cannot hand it another
// package. A stub whose slot is empty reads its package as it always did.
//   0x3C0: "cSSHA256"   0x3C8: the SHA-256 (32 bytes)
// The digest covers the record and the marker (bytes 40 to 59) and then the
// package from StubSize to PackageSize, in file order.
#pragma once
#include <cstddef>
#include <cstdint>

#include "package/ByteSource.h"
#include "package/Package.h"
#include "package/PackageReader.h"

constexpr uint32_t kDigestSlotOffset = 0x3C0;
constexpr uint32_t kDigestSize = 32;
constexpr uint32_t kDigestSlotSize = 8 + kDigestSize;
constexpr uint32_t kDigestSlotEnd = kDigestSlotOffset + kDigestSlotSize;

struct PackageDigest {
    bool present = false;
    unsigned char bytes[kDigestSize] = {};

    static PackageDigest Decode(const unsigned char slot[kDigestSlotSize]);
    void Encode(unsigned char slot[kDigestSlotSize]) const;
    bool Same(const unsigned char other[kDigestSize]) const;
};

// The slot may take a digest: all zero, or holding one already.
bool DigestSlotFree(const unsigned char slot[kDigestSlotSize]);

// The digested bytes of the package the marker describes, handed to sink
// in pieces; false when the file ends before them.
bool ReadDigestedBytes(ByteSource file, const PackageMarker& marker, PieceSink sink);

// A run of bytes in memory.
struct Piece {
    const void* data;
    std::size_t size;
};
// The SHA-256 of the pieces one after the other, by whoever can compute it:
// the stub asks the system, the packer its library. False when it cannot.
using DigestFunction = bool (*)(const Piece* pieces, std::size_t count, unsigned char out[kDigestSize]);
