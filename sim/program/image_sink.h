// Where --out puts the flashed images: one file that the latest image
// overwrites, or, for a path ending in '/', a directory with one file per image.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vexel::sim {

class ImageSink {
 public:
  /// @p out: empty (keep nothing), a file path, or a directory path ending in '/'.
  explicit ImageSink(std::string out) : m_out(std::move(out)) {}

  /// Checks the destination before any image comes: creates the directory,
  /// or checks that the file's directory exists.
  bool Prepare(std::string& error);
  /// Writes image number @p index (from 1) and returns its path; "" when
  /// nothing is kept. On failure returns "" and sets @p error.
  std::string Save(size_t index, const std::vector<uint8_t>& image, std::string& error);

  bool Enabled() const { return !m_out.empty(); }
  bool IsDirectory() const { return !m_out.empty() && m_out.back() == '/'; }

 private:
  std::string PathFor(size_t index) const;

  std::string m_out;
};

}  // namespace vexel::sim
