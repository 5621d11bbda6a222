// Plain-text tables with aligned columns, for the port list and the summary.
#pragma once

#include <string>
#include <vector>

namespace vexel::cli {

class TextTable {
 public:
  enum Align { Left, Right };

  explicit TextTable(std::vector<std::string> header, std::vector<Align> align = {});
  void AddRow(std::vector<std::string> cells);
  /// Columns two spaces apart, no trailing blanks; an empty cell shows "-",
  /// control characters in a cell show as DisplayText writes them.
  std::string Render() const;

 private:
  std::vector<std::vector<std::string>> m_rows;
  std::vector<Align> m_align;
};

/// Orders names so that the same stem sorts by its number: ttyS2 before
/// ttyS10, COM2 before COM10.
bool NaturalLess(const std::string& a, const std::string& b);

}  // namespace vexel::cli
