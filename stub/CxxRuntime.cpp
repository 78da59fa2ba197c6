// Size matters for a stub that travels with every installer. The stub is
// built without exceptions, so the C++ runtime's throwing parts must never
// come in: libstdc++'s own operator new and its throw helpers would bring
// the exception machinery and the unwinder with them, some 40 KB. Ours end
// the run at once instead, with the entry's "Internal Error: " box: a run
// out of memory cannot be relied on to clean up, and the helpers other than
// the allocation ones only fire on a programming fault. The temporary
// cabinet goes with the process (it is deleted on close).
#include <windows.h>

#include <cstdlib>
#include <new>

namespace {

[[noreturn]] __attribute__((noinline)) void EndRun(const wchar_t* message)
{
    // No allocation on this road: the message is put together in place.
    wchar_t text[128] = L"Internal Error: ";
    lstrcatW(text, message);
    lstrcatW(text, L".\r\n\r\nSetup will be terminated.");
    MessageBoxW(nullptr, text, nullptr, MB_ICONERROR);
    ExitProcess(1603); // a failed run's exit code (loader/Outcome.h)
}

[[noreturn]] void OutOfMemory() { EndRun(L"Out of memory"); }

void* Allocate(std::size_t size)
{
    if (void* block = std::malloc(size ? size : 1))
        return block;
    OutOfMemory();
}

} // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

namespace std {
void __throw_length_error(const char*) { EndRun(L"String too long"); }
void __throw_logic_error(const char*) { EndRun(L"Logic error"); }
void __throw_out_of_range(const char*) { EndRun(L"Out of range"); }
void __throw_out_of_range_fmt(const char*, ...) { EndRun(L"Out of range"); }
void __throw_invalid_argument(const char*) { EndRun(L"Invalid argument"); }
void __throw_bad_alloc() { OutOfMemory(); }
void __throw_bad_array_new_length() { OutOfMemory(); }
} // namespace std

// The stub ends through ExitProcess, which runs nothing registered for the
// way out, and its owners of windows, handles and files have let go by then.
// Without the C runtime's start-up there is no exit list either; the
// system library's atexit would be reached through a patched data reference
// that lands on its import slot, not its code.
extern "C" int atexit(void (*)(void)) { return 0; }
