// Stands in for `dotnet Landsmith.Terminal.dll --stdin` in tests: reads
// resolution requests on standard input and answers each from the answers
// file that made the synthetic retail archive (STAND_IN_ANSWERS), never from
// the library. STAND_IN_MODE picks a behaviour:
//   agree       every answer as recorded (the default)
//   drift       three disagreements: 0x20000001 kind 0x46 given a wave (with a
//               tab and a backslash in its source), kind 0x58 given none, and
//               0x200000A8 kind 0x1F another wave (with no source)
//   short       the last response left out
//   noise       log lines, blank lines, CRLF endings, mixed hex spellings,
//               lookalike commands and an answer to the closing request
//   null-waves  "no wave" written as null, "", an unreadable text, or missing
//   exit-1      a message on standard error (with an invalid UTF-8 byte), exit 1
//   signal      killed by SIGKILL after reading its input
//   flood       megabytes on both output streams around the answers
//   flood-first megabytes on both output streams before reading any input
// STAND_IN_RECORD, when set, names a file that gets the input as received.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <limits>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using Key = std::pair<std::uint32_t, std::uint32_t>;

std::string env_or(const char* name, const char* fallback) {
  const char* value = std::getenv(name);
  return value ? value : fallback;
}

// Wave 0 never names a wave, so it stands for "no wave" here. None when the
// file cannot be read: without it every answer would be wrong.
std::optional<std::map<Key, std::uint32_t>> load_answers(const std::string& path) {
  std::map<Key, std::uint32_t> answers;
  std::ifstream file(path);
  if (path.empty() || !file) return std::nullopt;
  std::string table, sound, wave;
  while (file >> table >> sound >> wave) {
    answers[{static_cast<std::uint32_t>(std::stoul(table, nullptr, 16)),
             static_cast<std::uint32_t>(std::stoul(sound))}] =
        wave == "none" ? 0 : static_cast<std::uint32_t>(std::stoul(wave, nullptr, 16));
  }
  return answers;
}

// The table and kind of a request line, read by plain string search.
std::optional<Key> request_key(const std::string& line) {
  const std::string table_tag = "\"soundTableDid\":\"0x";
  const std::string sound_tag = "\"sound\":";
  const auto table_at = line.find(table_tag);
  const auto sound_at = line.find(sound_tag);
  if (table_at == std::string::npos || sound_at == std::string::npos) return std::nullopt;
  return Key{static_cast<std::uint32_t>(
                 std::stoul(line.substr(table_at + table_tag.size(), 8), nullptr, 16)),
             static_cast<std::uint32_t>(std::stoul(line.substr(sound_at + sound_tag.size())))};
}

std::string hex8(std::uint32_t value, bool upper = true) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, upper ? "%08X" : "%08x", value);
  return buffer;
}

std::string response(const Key& key, const std::string& wave_member,
                     const std::string& source_member) {
  return R"({"command":"marlstone-resolve-sound","soundTableDid":"0x)" + hex8(key.first) +
         R"(","sound":)" + std::to_string(key.second) + wave_member + source_member + "}";
}

std::string wave_member(std::uint32_t wave, const std::string& mode, std::size_t index) {
  if (wave == 0) {
    if (mode != "null-waves") return R"(,"waveDid":null)";
    static const char* const kNone[] = {R"(,"waveDid":null)", R"(,"waveDid":"")",
                                        R"(,"waveDid":"0xZZ")", ""};
    return kNone[index % 4];
  }
  if (mode == "noise") {
    switch (index % 3) {
      case 0:
        return R"(,"waveDid": "0X)" + hex8(wave, false) + "\"";
      case 1:
        return R"(,"waveDid":")" + hex8(wave, false) + "\"";
      default:
        return R"(,"waveDid":	"+)" + hex8(wave) + "\"";
    }
  }
  return R"(,"waveDid":"0x)" + hex8(wave) + "\"";
}

void flood(std::ostream& stream, char tag) {
  const std::string line(1000, tag);
  for (int i = 0; i < 4000; ++i) stream << "log " << line << '\n';
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || std::string(argv[2]) != "--stdin") {
    std::cerr << "usage: dotnet TOOL.dll --stdin\n";
    return 64;
  }
  const std::string mode = env_or("STAND_IN_MODE", "agree");
  const auto loaded = load_answers(env_or("STAND_IN_ANSWERS", ""));
  if (!loaded) {
    // The requests are taken first, as a tool that reads them would, so the
    // caller's write never meets a pipe this process has already closed.
    std::cin.ignore(std::numeric_limits<std::streamsize>::max());
    std::cerr << "stand-in dotnet: no answers file; set STAND_IN_ANSWERS to the synthetic "
                 "archive's answers.txt\n";
    return 66;
  }
  const auto& answers = *loaded;
  if (mode == "flood-first") {
    flood(std::cerr, 'e');
    flood(std::cout, 'o');
  }
  const std::string input{std::istreambuf_iterator<char>(std::cin), {}};
  if (const char* record = std::getenv("STAND_IN_RECORD")) {
    std::ofstream(record, std::ios::binary) << input;
  }

  if (mode == "exit-1") {
    std::cerr << "stand-in failed: \xff bad byte, \"quoted\", back\\slash\ttab\n";
    return 1;
  }
  if (mode == "signal") std::raise(SIGKILL);
  if (mode == "flood") {
    flood(std::cerr, 'e');
    flood(std::cout, 'o');
  }
  const char* eol = mode == "noise" ? "\r\n" : "\n";
  if (mode == "noise") {
    std::cout << "Landsmith.Terminal ready" << eol << eol
              << R"({"command":"Marlstone-Resolve-Sound","waveDid":"0x1"})" << eol
              << R"({"command":"marlstone-resolve-sound ","waveDid":"0x1"})" << eol;
  }

  std::vector<std::string> lines;
  std::istringstream stream(input);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  std::size_t answered = 0;
  for (const auto& line : lines) {
    if (line == R"({"command":"quit"})") {
      if (mode == "noise") std::cout << R"(   {"command":"quit","ok":true}   )" << eol;
      break;
    }
    const auto key = request_key(line);
    if (!key) continue;
    if (mode == "short" && answered + 1 == answers.size()) break;
    const auto found = answers.find(*key);
    std::uint32_t wave = found == answers.end() ? 0 : found->second;
    std::string source = R"(,"source":"stand-in answers.txt")";
    if (mode == "drift") {
      if (*key == Key{0x20000001, 0x46})
        wave = 0x0A0000FF, source = ",\"source\":\"tab\there back\\slash\"";
      if (*key == Key{0x20000001, 0x58}) wave = 0;
      if (*key == Key{0x200000A8, 0x1F}) wave = 0x0A000520, source.clear();
    }
    std::cout << response(*key, wave_member(wave, mode, answered), source) << eol;
    if (mode == "noise" && answered % 50 == 0) std::cout << "  " << eol << "log: working" << eol;
    ++answered;
  }
  if (mode == "flood") flood(std::cout, 'p');
  return 0;
}
