// SHA-256 by the system's cryptographic provider (advapi32, always there):
// the stub checks its package against the digest in its image with it, and
// puts one into the uninstaller it writes.
#pragma once
#include <windows.h>
#include <wincrypt.h>

#include "package/PackageDigest.h"

class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    // False once anything failed; Final then fails too.
    bool Add(const void* bytes, std::size_t count);
    bool Final(unsigned char out[kDigestSize]);

private:
    HCRYPTPROV provider_ = 0;
    HCRYPTHASH hash_ = 0;
    bool ok_ = false;
};

// The DigestFunction of the stub.
bool Sha256Of(const Piece* pieces, std::size_t count, unsigned char out[kDigestSize]);
