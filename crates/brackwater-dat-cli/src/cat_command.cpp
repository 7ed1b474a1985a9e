#include "cat_command.hpp"

#include "archive.hpp"
#include "process.hpp"

namespace brackwater_dat::cli {

ExitStatus run_cat(const CatOptions& options) {
  if (!options.force && is_terminal(Stream::Out)) {
    report_error(
        "refusing to write binary data to a terminal; use --force, or redirect the output");
    return ExitStatus::Failure;
  }
  const auto db = open_archive(
      options.archive, {options.on_demand ? DirectoryLoading::on_demand : DirectoryLoading::whole,
                        !options.any_header});
  if (!db) return ExitStatus::Failure;
  const auto bytes =
      options.raw
          ? db->read_stored(options.id.value)
          : db->get_file(options.id.value, options.partial ? ShortStream::keep : ShortStream::fail);
  if (!bytes) {
    report_error(failure_text(*db, options.id, bytes.error()));
    return ExitStatus::Failure;
  }
  return deliver(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()),
                 ExitStatus::Success);
}

}  // namespace brackwater_dat::cli
