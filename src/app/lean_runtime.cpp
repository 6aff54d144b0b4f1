// Small replacements for parts of the static C++ runtime that the program
// never needs in full. Linked into the product only.
//
// The library's own throw helpers build std::logic_error and friends, which
// keep their message in the old reference-counted string and drag in a
// second copy of the whole string class (and, through it, std::random_device
// with its imports). The program throws and catches its own RuntimeError; a
// library error only ever reaches a catch (...) that rethrows, or ends the
// program. So these helpers throw one small exception type that keeps the
// message (for a failed cast or type lookup, the standard type's name), and
// the allocation helpers throw std::bad_alloc, which operator new needs
// anyway.
#include <unwind.h>
#include <windows.h>

#include <ext/concurrence.h>  // __gthread_mutex_t

#include <cstdlib>
#include <exception>
#include <new>
#include <string>
#include <typeinfo>

// The string class compiled here, for size, instead of the library's copy,
// which is built for speed with full unwind tables: the linker then takes
// no string code from the library, and drops the members nobody calls.
template class std::basic_string<char>;

namespace {

class LibraryError : public std::exception {
public:
    explicit LibraryError(const char* message) noexcept : message_(message) {}
    const char* what() const noexcept override { return message_; }

private:
    const char* message_;  // a literal of the library's
};

}  // namespace

namespace std {
void __throw_bad_alloc() { throw bad_alloc(); }
void __throw_bad_array_new_length() { throw bad_alloc(); }
void __throw_bad_cast() { throw LibraryError("std::bad_cast"); }
void __throw_bad_typeid() { throw LibraryError("std::bad_typeid"); }
void __throw_bad_exception() { throw bad_exception(); }
void __throw_logic_error(const char* message) { throw LibraryError(message); }
void __throw_domain_error(const char* message) { throw LibraryError(message); }
void __throw_invalid_argument(const char* message) { throw LibraryError(message); }
void __throw_length_error(const char* message) { throw LibraryError(message); }
void __throw_out_of_range(const char* message) { throw LibraryError(message); }
void __throw_runtime_error(const char* message) { throw LibraryError(message); }
void __throw_range_error(const char* message) { throw LibraryError(message); }
void __throw_overflow_error(const char* message) { throw LibraryError(message); }
void __throw_underflow_error(const char* message) { throw LibraryError(message); }
// The format's arguments are dropped: the format alone says what went wrong.
void __throw_out_of_range_fmt(const char* format, ...) { throw LibraryError(format); }
}  // namespace std

// The default terminate handler prints demangled type names and pulls the
// demangler into the program; a plain abort is enough here.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

extern "C" {
// Link-time optimisation gives the C language's personality routine to the
// functions whose exception tables hold only clean-ups (destructors to run
// while an exception passes): the routine is chosen when the tables are
// made, in the link, where the source language is no longer known. The C++
// routine reads the same tables and runs the same clean-ups (and where they
// mark code that must not throw, ends the program as C++ requires), so it
// serves those functions too, and the C routine stays out of the program.
// Kept ("used") because the references to it appear only with those tables.
_Unwind_Reason_Code __gxx_personality_v0(int, _Unwind_Action, _Unwind_Exception_Class, _Unwind_Exception*,
                                         _Unwind_Context*);
__attribute__((used)) _Unwind_Reason_Code __gcc_personality_v0(int version, _Unwind_Action actions,
                                                               _Unwind_Exception_Class exceptionClass,
                                                               _Unwind_Exception* exception,
                                                               _Unwind_Context* context) {
    return __gxx_personality_v0(version, actions, exceptionClass, exception, context);
}

// The start-up code patches references to data that a DLL exports but that
// were linked without a dllimport declaration ("pseudo-relocations"). The
// program has none, as its link refuses them (--disable-auto-import), so
// there is nothing to patch: the runtime's patcher, with its section walker
// and its error printing, stays out of the program.
void _pei386_runtime_relocator() {}

// The start-up code installs the runtime's math error handler, which prints
// to the console, only when _MINGW_INSTALL_DEBUG_MATHERR asks for it, and the
// program never does. This handler stands in for it so that the printing one
// is not linked; like it, it leaves every math error to the library's default
// handling.
int _matherr(struct _exception*) { return 0; }
}

// The unwinder of the compiler's exception support creates a semaphore with
// CreateSemaphoreW, which the 95 family has only as a stub that fails. It is
// unnamed, so the program gives the unwinder the ANSI call instead, through
// the import slot the unwinder calls.
namespace {
HANDLE WINAPI CreateUnnamedSemaphore(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum, LPCWSTR name) {
    if (name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return CreateSemaphoreA(attributes, initial, maximum, nullptr);
}
}  // namespace

extern "C" {
extern decltype(&CreateUnnamedSemaphore) const createSemaphoreWSlot __asm__("__imp__CreateSemaphoreW@16");
__attribute__((used)) decltype(&CreateUnnamedSemaphore) const createSemaphoreWSlot = &CreateUnnamedSemaphore;
}

// The program runs all its code on one thread (its timers and DDE callbacks
// arrive on that thread too), and the support library's thread machinery
// is left out where it only guards against other threads:
//
// - The library keeps, for each thread, the exceptions being handled and
//   the number in flight, in thread-local storage that it emulates with a
//   runtime of its own. One record serves here. Should an exception ever be
//   handled on another thread, the program ends rather than share it.
// - The library's reserve for exceptions thrown when memory has run out is
//   guarded by a mutex of the compiler's thread support. With one thread
//   there is nothing to guard: the mutex does nothing, and that support
//   stays out of the program.
namespace __cxxabiv1 {
struct __cxa_eh_globals {  // as the C++ ABI lays it out
    void* caughtExceptions;
    unsigned int uncaughtExceptions;
};
}  // namespace __cxxabiv1

extern "C" {
__cxxabiv1::__cxa_eh_globals* __cxa_get_globals() noexcept {
    static __cxxabiv1::__cxa_eh_globals globals;
    static const DWORD thread = GetCurrentThreadId();
    if (GetCurrentThreadId() != thread) std::abort();
    return &globals;
}
__cxxabiv1::__cxa_eh_globals* __cxa_get_globals_fast() noexcept { return __cxa_get_globals(); }

void __gthr_win32_mutex_init_function(__gthread_mutex_t*) {}
void __gthr_win32_mutex_destroy(__gthread_mutex_t*) {}
int __gthr_win32_mutex_lock(__gthread_mutex_t*) { return 0; }
int __gthr_win32_mutex_unlock(__gthread_mutex_t*) { return 0; }
}
