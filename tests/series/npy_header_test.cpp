// The header of .npy files: the dict literal numpy writes, and the
// preamble before it.
#include "series/npy_header.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace series {
namespace {

struct DictCase {
  const char* dict;
  const char* error;  // nullptr: accepted as below
  NpyLayout::Kind kind;
  int item_size;
  bool fortran;
  std::vector<std::uint64_t> shape;
};
using K = NpyLayout::Kind;
// clang-format off
const DictCase kDictCases[] = {
  {"{'descr': '<f8', 'fortran_order': False, 'shape': (20000,), }",
   nullptr, K::kFloat, 8, false, {20000}},
  {"{\"shape\": (3, 4), \"fortran_order\": True, \"descr\": \"<f4\"}",
   nullptr, K::kFloat, 4, true, {3, 4}},                 // any order, quotes
  {"{'descr': '|u1', 'fortran_order': False, 'shape': (), }",
   nullptr, K::kUnsigned, 1, false, {}},                 // a scalar: 0-D
  {"{'descr': '<i8', 'fortran_order': False, 'shape': (2,3,4), 'x': [1, (2)]}",
   nullptr, K::kSigned, 8, false, {2, 3, 4}},            // unknown keys skipped
  {"{'descr': '>i4', 'fortran_order': False, 'shape': (1,), }",
   "big-endian data (descr '>i4') are not read; save the array with "
   "arr.astype('<i4')", K::kFloat, 0, false, {}},
  {"{'descr': '<f2', 'fortran_order': False, 'shape': (1,), }",
   "floats of 2 bytes (descr '<f2') are not read; use float64 or float32",
   K::kFloat, 0, false, {}},
  {"{'descr': '<U5', 'fortran_order': False, 'shape': (1,), }",
   "element type '<U5' is not read; use float64, float32 or integers",
   K::kFloat, 0, false, {}},
  {"{'descr': [('a', '<f8')], 'fortran_order': False, 'shape': (1,), }",
   "structured arrays (a list as descr) are not read", K::kFloat, 0, false, {}},
  {"{'descr': '<f8', 'shape': (1,), }",
   "the header lacks descr, fortran_order or shape", K::kFloat, 0, false, {}},
  {"{'descr': '<f8', 'fortran_order': 0, 'shape': (1,), }",
   "the header's fortran_order is not True or False", K::kFloat, 0, false, {}},
  {"{'descr': '<f8', 'fortran_order': False, 'shape': (-1,), }",
   "the header's shape is not a tuple", K::kFloat, 0, false, {}},
  {"['descr']", "the header is not a dict literal", K::kFloat, 0, false, {}},
  // A row size that wrapped round read other elements as the column.
  {"{'descr': '<f8', 'fortran_order': False, 'shape': (3, 2305843009213693952)}",
   "the header's shape gives more than 2^64 bytes", K::kFloat, 0, false, {}},
  {"{'descr': '<f8', 'fortran_order': False, 'shape': (0, 2305843009213693952)}",
   nullptr, K::kFloat, 8, false, {0, 2305843009213693952}},  // empty: no bytes
};
// clang-format on

TEST(ParseNpyDict, ReadsLayoutOrSaysWhyNot) {
  for (const DictCase& c : kDictCases) {
    SCOPED_TRACE(c.dict);
    const NpyHeader header = ParseNpyDict(c.dict);
    if (c.error != nullptr) {
      EXPECT_FALSE(header.Layout);
      EXPECT_EQ(header.Error, c.error);
      continue;
    }
    ASSERT_TRUE(header.Layout) << header.Error;
    EXPECT_EQ(header.Layout->Element, c.kind);
    EXPECT_EQ(header.Layout->ItemSize, c.item_size);
    EXPECT_EQ(header.Layout->FortranOrder, c.fortran);
    EXPECT_EQ(header.Layout->Shape, c.shape);
  }
}

TEST(ReadNpyHeader, ChecksMagicVersionAndLength) {
  const std::string dict =
      "{'descr': '<f8', 'fortran_order': False, 'shape': (1,), }\n";
  const std::string v1 = std::string("\x93NUMPY\x01\x00", 8) +
                         static_cast<char>(dict.size()) + '\0' + dict + "DATA";
  std::istringstream in(v1);
  const NpyHeader header = ReadNpyHeader(in);
  ASSERT_TRUE(header.Layout) << header.Error;
  std::string rest;
  in >> rest;
  EXPECT_EQ(rest, "DATA");  // left at the first byte of the data

  const std::string v3 = std::string("\x93NUMPY\x03\x00", 8) +
                         static_cast<char>(dict.size()) + std::string(3, '\0') +
                         dict;
  std::istringstream in3(v3);
  EXPECT_TRUE(ReadNpyHeader(in3).Layout);

  struct Bad {
    std::string bytes;
    const char* error;
  };
  const Bad bad[] = {
      {"1.5\n2.5\n", "not a .npy file (no \\x93NUMPY at its start)"},
      {std::string("\x93NUMPY\x09\x00", 8), ".npy version 9 is not read"},
      {std::string("\x93NUMPY\x01\x00\x40\x00{'descr'", 17),
       "the .npy header ends early"},
      {std::string("\x93NUM", 4),
       "not a .npy file (no \\x93NUMPY at its start)"},
  };
  for (const Bad& b : bad) {
    std::istringstream bad_in(b.bytes);
    const NpyHeader refused = ReadNpyHeader(bad_in);
    EXPECT_FALSE(refused.Layout);
    EXPECT_EQ(refused.Error, b.error);
  }
}

}  // namespace
}  // namespace series
