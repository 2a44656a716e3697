// The shipped module links the C++ runtime statically, and the runtime's
// archive objects come whole: one reference drags in everything beside it.
// These three cut such chains. Nothing here changes what the library does.
#include <cstddef>
#include <cstdlib>
#include <string>

// The terminate handler would bring the runtime's type-name demangler (about
// 46 KB) just to name the type of an exception that nothing catches. The link
// sends that call here (--wrap), and the handler prints the mangled name.
extern "C" char* __wrap___cxa_demangle(const char*, char*, std::size_t*, int* status) {
    if (status) *status = -2;  // "not a valid name": the caller keeps the mangled one
    return nullptr;
}

// The runtime's throw helpers bring its old-ABI string object, and with it
// that ABI's std::random_device::_M_init(const char*, size_t): the random
// device and a whole second std::string. The library never makes a
// random_device, so the link sends that one reference here (--wrap). One made
// with today's ABI would still link the real code: its constructor names
// another function. Never called, so the member's calling convention does
// not matter. The build names it: the mangled name differs per architecture.
extern "C" [[noreturn]] void TAMBER_RANDOM_DEVICE_INIT_WRAP() { std::abort(); }

// The exception classes' string holder needs these two std::string members.
// Compiled here from the headers, they keep the runtime's object with every
// other member of std::string (about 30 KB) out of the link.
template void std::string::_M_assign(const std::string&);
template std::string::pointer std::string::_M_create(std::string::size_type&, std::string::size_type);
