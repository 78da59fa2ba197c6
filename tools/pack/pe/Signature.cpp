#include "tools/pack/pe/Signature.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "package/LittleEndian.h"
#include "tools/pack/ToolError.h"

extern char** environ;

namespace {

void MustRead(const std::string& path, const char* what)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw ToolError(std::string("cannot read ") + what + " " + path + ": " + std::strerror(errno));
    close(fd);
}

// What osslsigncode said, cut to one line: its first line that names a
// failure, else its first line.
std::string OneLine(const std::string& said)
{
    std::string first, line;
    for (size_t at = 0; at < said.size();) {
        size_t end = said.find('\n', at);
        if (end == std::string::npos)
            end = said.size();
        line = said.substr(at, end - at);
        at = end + 1;
        if (line.empty())
            continue;
        if (first.empty())
            first = line;
        if (line.find("ailed") != std::string::npos || line.find("rror") != std::string::npos)
            return line;
    }
    return first.empty() ? "no message" : first;
}

template <class T, void (*Free)(T*)>
struct Freer {
    void operator()(T* p) const { Free(p); }
};
template <class T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, Freer<T, Free>>;

void FreeBio(BIO* b) { BIO_free(b); }
using BioPtr = Owned<BIO, FreeBio>;

// SpcIndirectDataContent, the content an Authenticode signature signs:
// SEQUENCE { SpcAttributeTypeAndOptionalValue, DigestInfo }.
constexpr char kSpcIndirectData[] = "1.3.6.1.4.1.311.2.1.4";

struct SignedDigest {
    const unsigned char* content = nullptr; // the SEQUENCE's value: what the signer's digest covers
    long contentSize = 0;
    std::string algorithm;                  // of the file's digest
    std::vector<unsigned char> value;
};

// The digest the signature holds for the file; false when its content is
// no SpcIndirectDataContent.
bool ReadSignedDigest(PKCS7* p7, SignedDigest& out)
{
    PKCS7* inner = p7->d.sign->contents;
    Owned<ASN1_OBJECT, ASN1_OBJECT_free> spc(OBJ_txt2obj(kSpcIndirectData, 1));
    if (!inner || !inner->type || OBJ_cmp(inner->type, spc.get()) != 0 || !inner->d.other ||
        inner->d.other->type != V_ASN1_SEQUENCE)
        return false;
    const ASN1_STRING* seq = inner->d.other->value.sequence;
    const unsigned char* p = seq->data;
    long length = 0;
    int tag = 0, cls = 0;
    if (ASN1_get_object(&p, &length, &tag, &cls, seq->length) & 0x80 || tag != V_ASN1_SEQUENCE)
        return false;
    out.content = p;
    out.contentSize = length;
    const unsigned char* end = p + length;
    // Past the first element to the DigestInfo.
    const unsigned char* q = p;
    long skip = 0;
    if (ASN1_get_object(&q, &skip, &tag, &cls, end - p) & 0x80 || skip > end - q)
        return false;
    q += skip;
    Owned<X509_SIG, X509_SIG_free> info(d2i_X509_SIG(nullptr, &q, end - q));
    if (!info)
        return false;
    const X509_ALGOR* algorithm = nullptr;
    const ASN1_OCTET_STRING* value = nullptr;
    X509_SIG_get0(info.get(), &algorithm, &value);
    out.algorithm = OBJ_nid2sn(OBJ_obj2nid(algorithm->algorithm));
    out.value.assign(value->data, value->data + value->length);
    return true;
}

// Whether the signer signed that content (the messageDigest attribute and
// the signature over the attributes); the chain is not looked at.
bool SignerSigned(PKCS7* p7, const SignedDigest& d)
{
    BioPtr content(BIO_new_mem_buf(d.content, static_cast<int>(d.contentSize)));
    const bool ok = content && PKCS7_verify(p7, nullptr, nullptr, content.get(), nullptr, PKCS7_NOVERIFY) == 1;
    ERR_clear_error();
    return ok;
}

// Why the signer's chain does not end in a certificate of `caFile`; empty
// when it does.
std::string ChainError(PKCS7* p7, X509* signer, const std::string& caFile)
{
    Owned<X509_STORE, X509_STORE_free> store(X509_STORE_new());
    if (!store || X509_STORE_load_file(store.get(), caFile.c_str()) != 1) {
        ERR_clear_error();
        return "no certificate can be read from " + caFile;
    }
    Owned<X509_STORE_CTX, X509_STORE_CTX_free> ctx(X509_STORE_CTX_new());
    if (!ctx || X509_STORE_CTX_init(ctx.get(), store.get(), signer, p7->d.sign->cert) != 1)
        return "out of memory";
    // A code-signing certificate: any purpose its issuer gave it.
    X509_STORE_CTX_set_purpose(ctx.get(), X509_PURPOSE_ANY);
    const bool ok = X509_verify_cert(ctx.get()) == 1;
    ERR_clear_error();
    return ok ? "" : X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx.get()));
}

} // namespace

void SignFile(const SignOptions& o, const std::string& in, const std::string& out)
{
    MustRead(o.pkcs12, "the certificate");
    if (!o.passwordFile.empty())
        MustRead(o.passwordFile, "the password file");
    std::vector<std::string> args = {"osslsigncode", "sign", "-pkcs12", o.pkcs12, "-h", "sha256"};
    if (!o.passwordFile.empty())
        args.insert(args.end(), {"-readpass", o.passwordFile});
    if (!o.timestamp.empty())
        args.insert(args.end(), {"-ts", o.timestamp});
    args.insert(args.end(), {"-in", in, "-out", out});
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);

    // Its messages are gathered and shown only when it fails.
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        throw ToolError(std::string("cannot start osslsigncode: ") + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    pid_t pid;
    const int spawned = posix_spawnp(&pid, "osslsigncode", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    std::string said;
    if (spawned == 0) {
        char buffer[4096];
        for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
            if (n > 0)
                said.append(buffer, static_cast<size_t>(n));
            else if (errno != EINTR)
                break;
        }
    }
    close(pipeFds[0]);
    if (spawned == ENOENT)
        throw ToolError("--sign-pkcs12 needs osslsigncode, which is not installed (Debian: apt-get install osslsigncode)");
    if (spawned != 0)
        throw ToolError(std::string("cannot start osslsigncode: ") + std::strerror(spawned));
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        unlink(out.c_str());
        throw ToolError("signing with " + o.pkcs12 + " failed: " + OneLine(said));
    }
}

const char* SignatureCheckName(SignatureCheck c)
{
    switch (c) {
    case SignatureCheck::Valid: return "valid digest";
    case SignatureCheck::DigestMismatch: return "digest mismatch";
    case SignatureCheck::BadSignature: return "broken";
    case SignatureCheck::NotVerified: return "not verified";
    }
    return "";
}

bool AuthenticodeDigest(const ByteSource& file, const std::string& digestName, std::vector<unsigned char>& digest)
{
    PeSignatureFields fields;
    const EVP_MD* md = EVP_get_digestbyname(digestName.c_str());
    if (!md || !FindSignatureFields(file, fields) || fields.security.address == 0 ||
        fields.security.address > file.Size() || fields.securityAt + 8 > fields.security.address)
        return false;
    Owned<EVP_MD_CTX, EVP_MD_CTX_free> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1)
        return false;
    // Everything before the table but the two fields signing writes.
    const uint64_t ranges[3][2] = {{0, fields.checksumAt},
                                   {fields.checksumAt + 4ull, fields.securityAt},
                                   {fields.securityAt + 8ull, fields.security.address}};
    std::vector<unsigned char> buffer(1 << 16);
    for (const auto& range : ranges) {
        for (uint64_t at = range[0]; at < range[1];) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), range[1] - at));
            if (file.ReadAt(at, buffer.data(), n) != n || EVP_DigestUpdate(ctx.get(), buffer.data(), n) != 1)
                return false;
            at += n;
        }
    }
    unsigned int size = 0;
    digest.resize(EVP_MAX_MD_SIZE);
    if (EVP_DigestFinal_ex(ctx.get(), digest.data(), &size) != 1)
        return false;
    digest.resize(size);
    return true;
}

SignatureInfo ReadSignature(const ByteSource& file, const PeDirectory& table, const std::string& caFile)
{
    // The first entry only, and only when it is of a signature's size:
    // inspect's memory stays small whatever the file holds.
    constexpr uint32_t kLargest = 1 << 20;
    SignatureInfo info;
    unsigned char head[8];
    if (table.size < 8 || file.ReadAt(table.address, head, 8) != 8) {
        info.error = "the certificate table cannot be read";
        return info;
    }
    const uint32_t length = GetU32(head);
    if (length < 8 || length > table.size || length > kLargest) {
        info.error = "its first entry is " + std::to_string(length) + " bytes long";
        return info;
    }
    std::vector<unsigned char> bytes(length - 8);
    if (file.ReadAt(table.address + 8, bytes.data(), bytes.size()) != bytes.size()) {
        info.error = "the certificate table cannot be read";
        return info;
    }
    const unsigned char* p = bytes.data();
    Owned<PKCS7, PKCS7_free> p7(d2i_PKCS7(nullptr, &p, static_cast<long>(bytes.size())));
    if (!p7 || !PKCS7_type_is_signed(p7.get())) {
        info.error = "the certificate table holds no PKCS #7 signed data";
        return info;
    }
    STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(p7.get());
    PKCS7_SIGNER_INFO* si = signers ? sk_PKCS7_SIGNER_INFO_value(signers, 0) : nullptr;
    if (!si) {
        info.error = "the signature names no signer";
        return info;
    }
    X509_ALGOR* digest = nullptr;
    PKCS7_SIGNER_INFO_get0_algs(si, nullptr, &digest, nullptr);
    if (digest)
        info.digest = OBJ_nid2ln(OBJ_obj2nid(digest->algorithm));
    X509* signer = X509_find_by_issuer_and_serial(p7->d.sign->cert, si->issuer_and_serial->issuer,
                                                  si->issuer_and_serial->serial);
    if (!signer) {
        info.error = "the signer's certificate is not in the signature";
        return info;
    }
    BioPtr bio(BIO_new(BIO_s_mem()));
    X509_NAME_print_ex(bio.get(), X509_get_subject_name(signer), 0, XN_FLAG_RFC2253);
    char* text = nullptr;
    long n = BIO_get_mem_data(bio.get(), &text);
    info.subject.assign(text, static_cast<size_t>(n));

    // What the signature says of the file, against the file itself.
    SignedDigest signedDigest;
    std::vector<unsigned char> fileDigest;
    if (!ReadSignedDigest(p7.get(), signedDigest)) {
        info.why = "it signs no Authenticode digest";
    } else if (!AuthenticodeDigest(file, signedDigest.algorithm, fileDigest)) {
        info.why = "the file's " + signedDigest.algorithm + " digest cannot be computed";
    } else if (fileDigest != signedDigest.value) {
        info.check = SignatureCheck::DigestMismatch;
    } else if (!SignerSigned(p7.get(), signedDigest)) {
        info.check = SignatureCheck::BadSignature;
    } else {
        info.check = SignatureCheck::Valid;
    }
    if (info.check == SignatureCheck::Valid && !caFile.empty()) {
        info.chainChecked = true;
        info.chainError = ChainError(p7.get(), signer, caFile);
    }
    return info;
}

bool PackageDigestOf(const ByteSource& file, const PackageMarker& marker, unsigned char out[kDigestSize])
{
    Owned<EVP_MD_CTX, EVP_MD_CTX_free> ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_sha256(), nullptr) != 1)
        return false;
    bool hashed = true;
    auto take = [&](const unsigned char* bytes, size_t count) {
        hashed = hashed && EVP_DigestUpdate(ctx.get(), bytes, count) == 1;
    };
    unsigned int size = 0;
    return ReadDigestedBytes(file, marker, take) && hashed && EVP_DigestFinal_ex(ctx.get(), out, &size) == 1 &&
           size == kDigestSize;
}
