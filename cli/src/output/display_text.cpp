#include "output/display_text.h"

#include <nlohmann/json.hpp>

namespace vexel::cli {
namespace {

// The length of the well-formed UTF-8 sequence at @p text[i], or 0 when the
// byte there does not start one (overlong forms, surrogates and code points
// above U+10FFFF are not well-formed).
size_t SequenceLength(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[i + k]); };
  const unsigned char lead = byte(0);
  if (lead < 0x80) return 1;
  size_t length = 0;
  unsigned char low = 0x80;  // the range of the second byte
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + length > text.size() || byte(1) < low || byte(1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (byte(k) < 0x80 || byte(k) > 0xBF) return 0;
  }
  return length;
}

bool IsControl(std::string_view sequence) {
  const auto lead = static_cast<unsigned char>(sequence[0]);
  if (sequence.size() == 1) return lead < 0x20 || lead == 0x7F;
  return sequence.size() == 2 && lead == 0xC2 && static_cast<unsigned char>(sequence[1]) < 0xA0;
}

void AppendEscaped(std::string& out, std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    out += "\\x";
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
  }
}

std::string Escape(std::string_view text, bool controls) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const size_t length = SequenceLength(text, i);
    if (length == 0) {
      AppendEscaped(out, text.substr(i, 1));  // and resynchronise on the next byte
      ++i;
      continue;
    }
    const std::string_view sequence = text.substr(i, length);
    if (controls && IsControl(sequence)) {
      AppendEscaped(out, sequence);
    } else {
      out += sequence;
    }
    i += length;
  }
  return out;
}

void MakeStringsValid(nlohmann::json& value) {
  if (value.is_string()) {
    value = Utf8Text(value.get_ref<const std::string&>());
    return;
  }
  if (value.is_structured()) {
    for (auto& item : value) MakeStringsValid(item);
  }
}

}  // namespace

std::string DisplayText(std::string_view text) { return Escape(text, true); }

std::string Utf8Text(std::string_view text) { return Escape(text, false); }

std::string JsonLine(const nlohmann::json& value) {
  nlohmann::json valid = value;
  MakeStringsValid(valid);
  return valid.dump();
}

}  // namespace vexel::cli
