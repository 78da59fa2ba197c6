// TUnCab: extracts the entries of a cabinet file into a folder through the
// platform's decompressor, deciding per entry on the name filter, overwrite,
// folder and in-use rules, times, attributes and the list of files to run.
//
// Use: set the properties, Execute, read RunList and ExtractedCount. Execute
// may run again on the same object. Everything happens on the calling
// thread; the decompressor calls back into this object inside Execute.
#pragma once
#include <windows.h>

#include <fdi.h>

#include <cstdint>

#include "package/String.h"
#include "services/SetupError.h"

class TUnCab;

// An event: a code pointer and the object it belongs to, like a method
// pointer. It counts as set when its code part is set.
template <class Result, class... Args>
struct TMethod {
    Result (*Code)(void* data, Args... args) = nullptr;
    void* Data = nullptr;

    bool Assigned() const { return Code != nullptr; }
    Result operator()(Args... args) const { return Code(Data, args...); }
};

using TNotifyEvent = TMethod<void, TUnCab&>;
// (Sender, CabinetName, DiskName, FileName, var Abort)
using TPartialFileEvent = TMethod<void, TUnCab&, const WString&, const WString&, const WString&, bool&>;
// (Sender, FileName, Size, DateTime, var Action): Action 0 go on, 1 skip the
// entry, anything else abort the extraction. An error it gives ends the
// extraction, and Execute gives it.
using TCopyFileEvent = TMethod<SetupError, TUnCab&, const WString&, int32_t, const SYSTEMTIME&, uint8_t&>;

// Binds a member function to an object as an event:
//   uncab.OnCopyFile = BindEvent<&TCabNotify::NotifyFile>(&notify);
template <auto Method>
struct EventBinder;
template <class T, class Result, class... Args, Result (T::*Method)(Args...)>
struct EventBinder<Method> {
    static TMethod<Result, Args...> Bind(T* object)
    {
        TMethod<Result, Args...> event;
        event.Code = [](void* data, Args... args) { return (static_cast<T*>(data)->*Method)(args...); };
        event.Data = object;
        return event;
    }
};
template <auto Method, class T>
auto BindEvent(T* object)
{
    return EventBinder<Method>::Bind(object);
}

// Bits of TUnCab::Options.
enum : uint8_t {
    ucOverwrite = 0x01,        // an existing target may be replaced
    ucConfirmOverwrite = 0x02, // ask before replacing it
    ucKeepPaths = 0x04,        // keep the folders of the stored name
    ucCreateFolders = 0x08,    // create missing target folders
    ucConfirmFolders = 0x10,   // ask before creating one
    ucPromptVolume = 0x40,     // ask when an entry continues from an earlier cabinet
};

class TUnCab {
public:
    TUnCab() = default;
    virtual ~TUnCab() = default;
    TUnCab(const TUnCab&) = delete;
    TUnCab& operator=(const TUnCab&) = delete;

    // A name without extension is lower-cased and gets ".cab", on every read
    // and write.
    WString CabinetFile() const;
    void SetCabinetFile(const WString& value);
    // Stored with a trailing backslash unless empty.
    const WString& Destination() const { return destination_; }
    void SetDestination(const WString& value);

    uint8_t Options = 0x5F;
    TPartialFileEvent OnPartialFile;
    TCopyFileEvent OnCopyFile;
    TNotifyEvent OnStart;
    TNotifyEvent OnFinish;
    WString Mask;             // empty: Execute does nothing
    // The code page of entry names stored without the UTF-8 flag (0: the
    // system's); a name with the flag (attribute 0x80) is UTF-8.
    uint16_t CodePage = 0;
    bool RunAfterExtract = true;   // open run-marked files as soon as written
    HWND OwnerWindow = nullptr;    // owner of every message box

    // Results of the last run: each written run-marked file's path followed
    // by a carriage return, and the number of targets closed successfully.
    const WString& RunList() const { return runList_; }
    int32_t ExtractedCount() const { return extractedCount_; }
    // The decompressor's error record of the last run (cleared when a run
    // starts).
    const ERF& ErrorRecord() const { return errors_; }

    SetupError Execute();
    // Walks the entries as Execute would extract them and writes nothing:
    // each entry that passes Mask must have a target TargetPath takes, no
    // two may reach one target in any letter case (Windows folders ignore
    // case: one would overwrite the other), and one at least must pass.
    // Gives the first fault; ExtractedCount is then the number that pass.
    // OnStart and OnFinish fire as for Execute, OnCopyFile never. Each copy
    // of copies ("stored|copy\r" each, a package's copies list), a file
    // the run writes beside the entries, is held to the same rules after
    // them.
    SetupError CheckEntries(const WString& copies = WString());
    // Refuses a name that breaks the path rules or a target too long; while
    // CheckEntries walks, also one that an earlier entry reaches.
    SetupError TargetPath(const WString& storedName, WString& target);
    // The error "<msg>() Failed : code <n> [<text>]" when the decompressor
    // has recorded an error, otherwise msg alone; byUser when the user
    // ended it.
    SetupError Failure(const char* msg, bool byUser = false) const;
    SetupError Failure(const WString& msg, bool byUser = false) const;
    // Makes sure the folder part of path exists, asking first when confirm
    // and ucConfirmFolders are set.
    SetupError MakeFolder(const WString& path, bool confirm);

protected:
    // Called once per run, just before the decompressor is set up.
    virtual void Prepare() {}

private:
    static INT_PTR DIAMONDAPI Notify(FDINOTIFICATIONTYPE type, PFDINOTIFICATION n);
    INT_PTR PartialFile(const FDINOTIFICATION& n);
    INT_PTR CopyFile(const FDINOTIFICATION& n);
    INT_PTR CloseFile(const FDINOTIFICATION& n);
    INT_PTR NextCabinet(FDINOTIFICATION& n);
    // The stored name as text: UTF-8 with the flag, else in CodePage.
    WString EntryName(const char* stored, unsigned attributes) const;
    // Whether an earlier entry of the walk reaches name's file, or makes
    // one name a file and a folder ("a" and "a\\x"); notes it and its
    // folders when not.
    bool Seen(const WString& name);
    // What checked_ holds of the first size characters of kept: 0 nothing,
    // else the kind it was noted as; noted as kind when nothing.
    unsigned Note(const WString& kept, std::size_t size, unsigned kind);
    // Keeps the first error of a notification for Execute; tells the
    // platform to abort.
    INT_PTR Fail(SetupError error);
    void CatchWriteError();
    int Ask(const char* caption, const WString& text, UINT style) const;

    WString cabinetFile_;
    WString destination_;
    ERF errors_ = {};
    WString runList_;
    int32_t extractedCount_ = 0;
    DWORD expectedSize_ = 0; // of the entry whose target is open
    WString target_;     // its path; empty while none is open
    WString madeFolder_; // the folder the last target went into
    // An error of a notification waits here while the platform ends its
    // copy; Execute gives it afterwards.
    SetupError pending_;
    // Cancel pressed in the in-use box: the platform's abort is the user's.
    bool cancelled_ = false;
    bool checking_ = false;
    // The names CheckEntries has passed so far as Windows keeps them, and
    // their folders, each after its length and kind (kFileName or
    // kFolderName in the high bits).
    WString checked_;
};
