// A DLL that a hostile program would plant in another program's folder under the name of a system DLL
// that is loaded late. When a process loads it, it appends that process's image path to the file named
// by VELMOR_PLANTED_LOG, then refuses to load.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
  if (reason != DLL_PROCESS_ATTACH) {
    return TRUE;
  }
  char logPath[MAX_PATH] = {};
  char image[MAX_PATH] = {};
  const DWORD logLength = ::GetEnvironmentVariableA("VELMOR_PLANTED_LOG", logPath, MAX_PATH);
  const DWORD imageLength = ::GetModuleFileNameA(nullptr, image, MAX_PATH - 2);
  if (logLength > 0 && logLength < MAX_PATH && imageLength > 0) {
    image[imageLength] = '\r';
    image[imageLength + 1] = '\n';
    HANDLE log = ::CreateFileA(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      ::WriteFile(log, image, imageLength + 2, &written, nullptr);
      ::CloseHandle(log);
    }
  }
  return FALSE;
}
