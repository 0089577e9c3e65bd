// The reader of a series saved by numpy as a .npy array: a 1-D array, or
// one column of a 2-D array in C or Fortran order, of little-endian
// float64, float32 or integers. NaN and infinities are bad samples, named
// by their numpy index.
#pragma once

#include <istream>
#include <memory>
#include <string>

#include "series/series_input.h"

namespace series {

// The .npy reader of series `name` (as messages name it) from `in`, which
// must outlive it and start with the .npy magic byte. Reads and checks the
// header here (ReadNpyHeader) and throws BadSeriesInput when it is not an
// array this reader takes: more than 2 dimensions, a 2-D array of several
// columns with none chosen, a column chosen by name or beyond the last.
// Reads in order without seeking, so standard input serves as well; a file
// that ends inside the array throws BadSeriesInput when the reading gets
// there.
std::unique_ptr<SampleReader> MakeNpySampleReader(std::istream& in,
                                                  std::string name,
                                                  const InputOptions& options);

}  // namespace series
