#include "tools/pack/pe/Branding.h"

#include <algorithm>
#include <set>

#include "package/LittleEndian.h"
#include "tools/pack/CodePage.h"
#include "tools/pack/pe/PeResources.h"
#include "tools/pack/ToolError.h"

namespace {

using Bytes = std::vector<unsigned char>;

constexpr uint16_t kUsEnglish = 0x0409, kUtf16CodePage = 1200;

void PadTo4(Bytes& b) { b.resize((b.size() + 3) / 4 * 4, 0); }

void AppendText(Bytes& b, const std::u16string& text)
{
    for (char16_t c : text)
        AppendU16(b, c);
    AppendU16(b, 0);
}

// One block of a version resource: its length, its value's length (in
// characters for a text), its kind (1: text), its key, its value and its
// children, each on a 4-byte boundary.
Bytes Block(const std::u16string& key, const Bytes& value, uint16_t valueLength, bool text,
            const std::vector<Bytes>& children = {})
{
    Bytes b(6, 0);
    AppendText(b, key);
    PadTo4(b);
    b.insert(b.end(), value.begin(), value.end());
    for (const Bytes& child : children) {
        PadTo4(b);
        b.insert(b.end(), child.begin(), child.end());
    }
    PutU16(&b[0], static_cast<uint16_t>(b.size()));
    PutU16(&b[2], valueLength);
    PutU16(&b[4], text ? 1 : 0);
    return b;
}

Bytes StringBlock(const std::u16string& key, const std::string& utf8)
{
    std::u16string value;
    if (!ToUtf16(utf8, value))
        throw ToolError("the version resource's " + std::string(key.begin(), key.end()) + " is not UTF-8 text");
    Bytes b;
    AppendText(b, value);
    return Block(key, b, static_cast<uint16_t>(value.size() + 1), true);
}

// The images of an .ico file: its directory's entries with the bytes they
// point at.
struct IconImage {
    Bytes entry; // width, height, colours, reserved, planes, bits, size: 12 bytes
    Bytes data;
};

std::vector<IconImage> ReadIco(const Bytes& ico, const std::string& path)
{
    const std::string what = "icon " + path + " is not an icon file (.ico): ";
    if (ico.size() < 6 || GetU16(&ico[0]) != 0 || GetU16(&ico[2]) != 1)
        throw ToolError(what + "it does not start as one");
    const uint16_t count = GetU16(&ico[4]);
    if (count == 0)
        throw ToolError(what + "it holds no image");
    if (6 + 16 * size_t(count) > ico.size())
        throw ToolError(what + "its directory passes the end of the file");
    std::vector<IconImage> images;
    for (uint16_t i = 0; i < count; ++i) {
        const unsigned char* e = &ico[6 + 16 * i];
        const uint32_t size = GetU32(e + 8), at = GetU32(e + 12);
        if (size == 0 || uint64_t(at) + size > ico.size())
            throw ToolError(what + "image " + std::to_string(i + 1) + " passes the end of the file");
        images.push_back({Bytes(e, e + 12), Bytes(ico.begin() + at, ico.begin() + at + size)});
    }
    return images;
}

// The ids of the images a group names.
std::vector<uint16_t> GroupImageIds(const Bytes& group)
{
    std::vector<uint16_t> ids;
    const size_t count = group.size() >= 6 ? GetU16(&group[4]) : 0;
    for (size_t i = 0; i < count && 6 + 14 * (i + 1) <= group.size(); ++i)
        ids.push_back(GetU16(&group[6 + 14 * i + 12]));
    return ids;
}

void ReplaceMainIcon(ResourceTree& tree, const std::vector<IconImage>& images, uint32_t language)
{
    ResourceNames& groups = tree[kRtGroupIcon];
    ResourceNames& icons = tree[kRtIcon];
    const ResourceKey main(u"MAINICON");
    // The old group's images go, unless another group shows them too.
    std::set<uint16_t> elsewhere;
    for (const auto& [name, languages] : groups)
        if (!(name == main))
            for (const auto& [lang, group] : languages)
                for (uint16_t id : GroupImageIds(group))
                    elsewhere.insert(id);
    for (const auto& [lang, group] : groups[main])
        for (uint16_t id : GroupImageIds(group))
            if (!elsewhere.count(id))
                icons.erase(ResourceKey(id));
    uint32_t next = 1;
    for (const auto& [id, languages] : icons)
        next = std::max(next, id.id + 1);
    if (next + images.size() > 0xFFFF)
        throw ToolError("the stub's icons leave no room for the product's");

    Bytes group;
    AppendU16(group, 0);
    AppendU16(group, 1);
    AppendU16(group, static_cast<uint16_t>(images.size()));
    for (const IconImage& image : images) {
        group.insert(group.end(), image.entry.begin(), image.entry.end());
        AppendU16(group, static_cast<uint16_t>(next));
        icons[ResourceKey(next++)][language] = image.data;
    }
    groups[main] = {{language, group}};
}

} // namespace

bool ParseProductVersion(const std::string& text, std::array<uint16_t, 4>& parts)
{
    parts = {0, 0, 0, 0};
    size_t count = 0, at = 0;
    while (count < 4) {
        size_t end = text.find('.', at);
        if (end == std::string::npos)
            end = text.size();
        const std::string part = text.substr(at, end - at);
        if (part.empty() || part.size() > 5 || part.find_first_not_of("0123456789") != std::string::npos ||
            std::stoul(part) > 0xFFFF)
            return false;
        parts[count++] = static_cast<uint16_t>(std::stoul(part));
        if (end == text.size())
            return count >= 3;
        at = end + 1;
    }
    return false;
}

Bytes VersionResource(const Branding& brand)
{
    std::array<uint16_t, 4> v;
    if (!ParseProductVersion(brand.productVersion, v))
        throw ToolError("product version \"" + brand.productVersion + "\" is not X.Y.Z or X.Y.Z.W");
    // VS_FIXEDFILEINFO: file and product version alike, an application for
    // 32-bit Windows.
    Bytes fixed;
    AppendU32(fixed, 0xFEEF04BD);
    AppendU32(fixed, 0x00010000);
    for (int twice = 0; twice < 2; ++twice) {
        AppendU32(fixed, uint32_t(v[0]) << 16 | v[1]);
        AppendU32(fixed, uint32_t(v[2]) << 16 | v[3]);
    }
    AppendU32(fixed, 0x3F); // every flag is meaningful, none is set
    AppendU32(fixed, 0);
    AppendU32(fixed, 0x00040004); // VOS_NT_WINDOWS32
    AppendU32(fixed, 1);          // VFT_APP
    AppendU32(fixed, 0);
    AppendU32(fixed, 0);
    AppendU32(fixed, 0);

    std::vector<Bytes> strings;
    if (!brand.publisher.empty())
        strings.push_back(StringBlock(u"CompanyName", brand.publisher));
    strings.push_back(StringBlock(u"FileDescription", brand.productName + " Setup"));
    strings.push_back(StringBlock(u"FileVersion", brand.productVersion));
    if (!brand.copyright.empty())
        strings.push_back(StringBlock(u"LegalCopyright", brand.copyright));
    strings.push_back(StringBlock(u"ProductName", brand.productName));
    strings.push_back(StringBlock(u"ProductVersion", brand.productVersion));

    Bytes translation;
    AppendU16(translation, kUsEnglish);
    AppendU16(translation, kUtf16CodePage);
    return Block(u"VS_VERSION_INFO", fixed, static_cast<uint16_t>(fixed.size()), false,
                 {Block(u"StringFileInfo", {}, 0, true, {Block(u"040904B0", {}, 0, true, strings)}),
                  Block(u"VarFileInfo", {}, 0, true, {Block(u"Translation", translation, 4, false)})});
}

Bytes BrandStub(const Bytes& stub, const Branding& brand)
{
    const std::vector<IconImage> images = brand.icon.empty() ? std::vector<IconImage>() : ReadIco(brand.icon, brand.iconPath);
    ResourceTree tree;
    try {
        tree = ReadResources(stub);
    } catch (const ToolError& e) {
        throw ToolError(std::string("cannot brand the stub: ") + e.what());
    }
    // The product's resources take the language of the stub's main icon.
    const auto main = tree[kRtGroupIcon].find(ResourceKey(u"MAINICON"));
    if (main == tree[kRtGroupIcon].end() || main->second.empty())
        throw ToolError("cannot brand the stub: it has no MAINICON icon group");
    const uint32_t language = main->second.begin()->first;
    if (!images.empty())
        ReplaceMainIcon(tree, images, language);
    if (!brand.productVersion.empty())
        tree[kRtVersion] = {{ResourceKey(1), {{language, VersionResource(brand)}}}};
    try {
        return ReplaceResources(stub, tree);
    } catch (const ToolError& e) {
        throw ToolError(std::string("cannot brand the stub: ") + e.what());
    }
}
