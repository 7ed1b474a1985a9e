#include "tool_test.hpp"

#ifdef _WIN32
#include <windows.h>
#endif

#include <algorithm>
#include <brackwater_dat/error.hpp>
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

std::vector<std::string> tool_argv(const std::vector<std::string>& args);

ProcessResult run_tool(const std::vector<std::string>& args, const ProcessOptions& options) {
  return test_support::run_process(tool_argv(args), options);
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

std::vector<std::string> tool_argv(const std::vector<std::string>& args) {
  std::vector<std::string> argv{BRACKWATER_DAT_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

RunningTool::RunningTool(const std::vector<std::string>& args, const std::filesystem::path& folder)
    : out_(folder / "tool.out"),
      err_(folder / "tool.err"),
      started_(now_seconds()),
      process_(tool_argv(args), out_, err_) {}

RunningTool::Ended RunningTool::wait() {
  const auto ended_process = process_.wait();
  Ended ended;
  ended.seconds = now_seconds() - started_;
  ended.peak_rss_kib = ended_process.peak_memory_kib;
  ended.result.exit_code = ended_process.exit_code;
  ended.result.signal = ended_process.signal;
  ended.result.out = read_text(out_);
  ended.result.err = read_text(err_);
  return ended;
}

std::string hex8(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

bool make_symbolic_link(const std::filesystem::path& target, const std::filesystem::path& link,
                        bool folder) {
#ifdef _WIN32
  ::CreateSymbolicLinkW(
      link.c_str(), target.c_str(),
      (folder ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0) | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
  const DWORD attributes = ::GetFileAttributesW(link.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
#else
  std::error_code error;
  if (folder) {
    std::filesystem::create_directory_symlink(target, link, error);
  } else {
    std::filesystem::create_symlink(target, link, error);
  }
  return !error;
#endif
}

std::string missing_file_text() {
#ifdef _WIN32
  return display_text(IoError::from_windows(ERROR_FILE_NOT_FOUND));
#else
  return display_text(IoError::from_os(ENOENT));
#endif
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
    std::string relative = item.path().lexically_relative(root).generic_string();
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
