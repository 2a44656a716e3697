// The shipped module links the C++ runtime statically; its terminate handler
// would bring the runtime's type-name demangler (about 46 KB) just to name
// the type of an exception that nothing catches. The link sends that call
// here (--wrap), and the handler prints the type's mangled name instead.
#include <cstddef>

extern "C" char* __wrap___cxa_demangle(const char*, char*, std::size_t*, int* status) {
    if (status) *status = -2;  // "not a valid name": the caller keeps the mangled one
    return nullptr;
}
