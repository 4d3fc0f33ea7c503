// The owners of the handles that the logic opens: a close keeps the last error that the caller is
// about to read; put() gives an out-parameter's slot, closing what was held; release() hands the
// handle over unclosed.
#include <gtest/gtest.h>

#include "platform/ScopedHandles.h"
#include "tests/host/sim/SimDesktop.h"

namespace velmor::sim {
namespace {

TEST(UniqueHandle, KeepsTheLastErrorAcrossACloseAndHandsTheHandleOverOnRequest) {
  SimDesktop desktop;
  SimProcess& process = desktop.CreateBareProcess(L"x.exe", "C:\\x.exe");

  // A close that fails itself, as one of a stale handle does, leaves the caller's last error alone.
  UniqueKernelHandle stale(process, KernelHandle{0x999});
  EXPECT_EQ(process.OpenFileMappingA(win32::kFileMapAllAccess, false, "missing"), kNoHandle);
  stale.reset();
  EXPECT_EQ(process.InvalidHandleCloses(), 1);
  EXPECT_EQ(process.GetLastError(), kErrorFileNotFound) << "the close changed the last error";

  desktop.registry64.SetString("SOFTWARE\\K", "V", "x");
  UniqueRegistryKey key(process);
  ASSERT_EQ(process.RegOpenKeyExA(kHkeyLocalMachine, "SOFTWARE\\K", 0, win32::kKeyQueryValue, key.put()), 0U);
  EXPECT_TRUE(key);
  ASSERT_EQ(process.RegOpenKeyExA(kHkeyLocalMachine, "SOFTWARE\\K", 0, win32::kKeyQueryValue, key.put()), 0U);
  EXPECT_EQ(process.OpenHandles(HandleKind::RegistryKey), 1) << "put() did not close the key it held";

  const RegistryKey released = key.release();
  EXPECT_FALSE(key);
  key.reset();
  EXPECT_EQ(process.OpenHandles(HandleKind::RegistryKey), 1) << "a released key was closed";
  EXPECT_EQ(process.RegCloseKey(released), 0U);
  EXPECT_EQ(process.InvalidHandleCloses(), 1);
}

}  // namespace
}  // namespace velmor::sim
