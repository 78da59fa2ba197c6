// Authenticode signatures of a packed installer: signing one through
// osslsigncode (`pack --sign-pkcs12`), and checking one against the file's
// own digest and reading who signed it (`inspect`).
#pragma once
#include <string>
#include <vector>

#include "package/ByteSource.h"
#include "package/PackageDigest.h"
#include "package/PeImage.h"

struct SignOptions {
    std::string pkcs12;       // certificate and key; empty: no signing
    std::string passwordFile; // its password on the first line; empty: none
    std::string timestamp;    // URL of an RFC 3161 time-stamping server; empty: none
};

// Signs the file at `in` into a new file at `out`, which must not exist.
// A ToolError of one line when it cannot: osslsigncode missing, a file
// that cannot be read, a wrong password; `out` is then removed.
void SignFile(const SignOptions& options, const std::string& in, const std::string& out);

// What checking a signature against its file found.
enum class SignatureCheck {
    NotVerified,    // it cannot be checked: `why` says what is missing
    Valid,          // the file's digest is the signed one, and the signer signed it
    DigestMismatch, // the file was changed after signing (or the table came from another file)
    BadSignature,   // the signed digest is not what the signer signed
};

// "valid digest", "digest mismatch", "broken", "not verified".
const char* SignatureCheckName(SignatureCheck check);

struct SignatureInfo {
    std::string subject; // the signer certificate's, as "CN=...,O=..."
    std::string digest;  // "sha256", ...
    std::string error;   // empty: both were read
    SignatureCheck check = SignatureCheck::NotVerified;
    std::string why;        // why it is not verified
    bool chainChecked = false;
    std::string chainError; // empty: the signer's chain ends in a trusted certificate
};

// The first signature of the certificate table at `table` in `file`, and
// whether it covers the file's bytes. With a `caFile` (PEM certificates),
// the signer's chain is checked against it too.
SignatureInfo ReadSignature(const ByteSource& file, const PeDirectory& table, const std::string& caFile = "");

// The Authenticode digest of a signed PE file: every byte before its
// certificate table but the checksum field and the security directory
// entry. False when `file` is no PE32 or PE32+ program, its table is not
// where its directory says, or a read falls short.
bool AuthenticodeDigest(const ByteSource& file, const std::string& digestName, std::vector<unsigned char>& digest);

// The digest of the package the marker describes (package/PackageDigest.h);
// false when the file ends before the package does.
bool PackageDigestOf(const ByteSource& file, const PackageMarker& marker, unsigned char out[kDigestSize]);
