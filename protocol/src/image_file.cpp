// What the image file does alike on every platform: serving a snapshot that
// another file took, and reading from the snapshot.
#include <cstring>

#include "protocol/image_file.h"

namespace vexel {

SnapshotImageFile::SnapshotImageFile(Bytes shared, std::string error)
    : m_fixed(true), m_shared(std::move(shared)), m_lastError(std::move(error)) {}

bool SnapshotImageFile::ServeShared() {
  m_data = m_shared;
  m_open = m_data != nullptr;
  return m_open;
}

uint32_t SnapshotImageFile::Read(void* buffer, uint32_t count) {
  const uint32_t left = GetLength() - m_position;
  const uint32_t n = count < left ? count : left;
  if (n > 0) std::memcpy(buffer, m_data->data() + m_position, n);
  m_position += n;
  return n;
}

}  // namespace vexel
