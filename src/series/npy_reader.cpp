#include "series/npy_reader.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "series/npy_header.h"

namespace series {
namespace {

// One element of a .npy array as a double.
double DecodeElement(const NpyLayout& layout, const char* bytes) {
  std::uint64_t bits = 0;
  for (int i = layout.ItemSize - 1; i >= 0; --i) {
    bits = (bits << 8U) | static_cast<unsigned char>(bytes[i]);
  }
  const unsigned width = 8U * static_cast<unsigned>(layout.ItemSize);
  switch (layout.Element) {
    case NpyLayout::Kind::kFloat:
      if (layout.ItemSize == 4) {
        return static_cast<double>(
            std::bit_cast<float>(static_cast<std::uint32_t>(bits)));
      }
      return std::bit_cast<double>(bits);
    case NpyLayout::Kind::kSigned:
      if (width < 64 && (bits >> (width - 1)) != 0) {
        bits |= ~std::uint64_t{0} << width;  // sign extension
      }
      return static_cast<double>(std::bit_cast<std::int64_t>(bits));
    case NpyLayout::Kind::kUnsigned:
      break;
  }
  return static_cast<double>(bits);
}

// A .npy array: 1-D, or one column of a 2-D array, read in order without
// seeking (so standard input serves as well).
class NpySampleReader final : public SampleReader {
 public:
  NpySampleReader(std::istream& in, std::string name,
                  const InputOptions& options)
      : SampleReader(options.OnBadSample), in_(in), name_(std::move(name)) {
    const NpyHeader header = ReadNpyHeader(in_);
    if (!header.Layout)
      throw BadSeriesInput(name_ + ": " + header.Error, false);
    layout_ = *header.Layout;
    const std::vector<std::uint64_t>& shape = layout_.Shape;
    if (shape.empty() || shape.size() > 2) {
      throw BadSeriesInput(name_ + ": a .npy array of " +
                               std::to_string(shape.size()) +
                               " dimensions; one series is a 1-D array, or a "
                               "column of a 2-D one",
                           false);
    }
    rows_ = shape[0];
    const std::uint64_t columns = shape.size() == 2 ? shape[1] : 1;
    two_d_ = shape.size() == 2;
    if (options.Column && options.Column->Index == 0) {
      throw BadSeriesInput(name_ +
                               ": a .npy array has no column names; "
                               "choose its column by number",
                           false);
    }
    if (options.Column) {
      column_ = static_cast<std::uint64_t>(options.Column->Index - 1);
    } else if (columns != 1) {
      throw BadSeriesInput(name_ + ": a 2-D .npy array of " +
                               std::to_string(columns) +
                               " columns; choose one with --column",
                           false);
    }
    if (column_ >= columns) {
      throw BadSeriesInput(
          name_ + ": no column " + std::to_string(column_ + 1) +
              " in a .npy array of " + std::to_string(columns) + " column" +
              (columns == 1 ? "" : "s"),
          false);
    }
    const auto item = static_cast<std::uint64_t>(layout_.ItemSize);
    if (layout_.FortranOrder || columns == 1) {
      // The column lies in one piece, after the columns before it.
      skip_before_ = column_ * rows_ * item;
      stride_ = item;
    } else {
      skip_before_ = column_ * item;
      stride_ = columns * item;
    }
    item_ = item;
  }

  std::optional<double> Read() override {
    for (;;) {
      if (row_ == rows_) return std::nullopt;
      if (row_ == 0 && skip_before_ > 0) Skip(skip_before_);
      // Element row_ of the column, then whatever lies before the next.
      std::array<char, 8> bytes{};
      if (!in_.read(bytes.data(), static_cast<std::streamsize>(item_))) {
        Truncated();
      }
      if (stride_ > item_ && row_ + 1 < rows_) Skip(stride_ - item_);
      const double value = DecodeElement(layout_, bytes.data());
      const std::uint64_t index = row_++;
      if (std::isfinite(value)) {
        ++summary_.Samples;
        return value;
      }
      std::string place = name_ + "[" + std::to_string(index);
      if (two_d_) place += ", " + std::to_string(column_);
      place += "]";
      if (!Bad(BadRecord{std::move(place), std::string("not a number: ") +
                                               detail::NonFiniteWord(value)})) {
        return std::nullopt;
      }
    }
  }

 private:
  void Skip(std::uint64_t bytes) {
    in_.ignore(static_cast<std::streamsize>(bytes));
    if (static_cast<std::uint64_t>(in_.gcount()) != bytes) Truncated();
  }

  [[noreturn]] void Truncated() {
    throw BadSeriesInput(name_ + ": the file ends inside the array, after " +
                             std::to_string(row_) + " of " +
                             std::to_string(rows_) + " values",
                         false);
  }

  std::istream& in_;
  std::string name_;
  NpyLayout layout_;
  bool two_d_ = false;
  std::uint64_t rows_ = 0;
  std::uint64_t column_ = 0;
  std::uint64_t skip_before_ = 0;
  std::uint64_t stride_ = 8;
  std::uint64_t item_ = 8;
  std::uint64_t row_ = 0;
};

}  // namespace

std::unique_ptr<SampleReader> MakeNpySampleReader(std::istream& in,
                                                  std::string name,
                                                  const InputOptions& options) {
  return std::make_unique<NpySampleReader>(in, std::move(name), options);
}

}  // namespace series
