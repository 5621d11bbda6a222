#include "support/temp_dir.h"

#include <fstream>
#include <random>

namespace vexel::test {

// A fresh name each time (mkdtemp is POSIX-only): create_directory says
// whether the folder is new, so a name taken meanwhile is never shared.
TempDir::TempDir() {
  std::random_device seed;
  std::mt19937_64 random(seed());
  const auto base = std::filesystem::temp_directory_path();
  do {
    m_path = base / ("vexel-test-" + std::to_string(random() % 1000000000));
  } while (!std::filesystem::create_directory(m_path));
}

TempDir::~TempDir() {
  std::error_code error;
  std::filesystem::remove_all(m_path, error);
}

std::string TempDir::At(const std::string& relative) const { return (m_path / relative).string(); }

std::filesystem::path TempDir::Write(const std::string& relative,
                                     const std::string& content) const {
  const auto file = m_path / relative;
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << content;
  return file;
}

std::string TempDir::File(const std::string& relative, const std::vector<uint8_t>& bytes) const {
  return Write(relative, std::string(bytes.begin(), bytes.end())).string();
}

void TempDir::Link(const std::string& relative, const std::string& target) const {
  const auto link = m_path / relative;
  std::filesystem::create_directories(link.parent_path());
  std::filesystem::create_symlink(target, link);
}

void TempDir::MakeDir(const std::string& relative) const {
  std::filesystem::create_directories(m_path / relative);
}

}  // namespace vexel::test
