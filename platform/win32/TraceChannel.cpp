#include "platform/win32/TraceChannel.h"

#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <type_traits>

#include "platform/win32/DebugOutputChannel.h"
#include "platform/win32/Win32Handles.h"

namespace velmor::win32impl {
namespace {

using namespace debug_channel;

// The writers' mutex, owned for the scope when it could be taken in time.
class MutexTurn {
 public:
  MutexTurn(HANDLE mutex, DWORD waitMs) : mutex_(mutex) {
    const DWORD waited = mutex_ != nullptr ? ::WaitForSingleObject(mutex_, waitMs) : WAIT_FAILED;
    owned_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
  }
  MutexTurn(const MutexTurn&) = delete;
  MutexTurn& operator=(const MutexTurn&) = delete;
  ~MutexTurn() {
    if (owned_) {
      ::ReleaseMutex(mutex_);
    }
  }
  [[nodiscard]] bool Owned() const { return owned_; }

 private:
  HANDLE mutex_;
  bool owned_ = false;
};

}  // namespace

void TraceChannel::Write(std::string_view line) {
  if (::IsDebuggerPresent() != FALSE) {
    // A debugger attached to the agent takes the line itself, as an event of its own.
    const std::string copy(line);
    ::OutputDebugStringA(copy.c_str());
    return;
  }
  // The listener's objects are looked up afresh for each line and never kept: a handle kept open
  // would keep their names alive after the listener ends, and the next listener, finding them taken,
  // would refuse to start. The buffer's event comes first: while nobody listens, as nearly always, a
  // line costs that one look-up and no more.
  const UniqueWin32Handle bufferReady(::OpenEventW(SYNCHRONIZE, FALSE, kBufferReadyName));
  if (!bufferReady) {
    stalled_ = false;  // nobody listens
    return;
  }
  const UniqueWin32Handle mapping(::OpenFileMappingW(FILE_MAP_WRITE, FALSE, kBufferName));
  const UniqueWin32Handle dataReady(::OpenEventW(EVENT_MODIFY_STATE, FALSE, kDataReadyName));
  if (!mapping || !dataReady) {
    stalled_ = false;  // a listener starting or ending: not yet, or no longer, all there
    return;
  }
  const UniqueWin32View view = MapBuffer(mapping.get(), FILE_MAP_WRITE);
  if (!view) {
    return;  // not a listener's buffer (one too small to hold a line)
  }
  const DWORD waitMs = stalled_ ? 0 : kWaitMs;
  // Without the writers' mutex the buffer's own event still gives the buffer to one writer at a time.
  const UniqueWin32Handle mutex(::OpenMutexW(SYNCHRONIZE, FALSE, kWritersMutexName));
  const MutexTurn turn(mutex.get(), waitMs);
  if ((mutex && !turn.Owned()) || ::WaitForSingleObject(bufferReady.get(), waitMs) != WAIT_OBJECT_0) {
    stalled_ = true;
    return;
  }
  auto* const bytes = static_cast<char*>(view.get());
  const DWORD writer = ::GetCurrentProcessId();
  std::memcpy(bytes, &writer, sizeof writer);
  const std::size_t length = std::min(line.size(), kMaxText);
  std::memcpy(bytes + sizeof writer, line.data(), length);
  bytes[sizeof writer + length] = '\0';
  ::SetEvent(dataReady.get());
  stalled_ = false;
}

}  // namespace velmor::win32impl
