#include "installer/actions/ActionSession.h"

#include <msiquery.h>

#include "platform/ScopedHandles.h"

namespace velmor::installer {
namespace {

struct MsiHandleTraits {
  using Type = MSIHANDLE;
  static void Close(MSIHANDLE handle) { ::MsiCloseHandle(handle); }
  [[nodiscard]] static DWORD LastError() { return ::GetLastError(); }
  static void RestoreLastError(DWORD error) { ::SetLastError(error); }
};
using UniqueMsiHandle = UniqueHandle<MsiHandleTraits>;

}  // namespace

std::wstring ActionSession::Property(std::wstring_view name) const {
  const std::wstring nameCopy(name);
  std::wstring value(256, L'\0');
  auto length = static_cast<DWORD>(value.size());
  UINT status = ::MsiGetPropertyW(install_, nameCopy.c_str(), value.data(), &length);
  if (status == ERROR_MORE_DATA) {
    value.resize(length + 1);  // the length said leaves out the terminating NUL
    length = static_cast<DWORD>(value.size());
    status = ::MsiGetPropertyW(install_, nameCopy.c_str(), value.data(), &length);
  }
  value.resize(status == ERROR_SUCCESS ? length : 0);
  return value;
}

void ActionSession::Log(std::wstring_view line) const {
  // Field 0 is the record's template: the line goes in field 1, so that nothing in it is formatted.
  const UniqueMsiHandle record(::MsiCreateRecord(1));
  if (!record) {
    return;
  }
  const std::wstring text(line);
  ::MsiRecordSetStringW(record.get(), 0, L"[1]");
  ::MsiRecordSetStringW(record.get(), 1, text.c_str());
  ::MsiProcessMessage(install_, INSTALLMESSAGE_INFO, record.get());
}

bool ActionSession::RequestRestartAtEnd() const {
  return ::MsiSetMode(install_, MSIRUNMODE_REBOOTATEND, TRUE) == ERROR_SUCCESS;
}

}  // namespace velmor::installer
