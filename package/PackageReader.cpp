#include "package/PackageReader.h"


#include "package/CRC32.h"
#include "package/LittleEndian.h"

namespace {

StepOutcome MarkerOutcome(const PackageMarker& marker, uint64_t fileSize, size_t bytesRead)
{
    if (marker.IsBare())
        return StepOutcome::BareStub; // PackageSize is not looked at
    if (bytesRead < kMarkerSize)
        return StepOutcome::MarkerCutShort;
    if (marker.magic != kMarkerMagic)
        return StepOutcome::MarkerMagic;
    // A longer file is looked at once more: it may be signed.
    return fileSize == marker.PackageSize ? StepOutcome::Passed : StepOutcome::SizeDiffers;
}

// Also refuses what the format never holds and a reader must not trust: a
// text length over 100, and blocks that together reach past PackageSize
// (summed in 64 bits, so nothing wraps).
StepOutcome HeaderOutcome(const PackageHeader& header, const PackageMarker& marker)
{
    if (header.Magic() != kHeaderMagic || header.SizeField() != kHeaderSize)
        return StepOutcome::HeaderMagic;
    if (!header.TextsValid())
        return StepOutcome::TextTooLong;
    uint64_t end = uint64_t(marker.StubSize) + kHeaderSize + header.ShortcutListSize() + header.PayloadSize();
    return end <= marker.PackageSize ? StepOutcome::Passed : StepOutcome::BlocksPastEnd;
}

// What follows the package must be the stub's own certificate table, whole:
// the table its security directory names, starting at PackageSize rounded
// up to 8 with zero bytes between, ending at the end of the file, and made
// of entries (u32 length, u16 revision, u16 type 2, signed data) that
// fill it, each one starting at a multiple of 8.
StepOutcome TailOutcome(ByteSource file, uint32_t packageSize, PeDirectory& signature)
{
    PeSignatureFields pe;
    if (!FindSignatureFields(file, pe) || pe.security.size == 0)
        return StepOutcome::SizeDiffers;
    const uint64_t start = (uint64_t(packageSize) + 7) & ~uint64_t(7);
    const uint64_t end = file.Size();
    if (pe.security.address != start || end - start != pe.security.size)
        return StepOutcome::NotOwnSignature;
    unsigned char bytes[8] = {};
    const size_t gap = static_cast<size_t>(start - packageSize);
    if (file.ReadAt(packageSize, bytes, gap) != gap)
        return StepOutcome::NotOwnSignature;
    for (size_t i = 0; i < gap; ++i)
        if (bytes[i] != 0)
            return StepOutcome::NotOwnSignature;
    for (uint64_t at = start; at < end;) {
        if (file.ReadAt(at, bytes, 8) != 8)
            return StepOutcome::NotOwnSignature;
        const uint32_t length = GetU32(bytes);
        if (length < 8 || length > end - at || GetU16(bytes + 6) != 2)
            return StepOutcome::NotOwnSignature;
        // The last entry may leave its padding out.
        at = at + length == end ? end : at + ((uint64_t(length) + 7) & ~uint64_t(7));
        if (at > end)
            return StepOutcome::NotOwnSignature;
    }
    signature = pe.security;
    return StepOutcome::Passed;
}

} // namespace

void KeepText::operator()(const unsigned char* bytes, size_t count)
{
    size_t room = keep_ > text_.size() ? keep_ - text_.size() : 0;
    text_.Append(reinterpret_cast<const char*>(bytes), count < room ? count : room);
}

const char* StepName(PackageStep step)
{
    switch (step) {
    case PackageStep::Marker: return "marker";
    case PackageStep::Header: return "header";
    case PackageStep::ShortcutList: return "shortcut list";
    case PackageStep::Payload: return "payload";
    case PackageStep::Copies: return "copies list";
    }
    return "";
}

const char* OutcomeText(StepOutcome outcome)
{
    switch (outcome) {
    case StepOutcome::Passed: return "sound";
    case StepOutcome::BareStub: return "no package: the stub alone";
    case StepOutcome::MarkerCutShort: return "the file ends inside the marker";
    case StepOutcome::MarkerMagic: return "the marker's magic is not \"Pnon\"";
    case StepOutcome::SizeDiffers: return "the file's size differs from PackageSize";
    case StepOutcome::HeaderCutShort: return "the file ends inside the header";
    case StepOutcome::HeaderMagic: return "the header's magic and size are not 0x11804033 and 738";
    case StepOutcome::TextTooLong: return "a header text is longer than 100 bytes";
    case StepOutcome::BlocksPastEnd: return "the header's blocks reach past PackageSize";
    case StepOutcome::TextLeavesPlace: return "a header text leads outside its place";
    case StepOutcome::CutShort: return "the file ends inside it";
    case StepOutcome::CrcDiffers: return "its CRC-32 differs from the header's";
    case StepOutcome::RecordLeavesPlace: return "a shortcut leads outside its place";
    case StepOutcome::NotOwnSignature: return "what follows the package is not the stub's own certificate table";
    case StepOutcome::NoCopiesTrailer: return "no copies list ends the package";
    case StepOutcome::CopyLeavesPlace: return "a copy leads outside its place";
    }
    return "";
}

StepOutcome PackageReader::ReadMarker()
{
    step_ = PackageStep::Marker;
    // The record sits right before the marker: one read takes both.
    unsigned char bytes[kRecordSize + kMarkerSize] = {};
    size_t got = file_.ReadAt(kRecordOffset, bytes, sizeof bytes);
    record_ = PackageRecord::Decode(bytes);
    marker_ = PackageMarker::Decode(bytes + kRecordSize);
    got = got > kRecordSize ? got - kRecordSize : 0;
    signature_ = PeDirectory();
    StepOutcome outcome = MarkerOutcome(marker_, file_.Size(), got);
    if (outcome == StepOutcome::SizeDiffers && file_.Size() > marker_.PackageSize)
        outcome = TailOutcome(file_, marker_.PackageSize, signature_);
    return outcome;
}

StepOutcome PackageReader::ReadHeader()
{
    step_ = PackageStep::Header;
    if (file_.ReadAt(marker_.StubSize, header_.Bytes(), kHeaderSize) != kHeaderSize)
        return StepOutcome::HeaderCutShort;
    StepOutcome outcome = HeaderOutcome(header_, marker_);
    if (outcome != StepOutcome::Passed)
        return outcome;
    // A text that would lead outside its place makes the package as
    // damaged as a wrong checksum: refused before anything is written.
    if (decoder_) {
        for (int i = 0; i < kHeaderTextCount; ++i) {
            unsigned length;
            const char* bytes = header_.TextData(static_cast<HeaderText>(i), length);
            texts_[i] = decoder_(bytes, length, record_.codePage);
        }
        textFault_ = CheckHeaderNames(header_, texts_);
    } else {
        textFault_ = CheckHeaderNames(header_);
    }
    return textFault_.rule == NameRule::Allowed ? StepOutcome::Passed : StepOutcome::TextLeavesPlace;
}

StepOutcome PackageReader::ReadShortcutList(uint32_t keep)
{
    step_ = PackageStep::ShortcutList;
    list_.clear();
    // Every record that a sequence will use names a link inside the group
    // and a target inside the install folder. The records are cut as the
    // pieces come, so that only what is kept stays in memory.
    String pending;
    uint64_t done = 0;
    auto take = [&](const unsigned char* bytes, size_t count) {
        KeepText(list_, keep)(bytes, count);
        done += count;
        if (recordFault_.rule != NameRule::Allowed || unchecked_ || decoder_)
            return;
        pending.Append(reinterpret_cast<const char*>(bytes), count);
        while (TakeCompleteShortcut(pending, recordFault_.record)) {
            recordFault_.rule = CheckShortcutRecord(recordFault_.record, recordFault_.target);
            if (recordFault_.rule != NameRule::Allowed)
                return;
        }
        if (pending.size() > keep) {
            unchecked_ = true;
            uncheckedFrom_ = done - pending.size();
        }
    };
    StepOutcome outcome = ReadBlock(ShortcutListOffset(), header_.ShortcutListSize(), header_.ShortcutListCrc(), take);
    if (outcome != StepOutcome::Passed)
        return outcome;
    // A code page of more than one byte a character is decoded whole: a
    // piece may end inside a character.
    if (decoder_) {
        shortcuts_ = decoder_(list_.c_str(), list_.size(), record_.codePage);
        WString rest = shortcuts_;
        WShortcutRecord record;
        while (recordFault_.rule == NameRule::Allowed && TakeCompleteShortcut(rest, record))
            recordFault_.rule = CheckShortcutRecord(record, recordFault_.target);
    }
    return recordFault_.rule == NameRule::Allowed ? StepOutcome::Passed : StepOutcome::RecordLeavesPlace;
}

StepOutcome PackageReader::ReadPayload(PieceSink sink)
{
    step_ = PackageStep::Payload;
    return ReadBlock(PayloadOffset(), header_.PayloadSize(), header_.PayloadCrc(), sink);
}

StepOutcome PackageReader::ReadCopies()
{
    step_ = PackageStep::Copies;
    copies_.clear();
    decodedCopies_.clear();
    copyFault_ = CopyFault();
    if (!record_.Asks(kAskCopies))
        return StepOutcome::Passed;
    // The header's check has kept the payload's end within PackageSize.
    const uint64_t payloadEnd = PayloadOffset() + header_.PayloadSize();
    if (marker_.PackageSize < payloadEnd + kCopiesTrailerSize)
        return StepOutcome::NoCopiesTrailer;
    const uint64_t at = marker_.PackageSize - kCopiesTrailerSize;
    unsigned char bytes[kCopiesTrailerSize];
    if (file_.ReadAt(at, bytes, kCopiesTrailerSize) != kCopiesTrailerSize)
        return StepOutcome::CutShort;
    const CopiesTrailer trailer = CopiesTrailer::Decode(bytes);
    if (trailer.magic != kCopiesMagic || trailer.listSize > at - payloadEnd)
        return StepOutcome::NoCopiesTrailer;
    KeepText keep(copies_);
    StepOutcome outcome = ReadBlock(at - trailer.listSize, trailer.listSize, trailer.listCrc, keep);
    if (outcome != StepOutcome::Passed)
        return outcome;
    decodedCopies_ = decoder_ ? decoder_(copies_.c_str(), copies_.size(), record_.codePage) : StoredAsText(copies_);
    // Every record complete and in its place.
    WString rest = decodedCopies_;
    while (copyFault_.rule == NameRule::Allowed && TakeCompleteShortcut(rest, copyFault_.record))
        copyFault_.rule = CheckCopyRecord(copyFault_.record, record_.Asks(kAskSubFolders), copyFault_.copy);
    // A decoding that failed leaves nothing, or text no record takes.
    if (copyFault_.rule == NameRule::Allowed && (!rest.empty() || (decodedCopies_.empty() && !copies_.empty())))
        copyFault_.rule = NameRule::Empty;
    return copyFault_.rule == NameRule::Allowed ? StepOutcome::Passed : StepOutcome::CopyLeavesPlace;
}

StepOutcome PackageReader::ReadBlock(uint64_t offset, uint32_t size, uint32_t crc, PieceSink sink)
{
    PieceBuffer piece = NewPieceBuffer(size < kPiece ? size : kPiece);
    uint32_t count = 0;
    uint32_t running = Crc32Init();
    while (count < size) {
        // Never past the block: what follows it is not part of it.
        size_t want = size - count < kPiece ? size - count : kPiece;
        size_t got = file_.ReadAt(offset + count, piece.get(), want);
        if (got == 0)
            break;
        sink(piece.get(), got);
        running = update_(running, piece.get(), got);
        count += static_cast<uint32_t>(got);
    }
    blockCount_ = count;
    blockCrc_ = Crc32Final(running);
    if (count != size)
        return StepOutcome::CutShort;
    return blockCrc_ == crc ? StepOutcome::Passed : StepOutcome::CrcDiffers;
}
