// Size matters for a stub that travels with every installer. libstdc++'s
// default terminate handler pulls in its demangler, and its out-of-line
// string members pull in the throw helpers with their message formatting:
// together some 80 KB that this program never needs. These replacements keep
// them out. None of them is reached by correct code: string lengths here are
// bounded far below max_size().
#include <cstdlib>
#include <new>

#include "services/SetupError.h"

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
} // namespace __gnu_cxx

namespace std {
void __throw_length_error(const char*) { throw SetupError("String too long"); }
void __throw_logic_error(const char*) { throw SetupError("Logic error"); }
void __throw_out_of_range(const char*) { throw SetupError("Out of range"); }
void __throw_out_of_range_fmt(const char*, ...) { throw SetupError("Out of range"); }
void __throw_invalid_argument(const char*) { throw SetupError("Invalid argument"); }
void __throw_bad_alloc() { throw std::bad_alloc(); }
void __throw_bad_array_new_length() { throw std::bad_alloc(); }
} // namespace std
