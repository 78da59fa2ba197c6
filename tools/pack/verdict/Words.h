// What inspect's reading of a file and its rendering as text or JSON
// both use.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "package/String.h"
#include "tools/pack/verdict/Verdict.h"

// A text of the package code as the tool's own strings hold it, every byte.
std::string Bytes(const String& text);
// "0x0000ABCD".
std::string Hex(uint32_t v);
// Two lower-case hex digits a byte.
std::string HexBytes(const unsigned char* bytes, size_t count);
// A valid installer or uninstaller.
bool PackageIntact(const InspectReport& r);
// A signature that is there but does not hold (see Verdict.cpp).
bool SignatureFails(const InspectReport& r);
// The code page of the package's texts: its record's, else ansiCodePage.
int TextCodePage(const InspectReport& r, int ansiCodePage);
