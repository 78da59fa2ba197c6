// TCabNotify: attached as OnCopyFile of the payload extraction, it collects
// the installed-file list and moves the progress display one step per entry.
#pragma once
#include <windows.h>

#include <cstdint>

#include "package/String.h"
#include "services/SetupError.h"

class TUnCab;

class TCabNotify {
public:
    // Each target path (less Skip) followed by a carriage return, in the order the
    // entries arrive; an entry is listed before it is written, so one that is
    // then skipped or fails is listed all the same.
    WString FileList;
    // Characters at the start of each target left out of FileList: the
    // install folder's, for a list of names relative to it.
    std::size_t Skip = 0;
    // The entries' sizes, summed.
    uint64_t Bytes = 0;

    // The error "Operation aborted by user" once Abort was pressed.
    SetupError NotifyFile(TUnCab& sender, const WString& fileName, int32_t size, const SYSTEMTIME& dateTime,
                          uint8_t& action);
};
