// The one writer of a package, for both kinds: the packer writes
// installers, the stub writes its uninstaller. The blocks go in file order
// (the stub's bytes, the header, the ShortcutList, the payload) and the
// marker goes last, into the stub's copy of its DOS header: until then the
// copy holds whatever marker the stub had (none, or the installer's).
#pragma once
#include <cstdint>
#include <vector>

#include "package/ByteSource.h"
#include "package/CRC32.h"
#include "package/Package.h"
#include "package/PackageDigest.h"

enum class WriteResult { Written, ReadFailed, WriteFailed };

// The first stubSize bytes of stub, the header as it is, the ShortcutList.
WriteResult WritePackageFront(ByteSink out, ByteSource stub, uint32_t stubSize, const PackageHeader& header,
                              const String& shortcutList);
// The marker at offset 48: "Pnon", StubSize and the whole package's size.
bool WriteMarker(ByteSink out, uint32_t stubSize, uint32_t packageSize);

// The package's record at offset 40, beside the marker.
bool WriteRecord(ByteSink out, const PackageRecord& record);

// The copies list and the trailer that ends the package with it.
bool WriteCopies(ByteSink out, const String& list, Crc32Function update = Crc32Update);

// The header with the ShortcutList's and the payload's sizes and checksums
// set.
PackageHeader CompleteHeader(PackageHeader header, const String& shortcutList, uint32_t payloadSize,
                             uint32_t payloadCrc, Crc32Function update = Crc32Update);
// The end of an installer whose payload was written after a header that
// could not know its size yet: that header once more, complete, and the
// marker.
bool FinishInstaller(ByteSink out, uint32_t stubSize, const PackageHeader& header, uint32_t packageSize);

// The uninstaller of an installation: the running installer's stub, its
// header with UninstallMode, PayloadSize and PayloadCrc changed
// (UninstallerHeader), the same ShortcutList, and the list of installed
// files as payload. A record that is present goes into the copy's DOS
// header (the stub's bytes carry the installer's record, which does not
// describe the uninstaller's payload); otherwise the stub's bytes stay.
// Given a digest function, the copy's headers carry the digest of its own
// package (package/PackageDigest.h), unless the stub has no free slot.
WriteResult WriteUninstaller(ByteSink out, ByteSource installer, uint32_t stubSize,
                             const PackageHeader& installerHeader, const String& shortcutList,
                             const String& fileList, const PackageRecord& record = PackageRecord(),
                             DigestFunction digest = nullptr);

// A whole package in memory, in file order, the marker patched into the
// stub's copy of the DOS header, whose marker bytes must be zero. The
// header's UninstallMode says which kind; tests and mkpkg compose theirs so.
std::vector<unsigned char> ComposePackage(const std::vector<unsigned char>& stub, PackageHeader header,
                                          const String& shortcutList,
                                          const std::vector<unsigned char>& payload);
