#pragma once

#include <brackwater_dat/bytes.hpp>
#include <cstdint>
#include <expected>
#include <functional>
#include <string>
#include <string_view>

#include "folder.hpp"

namespace brackwater_dat::cli {

// A folder that extracted files go into, held open so that every name is
// taken in it: a symbolic link (on Windows, any reparse point) inside it is
// never followed.
class OutputFolder {
 public:
  // Opens `path`, making it (and its parents) when missing. The path as given
  // may itself lead through symbolic links: the person named it.
  static std::expected<OutputFolder, std::string> open(const std::string& path);

  // The folder `name` directly inside this one, made when missing; a link or
  // anything but a folder there is refused.
  std::expected<OutputFolder, std::string> subfolder(std::string_view name) const;

  // What a file is to hold (valid until the file is written), or the
  // message for why it cannot be had.
  using Contents = std::function<std::expected<ByteView, std::string>()>;

  // Why a file was not stored, and the message for people. Interrupted: the
  // process was asked to stop while the file was being written; Refused: the
  // command would not store it.
  struct WriteError {
    enum class Kind { Exists, Unreadable, Unwritable, Interrupted, Refused } kind;
    std::string message;
  };

  // Stores what `contents` gives as the file `name`: written whole under a
  // temporary name in this folder, then renamed into place, so that the final
  // name never holds a partial file; an interruption (see Interruption) takes
  // the temporary file back. Unless `replace`, a name already taken (a
  // symbolic link included) is refused before the contents are asked for;
  // on Windows a reparse point is refused even then.
  // Returns the bytes written.
  std::expected<std::uint64_t, WriteError> write_file(std::string_view name, bool replace,
                                                      const Contents& contents) const;

 private:
  OutputFolder(Folder folder, std::string path) noexcept
      : folder_(std::move(folder)), path_(std::move(path)) {}

  std::string child_path(std::string_view name) const;
  std::string shown_child(std::string_view name) const;  // as messages show it
  WriteError taken(std::string_view name) const;
  std::expected<void, WriteError> publish(const std::string& temporary, const std::string& name,
                                          bool replace) const;

  Folder folder_;
  std::string path_;  // as messages show it
};

}  // namespace brackwater_dat::cli
