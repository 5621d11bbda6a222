// A scratch directory for one test, removed with everything in it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace vexel::test {

class TempDir {
 public:
  /// Makes a directory of a fresh name under the system's temporary folder.
  TempDir();
  /// Removes the directory and everything in it.
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& Path() const { return m_path; }
  /// The path of @p relative inside the directory, as text.
  std::string At(const std::string& relative) const;

  /// Writes @p content to @p relative, creating its directories.
  std::filesystem::path Write(const std::string& relative, const std::string& content) const;
  /// Writes @p bytes to @p relative; its path, as text.
  std::string File(const std::string& relative, const std::vector<uint8_t>& bytes) const;
  /// Makes @p relative a symbolic link to @p target (taken literally).
  void Link(const std::string& relative, const std::string& target) const;
  void MakeDir(const std::string& relative) const;

 private:
  std::filesystem::path m_path;
};

}  // namespace vexel::test
