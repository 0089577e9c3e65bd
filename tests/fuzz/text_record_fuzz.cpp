// Fuzz target for the record layer: the input is one stream.
//   - RecordReader::Next gives records that, put back together with their
//     line ends, are the input: each record is followed by LF, by CR LF
//     (the CR dropped), or by the end of the input (a last line without LF,
//     never empty, keeping a final CR); no record holds an LF, and a record
//     followed by a bare LF does not end with the CR of a CR LF;
//   - the end of input, once met, stays, and the records equal an
//     independent split of the bytes;
//   - ReadTextRecord(256) gives, for each record, exactly 256 characters:
//     its first 256, blank-padded;
//   - reading with no targets (the way "list" is counted) takes exactly one
//     record per read and meets the end after as many reads;
//   - Rewind starts again at the first record.
#include <cstddef>
#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "textio/free_read.h"
#include "textio/records.h"

namespace {

constexpr int kNameWidth = 256;

std::vector<std::string> RecordsOf(std::string_view bytes) {
  fuzz::SpanBuf buffer(bytes);
  std::istream stream(&buffer);
  textio::RecordReader reader(stream);
  std::vector<std::string> records;
  std::string record;
  for (;;) {
    const auto status = reader.Next(record);
    if (status == textio::RecordReader::Status::kEndOfInput) break;
    FUZZ_CHECK(status == textio::RecordReader::Status::kRecord, record);
    records.push_back(record);
    FUZZ_CHECK(records.size() <= bytes.size(), bytes);
  }
  FUZZ_CHECK(buffer.Position() == bytes.size(), bytes);
  FUZZ_CHECK(reader.Next(record) == textio::RecordReader::Status::kEndOfInput,
             bytes);
  return records;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> records = RecordsOf(bytes);

  // The records with their line ends give back the input.
  std::size_t pos = 0;
  for (std::size_t r = 0; r < records.size(); ++r) {
    const std::string& record = records[r];
    FUZZ_CHECK(record.find('\n') == std::string::npos, record);
    FUZZ_CHECK(bytes.substr(pos, record.size()) == record, record);
    pos += record.size();
    if (pos == bytes.size()) {
      // A last line without LF: only the final record, and never empty.
      FUZZ_CHECK(r + 1 == records.size(), record);
      FUZZ_CHECK(!record.empty(), record);
    } else if (bytes[pos] == '\n') {
      FUZZ_CHECK(record.empty() || record.back() != '\r', record);
      pos += 1;
    } else {
      FUZZ_CHECK(bytes.substr(pos, 2) == "\r\n", record);
      pos += 2;
    }
  }
  FUZZ_CHECK(pos == bytes.size(), bytes);

  // An independent split agrees.
  {
    std::size_t at = 0;
    std::string record;
    std::size_t count = 0;
    while (fuzz::NextRecord(bytes, at, record)) {
      FUZZ_CHECK(count < records.size() && records[count] == record, record);
      ++count;
    }
    FUZZ_CHECK(count == records.size(), bytes);
  }

  // The fixed-width read, then a rewind and the first record once more.
  {
    fuzz::SpanBuf buffer(bytes);
    std::istream stream(&buffer);
    textio::RecordReader reader(stream);
    for (const std::string& record : records) {
      const textio::TextRecordResult got =
          textio::ReadTextRecord(reader, kNameWidth);
      FUZZ_CHECK(got.Status == textio::RecordReader::Status::kRecord, record);
      FUZZ_CHECK(got.Text.size() == kNameWidth, got.Text);
      std::string want = record.substr(0, kNameWidth);
      want.resize(kNameWidth, ' ');
      FUZZ_CHECK(got.Text == want, record);
    }
    const textio::TextRecordResult end =
        textio::ReadTextRecord(reader, kNameWidth);
    FUZZ_CHECK(end.Status == textio::RecordReader::Status::kEndOfInput,
               end.Text);

    FUZZ_CHECK(reader.Rewind(), bytes);
    const textio::TextRecordResult first =
        textio::ReadTextRecord(reader, kNameWidth);
    if (records.empty()) {
      FUZZ_CHECK(first.Status == textio::RecordReader::Status::kEndOfInput,
                 first.Text);
    } else {
      FUZZ_CHECK(first.Status == textio::RecordReader::Status::kRecord,
                 records[0]);
      std::string want = records[0].substr(0, kNameWidth);
      want.resize(kNameWidth, ' ');
      FUZZ_CHECK(first.Text == want, records[0]);
    }
  }

  // Counting records with empty free-format reads, as "list" is counted.
  {
    fuzz::SpanBuf buffer(bytes);
    std::istream stream(&buffer);
    textio::RecordReader reader(stream);
    std::size_t reads = 0;
    for (;;) {
      const textio::FreeReadResult got = textio::ReadFreeValues(reader, {});
      if (got.Status == textio::kReadEndOfInput) break;
      FUZZ_CHECK(got.Status == textio::kReadDone && got.Assigned == 0, bytes);
      ++reads;
      FUZZ_CHECK(reads <= records.size(), bytes);
    }
    FUZZ_CHECK(reads == records.size(), bytes);
  }
  return 0;
}
