#include "session/image_watch.h"

namespace vexel::cli {

FileStamp StampOfFile(const std::string& path) {
  FileStamp stamp;
  std::error_code error;
  const std::filesystem::path file = std::filesystem::u8path(path);
  stamp.size = std::filesystem::file_size(file, error);
  if (error) return FileStamp{};
  stamp.written = std::filesystem::last_write_time(file, error);
  if (error) return FileStamp{};
  stamp.exists = true;
  return stamp;
}

ImageWatch::ImageWatch(EventLoop& loop, std::string path, std::chrono::milliseconds period,
                       std::function<void(const FileStamp&)> onChange)
    : m_loop(loop), m_path(std::move(path)), m_period(period), m_onChange(std::move(onChange)) {}

void ImageWatch::Start() {
  m_stamp = StampOfFile(m_path);
  Schedule();
}

void ImageWatch::Stop() {
  m_loop.StopTimer(m_timer);
  m_timer = 0;
}

void ImageWatch::Schedule() {
  m_timer = m_loop.StartTimer(m_loop.Now() + m_period, [this] { Check(); });
}

void ImageWatch::Check() {
  const FileStamp stamp = StampOfFile(m_path);
  if (stamp != m_stamp) {
    m_stamp = stamp;
    m_onChange(stamp);
  }
  Schedule();
}

}  // namespace vexel::cli
