#include "tests/host/sim/SimSystem.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

#include "platform/AsciiCase.h"

namespace velmor::sim {
namespace {

// Registry key and value names compare without regard to ASCII case.
std::string LowerAscii(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), LowerAsciiChar<char>);
  return lower;
}

// The bit index of a single VER_ type bit; the condition mask keeps three bits per index.
int TypeBitIndex(std::uint32_t bit) {
  int index = 0;
  while (bit > 1U) {
    bit >>= 1U;
    ++index;
  }
  return index;
}

std::uint8_t ConditionFor(std::uint64_t conditionMask, std::uint32_t typeBit) {
  return static_cast<std::uint8_t>((conditionMask >> (3 * TypeBitIndex(typeBit))) & 7U);
}

constexpr std::uint8_t kVerEqual = 1;
constexpr std::uint8_t kVerGreater = 2;
constexpr std::uint8_t kVerGreaterEqual = 3;
constexpr std::uint8_t kVerLess = 4;
constexpr std::uint8_t kVerLessEqual = 5;
constexpr Win32Status kErrorBadArguments = 160;
constexpr Win32Status kErrorOldWinVersion = 1150;
constexpr std::uint32_t kVerServicePackMinor = 0x10;

bool Holds(std::uint8_t condition, int comparison) {  // comparison: system <=> wanted
  switch (condition) {
    case kVerEqual:
      return comparison == 0;
    case kVerGreater:
      return comparison > 0;
    case kVerGreaterEqual:
      return comparison >= 0;
    case kVerLess:
      return comparison < 0;
    case kVerLessEqual:
      return comparison <= 0;
    default:
      return false;
  }
}

}  // namespace

// --- Text ----------------------------------------------------------------------------------------

std::wstring WideFromUtf8(std::string_view text) {
  std::wstring wide;
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<std::uint8_t>(text[i]);
    const std::size_t length = lead < 0x80U ? 1 : lead < 0xE0U ? 2 : lead < 0xF0U ? 3 : 4;
    std::uint32_t code = length == 1 ? lead : lead & (0x7FU >> length);
    for (std::size_t k = 1; k < length && i + k < text.size(); ++k) {
      code = (code << 6U) | (static_cast<std::uint8_t>(text[i + k]) & 0x3FU);
    }
    i += length;
    if (code >= 0x10000U) {
      code -= 0x10000U;
      wide += static_cast<wchar_t>(0xD800U + (code >> 10U));
      wide += static_cast<wchar_t>(0xDC00U + (code & 0x3FFU));
    } else {
      wide += static_cast<wchar_t>(code);
    }
  }
  return wide;
}

std::string Utf8FromWide(std::wstring_view text) {
  std::string utf8;
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto code = static_cast<std::uint32_t>(text[i]) & 0xFFFFU;
    const bool high = code >= 0xD800U && code < 0xDC00U;
    const bool low = code >= 0xDC00U && code < 0xE000U;
    if (high && i + 1 < text.size() && (static_cast<std::uint32_t>(text[i + 1]) & 0xFC00U) == 0xDC00U) {
      code = 0x10000U + ((code - 0xD800U) << 10U) + ((static_cast<std::uint32_t>(text[++i]) & 0xFFFFU) - 0xDC00U);
    } else if (high || low) {
      code = 0xFFFDU;
    }
    if (code < 0x80U) {
      utf8 += static_cast<char>(code);
    } else if (code < 0x800U) {
      utf8 += static_cast<char>(0xC0U | (code >> 6U));
      utf8 += static_cast<char>(0x80U | (code & 0x3FU));
    } else if (code < 0x10000U) {
      utf8 += static_cast<char>(0xE0U | (code >> 12U));
      utf8 += static_cast<char>(0x80U | ((code >> 6U) & 0x3FU));
      utf8 += static_cast<char>(0x80U | (code & 0x3FU));
    } else {
      utf8 += static_cast<char>(0xF0U | (code >> 18U));
      utf8 += static_cast<char>(0x80U | ((code >> 12U) & 0x3FU));
      utf8 += static_cast<char>(0x80U | ((code >> 6U) & 0x3FU));
      utf8 += static_cast<char>(0x80U | (code & 0x3FU));
    }
  }
  return utf8;
}

// --- Registry ------------------------------------------------------------------------------------

void SimRegistry::CreateKey(std::string_view subKey) {
  keys_[LowerAscii(subKey)];
}

void SimRegistry::SetString(std::string_view subKey, std::string_view valueName, std::string_view text) {
  RegValue value;
  value.type = win32::kRegSz;
  for (const wchar_t unit : WideFromUtf8(text)) {
    value.bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(unit) & 0xFFU));
    value.bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(unit) >> 8U));
  }
  value.bytes.insert(value.bytes.end(), 2, 0);
  SetValue(subKey, valueName, std::move(value));
}

void SimRegistry::SetValue(std::string_view subKey, std::string_view valueName, RegValue value) {
  keys_[LowerAscii(subKey)][LowerAscii(valueName)] = std::move(value);
}

std::optional<RegValue> SimRegistry::Value(std::string_view subKey, std::string_view valueName) const {
  const auto key = keys_.find(LowerAscii(subKey));
  if (key == keys_.end()) {
    return std::nullopt;
  }
  const auto value = key->second.find(LowerAscii(valueName));
  if (value == key->second.end()) {
    return std::nullopt;
  }
  return value->second;
}

std::optional<std::string> SimRegistry::StringValue(std::string_view subKey, std::string_view valueName) const {
  const std::optional<RegValue> value = Value(subKey, valueName);
  if (!value) {
    return std::nullopt;
  }
  std::wstring text;
  for (std::size_t i = 0; i + 1 < value->bytes.size(); i += 2) {
    text += static_cast<wchar_t>(value->bytes[i] | (value->bytes[i + 1] << 8U));
  }
  return Utf8FromWide(text.substr(0, text.find(L'\0')));
}

std::map<std::string, RegValue>* SimRegistry::FindKey(std::string_view subKey) {
  const auto key = keys_.find(LowerAscii(subKey));
  return key == keys_.end() ? nullptr : &key->second;
}

// --- Service manager -----------------------------------------------------------------------------

void SimServiceManager::ScriptControlAnswers(std::vector<Win32Status> answers, Win32Status thenAnswer) {
  controlAnswers.assign(answers.begin(), answers.end());
  defaultAnswer = thenAnswer;
}

// --- Version -------------------------------------------------------------------------------------

std::uint64_t VerSetConditionMask(std::uint64_t conditionMask, std::uint32_t typeBitMask, std::uint8_t condition) {
  if (condition == 0) {
    return conditionMask;
  }
  for (std::uint32_t bit = 1; bit != 0 && bit <= typeBitMask; bit <<= 1U) {
    if ((typeBitMask & bit) != 0) {
      const int shift = 3 * TypeBitIndex(bit);
      conditionMask &= ~(std::uint64_t{7} << shift);
      conditionMask |= std::uint64_t{condition & 7U} << shift;
    }
  }
  return conditionMask;
}

bool VerifyVersion(const SimVersion& system, const OsVersionInfoEx& wanted, std::uint32_t typeMask,
                   std::uint64_t conditionMask, Win32Status& error) {
  if (typeMask == 0 || conditionMask == 0) {
    error = kErrorBadArguments;
    return false;
  }
  // Major, minor and the service pack form one version number: the first level that differs decides,
  // with that level's condition; when all are equal, the last level's condition decides.
  struct Level {
    std::uint32_t bit;
    std::uint32_t systemValue;
    std::uint32_t wantedValue;
  };
  const std::array<Level, 4> levels = {{
      {win32::kVerMajorVersion, system.major, wanted.dwMajorVersion},
      {win32::kVerMinorVersion, system.minor, wanted.dwMinorVersion},
      {win32::kVerServicePackMajor, system.servicePackMajor, wanted.wServicePackMajor},
      {kVerServicePackMinor, system.servicePackMinor, wanted.wServicePackMinor},
  }};
  std::optional<bool> answer;
  std::uint8_t lastCondition = 0;
  for (const Level& level : levels) {
    if ((typeMask & level.bit) == 0) {
      continue;
    }
    const std::uint8_t condition = ConditionFor(conditionMask, level.bit);
    if (condition == 0) {
      error = kErrorBadArguments;
      return false;
    }
    lastCondition = condition;
    if (level.systemValue != level.wantedValue) {
      answer = Holds(condition, level.systemValue > level.wantedValue ? 1 : -1);
      break;
    }
  }
  const bool passed = answer.value_or(Holds(lastCondition, 0));
  if (!passed) {
    error = kErrorOldWinVersion;
  }
  return passed;
}

// --- Dialogs -------------------------------------------------------------------------------------

DialogAnswer SimDialogs::Next(DialogKind kind) {
  if (answers.empty()) {
    return {kind == DialogKind::Confirmation ? DialogResult::No : DialogResult::Ok, {}};
  }
  DialogAnswer answer = std::move(answers.front());
  answers.pop_front();
  return answer;
}

}  // namespace velmor::sim
