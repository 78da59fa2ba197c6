#include "tools/pack/pe/PeResources.h"

#include "package/LittleEndian.h"
#include "package/PeImage.h"
#include "tools/pack/ToolError.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr uint32_t kSubdirectory = 0x80000000u;
constexpr uint32_t kDirectoryEntries = 16; // data directories a PE32(+) optional header holds
constexpr unsigned kResourceDirectory = 2, kSecurityDirectory = 4, kRelocDirectory = 5;

uint32_t AlignUp(uint32_t value, uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// Where the fields this unit reads and changes sit in an image's headers.
struct Headers {
    size_t sectionTable = 0;
    uint16_t sectionCount = 0;
    size_t optional = 0;
    size_t directories = 0;
    uint32_t directoryCount = 0;

    explicit Headers(const Bytes& image)
    {
        PeImage pe;
        if (ReadPeImage(image.data(), image.size(), pe) != PeStatus::Ok)
            throw ToolError("not a Windows program");
        const unsigned char* file = image.data() + pe.signatureOffset + 4;
        sectionCount = pe.sectionCount;
        optional = pe.signatureOffset + 24;
        sectionTable = optional + GetU16(file + 16);
        const bool wide = pe.magic == kPe32PlusMagic;
        directories = optional + (wide ? 112 : 96);
        if (directories > image.size())
            throw ToolError("its headers are cut short");
        directoryCount = GetU32(image.data() + directories - 4);
        if (directoryCount > kDirectoryEntries || directories + 8 * directoryCount > sectionTable ||
            directoryCount <= kRelocDirectory)
            throw ToolError("its data directories are not those of a program");
    }
    size_t Section(unsigned i) const { return sectionTable + 40 * i; }
    size_t Directory(unsigned i) const { return directories + 8 * i; }
};

// Section fields, at their offsets in a section header.
constexpr size_t kVirtualSize = 8, kVirtualAddress = 12, kRawSize = 16, kRawPointer = 20;

class Reader {
public:
    Reader(const Bytes& image, const Headers& h) : image_(image), h_(h)
    {
        const uint32_t rva = GetU32(&image[h.Directory(kResourceDirectory)]);
        size_ = GetU32(&image[h.Directory(kResourceDirectory) + 4]);
        if (!rva || !size_)
            throw ToolError("it has no resources");
        base_ = FileOffset(rva, size_);
    }

    ResourceTree Tree()
    {
        ResourceTree tree;
        for (auto& [type, types] : Entries(0, true))
            for (auto& [name, names] : Entries(types, true))
                for (auto& [language, leaf] : Entries(names, false))
                    tree[type][name][language.id] = Leaf(leaf);
        return tree;
    }

private:
    // The file offset of `size` bytes at rva, all inside one section's data.
    size_t FileOffset(uint32_t rva, uint32_t size) const
    {
        for (unsigned i = 0; i < h_.sectionCount; ++i) {
            const unsigned char* s = &image_[h_.Section(i)];
            const uint32_t va = GetU32(s + kVirtualAddress), raw = GetU32(s + kRawSize);
            if (rva >= va && uint64_t(rva) + size <= uint64_t(va) + raw &&
                uint64_t(GetU32(s + kRawPointer)) + raw <= image_.size())
                return GetU32(s + kRawPointer) + (rva - va);
        }
        throw ToolError("its resources leave their section");
    }
    const unsigned char* At(uint32_t offset, uint32_t count) const
    {
        if (uint64_t(offset) + count > size_)
            throw ToolError("its resources leave their section");
        return &image_[base_ + offset];
    }

    // A directory's entries: each one's key and what it points to, a
    // directory (subdirectories wanted) or a data entry.
    std::vector<std::pair<ResourceKey, uint32_t>> Entries(uint32_t offset, bool subdirectories)
    {
        // Each level must point deeper: a loop in the tree ends here.
        if (offset >= size_ || ++tables_ > size_ / 16)
            throw ToolError("its resource directory is malformed");
        const unsigned char* table = At(offset, 16);
        const uint32_t count = uint32_t(GetU16(table + 12)) + GetU16(table + 14);
        const unsigned char* entry = At(offset + 16, 8 * count);
        std::vector<std::pair<ResourceKey, uint32_t>> out;
        for (uint32_t i = 0; i < count; ++i, entry += 8) {
            const uint32_t name = GetU32(entry), target = GetU32(entry + 4);
            if (bool(target & kSubdirectory) != subdirectories)
                throw ToolError("its resource directory is malformed");
            ResourceKey key(name);
            if (name & kSubdirectory) {
                const uint32_t at = name & ~kSubdirectory;
                const uint16_t length = GetU16(At(at, 2));
                const unsigned char* text = At(at + 2, 2u * length);
                key = ResourceKey(std::u16string());
                for (uint16_t k = 0; k < length; ++k)
                    key.name += static_cast<char16_t>(GetU16(text + 2 * k));
            }
            out.emplace_back(key, target & ~kSubdirectory);
        }
        return out;
    }

    Bytes Leaf(uint32_t offset) const
    {
        const unsigned char* entry = At(offset, 16);
        const uint32_t size = GetU32(entry + 4);
        const size_t at = FileOffset(GetU32(entry), size);
        return Bytes(image_.begin() + at, image_.begin() + at + size);
    }

    const Bytes& image_;
    const Headers& h_;
    size_t base_ = 0;
    uint32_t size_ = 0;
    uint32_t tables_ = 0;
};

// The section's bytes for a tree placed at rva: the directory tables level
// by level, then the data entries, the names, and the data.
Bytes WriteTree(const ResourceTree& tree, uint32_t rva)
{
    // Each table's entries: a key and the index of a table or, in a
    // language table, of a leaf.
    struct Table {
        std::vector<std::pair<ResourceKey, size_t>> entries;
        bool leaves = false;
        size_t at = 0;
    };
    std::vector<Table> tables(1 + tree.size());
    std::vector<const Bytes*> leaves;
    size_t typeTable = 1;
    for (const auto& [type, names] : tree) {
        tables[0].entries.emplace_back(type, typeTable);
        for (const auto& [name, languages] : names) {
            tables[typeTable].entries.emplace_back(name, tables.size());
            Table languageTable;
            languageTable.leaves = true;
            for (const auto& [language, data] : languages) {
                languageTable.entries.emplace_back(language, leaves.size());
                leaves.push_back(&data);
            }
            tables.push_back(languageTable);
        }
        ++typeTable;
    }

    size_t end = 0;
    for (Table& t : tables) {
        t.at = end;
        end += 16 + 8 * t.entries.size();
    }
    const size_t entriesAt = end;
    end += 16 * leaves.size();
    std::map<std::u16string, size_t> names;
    for (const Table& t : tables)
        for (const auto& entry : t.entries)
            if (!entry.first.name.empty() && !names.count(entry.first.name)) {
                names[entry.first.name] = end;
                end += 2 + 2 * entry.first.name.size();
            }
    std::vector<size_t> dataAt;
    for (const Bytes* data : leaves) {
        end = (end + 7) / 8 * 8;
        dataAt.push_back(end);
        end += data->size();
    }
    if (end > 0x7FFFFFFF)
        throw ToolError("the resources would be too large");

    Bytes out(end, 0);
    for (const Table& t : tables) {
        unsigned char* p = &out[t.at];
        uint16_t named = 0;
        for (const auto& entry : t.entries)
            named += !entry.first.name.empty();
        PutU16(p + 12, named);
        PutU16(p + 14, static_cast<uint16_t>(t.entries.size() - named));
        for (const auto& [key, index] : t.entries) {
            p += 8;
            PutU32(p + 8, key.name.empty() ? key.id : static_cast<uint32_t>(names[key.name]) | kSubdirectory);
            PutU32(p + 12, t.leaves ? static_cast<uint32_t>(entriesAt + 16 * index)
                                    : static_cast<uint32_t>(tables[index].at) | kSubdirectory);
        }
    }
    for (size_t i = 0; i < leaves.size(); ++i) {
        PutU32(&out[entriesAt + 16 * i], static_cast<uint32_t>(rva + dataAt[i]));
        PutU32(&out[entriesAt + 16 * i + 4], static_cast<uint32_t>(leaves[i]->size()));
        std::copy(leaves[i]->begin(), leaves[i]->end(), out.begin() + static_cast<long>(dataAt[i]));
    }
    for (const auto& [name, at] : names) {
        PutU16(&out[at], static_cast<uint16_t>(name.size()));
        for (size_t k = 0; k < name.size(); ++k)
            PutU16(&out[at + 2 + 2 * k], name[k]);
    }
    return out;
}

} // namespace

bool ResourceKey::operator<(const ResourceKey& other) const
{
    if (name.empty() != other.name.empty())
        return !name.empty();
    return name.empty() ? id < other.id : name < other.name;
}

ResourceTree ReadResources(const Bytes& image)
{
    Headers h(image);
    return Reader(image, h).Tree();
}

Bytes ReplaceResources(const Bytes& image, const ResourceTree& tree)
{
    const Headers h(image);
    const uint32_t sectionAlignment = GetU32(&image[h.optional + 32]);
    const uint32_t fileAlignment = GetU32(&image[h.optional + 36]);
    if (!sectionAlignment || !fileAlignment)
        throw ToolError("its section alignment is zero");
    if (GetU32(&image[h.Directory(kSecurityDirectory)]) || GetU32(&image[h.Directory(kSecurityDirectory) + 4]))
        throw ToolError("it is signed; give the unsigned stub");
    const uint32_t rsrcVa = GetU32(&image[h.Directory(kResourceDirectory)]);
    const uint32_t relocVa = GetU32(&image[h.Directory(kRelocDirectory)]);
    unsigned rsrc = h.sectionCount;
    for (unsigned i = 0; i < h.sectionCount; ++i)
        if (GetU32(&image[h.Section(i) + kVirtualAddress]) == rsrcVa)
            rsrc = i;
    // The resources end the image, or only the relocations follow them.
    const unsigned last = h.sectionCount - 1;
    const bool relocFollows = rsrc + 1 == last && relocVa == GetU32(&image[h.Section(last) + kVirtualAddress]);
    if (rsrcVa == 0 || rsrc > last || (rsrc != last && !relocFollows))
        throw ToolError("its resources are not its last section but for the relocations");
    // No other directory may point into what moves.
    for (unsigned d = 0; d < h.directoryCount; ++d)
        if (d != kResourceDirectory && d != kRelocDirectory && GetU32(&image[h.Directory(d)]) >= rsrcVa)
            throw ToolError("a data directory points behind its resources");
    const size_t rsrcRaw = GetU32(&image[h.Section(rsrc) + kRawPointer]);
    const size_t fileEnd = GetU32(&image[h.Section(last) + kRawPointer]) + size_t(GetU32(&image[h.Section(last) + kRawSize]));
    if (fileEnd != image.size() || rsrcRaw > fileEnd)
        throw ToolError("its sections do not end the file");
    const Bytes reloc = relocFollows ? Bytes(image.begin() + static_cast<long>(GetU32(&image[h.Section(last) + kRawPointer])),
                                             image.end())
                                     : Bytes();

    const Bytes section = WriteTree(tree, rsrcVa);
    Bytes out(image.begin(), image.begin() + static_cast<long>(rsrcRaw));
    const uint32_t oldRaw = GetU32(&image[h.Section(rsrc) + kRawSize]);
    const uint32_t newRaw = AlignUp(static_cast<uint32_t>(section.size()), fileAlignment);
    out.insert(out.end(), section.begin(), section.end());
    out.resize(rsrcRaw + newRaw, 0);
    PutU32(&out[h.Section(rsrc) + kVirtualSize], static_cast<uint32_t>(section.size()));
    PutU32(&out[h.Section(rsrc) + kRawSize], newRaw);
    PutU32(&out[h.Directory(kResourceDirectory) + 4], static_cast<uint32_t>(section.size()));
    uint32_t imageEnd = rsrcVa + static_cast<uint32_t>(section.size());
    if (relocFollows) {
        const uint32_t va = AlignUp(imageEnd, sectionAlignment);
        PutU32(&out[h.Section(last) + kVirtualAddress], va);
        PutU32(&out[h.Section(last) + kRawPointer], static_cast<uint32_t>(out.size()));
        PutU32(&out[h.Directory(kRelocDirectory)], va);
        out.insert(out.end(), reloc.begin(), reloc.end());
        imageEnd = va + GetU32(&out[h.Section(last) + kVirtualSize]);
    }
    PutU32(&out[h.optional + 56], AlignUp(imageEnd, sectionAlignment)); // SizeOfImage
    PutU32(&out[h.optional + 8], GetU32(&out[h.optional + 8]) - oldRaw + newRaw); // SizeOfInitializedData
    const size_t checksumAt = h.optional + 64;
    if (GetU32(&out[checksumAt])) {
        PeChecksum sum;
        PutU32(&out[checksumAt], 0);
        sum.Add(out.data(), out.size());
        PutU32(&out[checksumAt], sum.Final());
    }
    return out;
}
