#include "tools/pack/CabReader.h"

#include <mspack.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "tools/pack/ToolError.h"

namespace {

uint16_t U16(const std::vector<unsigned char>& b, size_t at)
{
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

uint32_t U32(const std::vector<unsigned char>& b, size_t at)
{
    return uint32_t(U16(b, at)) | uint32_t(U16(b, at + 2)) << 16;
}

void Need(const std::vector<unsigned char>& b, size_t end, const char* what)
{
    if (end > b.size())
        throw ToolError(std::string("cabinet is cut short in its ") + what);
}

std::string ReadName(const std::vector<unsigned char>& b, size_t& at, const char* what)
{
    size_t start = at;
    while (at < b.size() && b[at] != 0)
        ++at;
    if (at >= b.size() || at - start > 255)
        throw ToolError(std::string("cabinet has an unterminated ") + what);
    std::string s(reinterpret_cast<const char*>(&b[start]), at - start);
    ++at;
    return s;
}

// libmspack reads and writes through these: the cabinet comes from memory
// and every extracted entry goes into a buffer.
struct MemFile {
    const std::vector<unsigned char>* in = nullptr;
    std::vector<unsigned char>* out = nullptr;
    size_t pos = 0;
};

struct MemSystem {
    mspack_system sys;   // first member: libmspack hands this pointer back
    const std::vector<unsigned char>* cab = nullptr;
    std::map<std::string, std::vector<unsigned char>> outputs;
};

mspack_file* MemOpen(mspack_system* self, const char* name, int mode)
{
    MemSystem* ms = reinterpret_cast<MemSystem*>(self);
    std::unique_ptr<MemFile> f(new MemFile);
    if (mode == MSPACK_SYS_OPEN_READ) {
        if (std::strcmp(name, "cabinet") != 0)
            return nullptr;
        f->in = ms->cab;
    } else if (mode == MSPACK_SYS_OPEN_WRITE) {
        f->out = &ms->outputs[name];
        f->out->clear();
    } else {
        return nullptr;
    }
    return reinterpret_cast<mspack_file*>(f.release());
}

void MemClose(mspack_file* file) { delete reinterpret_cast<MemFile*>(file); }

int MemRead(mspack_file* file, void* buffer, int bytes)
{
    MemFile* f = reinterpret_cast<MemFile*>(file);
    if (!f->in || bytes < 0)
        return -1;
    size_t left = f->pos < f->in->size() ? f->in->size() - f->pos : 0;
    size_t n = std::min<size_t>(left, static_cast<size_t>(bytes));
    if (n)
        std::memcpy(buffer, f->in->data() + f->pos, n);
    f->pos += n;
    return static_cast<int>(n);
}

int MemWrite(mspack_file* file, void* buffer, int bytes)
{
    MemFile* f = reinterpret_cast<MemFile*>(file);
    if (!f->out || bytes < 0)
        return -1;
    const unsigned char* p = static_cast<const unsigned char*>(buffer);
    f->out->insert(f->out->end(), p, p + bytes);
    return bytes;
}

int MemSeek(mspack_file* file, off_t offset, int mode)
{
    MemFile* f = reinterpret_cast<MemFile*>(file);
    if (!f->in)
        return -1;
    off_t base = mode == MSPACK_SYS_SEEK_START ? 0
               : mode == MSPACK_SYS_SEEK_CUR   ? static_cast<off_t>(f->pos)
                                               : static_cast<off_t>(f->in->size());
    off_t target = base + offset;
    if (target < 0 || target > static_cast<off_t>(f->in->size()))
        return -1;
    f->pos = static_cast<size_t>(target);
    return 0;
}

off_t MemTell(mspack_file* file) { return static_cast<off_t>(reinterpret_cast<MemFile*>(file)->pos); }

void MemMessage(mspack_file*, const char*, ...) {}
void* MemAlloc(mspack_system*, size_t bytes) { return std::malloc(bytes); }
void MemFree(void* p) { std::free(p); }
void MemCopy(void* src, void* dst, size_t bytes) { std::memmove(dst, src, bytes); }

const char* MspackErrorText(int code)
{
    switch (code) {
    case MSPACK_ERR_OPEN: return "cannot open";
    case MSPACK_ERR_READ: return "read error (cut short?)";
    case MSPACK_ERR_WRITE: return "write error";
    case MSPACK_ERR_SEEK: return "seek error (cut short?)";
    case MSPACK_ERR_NOMEMORY: return "out of memory";
    case MSPACK_ERR_SIGNATURE: return "not a cabinet (bad signature)";
    case MSPACK_ERR_DATAFORMAT: return "bad cabinet format";
    case MSPACK_ERR_CHECKSUM: return "data block checksum mismatch";
    case MSPACK_ERR_DECRUNCH: return "compressed data is damaged";
    default: return "error";
    }
}

} // namespace

const char* CompressionName(uint16_t compression)
{
    switch (compression & 0x0F) {
    case 0: return "stored";
    case 1: return "MSZIP";
    case 2: return "Quantum";
    case 3: return "LZX";
    default: return "unknown";
    }
}

CabInfo ReadCabinetDirectory(const std::vector<unsigned char>& b)
{
    Need(b, 36, "header");
    if (U32(b, 0) != 0x4643534D)
        throw ToolError("not a cabinet (no \"MSCF\" signature)");
    CabInfo info;
    info.size = U32(b, 8);
    uint32_t filesOffset = U32(b, 16);
    uint8_t minor = b[24], major = b[25];
    uint16_t folders = U16(b, 26);
    uint16_t files = U16(b, 28);
    info.flags = U16(b, 30);
    info.setId = U16(b, 32);
    info.setIndex = U16(b, 34);
    if (major != 1 || minor != 3)
        throw ToolError("cabinet has the unknown version " + std::to_string(major) + "." + std::to_string(minor));
    if (info.size != b.size())
        throw ToolError("cabinet says it is " + std::to_string(info.size) + " bytes but the file has " +
                        std::to_string(b.size()));
    if (folders == 0)
        throw ToolError("cabinet has no folder");

    size_t at = 36;
    size_t folderReserve = 0;
    if (info.flags & 4) {
        Need(b, at + 4, "header");
        size_t headerReserve = U16(b, at);
        folderReserve = b[at + 2];
        at += 4 + headerReserve;
    }
    if (info.flags & 1) {
        ReadName(b, at, "previous cabinet name");
        ReadName(b, at, "previous disk name");
    }
    if (info.flags & 2) {
        ReadName(b, at, "next cabinet name");
        ReadName(b, at, "next disk name");
    }
    for (unsigned i = 0; i < folders; ++i) {
        Need(b, at + 8 + folderReserve, "folder list");
        CabFolderInfo f;
        f.dataOffset = U32(b, at);
        f.blockCount = U16(b, at + 4);
        f.compression = U16(b, at + 6);
        if (f.dataOffset > b.size())
            throw ToolError("cabinet folder data lies past its end");
        info.folders.push_back(f);
        at += 8 + folderReserve;
    }
    at = filesOffset;
    for (unsigned i = 0; i < files; ++i) {
        Need(b, at + 16, "file list");
        CabFileInfo f;
        f.size = U32(b, at);
        f.folderOffset = U32(b, at + 4);
        f.folder = U16(b, at + 8);
        f.date = U16(b, at + 10);
        f.time = U16(b, at + 12);
        f.attribs = U16(b, at + 14);
        at += 16;
        f.name = ReadName(b, at, "file name");
        if (f.folder < 0xFFFD && f.folder >= folders)
            throw ToolError("cabinet entry \"" + f.name + "\" names a folder that does not exist");
        info.files.push_back(f);
    }
    return info;
}

std::vector<std::vector<unsigned char>> VerifyCabinet(const std::vector<unsigned char>& cab, bool keep)
{
    MemSystem ms{};
    ms.sys.open = MemOpen;
    ms.sys.close = MemClose;
    ms.sys.read = MemRead;
    ms.sys.write = MemWrite;
    ms.sys.seek = MemSeek;
    ms.sys.tell = MemTell;
    ms.sys.message = MemMessage;
    ms.sys.alloc = MemAlloc;
    ms.sys.free = MemFree;
    ms.sys.copy = MemCopy;
    ms.cab = &cab;

    int selfTest = 0;
    MSPACK_SYS_SELFTEST(selfTest);
    if (selfTest != MSPACK_ERR_OK)
        throw ToolError("libmspack does not match the headers it was built with");
    std::unique_ptr<mscab_decompressor, void (*)(mscab_decompressor*)> cabd(
        mspack_create_cab_decompressor(&ms.sys), mspack_destroy_cab_decompressor);
    if (!cabd)
        throw ToolError("libmspack cannot start");
    mscabd_cabinet* opened = cabd->open(cabd.get(), "cabinet");
    if (!opened)
        throw ToolError(std::string("libmspack cannot open the cabinet: ") + MspackErrorText(cabd->last_error(cabd.get())));
    struct Close {
        mscab_decompressor* d;
        mscabd_cabinet* c;
        ~Close() { d->close(d, c); }
    } close{cabd.get(), opened};

    std::vector<std::vector<unsigned char>> out;
    unsigned index = 0;
    for (mscabd_file* f = opened->files; f; f = f->next, ++index) {
        std::string key = "entry" + std::to_string(index);
        int err = cabd->extract(cabd.get(), f, key.c_str());
        std::vector<unsigned char>& data = ms.outputs[key];
        if (err != MSPACK_ERR_OK)
            throw ToolError("entry " + std::to_string(index + 1) + " (\"" + f->filename +
                            "\") does not decode: " + MspackErrorText(err));
        if (data.size() != f->length)
            throw ToolError("entry " + std::to_string(index + 1) + " decodes to the wrong size");
        out.push_back(keep ? std::move(data) : std::vector<unsigned char>());
        ms.outputs.erase(key);
    }
    return out;
}
