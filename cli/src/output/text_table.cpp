#include "output/text_table.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "output/display_text.h"

namespace vexel::cli {

TextTable::TextTable(std::vector<std::string> header, std::vector<Align> align)
    : m_align(std::move(align)) {
  m_align.resize(header.size(), Left);
  m_rows.push_back(std::move(header));
}

void TextTable::AddRow(std::vector<std::string> cells) {
  cells.resize(m_align.size());
  for (auto& cell : cells) {
    cell = cell.empty() ? "-" : DisplayText(cell);
  }
  m_rows.push_back(std::move(cells));
}

std::string TextTable::Render() const {
  std::vector<size_t> width(m_align.size(), 0);
  for (const auto& row : m_rows) {
    for (size_t i = 0; i < row.size(); ++i) width[i] = std::max(width[i], row[i].size());
  }
  std::string text;
  for (const auto& row : m_rows) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      const std::string pad(width[i] - row[i].size(), ' ');
      if (i > 0) line += "  ";
      line += m_align[i] == Right ? pad + row[i] : row[i] + pad;
    }
    line.erase(line.find_last_not_of(' ') + 1);
    text += line + "\n";
  }
  return text;
}

bool NaturalLess(const std::string& a, const std::string& b) {
  auto split = [](const std::string& s) {
    size_t digits = s.size();
    while (digits > 0 && std::isdigit(static_cast<unsigned char>(s[digits - 1]))) --digits;
    const std::string number = s.substr(digits);
    return std::make_pair(s.substr(0, digits), number.empty() ? -1L : std::stol(number));
  };
  return split(a) < split(b);
}

}  // namespace vexel::cli
