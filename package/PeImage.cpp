#include "package/PeImage.h"

#include <algorithm>
#include <vector>

#include "package/LittleEndian.h"

namespace {

constexpr size_t kDosHeaderSize = 64;
constexpr size_t kFileHeaderEnd = 24; // signature and file header
constexpr size_t kSectionHeaderSize = 40;
constexpr unsigned kSecurityDirectory = 4;

} // namespace

PeStatus ReadPeImage(const unsigned char* d, size_t size, PeImage& pe)
{
    pe = PeImage();
    if (size < kDosHeaderSize || d[0] != 'M' || d[1] != 'Z')
        return PeStatus::NotPe;
    // The PE headers follow the DOS header, whose bytes 48 to 59 hold the
    // package marker: a file whose headers start inside it is no stub.
    const uint32_t at = GetU32(d + 0x3C);
    if (at < kDosHeaderSize || at > size || size - at < 4)
        return PeStatus::NotPe;
    if (d[at] != 'P' || d[at + 1] != 'E' || d[at + 2] != 0 || d[at + 3] != 0)
        return PeStatus::NotPe;
    if (size - at < kFileHeaderEnd + 2)
        return PeStatus::CutShort;
    pe.signatureOffset = at;
    pe.machine = GetU16(d + at + 4);
    pe.sectionCount = GetU16(d + at + 6);
    const uint16_t optionalSize = GetU16(d + at + 20);
    pe.characteristics = GetU16(d + at + 22);

    // The optional header: PE32 and PE32+ share the offsets used here up to
    // the directory count, which PE32+ moves 16 bytes on (wider fields).
    const size_t opt = at + kFileHeaderEnd;
    pe.magic = GetU16(d + opt);
    size_t fixed;
    if (pe.magic == kPe32Magic)
        fixed = 96;
    else if (pe.magic == kPe32PlusMagic)
        fixed = 112;
    else
        return PeStatus::NotPe;
    if (optionalSize < fixed)
        return PeStatus::NotPe;
    if (size - opt < optionalSize)
        return PeStatus::CutShort;
    pe.sizeOfHeaders = GetU32(d + opt + 60);
    pe.subsystem = GetU16(d + opt + 68);
    uint32_t directories = GetU32(d + opt + fixed - 4);
    if (directories > (optionalSize - fixed) / 8)
        directories = static_cast<uint32_t>((optionalSize - fixed) / 8);
    if (directories > kSecurityDirectory) {
        pe.security.address = GetU32(d + opt + fixed + 8 * kSecurityDirectory);
        pe.security.size = GetU32(d + opt + fixed + 8 * kSecurityDirectory + 4);
    }

    const size_t table = opt + optionalSize;
    if ((size - table) / kSectionHeaderSize < pe.sectionCount)
        return PeStatus::CutShort;
    pe.sectionTableEnd = static_cast<uint32_t>(table + pe.sectionCount * kSectionHeaderSize);
    pe.dataEnd = pe.sizeOfHeaders;
    for (size_t i = 0; i < pe.sectionCount; ++i) {
        const unsigned char* s = d + table + i * kSectionHeaderSize;
        const uint32_t rawSize = GetU32(s + 16);
        if (rawSize != 0 && uint64_t(GetU32(s + 20)) + rawSize > pe.dataEnd)
            pe.dataEnd = uint64_t(GetU32(s + 20)) + rawSize;
    }
    return PeStatus::Ok;
}

PeStatus ReadPeHeaders(const ByteSource& file, PeImage& image)
{
    // ReadPeImage takes the headers where e_lfanew points. They are read
    // here right behind the DOS header, and e_lfanew is set to point there:
    // what they say about the file's sections are file offsets, unmoved.
    constexpr size_t kLfanew = 0x3C;
    std::vector<unsigned char> b(static_cast<size_t>(std::min<uint64_t>(file.Size(), kDosHeaderSize)));
    if (file.ReadAt(0, b.data(), b.size()) != b.size())
        return PeStatus::CutShort;
    const uint32_t at = b.size() == kDosHeaderSize ? GetU32(&b[kLfanew]) : 0;
    if (at < kDosHeaderSize || at >= file.Size())
        return ReadPeImage(b.data(), b.size(), image); // not a program: nothing more to read
    bool whole = true;
    auto readOn = [&](uint64_t count) { // the first count bytes from e_lfanew on, as far as the file goes
        const size_t have = b.size() - kDosHeaderSize;
        count = std::min<uint64_t>(count, file.Size() - at);
        if (count <= have)
            return;
        b.resize(kDosHeaderSize + static_cast<size_t>(count));
        const size_t more = static_cast<size_t>(count) - have;
        whole = whole && file.ReadAt(at + have, &b[kDosHeaderSize + have], more) == more;
    };
    b[kLfanew] = kDosHeaderSize;
    b[kLfanew + 1] = b[kLfanew + 2] = b[kLfanew + 3] = 0;
    readOn(kFileHeaderEnd);
    if (whole && b.size() == kDosHeaderSize + kFileHeaderEnd) {
        const uint16_t sections = GetU16(&b[kDosHeaderSize + 6]);
        const uint16_t optional = GetU16(&b[kDosHeaderSize + 20]);
        // At least the optional header's magic, which tells its kind.
        readOn(kFileHeaderEnd + std::max<uint64_t>(optional, 2) + uint64_t(kSectionHeaderSize) * sections);
    }
    if (!whole)
        return PeStatus::CutShort;
    PeStatus status = ReadPeImage(b.data(), b.size(), image);
    if (image.signatureOffset != 0)
        image.signatureOffset = at;
    return status;
}

StubFit CheckStubImage(const PeImage& pe, uint64_t fileSize)
{
    if (pe.characteristics & kPeDll)
        return StubFit::Dll;
    if (!(pe.characteristics & kPeExecutableImage))
        return StubFit::NotExecutable;
    if (pe.machine != kPeMachineI386 && pe.machine != kPeMachineAmd64)
        return StubFit::OtherMachine;
    if ((pe.machine == kPeMachineI386) != (pe.magic == kPe32Magic))
        return StubFit::MachineMismatch;
    if (pe.subsystem != kPeSubsystemGui)
        return StubFit::NotGui;
    if (pe.dataEnd > fileSize)
        return StubFit::CutShort;
    return StubFit::Ok;
}

bool FindSignatureFields(ByteSource file, PeSignatureFields& fields)
{
    // The signature, file header, optional header up to the directories
    // of a PE32+ image, and five directory entries.
    constexpr size_t kUpToSecurity = kFileHeaderEnd + 112 + 8 * (kSecurityDirectory + 1);
    unsigned char b[kUpToSecurity] = {};
    unsigned char at4[4] = {};
    if (file.ReadAt(0x3C, at4, 4) != 4)
        return false;
    const uint32_t at = GetU32(at4);
    if (at < kDosHeaderSize || file.ReadAt(at, b, sizeof b) < kFileHeaderEnd + 2 ||
        b[0] != 'P' || b[1] != 'E' || b[2] != 0 || b[3] != 0)
        return false;
    const uint16_t magic = GetU16(b + kFileHeaderEnd);
    const size_t fixed = magic == kPe32Magic ? 96 : magic == kPe32PlusMagic ? 112 : 0;
    const size_t entry = kFileHeaderEnd + fixed + 8 * kSecurityDirectory;
    // A short read leaves zeros, and a count of zero fails here.
    if (fixed == 0 || GetU16(b + 20) < fixed + 8 * (kSecurityDirectory + 1) ||
        GetU32(b + kFileHeaderEnd + fixed - 4) <= kSecurityDirectory)
        return false;
    fields.checksumAt = at + kFileHeaderEnd + 64;
    fields.securityAt = static_cast<uint32_t>(at + entry);
    fields.security.address = GetU32(b + entry);
    fields.security.size = GetU32(b + entry + 4);
    return true;
}

void PeChecksum::Add(const unsigned char* bytes, size_t count)
{
    // A byte at an odd offset is the high half of its word; adding the
    // halves one by one with the carry folded gives the same sum.
    for (size_t i = 0; i < count; ++i, ++length_) {
        sum_ += (length_ & 1) ? uint32_t(bytes[i]) << 8 : bytes[i];
        sum_ = (sum_ & 0xFFFF) + (sum_ >> 16);
    }
}

uint32_t PeChecksum::Final() const { return sum_ + length_; }

const char* PeMachineName(uint16_t machine)
{
    switch (machine) {
    case kPeMachineI386: return "i386";
    case kPeMachineAmd64: return "x86-64";
    case 0xAA64: return "ARM64";
    case 0x01C0:
    case 0x01C4: return "ARM";
    case 0x0200: return "IA-64";
    }
    return nullptr;
}
