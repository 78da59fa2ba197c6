// The one writer of a package, for both kinds: the packer writes
// installers, the stub writes its uninstaller. The blocks go in file order
// (the stub's bytes, the header, the ShortcutList, the payload) and the
// marker goes last, into the stub's copy of its DOS header: until then the
// copy holds whatever marker the stub had (none, or the installer's).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "package/ByteSource.h"
#include "package/Package.h"

enum class WriteResult { Written, ReadFailed, WriteFailed };

// The first stubSize bytes of stub, the header as it is, the ShortcutList.
WriteResult WritePackageFront(ByteSink out, ByteSource stub, uint32_t stubSize, const PackageHeader& header,
                              const std::string& shortcutList);
// The marker at offset 48: "Pnon", StubSize and the whole package's size.
bool WriteMarker(ByteSink out, uint32_t stubSize, uint32_t packageSize);

// The uninstaller of an installation: the running installer's stub, its
// header with UninstallMode, PayloadSize and PayloadCrc changed
// (UninstallerHeader), the same ShortcutList, and the list of installed
// files as payload.
WriteResult WriteUninstaller(ByteSink out, ByteSource installer, uint32_t stubSize,
                             const PackageHeader& installerHeader, const std::string& shortcutList,
                             const std::string& fileList);
