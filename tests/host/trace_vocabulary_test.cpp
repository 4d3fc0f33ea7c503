// The trace's vocabulary (platform/TraceVocabulary.h) against the two sides that must agree with it.
// The agent's code cannot name what the table lacks (platform/Trace.h does not compile then); these
// cases find what the table lists and the code never writes, and what the docs say that the table
// does not hold: support reads the lines through docs/INSTALLERS.md.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/TraceVocabulary.h"
#include "tests/shared/TraceLines.h"

namespace velmor::test {
namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// The narrow string literals of C++ source: wide ones and those in comments aside.
void CollectLiterals(std::string_view source, std::set<std::string>& literals) {
  for (std::size_t i = 0; i < source.size(); ++i) {
    if (source.substr(i, 2) == "//") {
      i = source.find('\n', i);
    } else if (source.substr(i, 2) == "/*") {
      i = source.find("*/", i);
    } else if (source[i] == '\'') {
      i = source.find('\'', i + (source[i + 1] == '\\' ? 3 : 2));
    } else if (source[i] == '"') {
      const bool wide = i > 0 && (source[i - 1] == 'L' || source[i - 1] == 'u' || source[i - 1] == 'U');
      std::string literal;
      for (++i; i < source.size() && source[i] != '"'; ++i) {
        if (source[i] == '\\') {
          ++i;
        }
        literal += source[i];
      }
      if (!wide) {
        literals.insert(literal);
      }
    }
    if (i == std::string_view::npos) {
      return;
    }
  }
}

// Every event, key and word of the table is a literal in the agent's code (yes and no as well, which
// the bool overload writes), outside the table itself.
TEST(TraceVocabulary, EveryNameTheTableListsIsWrittenByTheAgentsCode) {
  std::set<std::string> literals;
  const std::filesystem::path top = VELMOR_SOURCE_DIR;
  for (const char* folder : {"app", "integration", "peers", "platform"}) {
    for (const auto& entry : std::filesystem::directory_iterator(top / folder)) {
      const std::string extension = entry.path().extension().string();
      if ((extension == ".cpp" || extension == ".h") && entry.path().filename() != "TraceVocabulary.h") {
        CollectLiterals(ReadFile(entry.path()), literals);
      }
    }
  }
  ASSERT_GT(literals.size(), 50U) << "the sources were not read from " << top;
  for (const trace::Form& form : trace::kForms) {
    EXPECT_TRUE(literals.contains(std::string(form.event))) << "the event " << form.event;
    for (const trace::Field& field : form.fields) {
      if (field.key.empty()) {
        continue;
      }
      EXPECT_TRUE(literals.contains(std::string(field.key))) << form.event << " " << field.key;
      for (const std::string_view word :
           trace::TakesWords(field) ? SplitAtSpaces(field.values) : std::vector<std::string_view>{}) {
        EXPECT_TRUE(literals.contains(std::string(word))) << form.event << " " << field.key << "=" << word;
      }
    }
  }
}

// The table as the docs show it: one line per form, a key's words separated by "|".
std::string TableAsTheDocsShowIt() {
  std::string block = "```text\n";
  for (const trace::Form& form : trace::kForms) {
    block += form.event;
    for (const trace::Field& field : form.fields) {
      if (field.key.empty()) {
        break;
      }
      block += " " + std::string(field.key) + "=";
      const std::vector<std::string_view> words = SplitAtSpaces(field.values);
      for (std::size_t i = 0; i < words.size(); ++i) {
        block += (i == 0 ? "" : "|") + std::string(words[i]);
      }
    }
    block += "\n";
  }
  return block + "```\n";
}

// Whether `pair` ("key=value") is a key of the event's forms (of any form without an event) with a
// value it takes; in the docs, "N" stands for a number, "..." for any value, and a bare "key=" names
// the key. Nothing when `pair` names no key of the vocabulary.
std::optional<bool> PairFits(std::string_view event, std::string_view pair) {
  const std::string_view key = pair.substr(0, pair.find('='));
  const std::string_view value = pair.substr(key.size() + 1);
  std::optional<bool> fits;
  for (const trace::Form& form : trace::kForms) {
    for (const trace::Field& field : form.fields) {
      if (field.key == key && !key.empty() && (event.empty() || form.event == event)) {
        const bool placeholder = value.empty() || value == "..." || (value == "N" && field.values == trace::kNumber);
        fits = fits.value_or(false) || placeholder || ValueFits(field, value);
      }
    }
  }
  return fits;
}

// Whether a code span of the docs that reads as trace ("event key=value ...", or key=value pairs alone,
// after the "<id>: " of a line explained) names a key or value that the trace never writes.
bool NamesWhatTheTraceLacks(std::string_view span) {
  std::vector<std::string_view> words = SplitAtSpaces(span);
  if (!words.empty() && words.front().ends_with(':')) {
    words.erase(words.begin());
  }
  const bool namesEvent = !words.empty() && trace::InVocabulary(trace::Part::Event, words.front());
  const std::string_view event = namesEvent ? words.front() : std::string_view();
  return std::any_of(words.begin(), words.end(), [event, namesEvent](std::string_view word) {
    const std::optional<bool> fits = word.find('=') == std::string_view::npos ? true : PairFits(event, word);
    return fits.has_value() ? !*fits : namesEvent;
  });
}

// INSTALLERS.md shows the table as the code has it; its sample lines have the table's forms; and no
// key or value it names in a code span (in RELIABILITY.md neither) is one that the agent does not write.
// The reference installer's own log lines aside.
TEST(TraceVocabulary, TheDocsShowTheTableAndNameNothingItLacks) {
  const std::filesystem::path top = VELMOR_SOURCE_DIR;
  const std::string guide = ReadFile(top / "docs" / "INSTALLERS.md");
  ASSERT_FALSE(guide.empty());
  const std::string table = TableAsTheDocsShowIt();
  EXPECT_NE(guide.find(table), std::string::npos) << "docs/INSTALLERS.md lacks the table as it is:\n" << table;

  std::size_t samples = 0;
  std::istringstream lines(guide);
  for (std::string line; std::getline(lines, line);) {
    // "hh:mm:ss.mmm velmor <id>: ..." in the sample trace
    if (line.size() > 13 && line[2] == ':' && line[8] == '.' && line.compare(13, 7, "velmor ") == 0) {
      ++samples;
      EXPECT_TRUE(FitsTheVocabulary(line.substr(13))) << "a sample line of no form: " << line;
    }
  }
  EXPECT_GT(samples, 10U);

  for (const char* name : {"INSTALLERS.md", "RELIABILITY.md"}) {
    std::string doc = ReadFile(top / "docs" / name);
    ASSERT_FALSE(doc.empty()) << name;
    // The reference installer's section names the log lines of its own actions, which are not the trace.
    if (const std::size_t installer = doc.find("\n## The reference installer\n"); installer != std::string::npos) {
      doc.erase(installer, doc.find("\n## ", installer + 1) - installer);
    }
    std::size_t close = 0;
    for (std::size_t open = doc.find('`'); open != std::string::npos; open = doc.find('`', close + 1)) {
      close = doc.find('`', open + 1);
      if (close == std::string::npos || doc.compare(open, 3, "```") == 0) {
        close = doc.find("```", open + 3) + 2;  // a block, or the rest
        if (close < 2) {
          break;
        }
        continue;
      }
      const std::string_view span = std::string_view(doc).substr(open + 1, close - open - 1);
      EXPECT_FALSE(NamesWhatTheTraceLacks(span)) << name << " names what the trace never writes: `" << span << "`";
    }
  }
}

}  // namespace
}  // namespace velmor::test
