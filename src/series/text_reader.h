// The reader of a series written as text: one sample per record, either
// the first value of the record as mfwindow reads it, or one column of
// delimited fields (CSV, TSV, semicolons, blanks) with an optional header
// row. Blank records, records that are no number and the batch tool's
// hints are handled as the InputOptions say.
#pragma once

#include <istream>
#include <memory>
#include <string>

#include "series/series_input.h"

namespace series {

// The text reader of series `name` (as messages name it) from `in`, which
// must outlive it. With BatchHints it reads up to the first record that is
// not blank at once, so that a column that is not there or a header row
// read as a number throws BadSeriesInput before any result file is
// opened. MakeSampleReader chooses it for every input that is no .npy
// array.
std::unique_ptr<SampleReader> MakeTextSampleReader(std::istream& in,
                                                   std::string name,
                                                   const InputOptions& options);

}  // namespace series
