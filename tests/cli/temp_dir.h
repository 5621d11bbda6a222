// A scratch directory for one test, removed with everything in it.
#pragma once

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace vexel::cli::test {

class TempDir {
 public:
  // A fresh name each time (mkdtemp is POSIX-only): create_directory says
  // whether the folder is new, so a name taken meanwhile is never shared.
  TempDir() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    const auto base = std::filesystem::temp_directory_path();
    do {
      m_path = base / ("vexel-cli-" + std::to_string(random() % 1000000000));
    } while (!std::filesystem::create_directory(m_path));
  }
  ~TempDir() {
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return m_path; }

  /// Writes @p content to @p relative, creating its directories.
  std::filesystem::path Write(const std::string& relative, const std::string& content) const {
    const auto file = m_path / relative;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    return file;
  }
  /// Makes @p relative a symbolic link to @p target (taken literally).
  void Link(const std::string& relative, const std::string& target) const {
    const auto link = m_path / relative;
    std::filesystem::create_directories(link.parent_path());
    std::filesystem::create_symlink(target, link);
  }
  void MakeDir(const std::string& relative) const {
    std::filesystem::create_directories(m_path / relative);
  }

 private:
  std::filesystem::path m_path;
};

}  // namespace vexel::cli::test
