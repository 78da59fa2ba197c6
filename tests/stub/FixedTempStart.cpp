// Linked into stub_tempstart in place of the system's random source: every
// temporary name search starts after 0x123456, so the first candidates are
// _KT14D2N, _KT14D2O, ... and a test can plant things there.
#include "services/Services.h"

uint32_t TempSearchStart() { return 0x123456; }
