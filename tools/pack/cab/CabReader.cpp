#include "tools/pack/cab/CabReader.h"

#include <mspack.h>
#include <zlib.h>

#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "package/LittleEndian.h"
#include "tools/pack/ToolError.h"

namespace {

// Reads the directory front to back through a buffer, so a cabinet of any
// size costs a few small reads.
class Cursor {
public:
    explicit Cursor(ByteSource src) : src_(src) {}
    uint64_t Position() const { return at_; }
    void Seek(uint64_t at) { at_ = at; }
    // count bytes at the position, valid until the next call.
    const unsigned char* Take(size_t count, const char* what)
    {
        if (at_ > src_.Size() || count > src_.Size() - at_)
            throw ToolError(std::string("cabinet is cut short in its ") + what);
        if (at_ < bufAt_ || at_ + count > bufAt_ + buf_.size()) {
            bufAt_ = at_;
            buf_.resize(static_cast<size_t>(std::min<uint64_t>(std::max<size_t>(count, kChunk), src_.Size() - at_)));
            ReadExactly(src_, bufAt_, buf_.data(), buf_.size());
        }
        const unsigned char* p = buf_.data() + (at_ - bufAt_);
        at_ += count;
        return p;
    }
    std::string Name(const char* what)
    {
        std::string s;
        for (;;) {
            if (at_ >= src_.Size() || s.size() > 255)
                throw ToolError(std::string("cabinet has an unterminated ") + what);
            char c = static_cast<char>(*Take(1, what));
            if (c == '\0')
                return s;
            s += c;
        }
    }

private:
    static constexpr size_t kChunk = 1 << 16;
    ByteSource src_;
    uint64_t at_ = 0, bufAt_ = 0;
    std::vector<unsigned char> buf_;
};

// libmspack reads and writes through these: the cabinet comes from a
// ByteSource and each extracted entry is counted, and kept only on request.
// No exception may cross libmspack: a failed read reports -1.
struct Output {
    std::vector<unsigned char> data;
    uint64_t count = 0;
    uint32_t crc = 0; // of the bytes written
};

struct MemFile {
    const ByteSource* in = nullptr;
    Output* out = nullptr;
    bool keep = false;
    uint64_t pos = 0;
};

struct MemSystem {
    mspack_system sys;   // first member: libmspack hands this pointer back
    const ByteSource* cab = nullptr;
    bool keep = false;
    std::map<std::string, Output> outputs;
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
        *f->out = Output();
        f->keep = ms->keep;
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
    uint64_t left = f->pos < f->in->Size() ? f->in->Size() - f->pos : 0;
    size_t n = static_cast<size_t>(std::min<uint64_t>(left, static_cast<uint64_t>(bytes)));
    try {
        if (n)
            ReadExactly(*f->in, f->pos, buffer, n);
    } catch (...) {
        return -1;
    }
    f->pos += n;
    return static_cast<int>(n);
}

int MemWrite(mspack_file* file, void* buffer, int bytes)
{
    MemFile* f = reinterpret_cast<MemFile*>(file);
    if (!f->out || bytes < 0)
        return -1;
    f->out->count += static_cast<uint64_t>(bytes);
    f->out->crc = static_cast<uint32_t>(crc32(f->out->crc, static_cast<const Bytef*>(buffer), static_cast<uInt>(bytes)));
    if (f->keep) {
        const unsigned char* p = static_cast<const unsigned char*>(buffer);
        f->out->data.insert(f->out->data.end(), p, p + bytes);
    }
    return bytes;
}

int MemSeek(mspack_file* file, off_t offset, int mode)
{
    MemFile* f = reinterpret_cast<MemFile*>(file);
    if (!f->in)
        return -1;
    const int64_t size = static_cast<int64_t>(f->in->Size());
    int64_t base = mode == MSPACK_SYS_SEEK_START ? 0 : mode == MSPACK_SYS_SEEK_CUR ? static_cast<int64_t>(f->pos) : size;
    int64_t target = base + offset;
    if (target < 0 || target > size)
        return -1;
    f->pos = static_cast<uint64_t>(target);
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

namespace {

void ReadFileRecords(Cursor& c, unsigned count, CabInfo& info)
{
    for (unsigned i = 0; i < count; ++i) {
        const unsigned char* p = c.Take(16, "file list");
        CabFileInfo f;
        f.size = GetU32(p);
        f.folderOffset = GetU32(p + 4);
        f.folder = GetU16(p + 8);
        f.date = GetU16(p + 10);
        f.time = GetU16(p + 12);
        f.attribs = GetU16(p + 14);
        f.name = c.Name("file name");
        if (f.folder < 0xFFFD && f.folder >= info.folders.size())
            throw ToolError("cabinet entry \"" + f.name + "\" names a folder that does not exist");
        info.files.push_back(f);
    }
}

} // namespace

bool CabInfo::PartOfSet() const
{
    if (flags & 3)
        return true;
    for (const CabFileInfo& f : files)
        if (f.folder >= 0xFFFD)
            return true;
    return false;
}

CabInfo ReadCabinetDirectory(const ByteSource& src)
{
    Cursor c(src);
    const unsigned char* h = c.Take(36, "header");
    if (GetU32(h) != 0x4643534D)
        throw ToolError("not a cabinet (no \"MSCF\" signature)");
    CabInfo info;
    info.size = GetU32(h + 8);
    uint32_t filesOffset = GetU32(h + 16);
    uint8_t minor = h[24], major = h[25];
    uint16_t folders = GetU16(h + 26);
    uint16_t files = GetU16(h + 28);
    info.flags = GetU16(h + 30);
    info.setId = GetU16(h + 32);
    info.setIndex = GetU16(h + 34);
    if (major != 1 || minor != 3)
        throw ToolError("cabinet has the unknown version " + std::to_string(major) + "." + std::to_string(minor));
    if (info.size != src.Size())
        throw ToolError("cabinet says it is " + std::to_string(info.size) + " bytes but the file has " +
                        std::to_string(src.Size()));
    if (folders == 0)
        throw ToolError("cabinet has no folder");

    size_t folderReserve = 0;
    if (info.flags & 4) {
        const unsigned char* r = c.Take(4, "header");
        size_t headerReserve = GetU16(r);
        folderReserve = r[2];
        c.Seek(c.Position() + headerReserve);
    }
    if (info.flags & 1) {
        c.Name("previous cabinet name");
        c.Name("previous disk name");
    }
    if (info.flags & 2) {
        c.Name("next cabinet name");
        c.Name("next disk name");
    }
    for (unsigned i = 0; i < folders; ++i) {
        const unsigned char* p = c.Take(8 + folderReserve, "folder list");
        CabFolderInfo f;
        f.dataOffset = GetU32(p);
        f.blockCount = GetU16(p + 4);
        f.compression = GetU16(p + 6);
        if (f.dataOffset > src.Size())
            throw ToolError("cabinet folder data lies past its end");
        info.folders.push_back(f);
    }
    if (filesOffset != c.Position())
        throw ToolError("cabinet's entry list is ambiguous: the header puts it at byte " + std::to_string(filesOffset) +
                        ", but it would follow the folder records at byte " + std::to_string(c.Position()) +
                        " (readers would see different entries)");
    ReadFileRecords(c, files, info);
    return info;
}

CabInfo ReadCabinetDirectory(const std::vector<unsigned char>& cab) { return ReadCabinetDirectory(BufferSource(cab)); }

namespace {

std::vector<std::vector<unsigned char>> Verify(const ByteSource& cab, bool keep, const std::vector<uint32_t>* crcs)
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
    ms.keep = keep;

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
        int err = cabd->extract(cabd.get(), f, "entry");
        Output& data = ms.outputs["entry"];
        if (err != MSPACK_ERR_OK)
            throw ToolError("entry " + std::to_string(index + 1) + " (\"" + f->filename +
                            "\") does not decode: " + MspackErrorText(err));
        if (data.count != f->length)
            throw ToolError("entry " + std::to_string(index + 1) + " decodes to the wrong size");
        if (crcs && (index >= crcs->size() || data.crc != (*crcs)[index]))
            throw ToolError("entry " + std::to_string(index + 1) + " (\"" + f->filename +
                            "\") decodes to other bytes than went in");
        if (keep)
            out.push_back(std::move(data.data));
    }
    return out;
}

} // namespace

void VerifyCabinet(const ByteSource& cab, const std::vector<uint32_t>* crcs) { Verify(cab, false, crcs); }

std::vector<std::vector<unsigned char>> VerifyCabinet(const std::vector<unsigned char>& cab, bool keep)
{
    return Verify(BufferSource(cab), keep, nullptr);
}
