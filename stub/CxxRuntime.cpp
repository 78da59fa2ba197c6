// Size matters for a stub that travels with every installer. Parts of the C++
// and C runtimes would otherwise add some 50 KB that this program never uses:
//
// - libstdc++'s default terminate handler pulls in its demangler, and its
//   throw helpers format messages; ours end the run through SetupError.
// - The unwinder and the exception allocator guard their tables with POSIX
//   mutexes and once-flags, which drag in the whole thread library. The stub
//   runs on one thread (the cabinet decompressor calls back on it too), so a
//   once-flag is a flag and a mutex has nothing to exclude.
// - For the same reason the exception globals (the caught-exception stack
//   and the uncaught count) need no thread-local slot, which would bring in
//   the emulated-TLS support.
// - Link-time optimisation tags some functions that only run destructors on
//   the way out with the C personality routine instead of the C++ one; both
//   read the same tables, so the C++ one serves them too.
#include <cxxabi.h>
#include <cstdlib>
#include <new>
#include <pthread.h>
#include <unwind.h>

#include "services/SetupError.h"

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
} // namespace __gnu_cxx

namespace {
// One place that builds and throws the error, not one copy per helper.
[[noreturn]] __attribute__((noinline)) void RaiseRuntimeError(const char* message) { throw SetupError(message); }
} // namespace

namespace std {
void __throw_length_error(const char*) { RaiseRuntimeError("String too long"); }
void __throw_logic_error(const char*) { RaiseRuntimeError("Logic error"); }
void __throw_out_of_range(const char*) { RaiseRuntimeError("Out of range"); }
void __throw_out_of_range_fmt(const char*, ...) { RaiseRuntimeError("Out of range"); }
void __throw_invalid_argument(const char*) { RaiseRuntimeError("Invalid argument"); }
void __throw_bad_alloc() { throw std::bad_alloc(); }
void __throw_bad_array_new_length() { throw std::bad_alloc(); }
} // namespace std

namespace __cxxabiv1 {

namespace {
// The runtime's record is two words (caught-exception list, uncaught count)
// and starts zeroed; room for four leaves a margin.
void* exceptionGlobals[4];
} // namespace

extern "C" __cxa_eh_globals* __cxa_get_globals() noexcept
{
    return reinterpret_cast<__cxa_eh_globals*>(exceptionGlobals);
}

extern "C" __cxa_eh_globals* __cxa_get_globals_fast() noexcept
{
    return reinterpret_cast<__cxa_eh_globals*>(exceptionGlobals);
}

} // namespace __cxxabiv1

#if defined(__i386__)
// i686 unwinds through DWARF tables, where link-time code asks for the C
// personality; x86-64 unwinds through SEH and has no such routine.
extern "C" _Unwind_Reason_Code __gxx_personality_v0(int, _Unwind_Action, _Unwind_Exception_Class,
                                                    _Unwind_Exception*, _Unwind_Context*);

// Referenced only by code generated at link time, so it must be kept and
// visible before anything refers to it.
extern "C" __attribute__((used, externally_visible)) _Unwind_Reason_Code
__gcc_personality_v0(int version, _Unwind_Action actions, _Unwind_Exception_Class exceptionClass,
                     _Unwind_Exception* exception, _Unwind_Context* context)
{
    return __gxx_personality_v0(version, actions, exceptionClass, exception, context);
}
#endif

extern "C" {

// The start-up code patches the references that the linker could only
// resolve at run time (data imported from a DLL at an offset). The stub has
// none, so the patcher (with its section walker and printf-style error
// reports) stays out; should one ever appear, the stub stops at once rather
// than run with a reference unpatched.
extern char __RUNTIME_PSEUDO_RELOC_LIST__;
extern char __RUNTIME_PSEUDO_RELOC_LIST_END__;

void _pei386_runtime_relocator()
{
    if (&__RUNTIME_PSEUDO_RELOC_LIST__ != &__RUNTIME_PSEUDO_RELOC_LIST_END__)
        std::abort();
}

// A failed maths call (none is expected) is left to the C library's own
// handling: set errno and return. The start-up code's default would print a
// report on a console that a windowed program does not have.
struct _exception;
int _matherr(struct _exception*) { return 0; }

// The start-up code's thread callback runs the destructors registered for
// thread-local keys and sets each new thread's floating-point unit to the
// runtime's default. The stub registers no key, and no thread but the first
// runs its code (threads the system starts keep the system's setting), so
// the callback has nothing to do and the key list with its lock stays out.
// Should anything ever register a key, the runtime's own callback comes
// back with it and the link fails on this second definition.
int __mingw_TLScallback(void*, unsigned long, void*) { return 1; }

int pthread_once(pthread_once_t* once, void (*init)(void))
{
    if (*once == 0) {
        *once = 1;
        init();
    }
    return 0;
}

int pthread_mutex_init(pthread_mutex_t*, const pthread_mutexattr_t*) { return 0; }
int pthread_mutex_destroy(pthread_mutex_t*) { return 0; }
int pthread_mutex_lock(pthread_mutex_t*) { return 0; }
int pthread_mutex_trylock(pthread_mutex_t*) { return 0; }
int pthread_mutex_unlock(pthread_mutex_t*) { return 0; }

// Thread-local slots of the one thread, for any runtime part that asks.
namespace {
constexpr unsigned kSlots = 16;
void* slotValues[kSlots];
unsigned slotsUsed;
} // namespace

int pthread_key_create(pthread_key_t* key, void (*)(void*))
{
    if (slotsUsed >= kSlots)
        return 11; // EAGAIN
    *key = slotsUsed++;
    return 0;
}

int pthread_key_delete(pthread_key_t) { return 0; }

void* pthread_getspecific(pthread_key_t key) { return key < kSlots ? slotValues[key] : nullptr; }

int pthread_setspecific(pthread_key_t key, const void* value)
{
    if (key >= kSlots)
        return 22; // EINVAL
    slotValues[key] = const_cast<void*>(value);
    return 0;
}

} // extern "C"
