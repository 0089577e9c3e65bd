// Helpers shared by the fuzz targets: a stream over the fuzzer's own bytes,
// the record split done independently of textio, and a failure report that
// stops the run so that libFuzzer keeps the input.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <ios>
#include <streambuf>
#include <string>
#include <string_view>

namespace fuzz {

// Prints `what` (and `detail`, escaped) and aborts: libFuzzer then saves the
// input as a crash artifact.
[[noreturn]] inline void Fail(const char* what, std::string_view detail = {}) {
  std::string shown;
  for (const char c : detail) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f && c != '\\') {
      shown.push_back(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      shown.append(escaped);
    }
  }
  std::fprintf(stderr, "INVARIANT FAILED: %s\n  detail: \"%s\"\n", what,
               shown.c_str());
  std::abort();
}

#define FUZZ_CHECK(condition, detail)                     \
  do {                                                    \
    if (!(condition)) ::fuzz::Fail(#condition, (detail)); \
  } while (false)

// A read-only stream buffer over bytes it does not own, with no copy: any
// read beyond the fuzzer's buffer is an AddressSanitizer report. Position()
// tells how far the reader has taken bytes. Seeking is supported so that a
// reader can rewind.
class SpanBuf : public std::streambuf {
 public:
  explicit SpanBuf(std::string_view bytes) {
    char* first = const_cast<char*>(bytes.data());
    setg(first, first, first + bytes.size());
  }

  std::size_t Position() const {
    return static_cast<std::size_t>(gptr() - eback());
  }

 protected:
  pos_type seekoff(off_type off, std::ios_base::seekdir dir,
                   std::ios_base::openmode which) override {
    if (!(which & std::ios_base::in)) return pos_type(off_type(-1));
    off_type base = 0;
    if (dir == std::ios_base::cur) base = gptr() - eback();
    if (dir == std::ios_base::end) base = egptr() - eback();
    return seekpos(pos_type(base + off), which);
  }

  pos_type seekpos(pos_type pos, std::ios_base::openmode which) override {
    const off_type at = pos;
    if (!(which & std::ios_base::in) || at < 0 || at > egptr() - eback()) {
      return pos_type(off_type(-1));
    }
    setg(eback(), eback() + at, egptr());
    return pos;
  }
};

// The next record of `bytes` from `pos`, split by the rule of the text
// layer written out afresh here: a record ends at LF, a CR directly before
// that LF is dropped, a last line without LF is still a record (and keeps a
// final CR). Returns false at the end of the bytes.
inline bool NextRecord(std::string_view bytes, std::size_t& pos,
                       std::string& record) {
  if (pos >= bytes.size()) return false;
  const std::size_t line_feed = bytes.find('\n', pos);
  if (line_feed == std::string_view::npos) {
    record.assign(bytes.substr(pos));
    pos = bytes.size();
    return true;
  }
  std::size_t end = line_feed;
  if (end > pos && bytes[end - 1] == '\r') --end;
  record.assign(bytes.substr(pos, end - pos));
  pos = line_feed + 1;
  return true;
}

}  // namespace fuzz
