// The batch run: the list of series, this process's share of it, the
// settled settings, and for each series its samples read as mfwindow reads
// them and its result files written. No dialogue: everything comes from
// BatchOptions.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "batch/options.h"
#include "batch/progress.h"

namespace batch {

// The names of `list_path`, as mfwindow reads "list": each record's first
// 256 characters, leading blanks moved to the end and trailing blanks
// dropped. Blank records name nothing and are left out. Throws
// series::FatalError when the file cannot be opened or read.
std::vector<std::string> ReadListFile(const std::filesystem::path& list_path);

// The entries of `names` that shard `part` takes: indices Index-1,
// Index-1+Count, ... (from 0), in order.
std::vector<std::string> SelectShard(const std::vector<std::string>& names,
                                     Shard part);

// Where a run writes its messages and how it shows progress.
struct BatchIo {
  std::ostream& Err;
  ProgressMode Mode = ProgressMode::kLines;
  // Relative series names, the list file and the output directory are
  // taken from here.
  std::filesystem::path BaseDir;
  // The series named "-" is read from here; null: "-" names a file.
  std::istream* In = nullptr;
};

// Runs the batch: warns about clamped settings and a short window, then
// analyses the series of this shard in order, with warnings about a series
// that ends early, gives no window or only degenerate ones. Returns
// kExitSuccess; kExitSkipped when a series was skipped or failed (each
// named on io.Err with the reason); kExitUsage when --out - meets more than
// one series. Throws series::FatalError when a result file cannot be
// created or written (the run stops there), std::bad_alloc when storage
// cannot be obtained.
int RunBatch(const BatchOptions& options, BatchIo io);

}  // namespace batch
