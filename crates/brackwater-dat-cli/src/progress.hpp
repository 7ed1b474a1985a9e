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
// bytes done, the rate and the time left. Any thread may advance it. Shows
// nothing when not shown.
class Progress {
 public:
  // What the line counts: the files and stored bytes gone through, of their
  // totals; or the files and bytes written, as the command's summary counts
  // them (a decompressed file writes more than it stores, and a file that
  // failed writes nothing), the time left still reckoned in stored bytes.
  enum class Counted { Read, Written };

  Progress(std::string verb, std::uint64_t files, std::uint64_t bytes, bool shown,
           Counted counted = Counted::Read);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // One more file gone through, of `stored` bytes; `written` bytes of it
  // written, or none when it was not.
  void advance(std::uint64_t stored, std::optional<std::uint64_t> written = std::nullopt) noexcept;
  // Draws the final line and ends it, so that later lines start clean.
  void finish();

 private:
  void draw();
  void stop();

  const std::string verb_;
  const std::uint64_t total_files_;
  const std::uint64_t total_bytes_;
  const bool shown_;
  const Counted counted_;
  const std::chrono::steady_clock::time_point start_;
  std::atomic<std::uint64_t> stored_{0};  // gone through, for the time left
  std::atomic<std::uint64_t> files_{0};   // counted
  std::atomic<std::uint64_t> bytes_{0};   // counted
  std::size_t drawn_length_ = 0;          // only the ticker, then finish, draws
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread ticker_;
};

}  // namespace brackwater_dat::cli
