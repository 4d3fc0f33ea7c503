// The agent's trace: one short line per decision on the system's debug output channel, which costs
// next to nothing while nobody listens. Support reads it with `velmorctl trace` or any debug-output
// viewer. Each line reads "velmor <process id>: <event> key=value ...", and holds nothing that a user
// would not put in a support ticket.
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/AgentPlatform.h"
#include "platform/TraceVocabulary.h"

namespace velmor {

namespace trace {
// Called where a name is not in the vocabulary: not a constant expression, so the code naming it does
// not compile.
inline void NameIsNotInTheTraceVocabulary() {}
}  // namespace trace

// An event, key or value word of the trace, checked against its vocabulary (platform/TraceVocabulary.h)
// when the code is compiled: a literal or a constant that the vocabulary lacks does not compile.
template <trace::Part part>
class TraceName {
 public:
  // Implicit, so that a literal is written as it is: TraceLine(os, "service").Add("attempts", 3).
  // cppcheck-suppress noExplicitConstructor
  consteval TraceName(const char* text) : TraceName(std::string_view(text)) {}  // NOLINT(google-explicit-constructor)
  // cppcheck-suppress noExplicitConstructor
  consteval TraceName(std::string_view text) : text_(text) {  // NOLINT(google-explicit-constructor)
    if (!trace::InVocabulary(part, text)) {
      trace::NameIsNotInTheTraceVocabulary();
    }
  }
  [[nodiscard]] constexpr std::string_view Text() const { return text_; }

 private:
  std::string_view text_;
};
using TraceEvent = TraceName<trace::Part::Event>;
using TraceKey = TraceName<trace::Part::Key>;
// One of a key's words; where the word is chosen as the code runs, each choice is one:
//   shown ? TraceWord("activation-done") : TraceWord("activation-gave-up")
using TraceWord = TraceName<trace::Part::Word>;

// How each line starts: "velmor <process id>: ".
std::string TraceLinePrefix(std::uint32_t processId);

// One line, written when the object goes, at the end of the statement that made it:
//   TraceLine(os, "service").Add("attempts", 3).Add("result", 0);
class TraceLine {
 public:
  TraceLine(AgentPlatform& os, const TraceEvent& event);
  TraceLine(const TraceLine&) = delete;
  TraceLine& operator=(const TraceLine&) = delete;
  ~TraceLine();

  TraceLine& Add(const TraceKey& key, const TraceWord& word);
  TraceLine& Add(const TraceKey& key, std::uint32_t number);
  // Only a bool: a literal would otherwise take this overload rather than the word's.
  template <std::same_as<bool> Bool>
  TraceLine& Add(const TraceKey& key, Bool yes) {
    return Add(key, yes ? TraceWord("yes") : TraceWord("no"));
  }
  // A value that the vocabulary gives as a kind of its own rather than as words: the agent's version.
  TraceLine& AddText(const TraceKey& key, std::string_view text);

 private:
  AgentPlatform& os_;
  std::string text_;
};

}  // namespace velmor
