#pragma once

#include <cstdio>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

namespace brackwater_dat::runner {

// The running check's standard output and standard error. Outside a capture,
// and on threads that a check starts itself, they write to the process's
// standard output and error a whole line at a time (see write_whole).
std::ostream& out();
std::ostream& err();

// Writes `text` to `stream` and flushes it, under one lock shared by every
// writer of the runner: checks running side by side, and the runner's own
// report lines, never tear one another's lines.
void write_whole(std::FILE* stream, std::string_view text);

// Everything one check writes to out() and err(), interleaved as written.
class Capture {
 public:
  Capture();
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  std::ostream& out() noexcept { return out_; }
  std::ostream& err() noexcept { return err_; }
  std::string take();

 private:
  // Appends to the shared text.
  class Buffer : public std::streambuf {
   public:
    explicit Buffer(Capture& owner) : owner_(owner) {}

   protected:
    int_type overflow(int_type ch) override;
    std::streamsize xsputn(const char* data, std::streamsize count) override;

   private:
    Capture& owner_;
  };

  std::string text_;
  Buffer buffer_;
  std::ostream out_;
  std::ostream err_;
};

// Routes out() and err() of the current thread to `capture` while alive;
// a null capture sends them straight to the process's streams.
class ScopedCapture {
 public:
  explicit ScopedCapture(Capture* capture) noexcept;
  ~ScopedCapture();
  ScopedCapture(const ScopedCapture&) = delete;
  ScopedCapture& operator=(const ScopedCapture&) = delete;

 private:
  Capture* previous_;
};

}  // namespace brackwater_dat::runner
