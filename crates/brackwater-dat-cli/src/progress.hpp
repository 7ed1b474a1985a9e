#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace brackwater_dat::cli {

// Whether a long command shows its progress line: as --progress or
// --no-progress says, else when standard error is a terminal.
bool progress_shown(std::optional<bool> choice);

// A line on standard error, redrawn in place a few times a second: files and
// bytes done of the total, the rate and the time left. Any thread may
// advance it. Shows nothing when not shown.
class Progress {
 public:
  Progress(std::string verb, std::uint64_t files, std::uint64_t bytes, bool shown);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // One more file done, of `bytes` stored bytes.
  void advance(std::uint64_t bytes) noexcept;
  // Draws the final line and ends it, so that later lines start clean.
  void finish();

 private:
  void draw();
  void stop();

  const std::string verb_;
  const std::uint64_t total_files_;
  const std::uint64_t total_bytes_;
  const bool shown_;
  const std::chrono::steady_clock::time_point start_;
  std::atomic<std::uint64_t> files_{0};
  std::atomic<std::uint64_t> bytes_{0};
  std::size_t drawn_length_ = 0;  // only the ticker, then finish, draws
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread ticker_;
};

}  // namespace brackwater_dat::cli
