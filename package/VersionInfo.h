// The texts of a version resource (VS_VERSIONINFO), as the packer writes it
// into the installer's stub: the installation takes the product's version
// and publisher for Apps & features from its own image. Portable: no Win32.
#pragma once
#include <cstddef>

#include "package/String.h"

// The value of `key` ("ProductVersion", "CompanyName") in the first string
// table of the resource's StringFileInfo, without its terminating zero;
// empty when there is none. Every length is checked against size: a block
// that claims more than its parent holds ends the search.
WString VersionText(const unsigned char* info, std::size_t size, const char* key);
