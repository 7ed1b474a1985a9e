#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "brackwater_dat/error.hpp"
#include "brackwater_dat/source.hpp"

namespace brackwater_dat {

// One request as it ended, for callers that show what went over the wire:
// the range asked for (a length of 0 when none was), the status (0 when no
// answer came), the body's bytes and the time it took.
struct HttpExchange {
  std::string url;
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  int status = 0;
  std::uint64_t received = 0;
  std::chrono::microseconds elapsed{0};
};

struct HttpOptions {
  // The most bytes of the archive kept in memory between reads.
  std::uint64_t cache_bytes = std::uint64_t{64} << 20;
  // Requests in flight at once; over HTTP/2 they share one connection.
  unsigned concurrency = 6;
  // How long a request may wait for its connection or go without a byte.
  std::chrono::milliseconds timeout{30'000};
  // How often a request that failed on the way (a connection lost, a 5xx or
  // 429 answer) is sent again, waiting longer each time.
  unsigned retries = 2;
  // Headers sent with every request, as "Name: value".
  std::vector<std::string> headers;
  // Certificates to trust beside the system's. Certificates are always
  // verified; there is no way to turn that off.
  std::filesystem::path ca_file;
  // The most a server that ignores ranges may send: the archive is then read
  // whole, once, into memory.
  std::uint64_t whole_limit = std::uint64_t{256} << 20;
  // Told of every request as it ends, from the thread that made it.
  std::function<void(const HttpExchange&)> on_exchange;
};

// What is wrong with an extra header, if anything: it must be "Name: value"
// with a name of token characters and a value of one line, and leave the
// request's framing and range to the reader. open_http_source refuses such
// a header; callers that take headers from people can say so sooner.
std::optional<std::string> http_header_problem(std::string_view header);

// Whether `text` is an http:// or https:// URL rather than a path.
bool is_http_url(std::string_view text) noexcept;

// The archive at `url`, read by range requests as its bytes are needed.
// The first request (the archive's first 4 KiB) gives its length; each
// answer after it must be exactly the range asked for, from the same
// archive (its ETag and Last-Modified unchanged), else the read fails as
// Io naming the URL and range. Redirects are followed within the URL's
// host only.
Result<std::unique_ptr<Source>> open_http_source(std::string_view url, HttpOptions options = {});

}  // namespace brackwater_dat
