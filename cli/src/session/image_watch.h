// Watches the image file on disk while a session keeps sending the snapshot
// it started with, so that a file changed meanwhile is told rather than
// believed picked up.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "loop/event_loop.h"

namespace vexel::cli {

/// What is compared of the file: whether it is there, its size, its time.
struct FileStamp {
  bool exists = false;
  uintmax_t size = 0;
  std::filesystem::file_time_type written{};
  bool operator==(const FileStamp& other) const {
    return exists == other.exists && size == other.size && written == other.written;
  }
  bool operator!=(const FileStamp& other) const { return !(*this == other); }
};

/// The stamp of the file at @p path (UTF-8) now; a default one when it
/// cannot be read.
FileStamp StampOfFile(const std::string& path);

class ImageWatch final {
 public:
  /// @p onChange is called on @p loop's thread with the new stamp, once per
  /// change, as found every @p period.
  ImageWatch(EventLoop& loop, std::string path, std::chrono::milliseconds period,
             std::function<void(const FileStamp&)> onChange);
  ~ImageWatch() { Stop(); }
  ImageWatch(const ImageWatch&) = delete;
  ImageWatch& operator=(const ImageWatch&) = delete;

  /// Takes the file's stamp as it is now and starts comparing.
  void Start();
  void Stop();

 private:
  void Check();
  void Schedule();

  EventLoop& m_loop;
  std::string m_path;
  std::chrono::milliseconds m_period;
  std::function<void(const FileStamp&)> m_onChange;
  FileStamp m_stamp;
  EventLoop::TimerId m_timer = 0;
};

}  // namespace vexel::cli
