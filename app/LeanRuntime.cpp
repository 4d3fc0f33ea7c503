// The C++ runtime pieces that the shipped executables (velmor.exe, velmorctl.exe) define themselves,
// so that the static libstdc++ links none of its exception support into them.
//
// They are built without exceptions, yet the library's containers still call its throwing
// functions where a request cannot be met: an allocation that fails, a length beyond max_size(),
// an index out of range. Linking the library's versions of those would bring the unwinder, the
// exception classes, the verbose terminate handler with its name demangler and the printf family,
// six times the agent's own code. None of these can happen in a healthy agent; if one does, the
// process ends at once with exit code 3 (as abort would, without abort's message box, whose loop
// would run the agent's handlers in the middle of the failed operation).
//
// The linker takes these definitions before the library's. If a later change makes the program
// need another of the library's throwing functions, the library's file that defines them all is
// linked as well and the link fails with duplicate definitions: add the new one here.
#include <cstdlib>
#include <new>

namespace {

[[noreturn]] void EndAtFatalRuntimeError() noexcept {
  std::_Exit(3);
}

}  // namespace

// The allocation functions are the runtime's own, over the C heap.
// NOLINTBEGIN(cppcoreguidelines-no-malloc,cppcoreguidelines-owning-memory)
void* operator new(std::size_t size) {
  if (void* memory = std::malloc(size == 0 ? 1 : size)) {
    return memory;
  }
  EndAtFatalRuntimeError();
}

void* operator new[](std::size_t size) {
  return ::operator new(size);
}

void operator delete(void* memory) noexcept {
  std::free(memory);
}

void operator delete[](void* memory) noexcept {
  std::free(memory);
}

void operator delete(void* memory, std::size_t /*size*/) noexcept {
  std::free(memory);
}

void operator delete[](void* memory, std::size_t /*size*/) noexcept {
  std::free(memory);
}

// NOLINTEND(cppcoreguidelines-no-malloc,cppcoreguidelines-owning-memory)

// The throwing functions that std::string, std::wstring and std::vector call (bits/functexcept.h).
// They are libstdc++'s own names, so they are reserved, live in std and keep its C-style signature.
// NOLINTBEGIN(cert-dcl58-cpp,bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,cert-dcl50-cpp)
namespace std {

void __throw_bad_alloc() {
  EndAtFatalRuntimeError();
}

void __throw_bad_array_new_length() {
  EndAtFatalRuntimeError();
}

void __throw_length_error(const char* /*what*/) {
  EndAtFatalRuntimeError();
}

void __throw_logic_error(const char* /*what*/) {
  EndAtFatalRuntimeError();
}

void __throw_out_of_range_fmt(const char* /*format*/, ...) {
  EndAtFatalRuntimeError();
}

}  // namespace std
// NOLINTEND(cert-dcl58-cpp,bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,cert-dcl50-cpp)
