#include "series/npy_header.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

namespace series {
namespace {

constexpr std::string_view kMagic = "\x93NUMPY";

// A cursor over the dict literal.
class DictText {
 public:
  explicit DictText(std::string_view text) : text_(text) {}

  void SkipBlanks() {
    while (pos_ < text_.size() &&
           std::isspace(static_cast<unsigned char>(text_[pos_])) != 0) {
      ++pos_;
    }
  }
  bool Take(char c) {
    SkipBlanks();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool AtEnd() {
    SkipBlanks();
    return pos_ == text_.size();
  }
  char Peek() {
    SkipBlanks();
    return pos_ < text_.size() ? text_[pos_] : '\0';
  }
  // A string literal in single or double quotes (no escapes: numpy writes
  // none in these keys and values).
  std::optional<std::string> String() {
    SkipBlanks();
    if (pos_ == text_.size() || (text_[pos_] != '\'' && text_[pos_] != '"')) {
      return std::nullopt;
    }
    const char quote = text_[pos_++];
    const std::size_t end = text_.find(quote, pos_);
    if (end == std::string_view::npos) return std::nullopt;
    std::string value(text_.substr(pos_, end - pos_));
    pos_ = end + 1;
    return value;
  }
  // A bare word: True, False, or an integer.
  std::string Word() {
    SkipBlanks();
    const std::size_t start = pos_;
    while (pos_ < text_.size() &&
           (std::isalnum(static_cast<unsigned char>(text_[pos_])) != 0 ||
            text_[pos_] == '_')) {
      ++pos_;
    }
    return std::string(text_.substr(start, pos_ - start));
  }
  // Skips one value we do not read (a string, word, tuple or list).
  bool SkipValue() {
    const char c = Peek();
    if (c == '\'' || c == '"') return String().has_value();
    if (c == '(' || c == '[' || c == '{') {
      int depth = 0;
      for (; pos_ < text_.size(); ++pos_) {
        const char d = text_[pos_];
        if (d == '(' || d == '[' || d == '{') ++depth;
        if (d == ')' || d == ']' || d == '}') {
          if (--depth == 0) {
            ++pos_;
            return true;
          }
        }
      }
      return false;
    }
    return !Word().empty();
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
};

std::optional<std::uint64_t> ParseCount(const std::string& word) {
  std::uint64_t value = 0;
  const char* end = word.data() + word.size();
  const auto [ptr, ec] = std::from_chars(word.data(), end, value);
  if (word.empty() || ec != std::errc{} || ptr != end) return std::nullopt;
  return value;
}

NpyHeader Refused(std::string why) {
  NpyHeader header;
  header.Error = std::move(why);
  return header;
}

// '<f8', '|u1', ... as a layout; an error text otherwise.
std::optional<std::string> ParseDescr(const std::string& descr,
                                      NpyLayout& layout) {
  if (descr.size() < 3) return "element type '" + descr + "' is not read";
  const char order = descr[0];
  const char kind = descr[1];
  int size = 0;
  const char* end = descr.data() + descr.size();
  const auto [ptr, ec] = std::from_chars(descr.data() + 2, end, size);
  if (ec != std::errc{} || ptr != end) {
    return "element type '" + descr + "' is not read";
  }
  if (order == '>' && size > 1) {
    return "big-endian data (descr '" + descr +
           "') are not read; save the array with arr.astype('<" + kind +
           std::to_string(size) + "')";
  }
  if (order != '<' && order != '|' && order != '=') {
    return "element type '" + descr + "' is not read";
  }
  switch (kind) {
    case 'f':
      if (size != 4 && size != 8) {
        return "floats of " + std::to_string(size) + " bytes (descr '" + descr +
               "') are not read; use float64 or float32";
      }
      layout.Element = NpyLayout::Kind::kFloat;
      break;
    case 'i':
    case 'u':
      if (size != 1 && size != 2 && size != 4 && size != 8) {
        return "element type '" + descr + "' is not read";
      }
      layout.Element =
          kind == 'i' ? NpyLayout::Kind::kSigned : NpyLayout::Kind::kUnsigned;
      break;
    default:
      return "element type '" + descr +
             "' is not read; use float64, float32 or integers";
  }
  layout.ItemSize = size;
  return std::nullopt;
}

}  // namespace

NpyHeader ParseNpyDict(std::string_view dict) {
  DictText text(dict);
  if (!text.Take('{')) return Refused("the header is not a dict literal");
  NpyLayout layout;
  bool have_descr = false;
  bool have_order = false;
  bool have_shape = false;
  while (!text.Take('}')) {
    const std::optional<std::string> key = text.String();
    if (!key || !text.Take(':')) {
      return Refused("the header is not a dict literal");
    }
    if (*key == "descr") {
      if (text.Peek() == '[') {
        return Refused("structured arrays (a list as descr) are not read");
      }
      const std::optional<std::string> descr = text.String();
      if (!descr) return Refused("the header's descr is not a string");
      if (std::optional<std::string> why = ParseDescr(*descr, layout)) {
        return Refused(std::move(*why));
      }
      have_descr = true;
    } else if (*key == "fortran_order") {
      const std::string word = text.Word();
      if (word != "True" && word != "False") {
        return Refused("the header's fortran_order is not True or False");
      }
      layout.FortranOrder = word == "True";
      have_order = true;
    } else if (*key == "shape") {
      if (!text.Take('(')) return Refused("the header's shape is not a tuple");
      while (!text.Take(')')) {
        const std::optional<std::uint64_t> extent = ParseCount(text.Word());
        if (!extent) return Refused("the header's shape is not a tuple");
        layout.Shape.push_back(*extent);
        if (!text.Take(',') && text.Peek() != ')') {
          return Refused("the header's shape is not a tuple");
        }
      }
      have_shape = true;
    } else if (!text.SkipValue()) {
      return Refused("the header is not a dict literal");
    }
    if (!text.Take(',') && text.Peek() != '}') {
      return Refused("the header is not a dict literal");
    }
  }
  if (!have_descr || !have_order || !have_shape) {
    return Refused("the header lacks descr, fortran_order or shape");
  }
  // The reader steps through the data by byte offsets made of these
  // products; one that wraps round would read other elements as the column.
  std::uint64_t bytes = static_cast<std::uint64_t>(layout.ItemSize);
  for (const std::uint64_t extent : layout.Shape) {
    if (extent != 0 &&
        bytes > std::numeric_limits<std::uint64_t>::max() / extent) {
      return Refused("the header's shape gives more than 2^64 bytes");
    }
    bytes *= extent;
  }
  NpyHeader header;
  header.Layout = std::move(layout);
  return header;
}

NpyHeader ReadNpyHeader(std::istream& in) {
  std::array<char, 8> start{};
  if (!in.read(start.data(), start.size()) ||
      std::string_view(start.data(), kMagic.size()) != kMagic) {
    return Refused("not a .npy file (no \\x93NUMPY at its start)");
  }
  const int major = static_cast<unsigned char>(start[6]);
  if (major < 1 || major > 3) {
    return Refused(".npy version " + std::to_string(major) + " is not read");
  }
  const int length_bytes = major == 1 ? 2 : 4;
  std::array<char, 4> length_le{};
  if (!in.read(length_le.data(), length_bytes)) {
    return Refused("the .npy header ends early");
  }
  std::size_t length = 0;
  for (int i = length_bytes - 1; i >= 0; --i) {
    length = length * 256 +
             static_cast<unsigned char>(length_le[static_cast<std::size_t>(i)]);
  }
  // numpy keeps headers far below this; a larger one is no .npy header.
  constexpr std::size_t kMaxHeader = std::size_t{1} << 20;
  if (length > kMaxHeader) return Refused("the .npy header is too long");
  std::string dict(length, '\0');
  if (!in.read(dict.data(), static_cast<std::streamsize>(length))) {
    return Refused("the .npy header ends early");
  }
  return ParseNpyDict(dict);
}

}  // namespace series
