// The listening side of the debug output channel (platform/win32/DebugOutputChannel.h). Only one
// listener can hold the channel at a time. Writers wait for the buffer, so it is handed back as soon
// as a line is copied out, before the line is looked at or printed.
//
// Any program can write to the channel and put any process id before its text: a line is shown only
// when the process of that id is an agent. The listener ends once nobody reads its output.
#include "tools/velmorctl/TraceListener.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <utility>

#include "app/SingleInstance.h"
#include "platform/ScopedHandles.h"
#include "platform/Trace.h"
#include "platform/win32/DebugOutputChannel.h"
#include "platform/win32/Win32Handles.h"
#include "tools/velmorctl/Console.h"

namespace velmor::ctl {
namespace {

using namespace win32impl::debug_channel;

// How often the listener looks whether anybody still reads its output while no line comes.
constexpr DWORD kOutputCheckMs = 1000;

// Made by this listener, or it refuses: a name that exists already belongs to another listener, or
// to a program squatting it to feed listeners lines of its own.
HANDLE OwnObjectOrNull(HANDLE object) {
  if (object != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(object);
    return nullptr;
  }
  return object;
}

HANDLE CreateOwnEvent(const wchar_t* name) {
  return OwnObjectOrNull(CreateEventW(nullptr, FALSE, FALSE, name));
}

// The writers seen so far, each with its process held open, so that its id is not given to another
// process while it is remembered: an agent's last line comes just before its process ends.
class Writers {
 public:
  explicit Writers(AgentPlatform& os) : os_(os) {}

  // Whether the process `id` is an agent, as the agents themselves tell one (app/SingleInstance.h).
  bool IsAgent(DWORD id) {
    if (const auto known = writers_.find(id); known != writers_.end()) {
      return known->second.isAgent;
    }
    UniqueKernelHandle process(
        os_, os_.OpenProcess(win32::kProcessQueryLimitedInformation | win32::kSynchronize, false, id));
    if (!process) {
      return false;  // gone before its first line was looked at, or not ours to look at
    }
    const bool isAgent = IsAgentOfThisSession(os_, process.get(), id);
    if (writers_.size() >= kMaxRemembered) {
      ForgetEnded();
    }
    if (writers_.size() < kMaxRemembered) {  // else looked at again at its next line
      writers_.try_emplace(id, Writer{std::move(process), isAgent});
    }
    return isAgent;
  }

 private:
  static constexpr std::size_t kMaxRemembered = 64;

  struct Writer {
    UniqueKernelHandle process;
    bool isAgent;  // cppcheck-suppress unusedStructMember ; read through the map's iterator
  };

  void ForgetEnded() {
    std::erase_if(writers_, [this](const auto& entry) {
      return os_.WaitForSingleObject(entry.second.process.get(), 0) == win32::kWaitObject0;
    });
  }

  AgentPlatform& os_;
  std::map<DWORD, Writer> writers_;
};

std::wstring TwoDigits(unsigned number) {
  return std::wstring(1, static_cast<wchar_t>(L'0' + number / 10 % 10)) + static_cast<wchar_t>(L'0' + number % 10);
}

std::wstring TimeStamp() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  const std::wstring millis = Decimal(1000U + now.wMilliseconds).substr(1);
  return TwoDigits(now.wHour) + L":" + TwoDigits(now.wMinute) + L":" + TwoDigits(now.wSecond) + L"." + millis;
}

// An agent's line starts as the agent starts each (platform/Trace.h), with the id of the process that
// wrote it.
bool IsAgentLine(DWORD writer, std::string_view text) {
  return text.starts_with(TraceLinePrefix(writer));
}

bool PrintLine(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return Say(TimeStamp() + L" " + wide + L"\n");
}

}  // namespace

bool PrintAgentTrace(AgentPlatform& os, DWORD seconds) {
  const UniqueWin32Handle bufferReady(CreateOwnEvent(kBufferReadyName));
  const UniqueWin32Handle dataReady(CreateOwnEvent(kDataReadyName));
  const UniqueWin32Handle mapping(OwnObjectOrNull(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                                                     static_cast<DWORD>(kBufferSize), kBufferName)));
  if (bufferReady.get() == nullptr || dataReady.get() == nullptr || mapping.get() == nullptr) {
    Write(STD_ERROR_HANDLE,
          L"velmorctl: another program (a debugger or a debug-output viewer) already listens to debug output,\n"
          L"or holds its names; close it, or read the agent's lines there.\n");
    return false;
  }
  const UniqueWin32View view = MapBuffer(mapping.get(), FILE_MAP_READ);
  if (!view) {
    Write(STD_ERROR_HANDLE, L"velmorctl: the debug output buffer cannot be read\n");
    return false;
  }
  if (!Say(L"Listening for the agents' trace lines" +
           (seconds == 0 ? std::wstring(L" (Ctrl+C ends)") : L" for " + Decimal(seconds) + L" seconds") + L".\n")) {
    return true;  // nobody reads: done
  }
  const ULONGLONG end = GetTickCount64() + 1000ULL * seconds;
  Writers writers(os);
  SetEvent(bufferReady.get());
  for (;;) {
    DWORD wait = kOutputCheckMs;
    if (seconds != 0) {
      const ULONGLONG now = GetTickCount64();
      if (now >= end) {
        return true;
      }
      wait = static_cast<DWORD>(std::min<ULONGLONG>(end - now, kOutputCheckMs));
    }
    if (WaitForSingleObject(dataReady.get(), wait) != WAIT_OBJECT_0) {
      if (OutputClosed()) {
        return true;  // nobody reads any more: the channel goes back to the next listener
      }
      continue;  // the time is over, or a look at the output is due
    }
    DWORD writer = 0;
    const auto* const bytes = static_cast<const char*>(view.get());
    std::memcpy(&writer, bytes, sizeof writer);
    const char* text = bytes + sizeof writer;
    const std::string line(text, strnlen(text, kBufferSize - sizeof writer));
    SetEvent(bufferReady.get());  // the next writer need not wait for the console
    if (IsAgentLine(writer, line) && writers.IsAgent(writer) && !PrintLine(line)) {
      return true;
    }
  }
}

}  // namespace velmor::ctl
