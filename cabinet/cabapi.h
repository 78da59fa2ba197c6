// The platform's cabinet decompressor (cabinet.dll, FDI) as the extractor
// uses it: MinGW's <fdi.h> declarations, the texts of its error codes, the
// memory and file callbacks, and an owner for the decompressor context.
//
// Handle space: open returns kernel file handles, and the extractor's
// copy-file notification hands the platform kernel handles of the targets it
// creates. read, write, close and seek accept both, since both are the same
// kind of handle.
#pragma once
#include <windows.h>

#include <fdi.h>

#include <utility>

// The text for an FDI error code (erfOper); empty for codes it does not know.
const char* ErrorText(int code);

namespace cabapi {

void* DIAMONDAPI Alloc(ULONG size);
void DIAMONDAPI Free(void* block);
INT_PTR DIAMONDAPI Open(char* name, int flags, int mode);
UINT DIAMONDAPI Read(INT_PTR file, void* buffer, UINT count);
UINT DIAMONDAPI Write(INT_PTR file, void* buffer, UINT count);
int DIAMONDAPI Close(INT_PTR file);
LONG DIAMONDAPI Seek(INT_PTR file, LONG distance, int origin);
int DIAMONDAPI Decrypt(PFDIDECRYPT);

// The system's error of the first write that failed inside the copy call (0:
// none), taken and cleared. The callbacks get no context of their own, and
// a platform may carry on after a failed write (Wine's does), so the
// extractor looks here at every notification and after the copy. Until
// then, every later write is refused.
DWORD TakeWriteError();

} // namespace cabapi

// cabinet.dll is no system DLL that the loader takes from its own folder
// only, so it is no static import: it is loaded from the system folder on
// first use. Members stay null when that fails.
struct CabinetLibrary {
    decltype(&FDICreate) Create = nullptr;
    decltype(&FDICopy) Copy = nullptr;
    decltype(&FDIDestroy) Destroy = nullptr;
};
const CabinetLibrary& Cabinet();

// One decompressor context, destroyed when the owner goes. Empty when the
// library cannot be loaded.
class FdiContext {
public:
    explicit FdiContext(ERF& errors)
        : h_(Cabinet().Create ? Cabinet().Create(cabapi::Alloc, cabapi::Free, cabapi::Open, cabapi::Read,
                                                  cabapi::Write, cabapi::Close, cabapi::Seek, cpu80386, &errors)
                              : nullptr)
    {
    }
    ~FdiContext()
    {
        if (h_)
            Cabinet().Destroy(h_);
    }
    FdiContext(const FdiContext&) = delete;
    FdiContext& operator=(const FdiContext&) = delete;

    HFDI Get() const { return h_; }

private:
    HFDI h_;
};
