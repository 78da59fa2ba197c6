// Authenticode signatures of a packed installer: signing one through
// osslsigncode (`pack --sign-pkcs12`), and reading who signed one and with
// which digest (`inspect`).
#pragma once
#include <string>

#include "package/ByteSource.h"
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

struct SignatureInfo {
    std::string subject; // the signer certificate's, as "CN=...,O=..."
    std::string digest;  // "sha256", ...
    std::string error;   // empty: both were read
};

// The first signature of the certificate table at `table` in `file`.
SignatureInfo ReadSignature(const ByteSource& file, const PeDirectory& table);
