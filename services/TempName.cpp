#include "services/TempName.h"

WString CounterText(uint32_t counter)
{
    static const char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUV";
    WideChar text[5];
    for (int i = 4; i >= 0; --i) {
        text[i] = digits[counter & 31];
        counter >>= 5;
    }
    return WString(text, 5);
}
