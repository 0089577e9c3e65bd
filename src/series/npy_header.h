// The header of a .npy file (numpy's own format for one array): the magic
// "\x93NUMPY", a version, the length of a Python dict literal, and that
// dict, {'descr': '<f8', 'fortran_order': False, 'shape': (20000,), },
// padded with blanks and ended by a line feed. The data follow at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace series {

// What one element of the array is, and how the elements are laid out.
struct NpyLayout {
  enum class Kind { kFloat, kSigned, kUnsigned };
  Kind Element = Kind::kFloat;
  int ItemSize = 8;           // bytes: 4 or 8 for floats, 1, 2, 4, 8 others
  bool FortranOrder = false;  // columns stored one after another
  std::vector<std::uint64_t> Shape;
};

struct NpyHeader {
  std::optional<NpyLayout> Layout;  // when the header is one we read
  std::string Error;                // otherwise why not, for a message
};

// Parses the dict literal of a .npy header. Takes little-endian (or
// one-byte) floats of 4 or 8 bytes and integers of 1, 2, 4 or 8 bytes, in C
// or Fortran order, of any number of dimensions (the caller decides which
// it reads). Refuses big-endian data, other element types (complex,
// strings, objects, structured dtypes) and malformed text, saying why.
//   "{'descr': '<f8', 'fortran_order': False, 'shape': (3,), }"
//       -> float, 8 bytes, C order, shape {3}
//   "{'descr': '>f8', ...}" -> Error "big-endian data (descr '>f8') ..."
NpyHeader ParseNpyDict(std::string_view dict);

// Reads the magic, the version, the length and the dict from `in` and
// parses the dict; `in` is left at the first byte of the data. An input
// that does not start with the magic, ends early, or has a version other
// than 1, 2 or 3 gives an Error.
NpyHeader ReadNpyHeader(std::istream& in);

}  // namespace series
