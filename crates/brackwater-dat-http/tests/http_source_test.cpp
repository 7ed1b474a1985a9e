// The HTTP source against a loopback server: the same answers as the file,
// from many threads and through a cache smaller than the archive, and each
// way a server can go wrong reported as Io naming the URL and range.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <brackwater_dat/dat_database.hpp>
#include <brackwater_dat/http_source.hpp>
#include <chrono>
#include <fstream>
#include <thread>

#include "support/realistic_archives.hpp"
#include "support/subprocess.hpp"
#include "support/temp_dir.hpp"

namespace brackwater_dat {
namespace {

using test_support::TempDir;

bool same(const Result<Bytes>& a, const Result<Bytes>& b) { return a && b && *a == *b; }

// range_server.py over a folder, for as long as this lives.
class RangeServer {
 public:
  explicit RangeServer(const std::filesystem::path& folder, std::vector<std::string> extra = {}) {
    std::vector<std::string> argv = {PYTHON3, RANGE_SERVER, folder.string(), "--port-file",
                                     (folder / "port").string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    process_ = std::make_unique<test_support::StartedProcess>(argv, folder / "server.out",
                                                              folder / "server.err");
    for (int i = 0; i < 200 && !std::filesystem::exists(folder / "port"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::ifstream(folder / "port") >> port_;
    if (port_ == 0) throw std::runtime_error("the range server did not start");
    scheme_ = extra.empty() ? "http" : "https";
  }
  ~RangeServer() { process_->stop(15); }

  std::string url(const std::string& name) const {
    return scheme_ + "://127.0.0.1:" + std::to_string(port_) + "/" + name;
  }
  // Makes the next `count` answers misbehave as `how` says.
  void misbehave(const std::string& how, int count = 1) const {
    order("/_misbehave?how=" + how + "&count=" + std::to_string(count));
  }
  // Forgets the misbehaviour still to come.
  void reset() const { order("/_reset"); }

 private:
  void order(const std::string& path) const {
    CURL* easy = curl_easy_init();
    const std::string control = "http://127.0.0.1:" + std::to_string(port_) + path;
    curl_easy_setopt(easy, CURLOPT_URL, control.c_str());
    curl_easy_setopt(
        easy, CURLOPT_WRITEFUNCTION, +[](char*, size_t s, size_t n, void*) { return s * n; });
    const CURLcode sent = curl_easy_perform(easy);
    curl_easy_cleanup(easy);
    if (sent != CURLE_OK) throw std::runtime_error("the range server took no order");
  }

  std::unique_ptr<test_support::StartedProcess> process_;
  int port_ = 0;
  std::string scheme_;
};

class HttpSourceTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new TempDir;
    const Bytes image = test_support::realistic_image(600, false, true, 3);
    std::ofstream(*folder_ / "a.dat", std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    server_ = new RangeServer(folder_->path());
  }
  static void TearDownTestSuite() {
    delete server_;
    delete folder_;
  }

  static Result<DatDatabase> open_url(HttpOptions options = {},
                                      DirectoryLoading loading = DirectoryLoading::on_demand) {
    auto source = open_http_source(server_->url("a.dat"), std::move(options));
    if (!source) return std::unexpected(source.error());
    return DatDatabase::open_source(std::move(*source), loading);
  }

  static inline TempDir* folder_ = nullptr;
  static inline RangeServer* server_ = nullptr;
};

// Every file, read by 8 threads at once, is the file's; through a cache of
// 64 KiB (smaller than many reads) and of nothing at all, too.
TEST_F(HttpSourceTest, ReadsWhatTheFileHolds) {
  const auto local = DatDatabase::open(folder_->path() / "a.dat");
  ASSERT_TRUE(local);
  const auto entries = local->entries().value();
  for (const auto& [cache, loading] :
       {std::pair{std::uint64_t{64} << 20, DirectoryLoading::on_demand},
        std::pair{std::uint64_t{64} << 10, DirectoryLoading::whole},
        std::pair{std::uint64_t{0}, DirectoryLoading::on_demand}}) {
    HttpOptions options;
    options.cache_bytes = cache;
    options.concurrency = 3;
    const auto remote = open_url(options, loading);
    ASSERT_TRUE(remote) << display_text(remote.error());
    ASSERT_EQ(remote->entries().value(), entries);
    std::atomic<std::size_t> next{0}, wrong{0};
    std::vector<std::jthread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&] {
        for (std::size_t i = next++; i < entries.size(); i = next++) {
          wrong += !same(remote->get_file(entries[i].id), local->get_file(entries[i].id));
        }
      });
    }
    threads.clear();
    EXPECT_EQ(wrong, 0u) << "cache " << cache;
  }
}

// A server that goes wrong once: each way fails the read that met it, as Io
// naming the URL and the range, or is overcome (a retry, a redirect within
// the host).
TEST_F(HttpSourceTest, ServerFaults) {
  struct Case {
    std::string how;
    int count;
    std::string said;  // empty: the read succeeds
  };
  // A failure recurs for `count` answers: past the retries, and past the
  // reader's second try of one block where a run of them failed.
  const Case cases[] = {
      {"error", 2, ""},  // two retries by default
      {"error", 20, "the server answered HTTP 500"},
      {"redirect-here", 1, ""},
      {"redirect", 20, "redirected to another host (http://127.0.0.2:"},
      {"wrong-range", 20, "not the bytes asked for"},
      {"short-body", 20, "the body held only"},
      {"changed", 1, "the archive changed on the server while it was read (its ETag"},
      {"ignore-ranges", 20, "sent the whole archive (HTTP 200)"},
      {"stall", 20, "Operation too slow"},
  };
  const auto local = DatDatabase::open(folder_->path() / "a.dat");
  for (const Case& c : cases) {
    HttpOptions options;
    options.timeout = std::chrono::seconds(1);
    options.retries = c.how == "stall" ? 0 : 2;
    const auto remote = open_url(options);
    ASSERT_TRUE(remote);
    server_->misbehave(c.how, c.count);
    const auto table = remote->get_file(0x20000001);
    if (c.said.empty()) {
      EXPECT_TRUE(same(table, local->get_file(0x20000001))) << c.how;
      continue;
    }
    ASSERT_FALSE(table) << c.how;
    ASSERT_TRUE(std::holds_alternative<DatError::Io>(table.error().value)) << c.how;
    const std::string text = display_text(table.error());
    EXPECT_NE(text.find(server_->url("a.dat") + " (bytes "), std::string::npos) << text;
    EXPECT_NE(text.find(c.said), std::string::npos) << text;
    if (c.how == "error") {
      // Failing still, the server is given a rest: reads fail without asking it.
      static_cast<void>(remote->get_file(0x20000002));
      const std::string rested = display_text(remote->get_file(0x20000002).error());
      EXPECT_NE(rested.find("not asked: the server failed the last"), std::string::npos) << rested;
    }
    server_->reset();
  }
}

// A server that ignores ranges sends the archive whole at the first request:
// it is read from memory, up to the bound, past which opening says why.
TEST_F(HttpSourceTest, ServerThatIgnoresRanges) {
  server_->misbehave("ignore-ranges");
  const auto whole = open_url();
  ASSERT_TRUE(whole);
  EXPECT_TRUE(same(whole->get_file(0x20000001),
                   DatDatabase::open(folder_->path() / "a.dat")->get_file(0x20000001)));

  server_->misbehave("ignore-ranges");
  HttpOptions options;
  options.whole_limit = 1 << 20;
  const auto refused = open_url(options);
  ASSERT_FALSE(refused);
  EXPECT_EQ(display_text(refused.error()),
            "cannot open " + server_->url("a.dat") +
                ": the server ignores range requests, and the archive is more than the 1 MiB "
                "read whole from such a server");
}

// Certificates are verified: a server whose CA is not the system's is
// refused, and read once its CA is given.
TEST(HttpsSource, VerifiesCertificates) {
  const TempDir folder;
  const auto run = [&](std::vector<std::string> argv) {
    const auto ran = test_support::run_process(argv, {.working_directory = folder.path().string()});
    if (ran.exit_code != 0) throw std::runtime_error("openssl failed: " + ran.err);
  };
  std::ofstream(folder / "san.cnf") << "subjectAltName=IP:127.0.0.1\n";
  run({OPENSSL, "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out",
       "ca.pem", "-days", "2", "-subj", "/CN=loopback test CA"});
  run({OPENSSL, "req", "-newkey", "rsa:2048", "-nodes", "-keyout", "server.key", "-out",
       "server.csr", "-subj", "/CN=127.0.0.1"});
  run({OPENSSL, "x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
       "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "san.cnf"});
  const Bytes image = test_support::realistic_image(20, false, true);
  std::ofstream(folder / "a.dat", std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()),
             static_cast<std::streamsize>(image.size()));
  const RangeServer server(
      folder.path(), {"--tls", (folder / "server.pem").string(), (folder / "server.key").string()});

  HttpOptions options;
  options.retries = 0;
  const auto refused = open_http_source(server.url("a.dat"), options);
  ASSERT_FALSE(refused);
  EXPECT_NE(display_text(refused.error()).find("certificate"), std::string::npos)
      << display_text(refused.error());

  options.ca_file = folder / "ca.pem";
  auto source = open_http_source(server.url("a.dat"), options);
  ASSERT_TRUE(source) << display_text(source.error());
  const auto db = DatDatabase::open_source(std::move(*source), DirectoryLoading::on_demand);
  ASSERT_TRUE(db);
  EXPECT_TRUE(
      same(db->get_file(0x20000001), DatDatabase::open_memory(image)->get_file(0x20000001)));
}

}  // namespace
}  // namespace brackwater_dat
