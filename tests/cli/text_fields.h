// Taking the loader's text output apart in tests.
#pragma once

#include <cctype>
#include <sstream>
#include <string>
#include <vector>

namespace vexel::cli::test {

/// The words of @p line, split at runs of blanks.
inline std::vector<std::string> Fields(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> fields;
  for (std::string field; in >> field;) fields.push_back(field);
  return fields;
}

/// Digits, then a point and exactly @p decimals digits when @p decimals > 0.
inline bool IsNumber(const std::string& text, size_t decimals = 0) {
  const size_t point = text.find('.');
  const size_t whole = decimals > 0 ? point : text.size();
  if (whole == 0 || whole == std::string::npos) return false;
  if (decimals > 0 && text.size() - point - 1 != decimals) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (i != point && !std::isdigit(static_cast<unsigned char>(text[i]))) return false;
  }
  return true;
}

/// One --trace line: "<µs> <port> TX|RX <name> <hex bytes>".
struct TraceRecord {
  std::string micros;
  std::string port;
  std::string direction;
  std::string name;
  std::string hex;
};

inline bool ParseTraceLine(const std::string& line, TraceRecord& record) {
  std::istringstream in(line);
  if (!(in >> record.micros >> record.port >> record.direction >> record.name)) return false;
  std::getline(in, record.hex);
  record.hex.erase(0, record.hex.find_first_not_of(' '));
  return IsNumber(record.micros) && (record.direction == "TX" || record.direction == "RX");
}

}  // namespace vexel::cli::test
