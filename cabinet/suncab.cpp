#include "cabinet/suncab.h"

#include <shellapi.h>

#include <utility>

#include "cabinet/Masks.h"
#include "cabinet/cabapi.h"
#include "package/Package.h"
#include "package/PathRules.h"
#include "package/TextLists.h"
#include "services/Log.h"
#include "services/MessageBox.h"
#include "services/Services.h"
#include "services/SetupError.h"
#include "services/Text.h"
#include "services/Win32.h"

namespace {

// The entry name flag: the stored name is UTF-8.
const unsigned kNameIsUtf8 = 0x80;

bool IsFile(const WString& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The entry's DOS date and time are local time; files carry UTC.
bool EntryTime(const FDINOTIFICATION& n, FILETIME& utc)
{
    FILETIME local;
    return DosDateTimeToFileTime(n.date, n.time, &local) && LocalFileTimeToFileTime(&local, &utc);
}

WString NormalCabinetName(const WString& value)
{
    if (value.empty() || FileNamePart(value).find('.') != WString::npos)
        return value;
    return LowerAscii(value) + L".cab";
}

// The platform takes a cabinet's name and folder as bytes and hands them
// back to the open callback (cabapi::Open), which reads them as UTF-8.
String PlatformName(const WString& text) { return EncodeUtf8(text); }

} // namespace

WString TUnCab::CabinetFile() const { return NormalCabinetName(cabinetFile_); }

void TUnCab::SetCabinetFile(const WString& value) { cabinetFile_ = NormalCabinetName(value); }

void TUnCab::SetDestination(const WString& value) { destination_ = WithBackslash(value); }

SetupError TUnCab::Failure(const char* msg, bool byUser) const { return Failure(WidenAscii(msg), byUser); }

SetupError TUnCab::Failure(const WString& msg, bool byUser) const
{
    if (errors_.fError)
        return SetupError(WFormat("%s() Failed : code %d [%s]", {msg, errors_.erfOper, ErrorText(errors_.erfOper)}),
                          byUser);
    return SetupError(msg, byUser);
}

SetupError TUnCab::Execute()
{
    if (Mask.empty())
        return SetupError();
    extractedCount_ = 0;
    runList_.clear();
    madeFolder_.clear();
    // The platform never clears the record itself; a code left from an
    // earlier run would be pinned onto this run's messages.
    errors_ = ERF{};
    if (OnStart.Assigned())
        OnStart(*this);
    if (cabinetFile_.empty())
        return Failure("Incorrect CAB filename!");
    Prepare();

    const WString cabinet = CabinetFile();
    String name = PlatformName(FileNamePart(cabinet));
    String path = PlatformName(WithBackslash(FolderOfPath(cabinet)));
    BOOL copied = FALSE;
    SetupError failure;
    {
        FdiContext context(errors_);
        if (!context.Get())
            return Failure("FDICreate");
        pending_ = SetupError();
        cancelled_ = false;
        copied = Cabinet().Copy(context.Get(), name.data(), path.data(), 0, Notify, cabapi::Decrypt, this);
        CatchWriteError();
        failure = std::exchange(pending_, SetupError());
    }
    // A target the platform gave up on without a close-file notification:
    // what it holds is not the entry.
    if (!target_.empty()) {
        DeleteFileW(target_.c_str());
        target_.clear();
    }
    // Given only now, with the context gone, and as it is: through Failure
    // it would turn into the platform's "client requested abort".
    if (failure)
        return failure;
    if (!copied)
        return Failure("FDICopy", cancelled_);
    if (OnFinish.Assigned())
        OnFinish(*this);
    return SetupError();
}

SetupError TUnCab::CheckEntries(const WString& copies)
{
    checking_ = true;
    SetupError error = Execute();
    WString rest = copies, target;
    WShortcutRecord copy;
    while (!error && TakeCompleteShortcut(rest, copy))
        error = TargetPath(copy.name, target);
    checking_ = false;
    checked_.clear();
    if (!error && extractedCount_ == 0)
        return Failure("The cabinet holds no files!");
    return error;
}

INT_PTR DIAMONDAPI TUnCab::Notify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION n)
{
    TUnCab* self = static_cast<TUnCab*>(n->pv);
    self->CatchWriteError();
    // The platform ignores the result of close file: once an error waits,
    // every later notification aborts as well, and a target still open is
    // closed, not counted, and deleted (a failed write left it cut short).
    if (self->pending_) {
        if (type == fdintCLOSE_FILE_INFO) {
            cabapi::Close(n->hf);
            DeleteFileW(self->target_.c_str());
            self->target_.clear();
        }
        return -1;
    }
    switch (type) {
    case fdintPARTIAL_FILE:
        return self->PartialFile(*n);
    case fdintCOPY_FILE:
        return self->CopyFile(*n);
    case fdintCLOSE_FILE_INFO:
        return self->CloseFile(*n);
    case fdintNEXT_CABINET:
        return self->NextCabinet(*n);
    default:
        return 0;
    }
}

INT_PTR TUnCab::Fail(SetupError error)
{
    if (!pending_)
        pending_ = std::move(error);
    return -1;
}

void TUnCab::CatchWriteError()
{
    const DWORD error = cabapi::TakeWriteError();
    if (error && !pending_)
        pending_ = FileError("write", target_, error);
}

int TUnCab::Ask(const char* caption, const WString& text, UINT style) const
{
    return ShowBox(OwnerWindow, caption, text, style);
}

WString TUnCab::EntryName(const char* stored, unsigned attributes) const
{
    const std::size_t size = String::Length(stored);
    return DecodeText(stored, size, attributes & kNameIsUtf8 ? kCodePageUtf8 : CodePage);
}

SetupError TUnCab::TargetPath(const WString& storedName, WString& target)
{
    WString name = storedName;
    if (!(Options & ucKeepPaths))
        name = LastComponent(name);
    target = WithBackslash(destination_) + name;
    // A name kept with its folders must stay below the destination and
    // reach it through no link (what lies below one may be anywhere, and an
    // installer writes with rights the link's maker may lack), no name may
    // be one Windows takes for a device (its bytes would go there), and no
    // two may be one file.
    if (CheckRelativePath(name) != NameRule::Allowed || (checking_ && Seen(name)) ||
        LinkOnTheWay(destination_, target))
        return Failure(WFormat("The file name \"%s\" is not allowed!", {name}));
    // Windows takes no longer path without the long-path opt-in; Wine
    // would: the limit is kept the same on both.
    if (target.size() >= MAX_PATH)
        return FileError("create", target, ERROR_FILENAME_EXCED_RANGE);
    if (checking_)
        ++extractedCount_;
    return SetupError();
}

namespace {

// Windows folders ignore case: ASCII letters by their ASCII case (as on
// every system, whatever its language), every other character as the
// system compares text without case.
bool SameLetter(WideChar c, WideChar d)
{
    if (c == d)
        return true;
    if (c < 0x80 || d < 0x80)
        return (c | 0x20) == (d | 0x20) && (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
    const WideChar one[] = {c, 0}, other[] = {d, 0};
    return lstrcmpiW(one, other) == 0;
}

} // namespace

namespace {

constexpr unsigned kFileName = 0x4000, kFolderName = 0x8000;

} // namespace

unsigned TUnCab::Note(const WString& kept, std::size_t size, unsigned kind)
{
    for (std::size_t at = 0; at < checked_.size(); at += 1 + (checked_[at] & 0x3FFF)) {
        if ((checked_[at] & 0x3FFF) != size)
            continue;
        std::size_t i = 0;
        while (i < size && SameLetter(kept[i], checked_[at + 1 + i]))
            ++i;
        if (i == size)
            return checked_[at] & ~0x3FFFu;
    }
    // Stored names are at most 256 bytes: the length fits below the kind.
    checked_ += static_cast<WideChar>(size | kind);
    checked_.Append(kept.c_str(), size);
    return 0;
}

bool TUnCab::Seen(const WString& name)
{
    // Every folder of a kept name too: "a.\\b" is "a\\b".
    const WString kept = KeptPath(name);
    for (std::size_t end = kept.find(L'\\'); end != WString::npos; end = kept.find(L'\\', end + 1))
        if (Note(kept, end, kFolderName) == kFileName)
            return true;
    return Note(kept, kept.size(), kFileName) != 0;
}

INT_PTR TUnCab::PartialFile(const FDINOTIFICATION& n)
{
    bool abort = false;
    const WString cabinet = DecodeText(n.psz2, String::Length(n.psz2), CodePage);
    const WString disk = DecodeText(n.psz3, String::Length(n.psz3), CodePage);
    if (OnPartialFile.Assigned())
        OnPartialFile(*this, cabinet, disk, EntryName(n.psz1, n.attribs), abort);
    else if (Options & ucPromptVolume)
        abort = Ask("Confirmation",
                    WFormat("The \"%s\" is a part of multi-volume package. Please, provide \"%s\" to continue.",
                            {cabinet, disk}),
                    MB_OKCANCEL) != IDOK;
    return abort ? -1 : 0;
}

INT_PTR TUnCab::CopyFile(const FDINOTIFICATION& n)
{
    // Decoded once: the mask, the rules and the target see characters.
    const WString stored = EntryName(n.psz1, n.attribs);
    bool matches;
    if (SetupError error = MatchesMask(stored, Mask, matches))
        return Fail(std::move(error));
    if (!matches)
        return 0;
    WString target;
    if (SetupError error = TargetPath(stored, target))
        return Fail(std::move(error));
    if (checking_)
        return 0;

    if (OnCopyFile.Assigned()) {
        SYSTEMTIME when;
        GetLocalTime(&when);
        FILETIME utc;
        SYSTEMTIME stored;
        if (EntryTime(n, utc) && FileTimeToSystemTime(&utc, &stored))
            when = stored;
        uint8_t action = 0;
        if (SetupError error = OnCopyFile(*this, target, n.cb, when, action))
            return Fail(std::move(error));
        if (action == 1)
            return 0;
        if (action != 0)
            return -1;
    }

    // With plain overwriting (the installation's options) an existing file
    // changes nothing, and under Wine a test for a missing name costs a scan
    // of the whole folder: skip it there.
    bool existenceMatters = !(Options & ucOverwrite) || (Options & ucConfirmOverwrite);
    if (existenceMatters && IsFile(target)) {
        if (!(Options & ucOverwrite))
            return Fail(Failure("This file already exists!"));
        if ((Options & ucConfirmOverwrite) &&
            Ask("Confirmation", WFormat("The file \"%s\" exists!\r\nDo you want to replace it?", {LowerAscii(target)}),
                MB_YESNO) != IDYES)
            return 0;
    }
    // Entries come folder by folder: the folder is made or tested once, not
    // for every file in it.
    if (Options & ucCreateFolders) {
        WString folder = FolderOfPath(target);
        if (folder != madeFolder_) {
            if (SetupError error = MakeFolder(target, true))
                return Fail(std::move(error));
            madeFolder_ = std::move(folder);
        }
    }

    for (;;) {
        // The handle goes to the platform, which writes the entry into it
        // and hands it back at close file. Never written through a link.
        DWORD error;
        UniqueHandle h = OpenToReplace(target, GENERIC_READ | GENERIC_WRITE, error);
        if (h.Valid()) {
            expectedSize_ = static_cast<DWORD>(n.cb);
            target_ = target;
            return reinterpret_cast<INT_PTR>(h.Detach());
        }
        if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION)
            return Fail(FileError("create", target, error));
        if (Ask("Extract",
                WFormat("The file \"%s\" is in use.\r\nPlease close it and try again.", {LowerAscii(target)}),
                MB_OKCANCEL | MB_ICONQUESTION) != IDOK) {
            cancelled_ = true; // the platform's abort is the user's
            return -1;
        }
    }
}

INT_PTR TUnCab::CloseFile(const FDINOTIFICATION& n)
{
    const HANDLE file = reinterpret_cast<HANDLE>(n.hf);
    const WString target = std::exchange(target_, WString());
    // The platform reports close file even for an entry whose data failed
    // (damaged data, a missing next cabinet), and reports that failure
    // itself: a target shorter than the entry is never counted, dated or
    // started.
    LARGE_INTEGER size;
    const char* failed = !GetFileSizeEx(file, &size) || size.QuadPart != expectedSize_ ? "" : nullptr;
    // The times go on through the handle the platform wrote with, before it
    // is closed: opening the file again for them would cost two more trips
    // to the kernel per file and change nothing.
    FILETIME utc;
    if (!failed && EntryTime(n, utc) && !SetFileTime(file, &utc, nullptr, &utc))
        failed = "set the time of";
    DWORD error = GetLastError();
    if (cabapi::Close(n.hf) != 0 && !failed) {
        failed = "close";
        error = GetLastError();
    }
    if (failed) {
        // What did not come out whole is not left looking installed.
        DeleteFileW(target.c_str());
        if (*failed)
            return Fail(FileError(failed, target, error));
        return -1;
    }
    ++extractedCount_;
    // Read-only, hidden, system and archive only: the run flag 0x40 and
    // anything else the cabinet stores stay out. Most files already have
    // what they should (archive): reading is far cheaper than setting.
    DWORD wanted = n.attribs & 0x27;
    DWORD current = GetFileAttributesW(target.c_str());
    if (current == INVALID_FILE_ATTRIBUTES || (current & ~FILE_ATTRIBUTE_NORMAL) != wanted)
        SetFileAttributesW(target.c_str(), wanted);

    if (n.cb) {
        runList_ += target;
        runList_ += L'\r';
        if (RunAfterExtract)
            ShellExecuteW(nullptr, L"open", target.c_str(), L"", L"", SW_SHOW);
    }
    return 1;
}

INT_PTR TUnCab::NextCabinet(FDINOTIFICATION& n)
{
    // Continuation cabinets must lie beside the first one; nobody is asked.
    // The folder is the one this run gave the platform (UTF-8); the name is
    // the cabinet's own.
    if (IsFile(DecodeUtf8(n.psz3) + DecodeText(n.psz1, String::Length(n.psz1), CodePage)))
        return 0;
    n.fdie = FDIERROR_CABINET_NOT_FOUND;
    return -1;
}

SetupError TUnCab::MakeFolder(const WString& path, bool confirm)
{
    const WString folder = FolderOfPath(path);
    // The climb ends at an empty folder part or at a root that does not shrink
    // any further (a missing drive); the create that follows then fails.
    if (folder.empty() || folder == path || IsExistingFolder(folder))
        return SetupError();
    if (confirm && (Options & ucConfirmFolders) &&
        Ask("Confirmation",
            WFormat("The folder \"%s\" does'n exists!\r\nDo you want to create it?", {LowerAscii(folder)}),
            MB_YESNO) != IDYES)
        return Failure("Opperation aborted by user");
    // Without confirm nothing is asked, so nothing fails.
    static_cast<void>(MakeFolder(folder, false));
    if (!IsExistingFolder(folder))
        CreateDirectoryW(folder.c_str(), nullptr);
    return SetupError();
}
