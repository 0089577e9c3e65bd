#include "textio/records.h"

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "textio/breaking_buffer.h"

namespace {

using Status = textio::RecordReader::Status;
using namespace std::string_literals;

std::vector<std::string> ReadAll(const std::string& bytes) {
  std::istringstream in(bytes);
  textio::RecordReader reader(in);
  std::vector<std::string> records;
  std::string record;
  while (reader.Next(record) == Status::kRecord) records.push_back(record);
  return records;
}

// clang-format off
struct SplitCase {
  std::string bytes;
  std::vector<std::string> records;
};
const SplitCase kSplitCases[] = {
  {"",                 {}},
  {"a\nb\n",           {"a", "b"}},
  {"a\r\nb\r\n",       {"a", "b"}},
  {"a\r\nlast",        {"a", "last"}},          // last line without a line end
  {"\n",               {""}},
  {"\r\n\r\n",         {"", ""}},
  {"  lead  \r\n",     {"  lead  "}},           // blanks on both sides kept
  {"a\r\r\n",          {"a\r"}},                // only the CR before LF goes
  {"a\rb\n",           {"a\rb"}},
  {"tail\r",           {"tail\r"}},             // no LF, so the CR is data
  {"\t,'\"/\n",        {"\t,'\"/"}},
  {"x\0y\xff\x80\n"s,  {"x\0y\xff\x80"s}},      // bytes as they are
};
// clang-format on

TEST(RecordReader, SplitsRecordsAtLineFeeds) {
  for (const SplitCase& c : kSplitCases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    EXPECT_EQ(ReadAll(c.bytes), c.records);
  }
}

TEST(RecordReader, KeepsReportingEndOfInput) {
  std::istringstream in("only");
  textio::RecordReader reader(in);
  std::string record;
  ASSERT_EQ(reader.Next(record), Status::kRecord);
  EXPECT_EQ(reader.Next(record), Status::kEndOfInput);
  EXPECT_EQ(reader.Next(record), Status::kEndOfInput);
}

TEST(RecordReader, ReportsBrokenStreamAsDeviceError) {
  BreakingBuffer buffer("first\npartial");
  std::istream in(&buffer);
  textio::RecordReader reader(in);
  std::string record;
  ASSERT_EQ(reader.Next(record), Status::kRecord);
  EXPECT_EQ(record, "first");
  EXPECT_EQ(reader.Next(record), Status::kDeviceError);
  EXPECT_EQ(reader.Next(record), Status::kDeviceError);

  std::istringstream bad("text\n");
  bad.setstate(std::ios::badbit);
  textio::RecordReader bad_reader(bad);
  EXPECT_EQ(bad_reader.Next(record), Status::kDeviceError);
}

// A line without end of hundreds of megabytes must not be held whole: the
// reader keeps the first kMaxRecordLength characters, drops the rest of the
// record, and the next record is read intact.
TEST(RecordReader, KeepsAtMostTheLongestRecordOfALongLine) {
  constexpr std::size_t kMax = textio::RecordReader::kMaxRecordLength;
  const std::string longer = std::string(kMax, 'a') + "bc\r";
  std::istringstream in(longer + "\n1.5\r\n" + std::string(kMax + 7, 'z'));
  textio::RecordReader reader(in);
  std::string record;
  ASSERT_EQ(reader.Next(record), textio::RecordReader::Status::kRecord);
  EXPECT_EQ(record, std::string(kMax, 'a'));
  ASSERT_EQ(reader.Next(record), textio::RecordReader::Status::kRecord);
  EXPECT_EQ(record, "1.5");
  ASSERT_EQ(reader.Next(record), textio::RecordReader::Status::kRecord);
  EXPECT_EQ(record, std::string(kMax, 'z'));
  EXPECT_EQ(reader.Next(record), textio::RecordReader::Status::kEndOfInput);
}

TEST(RecordReader, RewindStartsAgainAtFirstRecord) {
  // Rewinding after the end was met (eofbit and failbit set) is the case of
  // "list", which is counted to its end first.
  std::istringstream in("one\r\ntwo");
  textio::RecordReader reader(in);
  std::string record;
  while (reader.Next(record) == Status::kRecord) {
  }
  ASSERT_TRUE(reader.Rewind());
  ASSERT_EQ(reader.Next(record), Status::kRecord);
  EXPECT_EQ(record, "one");
  ASSERT_EQ(reader.Next(record), Status::kRecord);
  EXPECT_EQ(record, "two");
  EXPECT_EQ(reader.Next(record), Status::kEndOfInput);
}

TEST(WriteRecord, AppendsCrLfAndKeepsEveryCharacter) {
  std::ostringstream out;
  EXPECT_TRUE(textio::WriteRecord(out, "+         7"));
  EXPECT_TRUE(textio::WriteRecord(out, ""));
  EXPECT_TRUE(textio::WriteRecord(out, " trailing   "));
  EXPECT_EQ(out.str(), "+         7\r\n\r\n trailing   \r\n");
}

TEST(WriteRecord, ReportsFailureNowAndLater) {
  std::ostringstream out;
  out.setstate(std::ios::badbit);
  EXPECT_FALSE(textio::WriteRecord(out, "lost"));

  // A stream without a buffer fails at the write itself.
  std::ostream detached(nullptr);
  detached.clear();
  EXPECT_FALSE(textio::WriteRecord(detached, "lost"));
  EXPECT_FALSE(textio::WriteRecord(detached, ""));
}

// clang-format off
struct TextCase {
  std::string bytes;
  std::string text;  // before padding to 256
};
const TextCase kTextCases[] = {
  {"series1.txt\r\n",          "series1.txt"},
  {"  two leading\r\n",        "  two leading"},
  {"last line",                "last line"},
  {"\n",                       ""},
  {"a\tb,'c'\"d\"/e\n",        "a\tb,'c'\"d\"/e"},
  {std::string(300, 'x') + "\r\n", std::string(256, 'x')},
  {std::string(256, 'y') + "\n",   std::string(256, 'y')},
  {std::string(255, 'z') + "\n",   std::string(255, 'z')},
};
// clang-format on

TEST(ReadTextRecord, GivesFirst256CharactersBlankPadded) {
  for (const TextCase& c : kTextCases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes.substr(0, 40)));
    std::istringstream in(c.bytes);
    textio::RecordReader reader(in);
    const textio::TextRecordResult result = textio::ReadTextRecord(reader, 256);
    ASSERT_EQ(result.Status, Status::kRecord);
    std::string expected = c.text;
    expected.resize(256, ' ');
    EXPECT_EQ(result.Text, expected);
  }
}

TEST(ReadTextRecord, ReadsSuccessiveRecordsThenEnd) {
  std::istringstream in("a\r\n\r\nb");
  textio::RecordReader reader(in);
  EXPECT_EQ(textio::ReadTextRecord(reader, 256).Text.substr(0, 2), "a ");
  EXPECT_EQ(textio::ReadTextRecord(reader, 256).Text, std::string(256, ' '));
  EXPECT_EQ(textio::ReadTextRecord(reader, 256).Text.substr(0, 2), "b ");
  EXPECT_EQ(textio::ReadTextRecord(reader, 256).Status, Status::kEndOfInput);
}

// Series files and "list" as editors write them. Guards against a UTF-8
// byte-order mark read as part of the first sample or name (0 windows, a
// "not found" for a file that exists) and against CR-only line ends read
// as one huge record (0 windows, silently).
struct RulesCase {
  std::string bytes;
  textio::RecordRules rules;
  std::vector<std::string> records;
};
// clang-format off
const RulesCase kRulesCases[] = {
  {"\xEF\xBB\xBF" "1.5\n2\n",   {true, false},  {"1.5", "2"}},
  {"\xEF\xBB\xBF" "1.5\n",      {false, false}, {"\xEF\xBB\xBF" "1.5"}},  // rule off: bytes kept
  {"1\n\xEF\xBB\xBF" "2\n",     {true, false},  {"1", "\xEF\xBB\xBF" "2"}},  // only at the start
  {"\xEF\xBB" "1\n",            {true, false},  {"\xEF\xBB" "1"}},        // not a whole mark
  {"\xEF\xBB\xBF",              {true, false},  {""}},
  {"1\r2\r3\r",                 {false, true},  {"1", "2", "3"}},
  {"1\r2\r3",                   {false, true},  {"1", "2", "3"}},
  {"1\r\n2\r\n",                {false, true},  {"1", "2"}},              // CR LF: one line end
  {"1\r\r\n2\n",                {false, true},  {"1", "", "2"}},
  {"1\n\r2",                    {false, true},  {"1", "", "2"}},
  {"1\r2\r",                    {false, false}, {"1\r2\r"}},              // rule off: one record
  {"\xEF\xBB\xBF" "1\r2\r",     {true, true},   {"1", "2"}},
};
// clang-format on

TEST(RecordReader, AppliesByteOrderMarkAndLoneCrRules) {
  for (const RulesCase& c : kRulesCases) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    std::istringstream in(c.bytes);
    textio::RecordReader reader(in, c.rules);
    std::vector<std::string> records;
    std::string record;
    while (reader.Next(record) == Status::kRecord) {
      records.push_back(record);
      // The count is the line number of the record just read.
      EXPECT_EQ(reader.RecordsRead(), records.size());
    }
    EXPECT_EQ(records, c.records);
  }
}

// "list" is counted, rewound and read again: the mark goes both times, and
// the line count starts again.
TEST(RecordReader, SkipsByteOrderMarkAgainAfterRewind) {
  std::istringstream in(
      "\xEF\xBB\xBF"
      "a.txt\nb.txt\n");
  textio::RecordReader reader(in, textio::RecordRules{true, false});
  std::string record;
  ASSERT_EQ(reader.Next(record), Status::kRecord);
  EXPECT_EQ(record, "a.txt");
  ASSERT_TRUE(reader.Rewind());
  EXPECT_EQ(reader.RecordsRead(), 0u);
  ASSERT_EQ(reader.Next(record), Status::kRecord);
  EXPECT_EQ(record, "a.txt");
  EXPECT_EQ(reader.RecordsRead(), 1u);
}

}  // namespace
