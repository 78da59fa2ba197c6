// The random start of temporary name searches, in a unit of its own so that
// a test build of the stub can start where its tests have planted names.
#include <windows.h>

#include "services/Services.h"

extern "C" BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length); // RtlGenRandom, advapi32

uint32_t TempSearchStart()
{
    uint32_t start = 0;
    SystemFunction036(&start, sizeof start);
    return start;
}
