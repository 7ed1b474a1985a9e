#include "brackwater_dat/http_source.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <list>
#include <map>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "http_transport.hpp"
#include "http_url.hpp"

namespace brackwater_dat {
namespace http {
namespace {

using Clock = std::chrono::steady_clock;

// The cache's unit: reads are fetched in whole pages.
constexpr std::uint64_t kPage = 4096;
// The first request: the header, and the length from its Content-Range.
constexpr std::uint64_t kFirstFetch = 4096;
// Misses and advice this close together go out as one request: a round
// trip costs more than the bytes between them.
constexpr std::uint64_t kMergeGap = 32 * 1024;
// The longest request; longer reads go out in parts.
constexpr std::uint64_t kMaxFetch = 4 * 1024 * 1024;
// A run of reads, each starting where the one before ended, fetches twice as
// far each time, from this on.
constexpr std::uint64_t kFirstStreamFetch = 64 * 1024;
// The most advice adds to a request: a lookup's advice is the siblings of
// each node on its way, and a few of them are worth their bytes. Where
// more misses in a row than a lookup makes were of nodes advised (a walk of
// the whole directory), advice has proved itself, and the reach doubles
// with each.
constexpr std::uint64_t kAdviceReach = 64 * 1024;
constexpr std::uint64_t kLookupMisses = 3;
// The cache's pages are held in slabs of this many.
constexpr std::uint32_t kSlabPages = 256;
// Advice kept for later requests; advice past this is not taken.
constexpr std::size_t kMostAdvice = 4096;
// Requests failed in a row, after their retries, before the server is given
// a rest (and requests are no longer retried).
constexpr unsigned kFailuresBeforeRest = 3;
// Redirects followed for one request.
constexpr int kMostRedirects = 5;

std::string range_text(ByteRange range) {
  return "bytes " + std::to_string(range.offset) + "-" +
         std::to_string(range.end() - (range.length > 0));
}

IoError failure(IoErrorKind kind, const std::string& url, std::optional<ByteRange> range,
                const std::string& what) {
  return IoError::simple(kind, url + (range ? " (" + range_text(*range) + ")" : "") + ": " + what);
}

std::optional<std::uint64_t> parse_number(std::string_view text) {
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

// "bytes A-B/T" as the range [A, B] and the total T (none for "*"), or for an
// unsatisfiable range "bytes */T" the total alone.
struct ContentRange {
  std::optional<ByteRange> range;
  std::optional<std::uint64_t> total;
};

std::optional<ContentRange> parse_content_range(std::string_view text) {
  if (!text.starts_with("bytes ")) return std::nullopt;
  text.remove_prefix(6);
  const std::size_t slash = text.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  ContentRange parsed;
  if (const std::string_view total = text.substr(slash + 1); total != "*") {
    parsed.total = parse_number(total);
    if (!parsed.total) return std::nullopt;
  }
  const std::string_view span = text.substr(0, slash);
  if (span == "*") return parsed.total ? std::optional(parsed) : std::nullopt;
  const std::size_t dash = span.find('-');
  if (dash == std::string_view::npos) return std::nullopt;
  const auto first = parse_number(span.substr(0, dash));
  const auto last = parse_number(span.substr(dash + 1));
  if (!first || !last || *last < *first || *last == UINT64_MAX) return std::nullopt;
  parsed.range = ByteRange{*first, *last - *first + 1};
  return parsed;
}

std::string status_text(int status) {
  switch (status) {
    case 401:
      return "the server asks for credentials (HTTP 401)";
    case 403:
      return "the server refuses access (HTTP 403)";
    case 404:
      return "not found on the server (HTTP 404)";
    default:
      return "the server answered HTTP " + std::to_string(status);
  }
}

IoErrorKind status_kind(int status) {
  if (status == 404 || status == 410) return IoErrorKind::NotFound;
  if (status == 401 || status == 403) return IoErrorKind::PermissionDenied;
  return IoErrorKind::Other;
}

bool retryable_status(int status) {
  return status == 429 || status == 500 || status == 502 || status == 503 || status == 504;
}

// A server that ignores ranges sent the archive whole: it is held as sent.
class WholeSource final : public Source {
 public:
  explicit WholeSource(Bytes bytes) : bytes_(std::move(bytes)) {}
  std::expected<std::size_t, IoError> read_at(std::uint64_t offset,
                                              std::span<std::uint8_t> buffer) const override {
    if (offset >= bytes_.size()) return 0;
    const std::size_t n = std::min<std::uint64_t>(buffer.size(), bytes_.size() - offset);
    std::memcpy(buffer.data(), bytes_.data() + offset, n);
    return n;
  }
  std::expected<std::uint64_t, IoError> length() const override { return bytes_.size(); }

 private:
  Bytes bytes_;
};

// The archive behind a URL: a bounded cache of pages over range requests.
//
// A read that finds its first page cached copies what follows of it that is
// cached; else it waits for the request that brings that page, joining one
// in flight or queued, or queueing its own. Requests queued while all
// `concurrency` are in flight take in the misses near them, so the reads of
// many threads at once go out as few requests. A request sent also takes
// the advice near it and, where it continues the one before, reads on twice
// as far. Each read returns after at most one request, with the bytes from
// it or the cache, so a cache smaller than a read never stalls it.
class HttpSource final : public Source {
 public:
  HttpSource(std::unique_ptr<HttpTransport> transport, HttpOptions options, std::string url)
      : transport_(std::move(transport)), options_(std::move(options)), url_(std::move(url)) {}

  // Sends the first request; the length comes from its answer.
  Result<std::unique_ptr<Source>> open(std::unique_ptr<HttpSource> self);

  std::expected<std::size_t, IoError> read_at(std::uint64_t offset,
                                              std::span<std::uint8_t> buffer) const override;
  std::expected<std::uint64_t, IoError> length() const override { return length_; }
  void will_need(std::uint64_t offset, std::uint64_t length) const override;

 private:
  struct Fetch {
    ByteRange range;  // page-aligned, within the archive
    bool sent = false;
    bool done = false;
    Bytes body;  // exactly range.length bytes once done without error
    std::optional<IoError> error;
  };
  struct Page {
    std::uint32_t slot;                       // where its bytes are held
    std::uint32_t size;                       // kPage, or less at the archive's end
    std::list<std::uint64_t>::iterator used;  // its place in the recency list
  };

  // The answer to one request, checked, after redirects and retries.
  std::expected<Bytes, IoError> fetch(ByteRange range) const;
  std::expected<HttpResponse, IoError> exchange(std::string& url, std::optional<ByteRange> range,
                                                std::uint64_t limit) const;
  std::expected<void, IoError> check_validators(const HttpResponse& response,
                                                ByteRange range) const;

  // Under mutex_:
  bool cached(std::uint64_t page) const { return pages_.contains(page); }
  // The request, other than `besides`, that brings `page`.
  std::shared_ptr<Fetch> in_flight(std::uint64_t page, const Fetch* besides = nullptr) const;
  std::uint64_t missing_end(std::uint64_t page, std::uint64_t last) const;
  void widen(Fetch& fetch) const;
  void store(const Fetch& fetch) const;
  std::optional<std::uint32_t> take_slot() const;
  std::uint8_t* slot_bytes(std::uint32_t slot) const {
    return slabs_[slot / kSlabPages].get() + std::size_t{slot % kSlabPages} * kPage;
  }
  std::size_t copy_cached(std::uint64_t offset, std::span<std::uint8_t> out) const;

  std::unique_ptr<HttpTransport> transport_;
  HttpOptions options_;
  mutable std::string url_;  // after the first request's redirects
  std::uint64_t length_ = 0;
  std::string etag_, last_modified_;  // the first answer's

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  mutable std::unordered_map<std::uint64_t, Page> pages_;
  mutable std::list<std::uint64_t> recency_;  // most recent first
  // The pages' bytes, in slabs made as the cache fills and kept: the cache
  // takes no more than its bound, in few allocations, whichever threads
  // fill it.
  mutable std::vector<std::unique_ptr<std::uint8_t[]>> slabs_;
  mutable std::uint32_t slots_made_ = 0;
  mutable std::vector<std::uint32_t> free_slots_;
  mutable std::vector<std::shared_ptr<Fetch>> fetches_;
  mutable unsigned sending_ = 0;
  mutable std::map<std::uint64_t, std::uint64_t> advice_;  // offset to length
  mutable std::uint64_t foreseen_ = 0;                     // misses in a row of nodes advised
  // The last requests sent: where each ended and how long it was.
  mutable std::array<ByteRange, 8> recent_{};
  mutable std::size_t next_recent_ = 0;
  // Requests that failed in a row (after their retries), and the rest
  // the server is given after kFailuresBeforeRest of them.
  mutable unsigned failures_ = 0;
  mutable Clock::time_point rest_until_{};
  mutable std::string last_failure_;
  unsigned failures_in_row() const {
    const std::lock_guard lock(mutex_);
    return failures_;
  }
};

std::expected<HttpResponse, IoError> HttpSource::exchange(std::string& url,
                                                          std::optional<ByteRange> range,
                                                          std::uint64_t limit) const {
  const std::optional<std::string> origin = url_origin(url);
  // A server that failed the last few requests is given a rest: reads fail
  // at once, then one request sees whether it is back.
  {
    const std::lock_guard lock(mutex_);
    if (failures_ >= kFailuresBeforeRest && Clock::now() < rest_until_) {
      return std::unexpected(IoError::simple(
          IoErrorKind::Other, "not asked: the server failed the last " + std::to_string(failures_) +
                                  " requests (" + last_failure_ + ")"));
    }
  }
  const auto failed = [&](IoError error) {
    const std::lock_guard lock(mutex_);
    if (++failures_ >= kFailuresBeforeRest) {
      rest_until_ = Clock::now() +
                    std::max<std::chrono::milliseconds>(options_.timeout, std::chrono::seconds(1));
    }
    last_failure_ = error.message();
    return std::unexpected(std::move(error));
  };
  for (unsigned attempt = 0, redirects = 0;;) {
    const auto started = Clock::now();
    auto answer = transport_->get(url, range, limit);
    if (options_.on_exchange) {
      options_.on_exchange(HttpExchange{
          .url = url,
          .offset = range ? range->offset : 0,
          .length = range ? range->length : 0,
          .status = answer ? answer->status : 0,
          .received = answer ? answer->body.size() : 0,
          .elapsed =
              std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started)});
    }
    const bool retry = answer ? retryable_status(answer->status) : answer.error().retryable;
    if (retry && attempt < options_.retries && failures_in_row() < kFailuresBeforeRest) {
      std::this_thread::sleep_for(std::chrono::milliseconds(250 << attempt++));
      continue;
    }
    if (!answer) return failed(std::move(answer.error().error));
    const int status = answer->status;
    if (retry)
      failed(IoError::simple(IoErrorKind::Other, status_text(status)));
    else {
      const std::lock_guard lock(mutex_);
      failures_ = 0;
    }
    if (status >= 300 && status < 400 && status != 304 && !answer->location.empty()) {
      const std::string next = resolve_location(url, answer->location);
      if (url_origin(next) != origin) {
        return std::unexpected(
            IoError::simple(IoErrorKind::PermissionDenied,
                            "redirected to another host (" + next +
                                "); a redirect is followed only within the URL's host"));
      }
      if (++redirects > kMostRedirects) {
        return std::unexpected(
            IoError::simple(IoErrorKind::Other, "more than 5 redirects in a row"));
      }
      url = next;
      continue;
    }
    return std::move(*answer);
  }
}

std::expected<void, IoError> HttpSource::check_validators(const HttpResponse& response,
                                                          ByteRange range) const {
  const auto changed = [&](const std::string& first, const std::string& now) {
    return !first.empty() && !now.empty() && first != now;
  };
  if (changed(etag_, response.etag) || changed(last_modified_, response.last_modified)) {
    return std::unexpected(
        failure(IoErrorKind::InvalidData, url_, range,
                "the archive changed on the server while it was read (its " +
                    std::string(changed(etag_, response.etag) ? "ETag" : "Last-Modified") +
                    " is no longer the first answer's)"));
  }
  return {};
}

std::expected<Bytes, IoError> HttpSource::fetch(ByteRange range) const {
  std::string url = url_;
  auto answer = exchange(url, range, range.length + 1);
  const auto wrong = [&](IoErrorKind kind, const std::string& what) {
    return std::unexpected(failure(kind, url, range, what));
  };
  if (!answer) return wrong(answer.error().kind(), answer.error().message());
  if (answer->status == 200) {
    return wrong(IoErrorKind::InvalidData,
                 "the server sent the whole archive (HTTP 200) rather than the range asked for");
  }
  if (answer->status != 206) {
    return wrong(status_kind(answer->status), status_text(answer->status));
  }
  const auto given = parse_content_range(answer->content_range);
  if (!given || !given->range || given->range->offset != range.offset ||
      given->range->length != range.length || (given->total && *given->total != length_)) {
    return wrong(
        IoErrorKind::InvalidData,
        "the server sent " +
            (answer->content_range.empty() ? std::string("no Content-Range")
                                           : "Content-Range '" + answer->content_range + "'") +
            ", not the bytes asked for of " + std::to_string(length_));
  }
  if (answer->overflow || answer->body.size() != range.length) {
    const bool more = answer->overflow || answer->body.size() > range.length;
    const std::string bytes = std::to_string(range.length) + " bytes of its Content-Range";
    return wrong(
        more ? IoErrorKind::InvalidData : IoErrorKind::UnexpectedEof,
        more ? "the body held more than the " + bytes
             : "the body held only " + std::to_string(answer->body.size()) + " of the " + bytes);
  }
  if (auto same = check_validators(*answer, range); !same) return std::unexpected(same.error());
  return std::move(answer->body);
}

Result<std::unique_ptr<Source>> HttpSource::open(std::unique_ptr<HttpSource> self) {
  const std::string given_url = url_;
  const auto cannot = [&](IoErrorKind kind, const std::string& what) {
    return std::unexpected(DatError{DatError::PathError{given_url, IoError::simple(kind, what)}});
  };
  const ByteRange first{0, kFirstFetch};
  auto answer = exchange(url_, first, options_.whole_limit + 1);
  if (!answer) return cannot(answer.error().kind(), answer.error().message());
  etag_ = answer->etag;
  last_modified_ = answer->last_modified;
  if (answer->status == 200) {
    if (answer->overflow) {
      return cannot(IoErrorKind::OutOfMemory,
                    "the server ignores range requests, and the archive is more than "
                    "the " +
                        std::to_string(options_.whole_limit >> 20) +
                        " MiB read whole from such a server");
    }
    return std::make_unique<WholeSource>(std::move(answer->body));
  }
  const auto given = parse_content_range(answer->content_range);
  if (answer->status == 416 && given && given->total == 0 && !given->range) {
    return std::unique_ptr<Source>(std::move(self));  // an empty archive
  }
  if (answer->status != 206) {
    return cannot(status_kind(answer->status), status_text(answer->status));
  }
  if (!given || !given->range || !given->total || given->range->offset != 0 ||
      given->range->length != std::min(kFirstFetch, *given->total) ||
      answer->body.size() != given->range->length) {
    return cannot(IoErrorKind::InvalidData,
                  "the answer to the first request (" + range_text(first) +
                      ") is not the bytes asked for (Content-Range '" + answer->content_range +
                      "', " + std::to_string(answer->body.size()) + " bytes of body)");
  }
  length_ = *given->total;
  Fetch fetch;
  fetch.range = *given->range;
  fetch.body = std::move(answer->body);
  fetch.range.length = std::min(fetch.range.length, length_);
  {
    const std::lock_guard lock(mutex_);
    store(fetch);
  }
  return std::unique_ptr<Source>(std::move(self));
}

std::shared_ptr<HttpSource::Fetch> HttpSource::in_flight(std::uint64_t page,
                                                         const Fetch* besides) const {
  for (const auto& fetch : fetches_) {
    if (fetch.get() != besides && page * kPage >= fetch->range.offset &&
        page * kPage < fetch->range.end())
      return fetch;
  }
  return nullptr;
}

// The end of the run of pages from `page` to `last` that are neither cached
// nor being fetched.
std::uint64_t HttpSource::missing_end(std::uint64_t page, std::uint64_t last) const {
  std::uint64_t end = page + 1;
  while (end <= last && !cached(end) && !in_flight(end)) ++end;
  return end;
}

// Widens a request about to be sent: on from a request it continues, and
// over the advice near it; never over pages held or fetched already at its
// ends, never past kMaxFetch or the archive.
void HttpSource::widen(Fetch& fetch) const {
  ByteRange& range = fetch.range;
  const std::uint64_t needed = range.offset / kPage;
  const auto elsewhere = [&](std::uint64_t page) { return in_flight(page, &fetch) != nullptr; };
  const std::uint64_t most = std::min(kMaxFetch, options_.cache_bytes / 4 + kPage);
  for (const ByteRange& before : recent_) {
    if (before.length == 0) continue;
    const std::uint64_t further = std::min(std::max(kFirstStreamFetch, 2 * before.length), most);
    if (range.offset + kPage >= before.end() && range.offset <= before.end() + kMergeGap) {
      // From where the one before ended: a page skipped now is a round
      // trip of its own later.
      const std::uint64_t from = std::min(range.offset, before.end());
      range = {from, std::max(range.end() - from, further)};
      break;
    }
    if (range.end() <= before.offset + kPage && range.end() + kMergeGap >= before.offset) {
      // Backwards, as a chain whose blocks were laid out in reverse reads.
      const std::uint64_t to = std::max(range.end(), before.offset);
      const std::uint64_t from = std::min(range.offset, to - std::min(to, further));
      range = {from, to - from};
      break;
    }
  }
  // Advice near the request joins it, up to the reach more, gaps and all;
  // taken advice is forgotten, so that it is asked for once.
  const auto overlapping = advice_.upper_bound(range.end() - 1);
  // A miss a walk makes: advised, and of a node's size (at most a page).
  const bool foreseen =
      overlapping != advice_.begin() &&
      std::prev(overlapping)->first + std::prev(overlapping)->second > range.offset &&
      std::prev(overlapping)->second <= kPage;
  foreseen_ = foreseen ? foreseen_ + 1 : 0;
  const std::uint64_t grown =
      std::min<std::uint64_t>(foreseen_ - std::min(foreseen_, kLookupMisses), 6);
  const std::uint64_t advice_reach = std::min(most, kAdviceReach << grown);
  const std::uint64_t gap = std::max(kMergeGap, advice_reach / 2);
  const std::uint64_t reach = std::min(most, range.length + advice_reach);
  for (bool grew = true; grew;) {
    grew = false;
    const std::uint64_t from = range.offset - std::min(range.offset, gap + kMaxFetch);
    for (auto it = advice_.lower_bound(from);
         it != advice_.end() && it->first <= range.end() + gap;) {
      const ByteRange advised{it->first, it->second};
      const std::uint64_t begin = std::min(range.offset, advised.offset);
      const std::uint64_t end = std::max(range.end(), advised.end());
      if (range.offset <= advised.end() + gap && end - begin <= reach) {
        range = {begin, end - begin};
        it = advice_.erase(it);
        grew = true;
      } else {
        ++it;
      }
    }
  }
  // Page-aligned, within the archive, around the page first missed: never
  // over another request, nor over what is held at its ends.
  std::uint64_t first = range.offset / kPage;
  std::uint64_t last = (std::min(range.end(), length_) + kPage - 1) / kPage;  // past the end
  for (std::uint64_t page = needed; page > first; --page) {
    if (elsewhere(page - 1)) first = page;
  }
  for (std::uint64_t page = needed + 1; page < last; ++page) {
    if (elsewhere(page)) last = page;
  }
  while (first < needed && cached(first)) ++first;
  while (last > needed + 1 && cached(last - 1)) --last;
  range.offset = first * kPage;
  range.length = std::min(last * kPage, length_) - range.offset;
}

// A slot for a page: a free one, a new one while the cache is below its
// bound, else the least recently used page's. None when the cache holds
// nothing (a bound below a page) or memory cannot be had.
std::optional<std::uint32_t> HttpSource::take_slot() const {
  if (!free_slots_.empty()) {
    const std::uint32_t slot = free_slots_.back();
    free_slots_.pop_back();
    return slot;
  }
  const std::uint64_t capacity = std::min<std::uint64_t>(options_.cache_bytes / kPage, UINT32_MAX);
  if (slots_made_ < capacity) {
    if (slots_made_ % kSlabPages == 0) {
      const std::uint64_t pages = std::min<std::uint64_t>(kSlabPages, capacity - slots_made_);
      auto* slab = new (std::nothrow) std::uint8_t[pages * kPage];
      if (slab == nullptr) return std::nullopt;
      slabs_.emplace_back(slab);
    }
    return slots_made_++;
  }
  if (recency_.empty()) return std::nullopt;
  const auto oldest = pages_.find(recency_.back());
  const std::uint32_t slot = oldest->second.slot;
  pages_.erase(oldest);
  recency_.pop_back();
  return slot;
}

void HttpSource::store(const Fetch& fetch) const {
  for (std::uint64_t at = 0; at < fetch.range.length; at += kPage) {
    const std::uint64_t page = (fetch.range.offset + at) / kPage;
    const auto size = static_cast<std::uint32_t>(std::min(kPage, fetch.range.length - at));
    if (auto held = pages_.find(page); held != pages_.end()) {
      recency_.splice(recency_.begin(), recency_, held->second.used);
      continue;
    }
    const auto slot = take_slot();
    if (!slot) return;
    std::memcpy(slot_bytes(*slot), fetch.body.data() + at, size);
    recency_.push_front(page);
    pages_.emplace(page, Page{*slot, size, recency_.begin()});
  }
}

// Copies the cached bytes from `offset` on, up to the first page not held.
std::size_t HttpSource::copy_cached(std::uint64_t offset, std::span<std::uint8_t> out) const {
  std::size_t copied = 0;
  while (copied < out.size()) {
    const std::uint64_t at = offset + copied;
    const auto held = pages_.find(at / kPage);
    if (held == pages_.end()) break;
    const Page& page = held->second;
    const std::size_t within = at % kPage;
    if (within >= page.size) break;
    const std::size_t n = std::min<std::size_t>(out.size() - copied, page.size - within);
    std::memcpy(out.data() + copied, slot_bytes(page.slot) + within, n);
    recency_.splice(recency_.begin(), recency_, held->second.used);
    copied += n;
  }
  return copied;
}

std::expected<std::size_t, IoError> HttpSource::read_at(std::uint64_t offset,
                                                        std::span<std::uint8_t> buffer) const {
  if (offset >= length_ || buffer.empty()) return 0;
  const auto wanted = buffer.first(std::min<std::uint64_t>(buffer.size(), length_ - offset));
  const std::uint64_t page = offset / kPage;
  const std::uint64_t last = (offset + wanted.size() - 1) / kPage;
  std::unique_lock lock(mutex_);
  if (const std::size_t copied = copy_cached(offset, wanted); copied > 0) return copied;

  std::shared_ptr<Fetch> fetch = in_flight(page);
  if (!fetch) {
    // One request at most: a longer read is answered in parts.
    const std::uint64_t end = missing_end(page, std::min(last, page + kMaxFetch / kPage - 1));
    const ByteRange missed{page * kPage, std::min(end * kPage, length_) - page * kPage};
    // A request still queued takes this miss when it lies near.
    for (const auto& queued : fetches_) {
      const ByteRange r = queued->range;
      const std::uint64_t begin = std::min(r.offset, missed.offset);
      const std::uint64_t stop = std::max(r.end(), missed.end());
      if (!queued->sent && missed.offset <= r.end() + kMergeGap &&
          r.offset <= missed.end() + kMergeGap && stop - begin <= kMaxFetch) {
        bool clear = true;  // no other request within the union
        for (std::uint64_t p = begin / kPage; p * kPage < stop && clear; ++p) {
          const auto other = in_flight(p);
          clear = !other || other == queued;
        }
        if (clear) {
          queued->range = {begin, stop - begin};
          fetch = queued;
          break;
        }
      }
    }
    if (!fetch) {
      fetch = std::make_shared<Fetch>();
      fetch->range = missed;
      fetches_.push_back(fetch);
      changed_.wait(lock, [&] { return sending_ < options_.concurrency; });
      widen(*fetch);
      fetch->sent = true;
      ++sending_;
      recent_[next_recent_++ % recent_.size()] = fetch->range;
      lock.unlock();
      auto body = this->fetch(fetch->range);
      lock.lock();
      --sending_;
      if (body) {
        fetch->body = std::move(*body);
        store(*fetch);
      } else {
        fetch->error = body.error();
      }
      fetch->done = true;
      std::erase(fetches_, fetch);
      changed_.notify_all();
    }
  }
  changed_.wait(lock, [&] { return fetch->done; });
  if (fetch->error) return std::unexpected(*fetch->error);
  // The request may not reach `offset` when a queued request took this miss
  // but was trimmed: the caller reads on.
  if (offset < fetch->range.offset || offset >= fetch->range.end()) {
    if (const std::size_t copied = copy_cached(offset, wanted); copied > 0) return copied;
    lock.unlock();
    return read_at(offset, buffer);
  }
  const std::size_t n = std::min<std::uint64_t>(wanted.size(), fetch->range.end() - offset);
  std::memcpy(wanted.data(), fetch->body.data() + (offset - fetch->range.offset), n);
  return n;
}

void HttpSource::will_need(std::uint64_t offset, std::uint64_t length) const {
  if (offset >= length_ || length == 0) return;
  length = std::min({length, length_ - offset, kMaxFetch});
  const std::lock_guard lock(mutex_);
  // Advice for what is held already would only take room.
  bool held = true;
  for (std::uint64_t page = offset / kPage; page * kPage < offset + length && held; ++page) {
    held = cached(page);
  }
  if (held || advice_.size() >= kMostAdvice) return;
  auto& advised = advice_[offset];
  advised = std::max(advised, length);
}

}  // namespace
}  // namespace http

std::optional<std::string> http_header_problem(std::string_view header) {
  const std::size_t colon = header.find(':');
  const std::string_view name = header.substr(0, colon);
  const bool token = !name.empty() && std::ranges::all_of(name, [](unsigned char c) {
    return std::isalnum(c) || std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
  });
  if (colon == std::string_view::npos || !token) return "is not 'Name: value'";
  if (header.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
    return "holds a line break or a NUL";
  }
  std::string lower(name);
  std::ranges::transform(lower, lower.begin(), [](unsigned char c) { return std::tolower(c); });
  if (lower == "range" || lower == "content-length" || lower == "transfer-encoding") {
    return "is the reader's own to send";
  }
  return std::nullopt;
}

bool is_http_url(std::string_view text) noexcept {
  try {
    return http::url_origin(text).has_value();
  } catch (...) {
    return false;
  }
}

Result<std::unique_ptr<Source>> open_http_source(std::string_view url, HttpOptions options) {
  const std::string address(url);
  if (!is_http_url(address)) {
    return std::unexpected(DatError{DatError::PathError{
        address, IoError::simple(IoErrorKind::InvalidData, "not an http:// or https:// URL")}});
  }
  for (const std::string& header : options.headers) {
    if (const auto wrong = http_header_problem(header)) {
      return std::unexpected(DatError{DatError::PathError{
          address, IoError::simple(IoErrorKind::InvalidData,
                                   "the header " + debug_text(header) + " " + *wrong)}});
    }
  }
  if (options.concurrency == 0) options.concurrency = 1;
  auto transport = http::make_http_transport(options);
  if (!transport) {
    return std::unexpected(DatError{DatError::PathError{address, std::move(transport.error())}});
  }
  auto source =
      std::make_unique<http::HttpSource>(std::move(*transport), std::move(options), address);
  http::HttpSource& self = *source;
  return self.open(std::move(source));
}

}  // namespace brackwater_dat
