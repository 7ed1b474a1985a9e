#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>

#include "brackwater_dat/bytes.hpp"
#include "brackwater_dat/error.hpp"
#include "brackwater_dat/http_source.hpp"

namespace brackwater_dat::http {

// The slowest a body may come, in bytes a second, before its request has
// taken too long: a server that sends a byte a second keeps no request
// alive for ever.
inline constexpr std::uint64_t kSlowestRate = 16 * 1024;

// How long a request may take in all: its timeout, and its bytes at kSlowestRate.
inline std::chrono::milliseconds request_deadline(std::chrono::milliseconds timeout,
                                                  std::uint64_t bytes) {
  return timeout + std::chrono::milliseconds(bytes * 1000 / kSlowestRate);
}

// The bytes [offset, offset + length) of a resource.
struct ByteRange {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  std::uint64_t end() const { return offset + length; }
};

// An answer as it came: its status, the headers the reader checks, and its
// body up to the limit asked for.
struct HttpResponse {
  int status = 0;
  std::string content_range;
  std::string etag;
  std::string last_modified;
  std::string location;  // as sent, perhaps relative
  Bytes body;
  bool overflow = false;  // the body went on past the limit; the transfer was ended
};

// A request that got no answer: why, and whether sending it again may help
// (a connection refused or lost, a timeout) or not (a certificate refused).
struct TransportFailure {
  IoError error;
  bool retryable = false;
};

// The platform seam: libcurl here, WinHTTP on Windows. get may be called
// from many threads at once; each call waits for its own answer.
class HttpTransport {
 public:
  virtual ~HttpTransport() = default;
  // One GET of `url`, of `range` when one is given. The body kept is at
  // most one byte more than the range of a 206 answer, and `whole_limit`
  // bytes of any other. The request may wait `options.timeout` for its
  // connection or a byte, and take no longer in all than that timeout plus
  // its bytes at kSlowestRate.
  virtual std::expected<HttpResponse, TransportFailure> get(const std::string& url,
                                                            std::optional<ByteRange> range,
                                                            std::uint64_t whole_limit) = 0;
};

std::expected<std::unique_ptr<HttpTransport>, IoError> make_http_transport(
    const HttpOptions& options);

}  // namespace brackwater_dat::http
