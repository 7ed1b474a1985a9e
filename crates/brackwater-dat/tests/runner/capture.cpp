#include "runner/capture.hpp"

#include <mutex>
#include <utility>

namespace brackwater_dat::runner {
namespace {

thread_local Capture* current_capture = nullptr;

std::mutex& output_lock() {
  static std::mutex lock;
  return lock;
}

// Gathers what one thread writes and hands it on a whole line at a time; an
// unfinished line goes out when the thread ends or the stream is flushed.
class LineBuffer : public std::streambuf {
 public:
  explicit LineBuffer(std::FILE* stream) : stream_(stream) {}
  ~LineBuffer() override { sync(); }

 protected:
  int_type overflow(int_type ch) override {
    if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
    const char c = traits_type::to_char_type(ch);
    xsputn(&c, 1);
    return ch;
  }
  std::streamsize xsputn(const char* data, std::streamsize count) override {
    pending_.append(data, static_cast<std::size_t>(count));
    if (const auto end = pending_.rfind('\n'); end != std::string::npos) {
      write_whole(stream_, std::string_view(pending_).substr(0, end + 1));
      pending_.erase(0, end + 1);
    }
    return count;
  }
  int sync() override {
    if (!pending_.empty()) write_whole(stream_, std::exchange(pending_, {}));
    return 0;
  }

 private:
  std::FILE* stream_;
  std::string pending_;
};

// A thread's own line streams over the process's standard output and error.
struct LineStreams {
  LineBuffer out_buffer{stdout};
  LineBuffer err_buffer{stderr};
  std::ostream out{&out_buffer};
  std::ostream err{&err_buffer};
};

LineStreams& line_streams() {
  thread_local LineStreams streams;
  return streams;
}

}  // namespace

void write_whole(std::FILE* stream, std::string_view text) {
  const std::lock_guard lock(output_lock());
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

std::ostream& out() { return current_capture ? current_capture->out() : line_streams().out; }

std::ostream& err() { return current_capture ? current_capture->err() : line_streams().err; }

Capture::Capture() : buffer_(*this), out_(&buffer_), err_(&buffer_) {}

std::string Capture::take() { return std::exchange(text_, {}); }

Capture::Buffer::int_type Capture::Buffer::overflow(int_type ch) {
  if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
  owner_.text_.push_back(traits_type::to_char_type(ch));
  return ch;
}

std::streamsize Capture::Buffer::xsputn(const char* data, std::streamsize count) {
  owner_.text_.append(data, static_cast<std::size_t>(count));
  return count;
}

ScopedCapture::ScopedCapture(Capture* capture) noexcept : previous_(current_capture) {
  current_capture = capture;
}

ScopedCapture::~ScopedCapture() { current_capture = previous_; }

}  // namespace brackwater_dat::runner
