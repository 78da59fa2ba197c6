#include "package/PackageWriter.h"

#include "package/CRC32.h"

WriteResult WritePackageFront(ByteSink out, ByteSource stub, uint32_t stubSize, const PackageHeader& header,
                              const std::string& shortcutList)
{
    std::vector<unsigned char> piece(stubSize < 16384 ? stubSize : 16384);
    for (uint32_t done = 0; done < stubSize;) {
        size_t want = stubSize - done < piece.size() ? stubSize - done : piece.size();
        if (stub.ReadAt(done, piece.data(), want) != want)
            return WriteResult::ReadFailed;
        if (!out.Write(piece.data(), want))
            return WriteResult::WriteFailed;
        done += static_cast<uint32_t>(want);
    }
    if (!out.Write(header.Bytes(), kHeaderSize) || !out.Write(shortcutList.data(), shortcutList.size()))
        return WriteResult::WriteFailed;
    return WriteResult::Written;
}

bool WriteMarker(ByteSink out, uint32_t stubSize, uint32_t packageSize)
{
    PackageMarker marker;
    marker.magic = kMarkerMagic;
    marker.StubSize = stubSize;
    marker.PackageSize = packageSize;
    unsigned char bytes[kMarkerSize];
    marker.Encode(bytes);
    return out.WriteAt(kMarkerOffset, bytes, kMarkerSize);
}

PackageHeader CompleteHeader(PackageHeader header, const std::string& shortcutList, uint32_t payloadSize,
                             uint32_t payloadCrc, Crc32Function update)
{
    header.SetShortcutListSize(static_cast<uint32_t>(shortcutList.size()));
    header.SetShortcutListCrc(Crc32Final(update(Crc32Init(), shortcutList.data(), shortcutList.size())));
    header.SetPayloadSize(payloadSize);
    header.SetPayloadCrc(payloadCrc);
    return header;
}

bool FinishInstaller(ByteSink out, uint32_t stubSize, const PackageHeader& header, uint32_t packageSize)
{
    return out.WriteAt(stubSize, header.Bytes(), kHeaderSize) && WriteMarker(out, stubSize, packageSize);
}

WriteResult WriteUninstaller(ByteSink out, ByteSource installer, uint32_t stubSize,
                             const PackageHeader& installerHeader, const std::string& shortcutList,
                             const std::string& fileList)
{
    WriteResult front =
        WritePackageFront(out, installer, stubSize, UninstallerHeader(installerHeader, fileList), shortcutList);
    if (front != WriteResult::Written)
        return front;
    const uint64_t size = uint64_t(stubSize) + kHeaderSize + shortcutList.size() + fileList.size();
    if (!out.Write(fileList.data(), fileList.size()) || !WriteMarker(out, stubSize, static_cast<uint32_t>(size)))
        return WriteResult::WriteFailed;
    return WriteResult::Written;
}

std::vector<unsigned char> ComposePackage(const std::vector<unsigned char>& stub, PackageHeader header,
                                          const std::string& shortcutList,
                                          const std::vector<unsigned char>& payload)
{
    header = CompleteHeader(header, shortcutList, static_cast<uint32_t>(payload.size()),
                            Crc32Of(payload.data(), payload.size()));
    BufferSink out;
    BufferSource stubBytes(stub);
    WritePackageFront(out, stubBytes, static_cast<uint32_t>(stub.size()), header, shortcutList);
    out.Write(payload.data(), payload.size());
    WriteMarker(out, static_cast<uint32_t>(stub.size()), static_cast<uint32_t>(out.bytes.size()));
    return std::move(out.bytes);
}
