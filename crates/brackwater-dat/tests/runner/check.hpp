#pragma once

#include <optional>
#include <source_location>
#include <string_view>

namespace brackwater_dat::runner {

// What a check expects of its own outcome.
struct ExpectedFailure {
  enum class Mode { None, Any, WithMessage };
  Mode mode = Mode::None;
  // With Mode::WithMessage: text that the failure's message must contain.
  std::string_view message = {};
};

enum class CheckKind { Unit, Integration, DocExample, Unknown };

// One entry of a program's static check table.
struct CheckDescriptor {
  std::string_view name;
  bool ignore = false;
  std::optional<std::string_view> ignore_message = std::nullopt;
  ExpectedFailure expected_failure = {};
  CheckKind kind = CheckKind::Unknown;
  std::source_location source = {};
  // Passes by returning; fails by throwing (see failure.hpp).
  void (*function)() = nullptr;
};

// An integration check that is run, expected to pass, and declared where this is called.
consteval CheckDescriptor integration_check(
    std::string_view name, void (*function)(),
    std::source_location source = std::source_location::current()) {
  return CheckDescriptor{
      .name = name, .kind = CheckKind::Integration, .source = source, .function = function};
}

}  // namespace brackwater_dat::runner
