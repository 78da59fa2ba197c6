// Included ahead of every source of the setup stub (cross build only).
//
// libstdc++ declares std::string's members as instantiated in its prebuilt
// library, so a static link pulls in that whole object (some 30 KB) for the
// few members we call. Its own switch -1 turns off just those declarations:
// each source then instantiates what it uses and the linker keeps only that.
#include <bits/c++config.h>
#undef _GLIBCXX_EXTERN_TEMPLATE
#define _GLIBCXX_EXTERN_TEMPLATE -1
