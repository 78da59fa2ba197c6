#include "package/PackageWriter.h"

#include "package/PackageDigest.h"

#include "package/CRC32.h"
#include "package/LittleEndian.h"
#include "package/PeImage.h"

namespace {

// The stub's bytes with its first ones replaced: the headers of the
// uninstaller, which carry no signature.
class PatchedStub {
public:
    PatchedStub(ByteSource stub, const unsigned char* head, size_t headSize)
        : stub_(stub), head_(head), headSize_(headSize)
    {
    }
    uint64_t Size() const { return stub_.Size(); }
    size_t ReadAt(uint64_t offset, void* buffer, size_t count) const
    {
        unsigned char* out = static_cast<unsigned char*>(buffer);
        size_t done = 0;
        for (; done < count && offset + done < headSize_; ++done)
            out[done] = head_[offset + done];
        return done + (done < count ? stub_.ReadAt(offset + done, out + done, count - done) : 0);
    }

private:
    ByteSource stub_;
    const unsigned char* head_;
    size_t headSize_;
};

bool AddToChecksum(PeChecksum& sum, ByteSource source, uint32_t size)
{
    unsigned char piece[4096];
    for (uint32_t done = 0; done < size;) {
        size_t want = size - done < sizeof piece ? size - done : sizeof piece;
        if (source.ReadAt(done, piece, want) != want)
            return false;
        sum.Add(piece, want);
        done += static_cast<uint32_t>(want);
    }
    return true;
}

} // namespace

WriteResult WritePackageFront(ByteSink out, ByteSource stub, uint32_t stubSize, const PackageHeader& header,
                              const String& shortcutList)
{
    const uint32_t pieceSize = stubSize < 16384 ? stubSize : 16384;
    PieceBuffer piece = NewPieceBuffer(pieceSize);
    for (uint32_t done = 0; done < stubSize;) {
        size_t want = stubSize - done < pieceSize ? stubSize - done : pieceSize;
        if (stub.ReadAt(done, piece.get(), want) != want)
            return WriteResult::ReadFailed;
        if (!out.Write(piece.get(), want))
            return WriteResult::WriteFailed;
        done += static_cast<uint32_t>(want);
    }
    if (!out.Write(header.Bytes(), kHeaderSize) || !out.Write(shortcutList.c_str(), shortcutList.size()))
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

bool WriteCopies(ByteSink out, const String& list, Crc32Function update)
{
    CopiesTrailer trailer;
    trailer.listSize = static_cast<uint32_t>(list.size());
    trailer.listCrc = Crc32Final(update(Crc32Init(), reinterpret_cast<const unsigned char*>(list.c_str()), list.size()));
    trailer.magic = kCopiesMagic;
    unsigned char bytes[kCopiesTrailerSize];
    trailer.Encode(bytes);
    return out.Write(list.c_str(), list.size()) && out.Write(bytes, kCopiesTrailerSize);
}

bool WriteRecord(ByteSink out, const PackageRecord& record)
{
    unsigned char bytes[kRecordSize];
    record.Encode(bytes);
    return out.WriteAt(kRecordOffset, bytes, kRecordSize);
}

PackageHeader CompleteHeader(PackageHeader header, const String& shortcutList, uint32_t payloadSize,
                             uint32_t payloadCrc, Crc32Function update)
{
    header.SetShortcutListSize(static_cast<uint32_t>(shortcutList.size()));
    header.SetShortcutListCrc(Crc32Final(update(Crc32Init(), shortcutList.c_str(), shortcutList.size())));
    header.SetPayloadSize(payloadSize);
    header.SetPayloadCrc(payloadCrc);
    return header;
}

bool FinishInstaller(ByteSink out, uint32_t stubSize, const PackageHeader& header, uint32_t packageSize)
{
    return out.WriteAt(stubSize, header.Bytes(), kHeaderSize) && WriteMarker(out, stubSize, packageSize);
}

WriteResult WriteUninstaller(ByteSink out, ByteSource installer, uint32_t stubSize,
                             const PackageHeader& installerHeader, const String& shortcutList,
                             const String& fileList, const PackageRecord& record, DigestFunction digest)
{
    const PackageHeader header = UninstallerHeader(installerHeader, fileList);
    const uint64_t size = uint64_t(stubSize) + kHeaderSize + shortcutList.size() + fileList.size();
    // A signed installer's signature does not sign its uninstaller: the
    // copy gets no certificate table, and a checksum that is right for it.
    // Without a signature the stub is copied as it is, but for the digest
    // of the uninstaller's own package in the slot of its headers.
    PeSignatureFields pe;
    unsigned char head[1024];
    static_assert(kDigestSlotEnd <= sizeof head, "the slot lies in the headers");
    size_t headSize = 0;
    const bool signedStub = FindSignatureFields(installer, pe) && (pe.security.address || pe.security.size) &&
                            pe.securityAt + 8 <= sizeof head && pe.securityAt + 8 <= stubSize;
    if (signedStub)
        headSize = pe.securityAt + 8;
    if (digest && stubSize >= kDigestSlotEnd && headSize < kDigestSlotEnd)
        headSize = kDigestSlotEnd;
    if (headSize) {
        if (installer.ReadAt(0, head, headSize) != headSize)
            return WriteResult::ReadFailed;
        PackageMarker marker;
        marker.magic = kMarkerMagic;
        marker.StubSize = stubSize;
        marker.PackageSize = static_cast<uint32_t>(size);
        marker.Encode(head + kMarkerOffset);
        if (record.present)
            record.Encode(head + kRecordOffset);
        if (digest && headSize >= kDigestSlotEnd && DigestSlotFree(head + kDigestSlotOffset)) {
            const Piece pieces[] = {{head + kRecordOffset, kMarkerOffset + kMarkerSize - kRecordOffset},
                                    {header.Bytes(), kHeaderSize},
                                    {shortcutList.c_str(), shortcutList.size()},
                                    {fileList.c_str(), fileList.size()}};
            PackageDigest own;
            own.present = true;
            if (!digest(pieces, 4, own.bytes))
                return WriteResult::WriteFailed;
            own.Encode(head + kDigestSlotOffset);
        }
        if (signedStub) {
            PutU32(head + pe.checksumAt, 0);
            PutU32(head + pe.securityAt, 0);
            PutU32(head + pe.securityAt + 4, 0);
            PeChecksum sum;
            if (!AddToChecksum(sum, PatchedStub(installer, head, headSize), stubSize))
                return WriteResult::ReadFailed;
            sum.Add(header.Bytes(), kHeaderSize);
            sum.Add(reinterpret_cast<const unsigned char*>(shortcutList.c_str()), shortcutList.size());
            sum.Add(reinterpret_cast<const unsigned char*>(fileList.c_str()), fileList.size());
            PutU32(head + pe.checksumAt, sum.Final());
        }
    }
    WriteResult front =
        WritePackageFront(out, PatchedStub(installer, head, headSize), stubSize, header, shortcutList);
    if (front != WriteResult::Written)
        return front;
    if (!out.Write(fileList.c_str(), fileList.size()) || !WriteMarker(out, stubSize, static_cast<uint32_t>(size)) ||
        (record.present && !headSize && !WriteRecord(out, record)))
        return WriteResult::WriteFailed;
    return WriteResult::Written;
}

std::vector<unsigned char> ComposePackage(const std::vector<unsigned char>& stub, PackageHeader header,
                                          const String& shortcutList,
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
