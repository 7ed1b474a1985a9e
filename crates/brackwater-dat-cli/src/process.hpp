#pragma once

#include <brackwater_dat/error.hpp>
#include <expected>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// The process, its arguments, paths and standard streams: what differs
// between platforms. One implementation per platform: process_posix.cpp,
// process_windows.cpp.
namespace brackwater_dat::cli {

enum class Stream { Out, Err };

// Readies the process for the tool and gives its arguments, in UTF-8.
// POSIX: a closed reader or a file size limit shows as a failed write rather
// than a signal. Windows: the arguments come from the wide command line, and
// standard output and error are binary, so that bytes and line ends are
// written unchanged.
std::vector<std::string> start_process(int argc, char** argv);

// Whether the stream is a terminal (a console on Windows).
bool is_terminal(Stream stream);

// Writes all of `data`, continuing short and interrupted writes. A console
// is written UTF-8 text as text.
std::expected<void, IoError> write_all(Stream stream, std::string_view data);

// Whether a failed write found the stream's reader gone, as `head` goes once
// it has its lines.
bool reader_gone(const IoError& error);

// Ends the process as programs in a pipeline do when their reader has gone:
// quietly, by SIGPIPE on POSIX; on Windows, which has no such signal, with
// the status a shell reports for it there, 141. Returns where SIGPIPE is
// blocked.
void end_for_closed_pipe();

// This process's id, for names of its own.
unsigned long process_id();

// The path that `text`, an argument, names: its bytes on POSIX, UTF-8 made
// UTF-16 on Windows.
std::filesystem::path path_of(const std::string& text);

}  // namespace brackwater_dat::cli
