#include "tool_test.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <limits>
#include <stdexcept>

#include "support/sound_table_builder.hpp"
#include "support/synthetic_retail.hpp"

namespace brackwater_dat::cli_test {

ProcessResult run_tool(const std::vector<std::string>& args, const ProcessOptions& options) {
  std::vector<std::string> argv{BRACKWATER_DAT_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return test_support::run_process(argv, options);
}

ProcessResult run_tool_in_terminal(const std::vector<std::string>& args) {
  const auto quoted = [](const std::string& word) {
    std::string text = "'";
    for (const char c : word) text += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return text + "'";
  };
  std::string command = quoted(BRACKWATER_DAT_PATH);
  for (const auto& arg : args) command += " " + quoted(arg);
  return test_support::run_process({"script", "-qfec", command, "/dev/null"});
}

namespace {

double now_seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string read_text(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

}  // namespace

RunningTool::RunningTool(const std::vector<std::string>& args, const std::filesystem::path& folder)
    : out_(folder / "tool.out"), err_(folder / "tool.err"), started_(now_seconds()) {
  std::vector<std::string> words{BRACKWATER_DAT_PATH};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    const int out = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0) ::_exit(127);
    ::dup2(in, 0), ::dup2(out, 1), ::dup2(err, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
}

RunningTool::~RunningTool() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

void RunningTool::signal(int number) const { ::kill(pid_, number); }

RunningTool::Ended RunningTool::wait() {
  int status = 0;
  rusage usage{};
  while (::wait4(pid_, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  Ended ended;
  ended.seconds = now_seconds() - started_;
  ended.peak_rss_kib = usage.ru_maxrss;
  if (WIFEXITED(status)) ended.result.exit_code = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) ended.result.signal = WTERMSIG(status);
  ended.result.out = read_text(out_);
  ended.result.err = read_text(err_);
  return ended;
}

std::string hex8(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string error_line(const std::string& message) {
  return "brackwater-dat: error: " + message + "\n";
}

Bytes read_bytes(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

void write_bytes(const std::filesystem::path& path, ByteView bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> tree_of(const std::filesystem::path& root) {
  std::vector<std::string> paths;
  for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
    std::string relative = item.path().lexically_relative(root).string();
    if (item.is_directory() && !item.is_symlink()) relative += '/';
    paths.push_back(relative);
  }
  std::ranges::sort(paths);
  return paths;
}

Bytes small_sound_table() {
  using file_type::SoundEntry;
  constexpr float kInf = std::numeric_limits<float>::infinity();
  return test_support::encode_sound_table(
      {.id = 0x20000001,
       .hash_key = -7,
       .hashes = {{3, {1, 2, 3}}, {9, {4, 5, 6}}},
       .sounds = {
           {0x58,
            {SoundEntry{0x0A000262, 1.0f, 0.25f, 0.75f}, SoundEntry{0x0A000263, 1.0f, 0.1f, 0.5f}}},
           {0x46, {}, 5},
           {0x5B, {SoundEntry{0, std::nanf(""), kInf, -kInf}}, -1}}});
}

SmallArchive small_archive() {
  SmallArchive small;
  Bytes text;
  for (int i = 0; i < 100; ++i) text.insert(text.end(), {'s', 'w', 'o', 'o', 's', 'h', '\n'});
  Bytes stored(100), scattered(1200);
  for (std::size_t i = 0; i < stored.size(); ++i) stored[i] = static_cast<std::uint8_t>(i * 7);
  for (std::size_t i = 0; i < scattered.size(); ++i) {
    scattered[i] = static_cast<std::uint8_t>(i / 3 + 11);
  }
  const struct {
    std::uint32_t id;
    Bytes contents;
    bool compressed;
    std::uint32_t timestamp;
    std::uint32_t version;
  } files[] = {{0x01000002, stored, false, 1700000000, 3},
               {0x0A000010, text, true, 5, 1},
               {0x0A000011, scattered, false, 1234567890, 7},
               {0x20000001, small_sound_table(), true, 0, 2}};
  for (const auto& file : files) {
    DatFileEntry entry = small.builder.store_file(file.id, file.contents, file.compressed);
    entry.timestamp = file.timestamp;
    entry.version = file.version;
    small.entries.push_back(entry);
    small.contents.push_back(file.contents);
  }
  small.builder.header().magic = 0x00005442;
  small.builder.header().engine_version = 0x16;
  small.builder.header().master_map_id = 0x25000007;
  small.builder.header().version_string = {0xAB, 0x01};
  small.builder.header().root_offset = small.builder.store_tree(small.entries);
  small.builder.header().file_size = static_cast<std::uint32_t>(small.builder.size());
  return small;
}

std::string ToolTest::write_archive(const ArchiveBuilder& builder, const std::string& name) {
  ArchiveBuilder sealed = builder;
  if (sealed.header().file_size == 0) {
    sealed.header().file_size = static_cast<std::uint32_t>(sealed.size());
  }
  sealed.write(dir_ / name);
  return path(name);
}

std::string ToolTest::write_image(ByteView image, const std::string& name) {
  write_bytes(dir_ / name, image);
  return path(name);
}

std::string ToolTest::write_retail(const std::string& name) {
  return write_image(test_support::build_synthetic_retail(test_support::RetailVariant::Good).image,
                     name);
}

}  // namespace brackwater_dat::cli_test
