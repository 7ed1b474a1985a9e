#include "archive.hpp"

#include <algorithm>
#include <array>
#include <brackwater_dat/dat_header.hpp>
#include <brackwater_dat/http_source.hpp>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>

#include "output.hpp"
#include "process.hpp"
#include "text_format.hpp"

namespace brackwater_dat::cli {
namespace {

// Where an archive's header ends: a shorter file holds none.
constexpr std::uint64_t kHeaderEnd = 0x190;

// How a failure to open an archive is told, by the error's code: whether the
// library's text names the file itself (as "cannot open PATH: ..." does) or
// the tool puts the path in front of it. Every such failure exits with
// status 2 (ExitStatus::Failure).
constexpr std::array<bool, kErrorCodes> kNamesItsFile = [] {
  std::array<bool, kErrorCodes> names{};
  names[static_cast<std::size_t>(ErrorCode::path_error)] = true;
  return names;
}();

// A FIFO or socket opens but cannot be read at offsets, as an archive is.
bool is_stream(const std::string& path) {
  std::error_code ignored;
  const auto type = std::filesystem::status(path_of(path), ignored).type();
  return type == std::filesystem::file_type::fifo || type == std::filesystem::file_type::socket;
}

RemoteReading& remote_reading() {
  static RemoteReading reading;
  return reading;
}

// One URL's source, shared by each database opened over it.
class SharedSource final : public Source {
 public:
  explicit SharedSource(std::shared_ptr<Source> source) : source_(std::move(source)) {}
  std::expected<std::size_t, IoError> read_at(std::uint64_t offset,
                                              std::span<std::uint8_t> buffer) const override {
    return source_->read_at(offset, buffer);
  }
  std::expected<std::uint64_t, IoError> length() const override { return source_->length(); }
  void will_need(std::uint64_t offset, std::uint64_t length) const override {
    source_->will_need(offset, length);
  }

 private:
  std::shared_ptr<Source> source_;
};

void show_exchange(const HttpExchange& exchange) {
  static std::mutex shown;
  const std::string range = exchange.length == 0
                                ? std::string("whole")
                                : "bytes=" + std::to_string(exchange.offset) + "-" +
                                      std::to_string(exchange.offset + exchange.length - 1);
  const std::string line =
      "brackwater-dat: GET " + shown_path(exchange.url) + " " + range + ": " +
      (exchange.status == 0 ? std::string("no answer") : std::to_string(exchange.status)) + ", " +
      std::to_string(exchange.received) + " bytes, " +
      std::to_string(exchange.elapsed.count() / 1000) + " ms\n";
  const std::lock_guard lock(shown);
  std::fputs(line.c_str(), stderr);
}

Result<std::shared_ptr<Source>> url_source(const std::string& url) {
  static std::map<std::string, std::shared_ptr<Source>> opened;
  if (const auto it = opened.find(url); it != opened.end()) return it->second;
  const RemoteReading& reading = remote_reading();
  HttpOptions options;
  options.timeout = reading.timeout;
  options.headers = reading.headers;
  if (reading.verbose) options.on_exchange = show_exchange;
  auto source = open_http_source(url, std::move(options));
  if (!source) return std::unexpected(source.error());
  return opened[url] = std::shared_ptr<Source>(std::move(*source));
}

}  // namespace

void set_remote_reading(RemoteReading reading) { remote_reading() = std::move(reading); }

Result<DatDatabase> open_database(const std::string& path, DirectoryLoading loading) {
  if (!is_http_url(path)) return DatDatabase::open(path_of(path), loading);
  auto source = url_source(path);
  if (!source) return std::unexpected(source.error());
  return DatDatabase::open_source(std::make_unique<SharedSource>(*source), loading);
}

std::string open_failure_text(const std::string& path, const DatError& error) {
  const std::string text = error_text(error);
  if (kNamesItsFile[static_cast<std::size_t>(error_code(error))]) return text;
  if (const auto* parse = std::get_if<DatError::BinRead>(&error.value)) {
    const auto& cut = parse->error.cause().short_read();
    if (cut && cut->length < kHeaderEnd && text == display_text(error)) {
      return shown_path(path) + (cut->length == 0
                                     ? " is empty: an archive's header ends at 0x190"
                                     : " ends at " + std::to_string(cut->length) +
                                           " bytes, inside the header (which ends at 0x190)");
    }
  }
  return shown_path(path) + ": " + text;
}

std::string header_problem_text(const std::vector<std::string>& problems) {
  std::string text;
  for (std::size_t i = 0; i < problems.size(); ++i) text += (i > 0 ? "; " : "") + problems[i];
  return text;
}

std::optional<DatDatabase> open_archive(const std::string& path, const Opening& opening) {
  if (path == "-") {
    report_error(
        "an archive is read at offsets, so it needs a seekable file: '-' (standard "
        "input) cannot be one; save it to a file first");
    return std::nullopt;
  }
  if (!is_http_url(path) && is_stream(path)) {
    report_error(shown_path(path) +
                 " is a pipe or socket: an archive is read at offsets, so it needs a seekable "
                 "file");
    return std::nullopt;
  }
  // The header alone first: a file that is not an archive is refused for
  // what its header says before its directory is read.
  auto db = open_database(path, DirectoryLoading::on_demand);
  if (db && opening.refuse_foreign) {
    const std::vector<std::string> problems = check_header(db->header(), db->length());
    if (!problems.empty()) {
      report_error(shown_path(path) + " is not an archive: " + problems.front() +
                   "; --any-header reads it anyway");
      return std::nullopt;
    }
  }
  // A URL is read on demand unless the run asks otherwise: a lookup then
  // costs a few requests, not the whole directory's.
  const DirectoryLoading loading =
      is_http_url(path)
          ? (remote_reading().whole ? DirectoryLoading::whole : DirectoryLoading::on_demand)
          : opening.loading;
  if (db && loading == DirectoryLoading::whole) {
    db = open_database(path, DirectoryLoading::whole);
  }
  if (!db) {
    report_error(open_failure_text(path, db.error()));
    return std::nullopt;
  }
  return std::move(*db);
}

std::optional<std::vector<DatFileEntry>> sorted_entries(const DatDatabase& db,
                                                        std::optional<std::uint8_t> type) {
  auto entries = db.entries();
  if (!entries) {
    report_error(error_text(entries.error()));
    return std::nullopt;
  }
  return of_type(std::move(*entries), type);
}

std::vector<DatFileEntry> of_type(std::vector<DatFileEntry> entries,
                                  std::optional<std::uint8_t> type) {
  if (type) {
    std::erase_if(entries, [&](const DatFileEntry& e) { return file_type_of(e.id) != *type; });
  }
  return entries;
}

std::string failure_text(const DatDatabase& db, const TypedId& id, const DatError& error) {
  std::string text = error_text(error);
  if (std::holds_alternative<DatError::NotFound>(error.value)) {
    text += id.suggestion([&](std::uint32_t other) { return db.find(other).has_value(); }, hex_id);
  }
  return text;
}

std::string counted(std::uint64_t count, std::string_view noun) {
  return std::to_string(count) + " " + std::string(noun) + (count == 1 ? "" : "s");
}

}  // namespace brackwater_dat::cli
