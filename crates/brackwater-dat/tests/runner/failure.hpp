#pragma once

#include <exception>
#include <source_location>
#include <string>

namespace brackwater_dat::runner {

// What a check throws to fail: its message and the place that raised it.
class Failure : public std::exception {
 public:
  Failure(std::string message, std::source_location where) noexcept
      : message_(std::move(message)), where_(where) {}

  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }
  const std::source_location& where() const noexcept { return where_; }

 private:
  std::string message_;
  std::source_location where_;
};

// Fails the running check with `message`, recording the caller's position.
[[noreturn]] void fail(std::string message,
                       std::source_location where = std::source_location::current());

}  // namespace brackwater_dat::runner
