#include "runner/capture.hpp"

#include <iostream>
#include <utility>

namespace brackwater_dat::runner {
namespace {

thread_local Capture* current_capture = nullptr;

}  // namespace

std::ostream& out() { return current_capture ? current_capture->out() : std::cout; }

std::ostream& err() { return current_capture ? current_capture->err() : std::cerr; }

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
