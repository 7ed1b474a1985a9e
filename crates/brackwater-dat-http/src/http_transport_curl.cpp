#include <curl/curl.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "http_transport.hpp"

namespace brackwater_dat::http {
namespace {

// One request in the transfer thread's hands, and its answer.
struct Job {
  CURL* easy = nullptr;
  curl_slist* headers = nullptr;
  std::uint64_t whole_limit = 0;  // for an answer other than a 206
  std::uint64_t range_limit = 0;  // for a 206: a byte more than the range
  HttpResponse response;
  char error[CURL_ERROR_SIZE] = {};
  CURLcode result = CURLE_OK;
  bool done = false;
};

std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user) {
  auto& job = *static_cast<Job*>(user);
  const std::size_t n = size * count;
  Bytes& body = job.response.body;
  long status = 0;
  curl_easy_getinfo(job.easy, CURLINFO_RESPONSE_CODE, &status);
  const std::uint64_t limit = status == 206 ? job.range_limit : job.whole_limit;
  const std::uint64_t room = limit - std::min<std::uint64_t>(limit, body.size());
  const std::size_t taken = static_cast<std::size_t>(std::min<std::uint64_t>(n, room));
  try {
    body.insert(body.end(), data, data + taken);
  } catch (const std::bad_alloc&) {
    return 0;  // ends the transfer: CURLE_WRITE_ERROR
  }
  if (taken < n) job.response.overflow = true;
  return taken;
}

std::string trimmed(std::string_view text) {
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' '))
    text.remove_suffix(1);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  return std::string(text);
}

// Keeps the headers the reader checks, of the last answer (a 100 Continue or
// a proxy's answer comes first).
std::size_t on_header(char* data, std::size_t size, std::size_t count, void* user) {
  auto& response = static_cast<Job*>(user)->response;
  const std::string_view line(data, size * count);
  if (line.starts_with("HTTP/")) {
    response.content_range.clear();
    response.etag.clear();
    response.last_modified.clear();
    response.location.clear();
    return line.size();
  }
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) return line.size();
  std::string name(line.substr(0, colon));
  std::ranges::transform(name, name.begin(), [](unsigned char c) { return std::tolower(c); });
  const std::string value = trimmed(line.substr(colon + 1));
  if (name == "content-range") response.content_range = value;
  if (name == "etag") response.etag = value;
  if (name == "last-modified") response.last_modified = value;
  if (name == "location") response.location = value;
  return line.size();
}

bool retryable(CURLcode code) {
  switch (code) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
      return true;
    default:
      return false;
  }
}

// libcurl's multi interface on a thread of its own: requests from any thread
// share its connections, and over HTTP/2 one connection carries them all.
class CurlTransport final : public HttpTransport {
 public:
  explicit CurlTransport(const HttpOptions& options) : options_(options) {
    multi_ = curl_multi_init();
    curl_multi_setopt(multi_, CURLMOPT_PIPELINING, CURLPIPE_MULTIPLEX);
    curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS,
                      static_cast<long>(options.concurrency));
    thread_ = std::thread([this] { run(); });
  }
  ~CurlTransport() override {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    curl_multi_wakeup(multi_);
    thread_.join();
    curl_multi_cleanup(multi_);
  }

  std::expected<HttpResponse, TransportFailure> get(const std::string& url,
                                                    std::optional<ByteRange> range,
                                                    std::uint64_t whole_limit) override;

 private:
  void run();
  void finish(CURL* easy, CURLcode result);

  const HttpOptions options_;
  CURLM* multi_ = nullptr;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable finished_;
  std::vector<Job*> waiting_;  // to be added to the multi handle
  bool stopping_ = false;
};

std::expected<HttpResponse, TransportFailure> CurlTransport::get(const std::string& url,
                                                                 std::optional<ByteRange> range,
                                                                 std::uint64_t whole_limit) {
  Job job;
  job.whole_limit = whole_limit;
  job.range_limit = range ? range->length + 1 : whole_limit;
  job.easy = curl_easy_init();
  if (!job.easy) return std::unexpected(TransportFailure{IoError::out_of_memory(0), false});
  CURL* easy = job.easy;
  const long timeout_ms = static_cast<long>(options_.timeout.count());
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(easy, CURLOPT_PIPEWAIT, 1L);
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, timeout_ms);
  // A request that goes a whole timeout without a byte has stalled.
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, std::max(1L, (timeout_ms + 999) / 1000));
  // And a request that trickles has a deadline.
  const auto deadline = request_deadline(options_.timeout, range ? range->length : whole_limit);
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, static_cast<long>(deadline.count()));
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, job.error);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, on_body);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &job);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, on_header);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &job);
  curl_easy_setopt(easy, CURLOPT_PRIVATE, &job);
  // Verification stays on; a CA file is trusted beside the system's folder.
  if (!options_.ca_file.empty()) {
    curl_easy_setopt(easy, CURLOPT_CAINFO, options_.ca_file.string().c_str());
  }
  std::string range_value;
  if (range) {
    range_value = std::to_string(range->offset) + "-" + std::to_string(range->end() - 1);
    curl_easy_setopt(easy, CURLOPT_RANGE, range_value.c_str());
  }
  for (const std::string& header : options_.headers) {
    job.headers = curl_slist_append(job.headers, header.c_str());
  }
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, job.headers);

  std::unique_lock lock(mutex_);
  waiting_.push_back(&job);
  lock.unlock();
  curl_multi_wakeup(multi_);
  lock.lock();
  finished_.wait(lock, [&] { return job.done; });
  lock.unlock();

  long status = 0;
  curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
  curl_slist_free_all(job.headers);
  curl_easy_cleanup(easy);
  // A body cut at the limit ends the transfer with a write error: the
  // answer is kept, and the reader says what was wrong with it.
  if (job.result != CURLE_OK && !(job.result == CURLE_WRITE_ERROR && job.response.overflow)) {
    const std::string what = job.error[0] != '\0' ? job.error : curl_easy_strerror(job.result);
    const IoErrorKind kind = job.result == CURLE_PEER_FAILED_VERIFICATION
                                 ? IoErrorKind::PermissionDenied
                                 : IoErrorKind::Other;
    return std::unexpected(TransportFailure{IoError::simple(kind, what), retryable(job.result)});
  }
  job.response.status = static_cast<int>(status);
  return std::move(job.response);
}

void CurlTransport::finish(CURL* easy, CURLcode result) {
  Job* job = nullptr;
  curl_easy_getinfo(easy, CURLINFO_PRIVATE, &job);
  curl_multi_remove_handle(multi_, easy);
  const std::lock_guard lock(mutex_);
  job->result = result;
  job->done = true;
  finished_.notify_all();
}

void CurlTransport::run() {
  for (;;) {
    {
      const std::lock_guard lock(mutex_);
      if (stopping_) return;
      for (Job* job : waiting_) curl_multi_add_handle(multi_, job->easy);
      waiting_.clear();
    }
    int running = 0;
    curl_multi_perform(multi_, &running);
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
      if (message->msg == CURLMSG_DONE) finish(message->easy_handle, message->data.result);
    }
    curl_multi_poll(multi_, nullptr, 0, 1000, nullptr);
  }
}

}  // namespace

std::expected<std::unique_ptr<HttpTransport>, IoError> make_http_transport(
    const HttpOptions& options) {
  static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (initialised != CURLE_OK) {
    return std::unexpected(IoError::simple(
        IoErrorKind::Other, std::string("libcurl: ") + curl_easy_strerror(initialised)));
  }
  return std::make_unique<CurlTransport>(options);
}

}  // namespace brackwater_dat::http
