// The C++ library's own error paths, redirected to the setup's abnormal ends.
//
// The setup never throws and never catches: a library function that would throw (an index out of range, a length
// beyond max_size) is an internal fault. libstdc++ raises all of these
// through the std::__throw_* functions below; defining them here keeps its versions, and with them the exception
// machinery, out of the executable. They must all be defined together: libstdc++ keeps them in one object file, and
// pulling that in for a single missing one would clash with the rest.
//
// std::terminate (an exception escaping a noexcept function, for instance) calls the handler that libstdc++ keeps in
// __cxxabiv1::__terminate_handler. Defining that variable here, set to the internal fault, makes it the handler
// from the first instruction on (before any static constructor runs) and keeps out the library's default handler,
// which would print the exception's type through the name demangler.
#include <zlib.h>

#include <cstddef>
#include <exception>
#include <new>

#include "runtime/fatal.h"

namespace {

[[noreturn]] void terminateWithFault() { qmt::internalFault("terminate called"); }

}  // namespace

namespace __cxxabiv1 {
extern std::terminate_handler __terminate_handler;
std::terminate_handler __terminate_handler = terminateWithFault;
}  // namespace __cxxabiv1

// The library's default handler, which std::set_terminate(nullptr) restores and the library's terminate code
// refers to: defined here as the same internal fault, so that its printing (and the demangler) stays out too.
namespace __gnu_cxx {
void __verbose_terminate_handler() { terminateWithFault(); }
}  // namespace __gnu_cxx

namespace std {

// Raised by the allocators only for a request larger than the address space (a real shortage of memory ends in
// operator new, with its byte count): a broken size computation, so an internal fault.
void __throw_bad_alloc() { qmt::internalFault("allocation larger than the address space"); }
void __throw_bad_array_new_length() { qmt::internalFault("bad array new length"); }
void __throw_bad_exception() { qmt::internalFault("bad exception"); }
void __throw_bad_cast() { qmt::internalFault("bad cast"); }
void __throw_bad_typeid() { qmt::internalFault("bad typeid"); }
void __throw_bad_function_call() { qmt::internalFault("bad function call"); }
void __throw_logic_error(const char* what) { qmt::internalFault(what); }
void __throw_domain_error(const char* what) { qmt::internalFault(what); }
void __throw_invalid_argument(const char* what) { qmt::internalFault(what); }
void __throw_length_error(const char* what) { qmt::internalFault(what); }
void __throw_out_of_range(const char* what) { qmt::internalFault(what); }
// The format's arguments are left out: formatting them could itself fail.
void __throw_out_of_range_fmt(const char* format, ...) { qmt::internalFault(format); }
void __throw_runtime_error(const char* what) { qmt::internalFault(what); }
void __throw_range_error(const char* what) { qmt::internalFault(what); }
void __throw_overflow_error(const char* what) { qmt::internalFault(what); }
void __throw_underflow_error(const char* what) { qmt::internalFault(what); }

}  // namespace std

// zlib's inflate refers to crc32 for gzip streams only; the setup inflates zlib streams (adler32), so it is never
// called. Defined here, it keeps zlib's CRC code and tables (about 12 KiB) out of the executable; should it ever be
// reached, it ends the process rather than return a wrong checksum.
extern "C" uLong crc32(uLong, const Bytef*, uInt) { qmt::internalFault("crc32 is not part of the setup"); }
