// The image file a run sends: an existing file opened for reading, with its
// length, position and sequential reads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vexel {

class ImageFile {
 public:
  virtual ~ImageFile() = default;

  /// Opens an existing file for reading. Fails for a missing or unreadable
  /// file, for anything but a regular file, and for a file longer than the
  /// protocol's 32-bit length. Any file held before is closed first.
  virtual bool Open(const std::string& path) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;
  virtual uint32_t GetLength() const = 0;
  virtual uint32_t GetPosition() const = 0;
  /// Reads up to @p count bytes at the position and advances it; returns
  /// the number read.
  virtual uint32_t Read(void* buffer, uint32_t count) = 0;
};

/// The image as one consistent version of the file: Open takes a snapshot of
/// the contents and every read serves it; Close frees it once no other file
/// shares it. Linux cannot lock other writers out of a file, so there the
/// snapshot is read under a shared advisory lock and checked against the
/// file's size and change time before and after. On Windows the file is
/// opened sharing reading only, which locks other writers out until Close.
///
/// Several runs of one image (the command-line loader's ports) share one
/// snapshot read-only: a file made from another's Snapshot() takes none of
/// its own, so every run sends the same version and the image is held once.
class SnapshotImageFile final : public ImageFile {
 public:
  using Bytes = std::shared_ptr<const std::vector<uint8_t>>;

  SnapshotImageFile() = default;
  /// A file whose Open serves @p shared, whatever the path, or fails with
  /// @p error when @p shared is null (the snapshot could not be taken).
  explicit SnapshotImageFile(Bytes shared, std::string error = {});
  ~SnapshotImageFile() override { Close(); }
  SnapshotImageFile(const SnapshotImageFile&) = delete;
  SnapshotImageFile& operator=(const SnapshotImageFile&) = delete;

  bool Open(const std::string& path) override;
  void Close() override;
  bool IsOpen() const override { return m_open; }
  uint32_t GetLength() const override { return m_data ? static_cast<uint32_t>(m_data->size()) : 0; }
  uint32_t GetPosition() const override { return m_position; }
  uint32_t Read(void* buffer, uint32_t count) override;

  /// Why the latest Open failed (the OS error text, or a short reason).
  const std::string& LastError() const { return m_lastError; }
  /// The bytes served since the latest successful Open; null when closed.
  Bytes Snapshot() const { return m_data; }

 private:
  bool m_fixed = false;  // serves m_shared instead of taking snapshots
  Bytes m_shared;
  Bytes m_data;
  uint32_t m_position = 0;
  bool m_open = false;
  std::string m_lastError;
  void* m_hFile = nullptr;  // Windows: the open file that keeps writers out
  /// Open of a file made from another's snapshot.
  bool ServeShared();
  void ReleaseFile();
};

}  // namespace vexel
