// The resources of a Windows program as a tree (type, name, language ->
// bytes), read from its resource section and written back in its place.
// The stub keeps its resources as its last section but for the relocations,
// so a section of another size moves the relocations alone, whose bytes do
// not depend on where they are.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// A directory entry's name: a number, or a text (named entries sort first).
struct ResourceKey {
    uint32_t id = 0;
    std::u16string name; // a named entry when not empty

    ResourceKey(uint32_t number = 0) : id(number) {}
    ResourceKey(std::u16string text) : name(std::move(text)) {}
    bool operator<(const ResourceKey& other) const;
    bool operator==(const ResourceKey& other) const { return id == other.id && name == other.name; }
};

using ResourceLanguages = std::map<uint32_t, std::vector<unsigned char>>;
using ResourceNames = std::map<ResourceKey, ResourceLanguages>;
using ResourceTree = std::map<ResourceKey, ResourceNames>;

constexpr uint32_t kRtIcon = 3, kRtGroupIcon = 14, kRtVersion = 16;

// The resources of a whole PE image; ToolError when it has none or they
// leave their section.
ResourceTree ReadResources(const std::vector<unsigned char>& image);

// The image with its resource section made anew from tree: the section
// table, the resource and relocation directories, SizeOfImage,
// SizeOfInitializedData and (where the linker set one) the checksum follow.
// ToolError when the resources are not the last section but for the
// relocations, or the image carries a certificate table.
std::vector<unsigned char> ReplaceResources(const std::vector<unsigned char>& image, const ResourceTree& tree);
