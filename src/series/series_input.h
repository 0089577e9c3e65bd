// The samples of one series as the front ends read them from a file or a
// stream: text with one sample per record (mfwindow's reading: the first
// value of each record), delimited text with one column chosen, or a .npy
// array. A record that is no sample is handled by a policy, and how the
// reading went (the samples, the records skipped, where the series ended)
// is kept for the messages. Here are the types every reader shares and the
// reader a front end asks for; the readers themselves are text_reader and
// npy_reader, the options' words column_choice, the time stamps time_axis.
#pragma once

#include <cstdint>
#include <istream>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "textio/fields.h"
#include "textio/records.h"

namespace series {

// What becomes of a record that is not a number (a word, NaN, NA, an empty
// field, a blank line inside the series).
enum class BadSamplePolicy {
  kError,  // the series fails: BadSeriesInput names the record
  kStop,   // the series ends there, as at the end of its file
  kSkip,   // the record is dropped and reading goes on
  kMask,   // the record stays in place as a gap: a NaN sample
};

// Which column of delimited text (or of a 2-D .npy array) is the series.
struct ColumnChoice {
  std::int32_t Index = 1;  // counted from 1; 0 when chosen by Name
  std::string Name;        // a column name of the header row
};

enum class HeaderMode {
  kAuto,  // a first row whose field in the column is a word is the header
  kYes,   // the first row (not blank) is the header
  kNo,    // every row is data
};

// How the series files of a run are read.
struct InputOptions {
  BadSamplePolicy OnBadSample = BadSamplePolicy::kStop;
  // mfwindow's reading: a blank record is passed over wherever it stands.
  // Otherwise a blank record between two records that are not blank is a
  // missing sample; blank records before the first and after the last
  // record that is not blank are ignored.
  bool BlankRecordsPassOver = true;
  // mfwindow-batch's reading: a first record holding more than one value
  // draws a warning (only the first value of each record is the sample),
  // and a first record that is no number suggests --header and --column.
  bool BatchHints = false;
  // An input that starts with the .npy magic byte is read as a .npy array.
  bool AcceptNpy = false;
  // Delimited text: each record is split into fields and Column is taken
  // (column 1 when not set). Otherwise the sample is the first value of
  // the record, read by the free-format rules.
  bool Delimited = false;
  std::optional<textio::FieldSeparator> Separator;  // none: guessed
  HeaderMode Header = HeaderMode::kAuto;
  std::optional<ColumnChoice> Column;  // also for a 2-D .npy array
  // The column of the file's own time stamps (delimited text only): one
  // stamp per record, read by ReadTimeAxis before the samples.
  std::optional<ColumnChoice> TimeColumn;
  // Its stamps label the windows instead of setting an even axis: they
  // need only rise, and each window's time is the stamp of its last sample.
  bool TimeLabels = false;
};

// mfwindow's reading of series files: one sample per record, blank records
// passed over, the first record that is no number ends the series.
InputOptions MfwindowInput();

// mfwindow-batch's reading, also the library's AnalyseFile: a record that
// is no number is an error, a blank record inside the series is a missing
// sample, .npy arrays are read, and a first record that looks like a header
// or holds several values draws a hint.
InputOptions BatchInput();

// A record that is no sample, for messages.
struct BadRecord {
  std::string Place;    // "s.txt:7001", or "s.npy[7000]" for an array
  std::string Problem;  // "not a number: \"NaN\""
  // The first record, and it looks like delimited text (a header row, or
  // fields joined by semicolons): stopping at it or skipping it is rarely
  // what was meant.
  bool LooksDelimited = false;
  // Its place among the series' values, from 0, where the reader knows it
  // (an array in memory); -1 otherwise.
  std::int64_t Index = -1;
  std::string Text() const { return Place + ": " + Problem; }
};

// How the reading of one series went.
struct InputSummary {
  std::int64_t Samples = 0;               // handed out
  std::int64_t Skipped = 0;               // records dropped under kSkip
  std::int64_t Masked = 0;                // records kept as gaps under kMask
  std::optional<BadRecord> FirstSkipped;  // or the first masked
  // The record that ended the series before the end of its input (kStop,
  // or input that could not be read further).
  std::optional<BadRecord> EndedAt;
  // About the input as a whole ("only the first value ... is analysed").
  std::vector<std::string> Warnings;
};

// Input that cannot be read as a series: a bad record under kError, a
// column that is not there, a .npy file of a kind that is not read, a file
// that ends inside its data. what() says where and why:
//   "eeg.csv:7002: column 2 (Fz) is not a number: \"NaN\""
class BadSeriesInput : public std::runtime_error {
 public:
  // `bad_sample`: a record that the policy could have stopped at or
  // skipped, rather than input that cannot be read as a series at all.
  BadSeriesInput(const std::string& text, bool bad_sample,
                 std::int64_t index = -1)
      : std::runtime_error(text), bad_sample_(bad_sample), index_(index) {}
  bool BadSample() const { return bad_sample_; }
  // The bad record's BadRecord::Index.
  std::int64_t Index() const { return index_; }

 private:
  bool bad_sample_;
  std::int64_t index_;
};

// Hands out the samples of one series in order. Not for sharing between
// threads; the engine calls Next from one thread at a time.
class SampleReader {
 public:
  virtual ~SampleReader() = default;

  // The next sample, or std::nullopt when the series ends (the end of the
  // input, or a bad record under kStop); NaN for a bad record under kMask.
  // Throws BadSeriesInput under kError, and for input that cannot be read
  // at all.
  std::optional<double> Next();

  const InputSummary& Summary() const { return summary_; }

 protected:
  explicit SampleReader(BadSamplePolicy policy) : policy_(policy) {}
  // Applies the policy to `count` bad records reported as `record`: throws
  // under kError, returns true (read on) under kSkip and kMask (Next hands
  // out the gaps before the sample read next), false (the series ends)
  // under kStop.
  bool Bad(BadRecord record, std::int64_t count = 1);

  // The next sample of the input, bad records handled by Bad.
  virtual std::optional<double> Read() = 0;

  // For a reader that applied the policy to its whole input up front and
  // hands each gap out from Read where it stands: Next hands out none of
  // its own.
  void HandGapsOutInPlace() { gaps_ = 0; }

  BadSamplePolicy Policy() const { return policy_; }

  InputSummary summary_;

 private:
  BadSamplePolicy policy_;
  std::int64_t gaps_ = 0;       // gaps still to hand out
  std::optional<double> held_;  // read after them
  bool ended_ = false;
};

// The reader of series `name` (as messages name it) from `in`, which must
// outlive it. With AcceptNpy, an input that starts with the .npy magic byte
// is read as an array: its header is read and checked here, and
// BadSeriesInput thrown when it is not an array this reader takes (1-D, or
// 2-D with a column chosen by number; see MakeNpySampleReader). Any other
// input is text (MakeTextSampleReader), read with a UTF-8 byte-order mark
// at its start skipped and a lone CR taken as a record end.
std::unique_ptr<SampleReader> MakeSampleReader(std::istream& in,
                                               std::string name,
                                               const InputOptions& options);

// The samples of an array in memory under `policy`: the library's and
// Python's one reading of non-finite values (NaN, +-infinity), the same as
// a file's. The whole array is looked over when the reader is made, so
// that under kError BadSeriesInput (with the Index of the first such
// value) comes before any work, and Length() is known up front. Records
// are named `name`[index].
class ArraySampleReader final : public SampleReader {
 public:
  ArraySampleReader(std::span<const double> values, const std::string& name,
                    BadSamplePolicy policy);
  // The samples Next hands out in all (gaps under kMask included).
  std::int64_t Length() const { return length_; }

 private:
  std::span<const double> values_;
  std::size_t end_ = 0;  // where the series ends (kStop)
  std::size_t next_ = 0;
  std::int64_t length_ = 0;

  std::optional<double> Read() override;
};

namespace detail {

// What the readers share: series text is read with a UTF-8 byte-order mark
// at its start skipped and a lone CR taken as a record end, and a record
// is named in messages by its line from 1 and its text quoted.
inline constexpr textio::RecordRules kSeriesRecordRules{true, true};

// Whether `record` holds only blanks, tabs and CRs.
bool IsBlank(std::string_view record);

// "s.txt:7", for line 7 of `name`.
std::string LinePlace(const std::string& name, std::uint64_t line);

// `text` in double quotes for a message, control characters shown as
// escapes and long text cut (textio::VisibleExcerpt).
std::string Quoted(std::string_view text);

// "NaN", "inf" or "-inf" for a value that is not finite.
const char* NonFiniteWord(double value);

}  // namespace detail
}  // namespace series
