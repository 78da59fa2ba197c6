// The one reader of a package. The stub runs it on its own file and
// `cabsetup inspect` on any file, so the two cannot disagree. It goes step
// by step in file order, each step reading its block through a ByteSource
// and naming what it found; a step runs only after the one before passed.
// The stub takes the steps at different moments of its run: marker and
// header before anything is shown, the ShortcutList after the confirmation,
// the payload in its sequence.
#pragma once
#include <cstdint>
#include <string>
#include <type_traits>

#include "package/ByteSource.h"
#include "package/CRC32.h"
#include "package/Package.h"
#include "package/PathRules.h"
#include "package/PeImage.h"
#include "package/TextLists.h"

enum class PackageStep : uint8_t { Marker, Header, ShortcutList, Payload, Copies };

enum class StepOutcome : uint8_t {
    Passed,
    BareStub,          // marker: magic and StubSize are 0, the stub carries no package
    MarkerCutShort,    // marker: the file ends inside it
    MarkerMagic,       // marker: the magic is not "Pnon"
    SizeDiffers,       // marker: the file's size is not PackageSize
    HeaderCutShort,    // header: the file ends inside it
    HeaderMagic,       // header: magic and size field are not 0x11804033 and 738
    TextTooLong,       // header: a text's length byte says more than 100
    BlocksPastEnd,     // header: ShortcutList and payload reach past PackageSize
    TextLeavesPlace,   // header: a text breaks the rule for its place (TextFault)
    CutShort,          // ShortcutList or payload: the file ends before the block
    CrcDiffers,        // ShortcutList or payload: the CRC-32 is not the header's
    RecordLeavesPlace, // ShortcutList: a record breaks the rule for its place (RecordFault)
    NotOwnSignature,   // marker: what follows the package is not the certificate table the stub names
    NoCopiesTrailer,   // copies: no trailer ends the package, or its list does not fit after the payload
    CopyLeavesPlace,   // copies: a record breaks the rule for its place, or is unfinished (CopyFault)
};

// "marker", "header", "shortcut list", "payload", "copies list".
const char* StepName(PackageStep step);
// The outcome in words, e.g. "the file ends inside the header".
const char* OutcomeText(StepOutcome outcome);

// Takes a block piece by piece as it is read: a view of any callable
// `void (const unsigned char* bytes, size_t count)`. The callable may
// raise: the reader holds nothing that needs more than its destructors.
class PieceSink {
public:
    template <class F, class = std::enable_if_t<!std::is_same_v<F, PieceSink>>>
    PieceSink(F& take)
        : object_(&take),
          call_([](void* o, const unsigned char* bytes, size_t count) { (*static_cast<F*>(o))(bytes, count); })
    {
    }
    void operator()(const unsigned char* bytes, size_t count) const { call_(object_, bytes, count); }

private:
    void* object_;
    void (*call_)(void*, const unsigned char*, size_t);
};

// Keeps what it takes in a text, up to `keep` bytes.
class KeepText {
public:
    explicit KeepText(String& text, size_t keep = ~size_t(0)) : text_(text), keep_(keep) {}
    void operator()(const unsigned char* bytes, size_t count);

private:
    String& text_;
    size_t keep_;
};

// The shortcut record that broke its rule, and which part of it did.
struct RecordFault {
    ShortcutRecord record;
    bool target = false;
    NameRule rule = NameRule::Allowed;
};

// The copies record that broke its rule, decoded, and which part of it
// did; an unfinished record is Empty.
struct CopyFault {
    WShortcutRecord record; // target: the stored name, name: the copy's
    bool copy = false;
    NameRule rule = NameRule::Allowed;
};

// Turns a package's stored bytes into UTF-16 by the package's code page (0:
// the system's). The stub gives the system's converter; a failed or lossy
// decoding gives text the rules refuse or an empty text.
using TextDecoder = WString (*)(const char* bytes, std::size_t size, uint16_t codePage);

class PackageReader {
public:
    // Pieces in which the blocks are read: the cabinet is streamed, never
    // held in memory.
    static constexpr uint32_t kPiece = 16384;

    explicit PackageReader(ByteSource file, Crc32Function update = Crc32Update) : file_(file), update_(update) {}

    // The 12 bytes at offset 48 against the file's size. A file that ends
    // inside them leaves the rest zero. The file may be longer only by the
    // stub's own certificate table (a signature): the one its security
    // directory names, at PackageSize rounded up to 8 with zeros between,
    // ending at the end of the file.
    StepOutcome ReadMarker();
    // From here on the header texts and the ShortcutList are decoded as
    // they are read, and the place rules check the decoded text. Without a
    // decoder they check the bytes as stored.
    void DecodeWith(TextDecoder decoder) { decoder_ = decoder; }
    // The 738 bytes at StubSize, with every header text in its place.
    StepOutcome ReadHeader();
    // The block after the header, against its CRC-32, with every complete
    // record in its place. At most `keep` bytes of it are kept; the CRC and
    // the places cover all of it, but for records longer than `keep`: those
    // end the place checks (RecordsUnchecked tells).
    StepOutcome ReadShortcutList(uint32_t keep = 0xFFFFFFFF);
    // The block after the ShortcutList, handed to sink in pieces with a
    // running CRC-32. Reading stops at PayloadSize bytes, never past them,
    // or where the file ends.
    StepOutcome ReadPayload(PieceSink sink);
    // The copies list of a package that asks kAskCopies, against the CRC-32
    // of its trailer, with every record in its place and nothing unfinished
    // (else passes with no copies). Kept whole: it is a list of names.
    StepOutcome ReadCopies();

    // The step run last.
    PackageStep Step() const { return step_; }
    const PackageMarker& Marker() const { return marker_; }
    // Read with the marker; not present in packages made before it.
    const PackageRecord& Record() const { return record_; }
    // The certificate table after the package; size 0 when there is none.
    const PeDirectory& Signature() const { return signature_; }
    const PackageHeader& Header() const { return header_; }
    const String& ShortcutList() const { return list_; }
    // Decoded by ReadHeader and ReadShortcutList with the decoder.
    const WString& Text(HeaderText field) const { return texts_[static_cast<int>(field)]; }
    const WString& Shortcuts() const { return shortcuts_; }
    const HeaderNameFault& TextFault() const { return textFault_; }
    const RecordFault& BrokenRecord() const { return recordFault_; }
    // As stored, and decoded with the decoder (without one, each byte is
    // one character, as the place rules take stored bytes).
    const String& Copies() const { return copies_; }
    const WString& DecodedCopies() const { return decodedCopies_; }
    const CopyFault& BrokenCopy() const { return copyFault_; }
    // The place checks stopped at a record longer than `keep`, which starts
    // UncheckedFrom bytes into the list.
    bool RecordsUnchecked() const { return unchecked_; }
    uint64_t UncheckedFrom() const { return uncheckedFrom_; }
    // The CRC-32 that the last block read came to, and its bytes.
    uint32_t BlockCrc() const { return blockCrc_; }
    uint32_t BlockCount() const { return blockCount_; }
    uint64_t ShortcutListOffset() const { return uint64_t(marker_.StubSize) + kHeaderSize; }
    uint64_t PayloadOffset() const { return ShortcutListOffset() + header_.ShortcutListSize(); }

private:
    StepOutcome ReadBlock(uint64_t offset, uint32_t size, uint32_t crc, PieceSink sink);

    ByteSource file_;
    Crc32Function update_;
    PackageStep step_ = PackageStep::Marker;
    PackageMarker marker_;
    PackageRecord record_;
    PeDirectory signature_;
    PackageHeader header_;
    String list_;
    TextDecoder decoder_ = nullptr;
    WString texts_[kHeaderTextCount];
    WString shortcuts_;
    HeaderNameFault textFault_;
    RecordFault recordFault_;
    String copies_;
    WString decodedCopies_;
    CopyFault copyFault_;
    bool unchecked_ = false;
    uint64_t uncheckedFrom_ = 0;
    uint32_t blockCrc_ = 0;
    uint32_t blockCount_ = 0;
};
