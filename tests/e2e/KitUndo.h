// What a run of the suite may leave on a machine, and its undoing by the test kit whatever the suite
// did (a case that failed half-way, a suite ended by Ctrl+C or the watchdog): the values it writes,
// as they were before the run; its service stand-in; the programs it started; the kit's packages it
// installed and the folders they leave; the case folders.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/e2e/Registry.h"

namespace velmor::e2e::kit {

class MachineSnapshot {
 public:
  // The values the suite writes, as they are now.
  static MachineSnapshot Take();

  // Removes the service stand-in, uninstalls those of `packages` (the kit's installers) that are
  // installed, ends every process of the kit's programs and of the programs copied into the case
  // folders of the suite's process `suiteProcessId`, puts every value and key back as it was taken,
  // removes the packages' folders that the run made, when empty, and those case folders. Returns what could not be
  // undone, one line each: empty when nothing of the run is left.
  [[nodiscard]] std::vector<std::string> Undo(DWORD suiteProcessId, const std::vector<std::wstring>& packages) const;

 private:
  struct SavedValue {
    RegistryPlace place;
    std::optional<RegistryValue> value;   // as stored (strings in UTF-16); nothing when absent
    std::vector<std::string> absentKeys;  // the value's key and those above it that did not exist, outermost first
  };

  std::vector<SavedValue> values_;
  std::vector<std::wstring> madeFolders_;  // folders the kit's packages may make, absent before the run
};

}  // namespace velmor::e2e::kit
