// The product's own face on its installer: its icon in place of the stub's
// main one, and a version resource naming the product, its version, its
// publisher and its copyright, as Explorer's Properties show them.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

struct Branding {
    std::vector<unsigned char> icon; // an .ico file's bytes; empty: the stub's icon stays
    std::string iconPath;            // where they came from, for messages
    std::string productVersion;      // "X.Y.Z[.W]"; empty: no version resource
    std::string productName;         // UTF-8, as the header has it
    std::string publisher;           // CompanyName; empty: none
    std::string copyright;           // LegalCopyright; empty: none

    bool Wanted() const { return !icon.empty() || !productVersion.empty(); }
};

// "X.Y.Z" or "X.Y.Z.W", each a number up to 65535; false when not so.
bool ParseProductVersion(const std::string& text, std::array<uint16_t, 4>& parts);

// The VS_VERSIONINFO block of the product (US English, UTF-16).
std::vector<unsigned char> VersionResource(const Branding& brand);

// The stub with the product's icon as its MAINICON group (every image of
// the .ico) and its version resource. The UNINSTALL group stays second, so
// the uninstaller's shortcut keeps it. ToolError on an .ico that is no icon
// or a stub whose resources cannot be rewritten.
std::vector<unsigned char> BrandStub(const std::vector<unsigned char>& stub, const Branding& brand);
