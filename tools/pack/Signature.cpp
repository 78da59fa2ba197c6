#include "tools/pack/Signature.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <openssl/bio.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

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

SignatureInfo ReadSignature(const ByteSource& file, const PeDirectory& table)
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
    std::unique_ptr<PKCS7, void (*)(PKCS7*)> p7(d2i_PKCS7(nullptr, &p, static_cast<long>(bytes.size())), PKCS7_free);
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
    std::unique_ptr<BIO, int (*)(BIO*)> bio(BIO_new(BIO_s_mem()), BIO_free);
    X509_NAME_print_ex(bio.get(), X509_get_subject_name(signer), 0, XN_FLAG_RFC2253);
    char* text = nullptr;
    long n = BIO_get_mem_data(bio.get(), &text);
    info.subject.assign(text, static_cast<size_t>(n));
    return info;
}
