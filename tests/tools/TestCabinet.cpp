#include "TestCabinet.h"

#include "package/LittleEndian.h"

namespace {

const uint16_t FlagPrev = 0x0001, FlagNext = 0x0002;
const uint16_t ContinuedFromPrev = 0xFFFD, ContinuedToNext = 0xFFFE;
const uint16_t CompressNone = 0, CompressMszip = 1;
const size_t BlockSize = 32768;

void Put16(std::string& out, uint16_t v)
{
    unsigned char bytes[2];
    PutU16(bytes, v);
    out.append(reinterpret_cast<const char*>(bytes), 2);
}

void Put32(std::string& out, uint32_t v)
{
    unsigned char bytes[4];
    PutU32(bytes, v);
    out.append(reinterpret_cast<const char*>(bytes), 4);
}

void Set32(std::string& out, size_t at, uint32_t v) { PutU32(reinterpret_cast<unsigned char*>(&out[at]), v); }

struct FileRecord {
    const TestEntry* entry;
    uint32_t offset; // in the folder's uncompressed data
    uint16_t folder;
};

struct Block {
    std::string data;
    uint16_t uncompressed; // 0: the block goes on in the next cabinet
};

struct FolderRecord {
    std::string data; // stored blocks are cut from this unless blocks is set
    std::vector<Block> blocks;
    uint16_t compression = CompressNone;
};

std::vector<Block> StoredBlocks(const std::string& data)
{
    std::vector<Block> blocks;
    for (size_t at = 0; at < data.size(); at += BlockSize) {
        std::string part = data.substr(at, BlockSize);
        blocks.push_back({part, static_cast<uint16_t>(part.size())});
    }
    return blocks;
}

struct Link {
    std::string cabinet, disk;
};

std::string Assemble(const std::vector<FolderRecord>& folders, const std::vector<FileRecord>& files, uint16_t iCabinet,
                     const Link* prev, const Link* next)
{
    std::string cab = "MSCF";
    Put32(cab, 0);
    size_t sizeAt = cab.size();
    Put32(cab, 0); // cbCabinet
    Put32(cab, 0);
    size_t filesAt = cab.size();
    Put32(cab, 0); // coffFiles
    Put32(cab, 0);
    cab += '\x03';
    cab += '\x01';
    Put16(cab, static_cast<uint16_t>(folders.size()));
    Put16(cab, static_cast<uint16_t>(files.size()));
    Put16(cab, static_cast<uint16_t>((prev ? FlagPrev : 0) | (next ? FlagNext : 0)));
    Put16(cab, 0x1234);
    Put16(cab, iCabinet);
    for (const Link* link : {prev, next}) {
        if (!link)
            continue;
        cab += link->cabinet;
        cab += '\0';
        cab += link->disk;
        cab += '\0';
    }
    std::vector<size_t> folderAt;
    std::vector<std::vector<Block>> blocks;
    for (const FolderRecord& f : folders) {
        blocks.push_back(f.blocks.empty() ? StoredBlocks(f.data) : f.blocks);
        folderAt.push_back(cab.size());
        Put32(cab, 0); // coffCabStart
        Put16(cab, static_cast<uint16_t>(blocks.back().size()));
        Put16(cab, f.compression);
    }
    Set32(cab, filesAt, static_cast<uint32_t>(cab.size()));
    for (const FileRecord& r : files) {
        Put32(cab, static_cast<uint32_t>(r.entry->data.size()));
        Put32(cab, r.offset);
        Put16(cab, r.folder);
        Put16(cab, r.entry->date);
        Put16(cab, r.entry->time);
        Put16(cab, r.entry->attribs);
        cab += r.entry->name;
        cab += '\0';
    }
    for (size_t i = 0; i < folders.size(); ++i) {
        Set32(cab, folderAt[i], static_cast<uint32_t>(cab.size()));
        for (const Block& block : blocks[i]) {
            Put32(cab, 0); // no checksum
            Put16(cab, static_cast<uint16_t>(block.data.size()));
            Put16(cab, block.uncompressed);
            cab += block.data;
        }
    }
    Set32(cab, sizeAt, static_cast<uint32_t>(cab.size()));
    return cab;
}

void AddAll(const std::vector<TestEntry>& entries, uint16_t folder, FolderRecord& data, std::vector<FileRecord>& files)
{
    for (const TestEntry& e : entries) {
        files.push_back({&e, static_cast<uint32_t>(data.data.size()), folder});
        data.data += e.data;
    }
}

} // namespace

std::string MakeCabinet(const std::vector<TestEntry>& entries)
{
    std::vector<FolderRecord> folders(1);
    std::vector<FileRecord> files;
    AddAll(entries, 0, folders[0], files);
    return Assemble(folders, files, 0, nullptr, nullptr);
}

TestCabinetSet MakeCabinetSet(const std::vector<TestEntry>& firstOnly, const TestEntry& spanning,
                              const std::vector<TestEntry>& secondOnly, const std::string& firstName,
                              const std::string& secondName)
{
    // The folder is cut in the middle of the spanning entry: the block there
    // is split, its first part (uncompressed size 0) ending the first
    // cabinet, the rest (with the whole block's size) opening the second.
    FolderRecord whole;
    std::vector<FileRecord> firstFiles;
    AddAll(firstOnly, 0, whole, firstFiles);
    uint32_t spanningAt = static_cast<uint32_t>(whole.data.size());
    whole.data += spanning.data;
    size_t cut = spanningAt + (spanning.data.size() + 1) / 2;
    if (cut % BlockSize == 0)
        ++cut;

    std::vector<FolderRecord> firstFolders(1), secondFolders(2);
    std::vector<Block> blocks = StoredBlocks(whole.data);
    size_t split = cut / BlockSize, inside = cut % BlockSize;
    for (size_t b = 0; b < blocks.size(); ++b) {
        if (b < split) {
            firstFolders[0].blocks.push_back(blocks[b]);
        } else if (b > split) {
            secondFolders[0].blocks.push_back(blocks[b]);
        } else {
            firstFolders[0].blocks.push_back({blocks[b].data.substr(0, inside), 0});
            secondFolders[0].blocks.push_back({blocks[b].data.substr(inside), blocks[b].uncompressed});
        }
    }
    firstFiles.push_back({&spanning, spanningAt, ContinuedToNext});
    std::vector<FileRecord> secondFiles;
    secondFiles.push_back({&spanning, spanningAt, ContinuedFromPrev});
    AddAll(secondOnly, 1, secondFolders[1], secondFiles);

    Link prev{firstName, "Disk 1"}, next{secondName, "Disk 2"};
    TestCabinetSet set;
    set.first = Assemble(firstFolders, firstFiles, 0, nullptr, &next);
    set.second = Assemble(secondFolders, secondFiles, 1, &prev, nullptr);
    return set;
}

std::string MakeDamagedCabinet(const std::vector<TestEntry>& entries)
{
    std::vector<FolderRecord> folders(1);
    std::vector<FileRecord> files;
    AddAll(entries, 0, folders[0], files);
    folders[0].compression = CompressMszip;
    // "CK" starts every MSZIP block; what follows is no deflate stream.
    for (size_t i = 0; i < folders[0].data.size(); ++i)
        folders[0].data[i] = static_cast<char>(i == 0 ? 'C' : i == 1 ? 'K' : 0xFF);
    return Assemble(folders, files, 0, nullptr, nullptr);
}
