// Reading trace lines against the trace's vocabulary (platform/TraceVocabulary.h): whether a line has
// one of its forms, and whether one key's value is one it lists.
#pragma once

#include <algorithm>
#include <string_view>
#include <vector>

#include "platform/TraceVocabulary.h"

namespace velmor::test {

inline std::vector<std::string_view> SplitAtSpaces(std::string_view text) {
  std::vector<std::string_view> words;
  while (!text.empty()) {
    const std::size_t space = text.find(' ');
    if (space != 0) {
      words.push_back(text.substr(0, space));
    }
    text = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
  }
  return words;
}

// Whether `value` is one that the field lists: one of its words, a decimal number, or a version.
inline bool ValueFits(const trace::Field& field, std::string_view value) {
  const auto all = [value](auto allowed) { return !value.empty() && std::all_of(value.begin(), value.end(), allowed); };
  if (field.values == trace::kNumber) {
    return all([](char c) { return c >= '0' && c <= '9'; });
  }
  if (field.values == trace::kVersion) {
    return all([](char c) { return (c >= '0' && c <= '9') || c == '.'; }) && value.front() != '.';
  }
  return trace::ListHolds(field.values, value);
}

// Whether the line ("velmor <id>: <event> key=value ...", with or without its prefix and line feed)
// has one of the vocabulary's forms: its event, exactly the form's keys in their order, and values
// that each key takes.
inline bool FitsTheVocabulary(std::string_view line) {
  if (const std::size_t colon = line.find(": "); line.starts_with("velmor ") && colon != std::string_view::npos) {
    line.remove_prefix(colon + 2);
  }
  while (line.ends_with('\n')) {
    line.remove_suffix(1);
  }
  const std::vector<std::string_view> words = SplitAtSpaces(line);
  return !words.empty() && std::any_of(trace::kForms.begin(), trace::kForms.end(), [&words](const trace::Form& form) {
    if (form.event != words.front()) {
      return false;
    }
    std::size_t next = 1;
    for (const trace::Field& field : form.fields) {
      if (field.key.empty()) {
        break;
      }
      const std::string_view pair = next < words.size() ? words[next++] : std::string_view();
      const std::size_t equals = pair.find('=');
      if (equals == std::string_view::npos || pair.substr(0, equals) != field.key ||
          !ValueFits(field, pair.substr(equals + 1))) {
        return false;
      }
    }
    return next == words.size();
  });
}

}  // namespace velmor::test
