#include "package/PeImage.h"

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
    pe.dataEnd = pe.sizeOfHeaders;
    for (size_t i = 0; i < pe.sectionCount; ++i) {
        const unsigned char* s = d + table + i * kSectionHeaderSize;
        const uint32_t rawSize = GetU32(s + 16);
        if (rawSize != 0 && uint64_t(GetU32(s + 20)) + rawSize > pe.dataEnd)
            pe.dataEnd = uint64_t(GetU32(s + 20)) + rawSize;
    }
    return PeStatus::Ok;
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
