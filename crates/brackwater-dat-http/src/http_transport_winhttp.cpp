// clang-format off
#include <windows.h>
#include <winhttp.h>
// clang-format on

#include <algorithm>
#include <charconv>
#include <chrono>
#include <climits>
#include <memory>
#include <new>

#include "http_transport.hpp"

namespace brackwater_dat::http {
namespace {

struct CloseHandle {
  void operator()(HINTERNET handle) const { ::WinHttpCloseHandle(handle); }
};
using Handle = std::unique_ptr<void, CloseHandle>;

std::wstring wide(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  std::wstring out(::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, out.data(), static_cast<int>(out.size()));
  return out;
}

std::string narrow(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  std::string out(
      ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), size, out.data(), static_cast<int>(out.size()),
                        nullptr, nullptr);
  return out;
}

// The server's certificate was not trusted: sending again will not help.
bool certificate_refused(DWORD code) {
  switch (code) {
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_INVALID_CA:
    case ERROR_WINHTTP_SECURE_INVALID_CERT:
    case ERROR_WINHTTP_SECURE_CERT_CN_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_DATE_INVALID:
    case ERROR_WINHTTP_SECURE_CERT_REVOKED:
    case ERROR_WINHTTP_SECURE_CERT_REV_FAILED:
    case ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE:
      return true;
    default:
      return false;
  }
}

// The request got no answer, or lost it on the way: sending it again may
// help. A socket's own code may come through in place of WinHTTP's.
bool retryable(DWORD code) {
  switch (code) {
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case ERROR_WINHTTP_TIMEOUT:
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:  // also a connection closed before an answer
    case ERROR_WINHTTP_RESEND_REQUEST:
    case WSAETIMEDOUT:
    case WSAECONNREFUSED:
    case WSAECONNRESET:
    case WSAECONNABORTED:
      return true;
    default:
      return false;
  }
}

// A few words for the codes met most, for a system without a message for them.
const char* short_text(DWORD code) {
  switch (code) {
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:
      return "the operation timed out";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return "the server name could not be resolved";
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case WSAECONNREFUSED:
      return "a connection to the server could not be made";
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case WSAECONNRESET:
    case WSAECONNABORTED:
      return "the connection to the server was reset or closed";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
      return "the server's answer could not be read";
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
      return "the secure connection could not be set up";
    default:
      return certificate_refused(code) ? "the server's certificate was refused" : "WinHTTP failed";
  }
}

// The system's words for a code: WinHTTP's messages live in winhttp.dll, not
// in the system's table, so both are searched.
IoError error_of(DWORD code) {
  wchar_t buffer[512];
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      ::GetModuleHandleW(L"winhttp.dll"), code, 0, buffer, static_cast<DWORD>(std::size(buffer)),
      nullptr);
  std::wstring_view text(buffer, length);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
    text.remove_suffix(1);
  }
  const std::string words = text.empty() ? short_text(code) : narrow(text);
  const bool ours = code >= WINHTTP_ERROR_BASE && code < WINHTTP_ERROR_BASE + 1000;
  return IoError::simple(
      certificate_refused(code) ? IoErrorKind::PermissionDenied : IoErrorKind::Other,
      words + (ours ? " (WinHTTP error " : " (error ") + std::to_string(code) + ")");
}

std::unexpected<TransportFailure> last_failure() {
  const DWORD code = ::GetLastError();
  return std::unexpected(TransportFailure{error_of(code), retryable(code)});
}

// A header of the answer, or nothing when it has none.
std::string header(HINTERNET request, DWORD which) {
  DWORD size = 0;
  ::WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &size, WINHTTP_NO_HEADER_INDEX);
  if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
  std::wstring value(size / sizeof(wchar_t), L'\0');
  if (!::WinHttpQueryHeaders(request, which, WINHTTP_HEADER_NAME_BY_INDEX, value.data(), &size,
                             WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  value.resize(size / sizeof(wchar_t));
  return narrow(value);
}

// A request may wait this long to resolve, connect, send and have the
// answer's headers, and may go this long without a byte of its body.
DWORD timeout_of(const HttpOptions& options) {
  return static_cast<DWORD>(
      std::clamp<std::chrono::milliseconds::rep>(options.timeout.count(), 1, INT_MAX));
}

// One session, shared by the threads that call get: WinHTTP keeps its
// connections and reuses them, over HTTP/2 one for all requests to a host.
class WinHttpTransport final : public HttpTransport {
 public:
  WinHttpTransport(const HttpOptions& options, Handle session)
      : options_(options), session_(std::move(session)) {}

  std::expected<HttpResponse, TransportFailure> get(const std::string& url,
                                                    std::optional<ByteRange> range,
                                                    std::uint64_t whole_limit) override;

 private:
  const HttpOptions options_;
  Handle session_;
};

std::expected<HttpResponse, TransportFailure> WinHttpTransport::get(const std::string& url,
                                                                    std::optional<ByteRange> range,
                                                                    std::uint64_t whole_limit) {
  const auto started = std::chrono::steady_clock::now();
  const auto deadline =
      started + request_deadline(options_.timeout, range ? range->length : whole_limit);
  const std::wstring address = wide(url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength = DWORD(-1);
  if (!::WinHttpCrackUrl(address.c_str(), static_cast<DWORD>(address.size()), 0, &parts)) {
    return last_failure();
  }
  if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS) {
    return std::unexpected(TransportFailure{
        IoError::simple(IoErrorKind::InvalidData, "not an http:// or https:// URL"), false});
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  path = path.substr(0, path.find(L'#'));  // a fragment is not sent
  if (path.empty()) path = L"/";

  const Handle connection(::WinHttpConnect(session_.get(), host.c_str(), parts.nPort, 0));
  if (!connection) return last_failure();
  const Handle request(
      ::WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                           WINHTTP_DEFAULT_ACCEPT_TYPES,
                           parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
  if (!request) return last_failure();
  // The reader follows redirects itself, within the URL's host only.
  DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
  ::WinHttpSetOption(request.get(), WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof policy);
  // The wait for the answer's headers has a bound of its own, not set by
  // WinHttpSetTimeouts.
  DWORD timeout = timeout_of(options_);
  ::WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &timeout,
                     sizeof timeout);
  // HTTP/2 where the system has it; older systems go on with HTTP/1.1.
  DWORD protocols = WINHTTP_PROTOCOL_FLAG_HTTP2;
  ::WinHttpSetOption(request.get(), WINHTTP_OPTION_ENABLE_HTTP_PROTOCOL, &protocols,
                     sizeof protocols);

  std::vector<std::string> headers = options_.headers;
  if (range) {
    headers.push_back("Range: bytes=" + std::to_string(range->offset) + "-" +
                      std::to_string(range->end() - 1));
  }
  for (const std::string& line : headers) {
    const std::wstring text = wide(line);
    if (!::WinHttpAddRequestHeaders(request.get(), text.c_str(), static_cast<DWORD>(text.size()),
                                    WINHTTP_ADDREQ_FLAG_ADD)) {
      return last_failure();
    }
  }
  if (!::WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
      !::WinHttpReceiveResponse(request.get(), nullptr)) {
    return last_failure();
  }

  HttpResponse response;
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX)) {
    return last_failure();
  }
  response.status = static_cast<int>(status);
  const std::uint64_t body_limit = status == 206 && range ? range->length + 1 : whole_limit;
  response.content_range = header(request.get(), WINHTTP_QUERY_CONTENT_RANGE);
  response.etag = header(request.get(), WINHTTP_QUERY_ETAG);
  response.last_modified = header(request.get(), WINHTTP_QUERY_LAST_MODIFIED);
  response.location = header(request.get(), WINHTTP_QUERY_LOCATION);

  // Content-Length, when the answer gives one: room for the body at once,
  // and a check that it came whole.
  const std::string declared = header(request.get(), WINHTTP_QUERY_CONTENT_LENGTH);
  std::uint64_t length = 0;
  const auto [end, parsed] =
      std::from_chars(declared.data(), declared.data() + declared.size(), length);
  const bool known = parsed == std::errc() && end == declared.data() + declared.size() &&
                     status != 204 && status != 304;

  // The body up to the limit; a byte past it ends the transfer, and the
  // reader says what was wrong with the answer.
  Bytes& body = response.body;
  try {
    if (known) body.reserve(std::min(length, body_limit));
  } catch (const std::bad_alloc&) {
    return std::unexpected(TransportFailure{IoError::out_of_memory(length), false});
  }
  for (;;) {
    DWORD got = 0;
    if (body.size() >= body_limit) {
      std::uint8_t probe = 0;
      if (!::WinHttpReadData(request.get(), &probe, 1, &got)) return last_failure();
      response.overflow = got > 0;
      break;
    }
    const std::size_t at = body.size();
    const DWORD want = static_cast<DWORD>(std::min<std::uint64_t>(body_limit - at, 1 << 20));
    if (auto grown = try_resize(body, at + want); !grown) {
      return std::unexpected(TransportFailure{grown.error(), false});
    }
    const bool read = ::WinHttpReadData(request.get(), body.data() + at, want, &got);
    body.resize(at + (read ? got : 0));
    if (!read) return last_failure();
    if (got == 0) break;
    // A body that trickles in has a deadline all the same.
    if (std::chrono::steady_clock::now() > deadline) {
      return std::unexpected(TransportFailure{
          IoError::simple(IoErrorKind::Other,
                          "the answer came too slowly (a deadline of " +
                              std::to_string((deadline - started) / std::chrono::seconds(1)) +
                              " s)"),
          true});
    }
  }
  // WinHTTP may end a body whose connection closed early as if it were whole.
  if (known && !response.overflow && body.size() < length) {
    return std::unexpected(TransportFailure{
        IoError::simple(IoErrorKind::Other, "the connection closed " +
                                                std::to_string(length - body.size()) +
                                                " bytes before the end of the body"),
        true});
  }
  return response;
}

}  // namespace

std::expected<std::unique_ptr<HttpTransport>, IoError> make_http_transport(
    const HttpOptions& options) {
  if (!options.ca_file.empty()) {
    return std::unexpected(IoError::simple(
        IoErrorKind::Other,
        "a CA file is not used on Windows: WinHTTP trusts the system's certificate store, so add "
        "the CA to that store (certutil -addstore Root FILE) instead of passing it as a file"));
  }
  // The system's proxy settings, as other programs on it use them.
  Handle session(::WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                               WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) {
    session.reset(::WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                WINHTTP_NO_PROXY_BYPASS, 0));
  }
  if (!session) return std::unexpected(error_of(::GetLastError()));
  const int timeout = static_cast<int>(timeout_of(options));
  if (!::WinHttpSetTimeouts(session.get(), timeout, timeout, timeout, timeout)) {
    return std::unexpected(error_of(::GetLastError()));
  }
  DWORD connections = std::max(1u, options.concurrency);
  ::WinHttpSetOption(session.get(), WINHTTP_OPTION_MAX_CONNS_PER_SERVER, &connections,
                     sizeof connections);
  return std::make_unique<WinHttpTransport>(options, std::move(session));
}

}  // namespace brackwater_dat::http
