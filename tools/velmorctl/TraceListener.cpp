// The listening side of the debug output channel (platform/win32/DebugOutputChannel.h). Only one
// listener can hold the channel at a time. Writers wait for the buffer, so it is handed back as soon
// as a line is copied out, before the line is looked at or printed.
//
// Any program can write to the channel and put any process id before its text: a line is shown only
// when the process of that id runs velmor.exe.
#include "tools/velmorctl/TraceListener.h"

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <string_view>

#include "peers/AgentContract.h"
#include "platform/AsciiCase.h"
#include "platform/win32/DebugOutputChannel.h"
#include "platform/win32/Win32Handles.h"
#include "tools/velmorctl/Console.h"

namespace velmor::ctl {
namespace {

using namespace win32impl::debug_channel;

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

// Whether a process's image is the agent's, by file name.
bool RunsAgentImage(HANDLE process) {
  std::wstring path(32768, L'\0');
  auto length = static_cast<DWORD>(path.size());
  if (QueryFullProcessImageNameW(process, 0, path.data(), &length) == FALSE) {
    return false;
  }
  path.resize(length);
  const std::wstring name = LowerAscii(path.substr(path.find_last_of(L"\\/") + 1));  // npos + 1: the whole path
  const std::string_view agent = peers::kAgentExecutableName;
  return name == LowerAscii(std::wstring(agent.begin(), agent.end()));
}

// The writers seen so far, each with its process held open, so that its id is not given to another
// process while it is remembered: an agent's last line comes just before its process ends.
class Writers {
 public:
  // Whether the process `id` runs velmor.exe.
  bool IsAgent(DWORD id) {
    if (const auto known = writers_.find(id); known != writers_.end()) {
      return known->second.isAgent;
    }
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, id);
    if (process == nullptr) {
      return false;  // gone before its first line was looked at, or not ours to look at
    }
    const bool isAgent = RunsAgentImage(process);
    if (writers_.size() >= kMaxRemembered) {
      ForgetEnded();
    }
    if (writers_.size() >= kMaxRemembered) {
      CloseHandle(process);  // looked at again at its next line
    } else {
      writers_.try_emplace(id, process, isAgent);
    }
    return isAgent;
  }

 private:
  static constexpr std::size_t kMaxRemembered = 64;

  struct Writer {
    Writer(HANDLE process, bool agent) : handle(process), isAgent(agent) {}
    UniqueWin32Handle handle;
    bool isAgent;
  };

  void ForgetEnded() {
    std::erase_if(writers_,
                  [](const auto& entry) { return WaitForSingleObject(entry.second.handle.get(), 0) == WAIT_OBJECT_0; });
  }

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

// An agent's line starts with the agent's name and the id of the process that wrote it.
bool IsAgentLine(DWORD writer, std::string_view text) {
  std::string prefix(peers::kAgentTraceName);
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
  Say(L"Listening for the agents' trace lines" +
      (seconds == 0 ? std::wstring(L" (Ctrl+C ends)") : L" for " + Decimal(seconds) + L" seconds") + L".\n");
  const ULONGLONG end = GetTickCount64() + 1000ULL * seconds;
  Writers writers;
  SetEvent(bufferReady.get());
  for (;;) {
    DWORD wait = INFINITE;
    if (seconds != 0) {
      const ULONGLONG now = GetTickCount64();
      if (now >= end) {
        return true;
      }
      wait = static_cast<DWORD>(end - now);
    }
    if (WaitForSingleObject(dataReady.get(), wait) != WAIT_OBJECT_0) {
      continue;  // the time is over: the loop ends at its top
    }
    DWORD writer = 0;
    const auto* const bytes = static_cast<const char*>(view.get());
    std::memcpy(&writer, bytes, sizeof writer);
    const char* text = bytes + sizeof writer;
    const std::string line(text, strnlen(text, kBufferSize - sizeof writer));
    SetEvent(bufferReady.get());  // the next writer need not wait for the console
    if (IsAgentLine(writer, line) && writers.IsAgent(writer)) {
      PrintLine(line);
    }
  }
}

}  // namespace velmor::ctl
