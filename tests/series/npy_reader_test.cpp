// Reading a series saved by numpy: .npy arrays, built here byte by byte,
// of each element type and order the reader takes, and those it refuses.
#include "series/npy_reader.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "series/series_input.h"
#include "support/sample_reading.h"

namespace series {
namespace {

using test_support::Batch;
using test_support::Read;
using test_support::ReadAll;

constexpr BadSamplePolicy kError = BadSamplePolicy::kError;
constexpr BadSamplePolicy kStop = BadSamplePolicy::kStop;
constexpr BadSamplePolicy kSkip = BadSamplePolicy::kSkip;

std::string Npy(const std::string& dict, const std::string& data,
                int version = 1) {
  std::string header = dict;
  const std::size_t fixed = version == 1 ? 10 : 12;
  while ((fixed + header.size() + 1) % 64 != 0) header.push_back(' ');
  header.push_back('\n');
  std::string file = "\x93NUMPY";
  file.push_back(static_cast<char>(version));
  file.push_back('\0');
  const int length_bytes = version == 1 ? 2 : 4;
  for (int i = 0; i < length_bytes; ++i) {
    file.push_back(static_cast<char>((header.size() >> (8 * i)) & 0xFF));
  }
  return file + header + data;
}

template <typename T>
std::string Bytes(std::initializer_list<T> values) {
  std::string out;
  for (const T v : values) {
    using Bits = std::conditional_t<
        sizeof(T) == 8, std::uint64_t,
        std::conditional_t<
            sizeof(T) == 4, std::uint32_t,
            std::conditional_t<sizeof(T) == 2, std::uint16_t, std::uint8_t>>>;
    auto bits = std::bit_cast<Bits>(v);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
      out.push_back(static_cast<char>(bits & 0xFFU));
      bits = static_cast<Bits>(bits >> 4U >> 4U);
    }
  }
  return out;
}

std::string Dict(const char* descr, bool fortran, const char* shape) {
  return std::string("{'descr': '") + descr +
         "', 'fortran_order': " + (fortran ? "True" : "False") +
         ", 'shape': " + shape + ", }";
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct NpyCase {
  const char* what;
  std::string file;
  std::optional<ColumnChoice> column;
  BadSamplePolicy policy;
  std::vector<double> samples;
  std::string note;  // EndedAt or FirstSkipped, or the error
};

// clang-format off
const NpyCase kNpyCases[] = {
  {"float64", Npy(Dict("<f8", false, "(3,)"), Bytes<double>({1.5, -2.25, 4})),
   std::nullopt, kError, {1.5, -2.25, 4}, ""},
  {"version 2", Npy(Dict("<f8", false, "(2,)"), Bytes<double>({1, 2}), 2),
   std::nullopt, kError, {1, 2}, ""},
  {"float32 widened exactly", Npy(Dict("<f4", false, "(1,)"), Bytes<float>({0.1f})),
   std::nullopt, kError, {static_cast<double>(0.1f)}, ""},
  {"int16", Npy(Dict("<i2", false, "(2,)"), Bytes<std::int16_t>({-3, 300})),
   std::nullopt, kError, {-3, 300}, ""},
  {"uint8", Npy(Dict("|u1", false, "(2,)"), Bytes<std::uint8_t>({0, 255})),
   std::nullopt, kError, {0, 255}, ""},
  {"int64 and uint64",
   Npy(Dict("<i8", false, "(1,)"), Bytes<std::int64_t>({-(std::int64_t{1} << 40)})),
   std::nullopt, kError, {-1099511627776.0}, ""},
  {"empty", Npy(Dict("<f8", false, "(0,)"), ""), std::nullopt, kError, {}, ""},
  // The array [[1, 2], [3, 4], [5, 6]] in both orders.
  {"C order, column 2",
   Npy(Dict("<f8", false, "(3, 2)"), Bytes<double>({1, 2, 3, 4, 5, 6})),
   ColumnChoice{2, ""}, kError, {2, 4, 6}, ""},
  {"Fortran order, column 2",
   Npy(Dict("<f8", true, "(3, 2)"), Bytes<double>({1, 3, 5, 2, 4, 6})),
   ColumnChoice{2, ""}, kError, {2, 4, 6}, ""},
  {"Fortran order, column 1",
   Npy(Dict("<f8", true, "(3, 2)"), Bytes<double>({1, 3, 5, 2, 4, 6})),
   ColumnChoice{1, ""}, kError, {1, 3, 5}, ""},
  {"one column needs no choice",
   Npy(Dict("<i4", false, "(2, 1)"), Bytes<std::int32_t>({7, -8})),
   std::nullopt, kError, {7, -8}, ""},
  // NaN and infinities are bad samples, named by their numpy index.
  {"NaN fails", Npy(Dict("<f8", false, "(3,)"), Bytes<double>({1, kNaN, 3})),
   std::nullopt, kError, {}, "s[1]: not a number: NaN"},
  {"inf stops",
   Npy(Dict("<f8", false, "(3, 2)"),
       Bytes<double>({1, 2, 3, std::numeric_limits<double>::infinity(), 5, 6})),
   ColumnChoice{2, ""}, kStop, {2}, "s[1, 1]: not a number: inf"},
  {"NaN skipped", Npy(Dict("<f8", false, "(3,)"), Bytes<double>({1, kNaN, 3})),
   std::nullopt, kSkip, {1, 3}, "s[1]: not a number: NaN"},
  // Arrays this reader does not take.
  {"big-endian", Npy(Dict(">f8", false, "(1,)"), std::string(8, '\0')),
   std::nullopt, kSkip, {},
   "s: big-endian data (descr '>f8') are not read; save the array with "
   "arr.astype('<f8')"},
  {"complex", Npy(Dict("<c16", false, "(1,)"), std::string(16, '\0')),
   std::nullopt, kSkip, {},
   "s: element type '<c16' is not read; use float64, float32 or integers"},
  {"3-D", Npy(Dict("<f8", false, "(1, 1, 1)"), std::string(8, '\0')),
   std::nullopt, kSkip, {},
   "s: a .npy array of 3 dimensions; one series is a 1-D array, or a column "
   "of a 2-D one"},
  {"2-D without a column",
   Npy(Dict("<f8", false, "(1, 4)"), std::string(32, '\0')), std::nullopt,
   kSkip, {}, "s: a 2-D .npy array of 4 columns; choose one with --column"},
  {"column past the end",
   Npy(Dict("<f8", false, "(1, 2)"), std::string(16, '\0')),
   ColumnChoice{3, ""}, kSkip, {}, "s: no column 3 in a .npy array of 2 columns"},
  {"column by name", Npy(Dict("<f8", false, "(1,)"), std::string(8, '\0')),
   ColumnChoice{0, "Fz"}, kSkip, {},
   "s: a .npy array has no column names; choose its column by number"},
  {"truncated", Npy(Dict("<f8", false, "(3,)"), Bytes<double>({1})),
   std::nullopt, kSkip, {},
   "s: the file ends inside the array, after 1 of 3 values"},
  {"truncated before a later column",
   Npy(Dict("<f8", true, "(3, 2)"), Bytes<double>({1, 3})),
   ColumnChoice{2, ""}, kSkip, {},
   "s: the file ends inside the array, after 0 of 3 values"},
};
// clang-format on

TEST(NpyReader, ReadsNpyArrays) {
  for (const NpyCase& c : kNpyCases) {
    SCOPED_TRACE(c.what);
    const Read read = ReadAll(c.file, Batch(c.policy, false, c.column));
    if (read.Error) {
      EXPECT_EQ(*read.Error, c.note);
      continue;
    }
    ASSERT_EQ(read.Samples.size(), c.samples.size());
    for (std::size_t i = 0; i < c.samples.size(); ++i) {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(read.Samples[i]),
                std::bit_cast<std::uint64_t>(c.samples[i]))
          << i;
    }
    const InputSummary& s = read.Summary;
    const std::optional<BadRecord>& noted =
        s.EndedAt ? s.EndedAt : s.FirstSkipped;
    EXPECT_EQ(noted ? noted->Text() : "", c.note);
  }
}

// mfwindow reads text only: a .npy file is a first record that is no
// number, and says so.
TEST(NpyReader, MfwindowReadsNpyAsText) {
  const Read read = ReadAll(Npy(Dict("<f8", false, "(1,)"), Bytes<double>({1})),
                            MfwindowInput());
  EXPECT_TRUE(read.Samples.empty());
  ASSERT_TRUE(read.Summary.EndedAt);
  EXPECT_EQ(read.Summary.EndedAt->Text().rfind(
                "s:1: not a number: \"\x93NUMPY\\x01\\x00", 0),
            0u)
      << read.Summary.EndedAt->Text();
}

}  // namespace
}  // namespace series
