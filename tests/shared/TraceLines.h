// Reading the agent's trace lines, for the host and the Windows-side cases alike: a line as its event
// and its key=value fields, whether a line says what a case expects (whole fields, never a part of
// one), and whether it has one of the vocabulary's forms (platform/TraceVocabulary.h).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
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

// A trace line ("velmor <id>: <event> key=value ...", with or without its prefix and line feed): its
// event and its fields in their order. A word without "=" after the event is a field without a value.
struct TraceLineFields {
  std::string_view event;
  std::vector<std::pair<std::string_view, std::string_view>> fields;
};
inline TraceLineFields ReadTraceLine(std::string_view line) {
  if (const std::size_t colon = line.find(": "); line.starts_with("velmor ") && colon != std::string_view::npos) {
    line.remove_prefix(colon + 2);
  }
  while (line.ends_with('\n') || line.ends_with('\r')) {
    line.remove_suffix(1);
  }
  TraceLineFields read;
  for (const std::string_view word : SplitAtSpaces(line)) {
    const std::size_t equals = word.find('=');
    if (read.event.empty() && read.fields.empty() && equals == std::string_view::npos) {
      read.event = word;
    } else {
      read.fields.emplace_back(word.substr(0, equals),
                               equals == std::string_view::npos ? std::string_view() : word.substr(equals + 1));
    }
  }
  return read;
}

// Whether the line says what `expected` does ("end reason=quit-command", "marker=existed", "resident"):
// the same event where `expected` names one, and each of its fields with exactly that value.
inline bool SaysWhat(std::string_view line, std::string_view expected) {
  const TraceLineFields said = ReadTraceLine(line);
  const TraceLineFields wanted = ReadTraceLine(expected);
  return (wanted.event.empty() || wanted.event == said.event) &&
         std::all_of(wanted.fields.begin(), wanted.fields.end(), [&said](const auto& field) {
           return std::find(said.fields.begin(), said.fields.end(), field) != said.fields.end();
         });
}

// Whether one of `lines` says `expected`; where none does, the failure shows them all.
inline ::testing::AssertionResult SaidAmong(const std::vector<std::string>& lines, std::string_view expected) {
  std::string all;
  for (const std::string& line : lines) {
    if (SaysWhat(line, expected)) {
      return ::testing::AssertionSuccess();
    }
    all += line.ends_with('\n') ? line : line + "\n";
  }
  return ::testing::AssertionFailure() << "no \"" << expected << "\" in:\n" << all;
}

// Whether the line has one of the vocabulary's forms: its event, exactly the form's keys in their
// order, and values that each key takes.
inline bool FitsTheVocabulary(std::string_view line) {
  const TraceLineFields read = ReadTraceLine(line);
  return !read.event.empty() &&
         std::any_of(trace::kForms.begin(), trace::kForms.end(), [&read](const trace::Form& form) {
           if (form.event != read.event) {
             return false;
           }
           std::size_t next = 0;
           for (const trace::Field& field : form.fields) {
             if (field.key.empty()) {
               break;
             }
             if (next == read.fields.size() || read.fields[next].first != field.key ||
                 !ValueFits(field, read.fields[next].second)) {
               return false;
             }
             ++next;
           }
           return next == read.fields.size();
         });
}

}  // namespace velmor::test
