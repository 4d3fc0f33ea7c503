// The trace's vocabulary: every line the agent writes has one of the forms below, an event followed by
// its keys in this order, each key with the values it takes. Support reads the lines through
// docs/INSTALLERS.md, which shows this table and is checked against it, as is the agent's own code
// against it: the code names no event, key or word that is not here (platform/Trace.h checks each
// when it is compiled), and each one here is written somewhere.
//
// A new line is one entry here, a new value one word in its key's list; then the docs' table.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>

namespace velmor::trace {

// A key's values: its words, separated by single spaces; or one of these.
inline constexpr std::string_view kNumber = "<number>";    // in decimal: a count, an id or a Win32 status
inline constexpr std::string_view kVersion = "<version>";  // the agent's version, N.N.N or N.N.N.N
inline constexpr std::string_view kYesNo = "yes no";

struct Field {
  std::string_view key;
  std::string_view values;
};

inline constexpr std::size_t kMaxFields = 6;

struct Form {
  std::string_view event;
  std::array<Field, kMaxFields> fields;  // the unused ones at the end, with an empty key
};

inline constexpr std::array kForms = {
    Form{"start",
         {{{"arg", "none firststart firstnotstartbutrestart other"},
           {"marker", "new new-lock-held-by-no-agent new-resident-elsewhere existed denied other-object kept"},
           {"product", "absent hidden visible"},
           {"elevated", kYesNo},
           {"interactive", kYesNo},
           {"version", kVersion}}}},
    Form{"start", {{{"marker", "failed"}, {"error", kNumber}, {"version", kVersion}}}},
    Form{"road",
         {{{"install-time", "first-start restart-only"},
           {"value-read", kNumber},
           {"tail-kept", kYesNo},
           {"rewritten", kYesNo},
           {"product-running", kYesNo},
           {"other-version", kYesNo}}}},
    Form{"road", {{{"logon", "stay switched-off"}, {"value-read", kNumber}}}},
    Form{"road", {{{"second-agent", "bring-product-forward"}, {"watchdog", kYesNo}}}},
    Form{"version-gate", {{{"passed", kYesNo}}}},
    Form{"service", {{{"open-manager-error", kNumber}}}},
    Form{"service", {{{"open-service-error", kNumber}}}},
    Form{"service", {{{"attempts", kNumber}, {"result", kNumber}}}},
    Form{"activation", {{{"attempt", kNumber}, {"tray-click", kYesNo}, {"result", "shown switch-unfinished"}}}},
    Form{"activation",
         {{{"attempt", kNumber},
           {"window", "absent hidden not-answering"},
           {"tray-click", kYesNo},
           {"result", "waiting gave-up"}}}},
    Form{"resident", {{{"after", "activation activation-gave-up"}}}},
    Form{"command", {{{"wparam", kNumber}, {"lparam", kNumber}, {"action", "quit open-page ignored"}}}},
    Form{"takeover",
         {{{"first-agent", "quit gone hung-ended hung-not-ended hung-left-alone none-found none-resident"}}}},
    Form{"takeover", {{{"residence-lock", "held-by-no-agent"}}}},
    Form{"dialog", {{{"shown", "no"}, {"window-station", "non-interactive"}}}},
    Form{"dialog", {{{"shown", "no"}, {"error", kNumber}}}},
    Form{"restart-prompt", {{{"reboot-asked", kYesNo}}}},
    Form{"reboot", {{{"error", kNumber}}}},
    Form{"timer", {{{"id", kNumber}, {"refused", kNumber}}}},
    Form{"end",
         {{{"reason",
            "activation-done activation-gave-up install-time-done restart-prompt switched-off os-not-supported "
            "service-request-failed elevated non-interactive takeover-lost quit-command close-request "
            "restart-manager session-end quit-message window-gone timer-refused marker-failed"}}}},
    Form{"end", {{{"reason", "window-not-created"}, {"error", kNumber}}}},
};

// Whether `word` is one of the space-separated words of `list`.
constexpr bool ListHolds(std::string_view list, std::string_view word) {
  while (!list.empty()) {
    const std::size_t space = list.find(' ');
    if (list.substr(0, space) == word) {
      return true;
    }
    list = space == std::string_view::npos ? std::string_view() : list.substr(space + 1);
  }
  return false;
}

// Whether the values are words, rather than a number or the version.
constexpr bool TakesWords(const Field& field) {
  return field.values != kNumber && field.values != kVersion;
}

enum class Part { Event, Key, Word };

// Whether some form has `text` as its event, as one of its keys, or as one of its keys' words.
constexpr bool InVocabulary(Part part, std::string_view text) {
  const auto fieldHolds = [part, text](const Field& field) {
    return !field.key.empty() && ((part == Part::Key && field.key == text) ||
                                  (part == Part::Word && TakesWords(field) && ListHolds(field.values, text)));
  };
  return std::any_of(kForms.begin(), kForms.end(), [part, text, &fieldHolds](const Form& form) {
    return (part == Part::Event && form.event == text) ||
           std::any_of(form.fields.begin(), form.fields.end(), fieldHolds);
  });
}

}  // namespace velmor::trace
