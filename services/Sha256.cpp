#include "services/Sha256.h"

// The headers name it only for builds after XP SP2; the stub is built for
// XP's API and runs on Vista or later, whose AES provider has it.
#ifndef CALG_SHA_256
#define CALG_SHA_256 (ALG_CLASS_HASH | ALG_TYPE_ANY | 12)
#endif

Sha256::Sha256()
{
    // The AES provider is the one that knows SHA-2; no key container is
    // needed for hashing.
    ok_ = CryptAcquireContextW(&provider_, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT | CRYPT_SILENT) &&
          CryptCreateHash(provider_, CALG_SHA_256, 0, 0, &hash_);
}

Sha256::~Sha256()
{
    if (hash_)
        CryptDestroyHash(hash_);
    if (provider_)
        CryptReleaseContext(provider_, 0);
}

bool Sha256::Add(const void* bytes, std::size_t count)
{
    // Pieces are read in blocks far below 4 GB.
    ok_ = ok_ && CryptHashData(hash_, static_cast<const BYTE*>(bytes), static_cast<DWORD>(count), 0);
    return ok_;
}

bool Sha256::Final(unsigned char out[kDigestSize])
{
    DWORD size = kDigestSize;
    return ok_ && CryptGetHashParam(hash_, HP_HASHVAL, out, &size, 0) && size == kDigestSize;
}

bool Sha256Of(const Piece* pieces, std::size_t count, unsigned char out[kDigestSize])
{
    Sha256 hash;
    for (std::size_t i = 0; i < count; ++i)
        hash.Add(pieces[i].data, pieces[i].size);
    return hash.Final(out);
}
