// The files a package installs as copies of ones its cabinet holds once
// (kAskCopies): written from the extracted file after the extraction.
#pragma once
#include "package/String.h"
#include "services/SetupError.h"

class TCabNotify;
class TUnCab;

// Each copy with the bytes, time and attributes of the file extracted for
// its stored name, listed and counted (files and bytes) by notify like an
// extracted file. A copy that cannot be written whole is removed and ends
// the run.
SetupError InstallCopies(TUnCab& cab, TCabNotify& notify, const WString& copies);
