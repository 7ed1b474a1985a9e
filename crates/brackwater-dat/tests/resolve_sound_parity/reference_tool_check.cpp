#include <array>
#include <brackwater_dat/dat_database.hpp>
#include <brackwater_dat/file_type/sound_table.hpp>
#include <vector>

#include "resolve_sound_parity/checks.hpp"
#include "resolve_sound_parity/child_process.hpp"
#include "resolve_sound_parity/format.hpp"
#include "resolve_sound_parity/retail_dat.hpp"
#include "resolve_sound_parity/tool_location.hpp"
#include "resolve_sound_parity/tool_protocol.hpp"
#include "resolve_sound_parity/unicode.hpp"
#include "runner/capture.hpp"
#include "runner/failure.hpp"

namespace brackwater_dat::parity {
namespace {

constexpr std::array<std::uint32_t, 2> kTables = {0x20000001, 0x200000A8};
constexpr std::uint32_t kHighestSound = 204;
constexpr std::size_t kPairs = kTables.size() * (kHighestSound + 1);

struct LibraryResult {
  std::uint32_t table_id;
  std::uint32_t sound;
  std::optional<std::uint32_t> wave;
};

struct Drift {
  LibraryResult library;
  std::optional<std::uint32_t> tool_wave;
  std::optional<std::string> tool_source;
};

std::string debug_text_option(const std::optional<std::string>& text) {
  return text ? "Some(" + debug_text(*text) + ")" : "None";
}

// Every pair's answer from the library, and the matching requests.
void ask_library(const DatDatabase& db, std::vector<LibraryResult>& results,
                 std::vector<std::string>& requests) {
  for (const std::uint32_t table_id : kTables) {
    const auto table = load_sound_table(db, table_id);
    for (std::uint32_t sound = 0; sound <= kHighestSound; ++sound) {
      results.push_back({table_id, sound, table.resolve_sound(sound)});
      requests.push_back(resolve_request(table_id, sound));
    }
  }
}

// The output's lines, cut at line feeds (a carriage return before one
// dropped), trimmed, and kept when they answer a resolution request.
std::vector<std::string> responses_in(const std::string& output) {
  const std::string text = unicode::lossy(output);
  std::vector<std::string> responses;
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    line = unicode::trim(line);
    if (!line.empty() && is_resolve_response(line)) responses.emplace_back(line);
  }
  return responses;
}

}  // namespace

void rust_vs_csharp_full_enum_cardinality() {
  const auto dat_path = locate_retail_dat();
  if (!dat_path) {
    runner::err() << "SKIP — no retail client_portal.dat available\n";
    return;
  }
  const auto host = first_existing(host_candidates());
  if (!host) {
    runner::err() << "SKIP — no `dotnet` on PATH or $DOTNET_ROOT\n";
    return;
  }
  const auto tool = first_existing(tool_candidates());
  if (!tool) {
    runner::err() << "SKIP — Landsmith.Terminal.dll not built. Run `dotnet build -c Release "
                     "Landsmith.Terminal/Landsmith.Terminal.csproj`.\n";
    return;
  }
  const DatDatabase db = open_retail_dat(*dat_path);

  std::vector<LibraryResult> results;
  std::vector<std::string> requests;
  results.reserve(kPairs);
  requests.reserve(kPairs);
  ask_library(db, results, requests);

  std::string input;
  for (const auto& request : requests) input += request + "\n";
  input += std::string(kQuitRequest) + "\n";

  const auto run = run_child({*host, *tool, "--stdin"}, input);
  if (!run) runner::fail("LS.Terminal: " + debug_text(run.error()));
  if (run->wait_status != 0) {
    runner::fail("LS.Terminal: " +
                 debug_text("LS.Terminal non-zero exit: " + debug_exit_status(run->wait_status) +
                            "\nstderr: " + unicode::lossy(run->err)));
  }

  const auto responses = responses_in(run->out);
  if (responses.size() != results.size()) {
    runner::fail(equality_failure("C# response count " + std::to_string(responses.size()) +
                                      " != Rust input count " + std::to_string(results.size()),
                                  std::to_string(responses.size()),
                                  std::to_string(results.size())));
  }

  std::size_t hits = 0, both_none = 0;
  std::vector<Drift> drifts;
  for (std::size_t n = 0; n < responses.size(); ++n) {
    const LibraryResult& library = results[n];
    const auto tool_wave = read_wave(extract_string_field(responses[n], "waveDid"));
    if (library.wave && tool_wave == library.wave) {
      ++hits;
    } else if (!library.wave && !tool_wave) {
      ++both_none;
    } else {
      drifts.push_back({library, tool_wave, extract_string_field(responses[n], "source")});
    }
  }

  if (!drifts.empty()) {
    for (const auto& drift : drifts) {
      runner::err() << "DRIFT: 0x" << hex(drift.library.table_id, 8) << ".resolve_sound(0x"
                    << hex(drift.library.sound, 2) << "): rust=" << debug_wave(drift.library.wave)
                    << " cs=" << debug_wave(drift.tool_wave)
                    << " cs_source=" << debug_text_option(drift.tool_source) << "\n";
    }
    runner::fail(std::to_string(drifts.size()) + " drifts (out of " +
                 std::to_string(results.size()) +
                 " pairs). Re-read vudodode.c:383433 to determine which port broke.");
  }
  runner::err() << "[resolve_sound_parity] Rust vs C# PASS: " << hits << " hits + " << both_none
                << " both-None = " << results.size() << " pairs across " << kTables.size()
                << " tables × (" << kHighestSound << "+1) enums\n";
}

}  // namespace brackwater_dat::parity
