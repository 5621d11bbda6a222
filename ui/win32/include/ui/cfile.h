// The image file of a run on Win32: an existing file opened for reading
// with other writers locked out for as long as it is open.
#pragma once

#include <windows.h>

#include "protocol/image_file.h"
#include "ui/win32_support.h"

namespace vexel {

class CFile final : public ImageFile {
 public:
  /// Opens @p path (UTF-8) for reading, sharing it with readers only; fails
  /// for a missing file, a directory and a file of 4 GiB or more.
  bool Open(const std::string& path) override;
  void Close() override;
  bool IsOpen() const override { return m_hFile != nullptr; }
  uint32_t GetLength() const override { return m_length; }
  uint32_t GetPosition() const override { return m_position; }
  uint32_t Read(void* buffer, uint32_t count) override;

 private:
  UniqueHandle m_hFile;
  uint32_t m_length = 0;
  uint32_t m_position = 0;
};

}  // namespace vexel
