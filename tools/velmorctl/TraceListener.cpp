// The listening side of the debug output channel that OutputDebugString writes to: the writer waits
// for DBWIN_BUFFER_READY, puts its process id and text into the DBWIN_BUFFER mapping and sets
// DBWIN_DATA_READY. Only one listener can hold the channel at a time.
#include "tools/velmorctl/TraceListener.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/Trace.h"
#include "tools/velmorctl/Console.h"

namespace velmor::ctl {
namespace {

constexpr DWORD kBufferSize = 4096;

// An owned kernel handle (events, the mapping) and an owned view.
class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (handle_ != nullptr) {
      CloseHandle(handle_);
    }
  }
  [[nodiscard]] HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;
};

class View {
 public:
  explicit View(HANDLE mapping) : view_(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, kBufferSize)) {}
  View(const View&) = delete;
  View& operator=(const View&) = delete;
  ~View() {
    if (view_ != nullptr) {
      UnmapViewOfFile(view_);
    }
  }
  [[nodiscard]] const char* Bytes() const { return static_cast<const char*>(view_); }

 private:
  void* view_;
};

// Made by this listener, or it refuses: a name that exists already belongs to another listener.
HANDLE CreateOwnEvent(const wchar_t* name) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, name);
  if (event != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(event);
    return nullptr;
  }
  return event;
}

std::wstring TwoDigits(unsigned number) {
  return std::wstring(1, static_cast<wchar_t>(L'0' + number / 10 % 10)) + static_cast<wchar_t>(L'0' + number % 10);
}

std::wstring TimeStamp() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const std::wstring millis = Decimal(1000U + now.wMilliseconds).substr(1);
  return TwoDigits(now.wHour) + L":" + TwoDigits(now.wMinute) + L":" + TwoDigits(now.wSecond) + L"." + millis;
}

// An agent's line starts with the agent's name and the id of the process that wrote it.
bool IsAgentLine(DWORD writer, std::string_view text) {
  std::string prefix(kTraceProgramName);
  prefix += ' ';
  for (const wchar_t digit : Decimal(writer)) {
    prefix += static_cast<char>(digit);
  }
  prefix += ':';
  return text.substr(0, prefix.size()) == prefix;
}

void PrintLine(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  Say(TimeStamp() + L" " + wide + L"\n");
}

}  // namespace

bool PrintAgentTrace(DWORD seconds) {
  const Handle bufferReady(CreateOwnEvent(L"DBWIN_BUFFER_READY"));
  const Handle dataReady(CreateOwnEvent(L"DBWIN_DATA_READY"));
  const Handle mapping(
      CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBufferSize, L"DBWIN_BUFFER"));
  if (bufferReady.Get() == nullptr || dataReady.Get() == nullptr || mapping.Get() == nullptr) {
    Write(STD_ERROR_HANDLE,
          L"velmorctl: another program (a debugger or a debug-output viewer) already listens to debug output;\n"
          L"close it, or read the agent's lines there.\n");
    return false;
  }
  const View view(mapping.Get());
  if (view.Bytes() == nullptr) {
    Write(STD_ERROR_HANDLE, L"velmorctl: the debug output buffer cannot be read\n");
    return false;
  }
  Say(L"Listening for the agents' trace lines" +
      (seconds == 0 ? std::wstring(L" (Ctrl+C ends)") : L" for " + Decimal(seconds) + L" seconds") + L".\n");
  const ULONGLONG end = GetTickCount64() + 1000ULL * seconds;
  for (;;) {
    DWORD wait = INFINITE;
    if (seconds != 0) {
      const ULONGLONG now = GetTickCount64();
      if (now >= end) {
        return true;
      }
      wait = static_cast<DWORD>(end - now);
    }
    SetEvent(bufferReady.Get());
    if (WaitForSingleObject(dataReady.Get(), wait) != WAIT_OBJECT_0) {
      continue;  // the time is over: the loop ends at its top
    }
    DWORD writer = 0;
    std::memcpy(&writer, view.Bytes(), sizeof writer);
    const char* text = view.Bytes() + sizeof writer;
    const std::string_view line(text, strnlen(text, kBufferSize - sizeof writer));
    if (IsAgentLine(writer, line)) {
      PrintLine(line);
    }
  }
}

}  // namespace velmor::ctl
