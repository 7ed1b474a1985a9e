#include "progress.hpp"

#include <algorithm>
#include <cstdio>

#include "process.hpp"

namespace brackwater_dat::cli {
namespace {

constexpr auto kRedraw = std::chrono::milliseconds(200);

std::string size_text(double bytes) {
  static constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
  std::size_t unit = 0;
  while (bytes >= 1024 && unit + 1 < std::size(kUnits)) bytes /= 1024, ++unit;
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytes, kUnits[unit]);
  return text;
}

std::string duration_text(double seconds) {
  const auto whole = static_cast<unsigned long long>(seconds + 0.5);
  char text[32];
  std::snprintf(text, sizeof text, "%llu:%02llu", whole / 60, whole % 60);
  return text;
}

}  // namespace

bool progress_shown(std::optional<bool> choice) {
  return choice.value_or(is_terminal(Stream::Err));
}

Progress::Progress(std::string verb, std::uint64_t files, std::uint64_t bytes, bool shown,
                   Counted counted)
    : verb_(std::move(verb)),
      total_files_(files),
      total_bytes_(bytes),
      shown_(shown),
      counted_(counted),
      start_(std::chrono::steady_clock::now()) {
  if (!shown_) return;
  ticker_ = std::thread([this] {
    std::unique_lock lock(mutex_);
    while (!wake_.wait_for(lock, kRedraw, [this] { return stopping_; })) draw();
  });
}

Progress::~Progress() { stop(); }

void Progress::advance(std::uint64_t stored, std::optional<std::uint64_t> written) noexcept {
  stored_ += stored;
  if (counted_ == Counted::Read) written = stored;
  if (!written) return;
  bytes_ += *written;
  ++files_;
}

void Progress::finish() {
  stop();
  if (!shown_) return;
  draw();
  (void)write_all(Stream::Err, "\n");
}

void Progress::stop() {
  if (!ticker_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  ticker_.join();
}

void Progress::draw() {
  const std::uint64_t stored = stored_, bytes = bytes_;
  const double elapsed = std::max(
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count(), 0.001);
  const double stored_rate = static_cast<double>(stored) / elapsed;
  const std::string left =
      stored_rate > 0 ? duration_text(static_cast<double>(total_bytes_ - stored) / stored_rate)
                      : std::string("-:--");
  const std::string done = counted_ == Counted::Read
                               ? " files, " + size_text(static_cast<double>(bytes)) + "/" +
                                     size_text(static_cast<double>(total_bytes_))
                               : " files written, " + size_text(static_cast<double>(bytes));
  std::string line = verb_ + ": " + std::to_string(files_.load()) + "/" +
                     std::to_string(total_files_) + done + ", " +
                     size_text(static_cast<double>(bytes) / elapsed) + "/s, " + left + " left";
  const std::size_t length = line.size();
  // Spaces cover what a longer earlier line left behind.
  if (drawn_length_ > length) line.append(drawn_length_ - length, ' ');
  drawn_length_ = length;
  (void)write_all(Stream::Err, "\r" + line);
}

}  // namespace brackwater_dat::cli
