#include "driver/dialogue.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "driver/series.h"
#include "series/fatal.h"

namespace driver {
namespace {

struct RecordingHooks : DialogueHooks {
  void TablesSettled(const analysis::AnalysisParams& p) override {
    order_at_hook = p.TrendOrder;
    min_scale_at_hook = p.MinScale;
    shift_at_hook = p.WinShift;
  }
  int order_at_hook = -1;
  int min_scale_at_hook = -1, shift_at_hook = -1;
};

struct Answers {
  analysis::AnalysisParams params;
  std::string console;
};

Answers Ask(const std::string& input) {
  std::istringstream in(input);
  std::ostringstream out;
  TextOut console_out(out, series::StreamId{series::kConsoleOutUnit, "stdout"});
  TextIn console_in(in, series::StreamId{series::kConsoleInUnit, "stdin"});
  RecordingHooks hooks;
  Answers a{AskQuestions(console_out, console_in, hooks), out.str()};
  return a;
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos;
       at = text.find(what, at + 1)) {
    ++n;
  }
  return n;
}

struct Case {
  const char* input;
  int incr, order, lrec, min_scale, shift;
  double tini, tstep;
  int q1_asked, q6_asked;  // how often questions 1 and 6 were put
};
// clang-format off
const Case kCases[] = {
  {"0\n2\n1000\n20\n100\n0 1\n",            0,  2, 1000,  20, 100,  0.0, 1.0, 1, 1},
  {"2\n-1\n1\n5\n1000\n50\n7\n-3.5 0.25\n", 1,  5, 1000,  50,   7, -3.5, 0.25, 3, 1},
  {"abc\n0\n0\n10\n5\n0\n1 0\n1 -1\n2 3\n", 0,  1,   32,   3,   1,  2.0, 3.0, 2, 3},
  {"0\n-5\n100\n15\n-3\n0 1\n",             0,  1,  100,  10,   1,  0.0, 1.0, 1, 1},
  {"0\n11\n100\n50\n250\n0 1\n",            0, 10,  100,  10, 100,  0.0, 1.0, 1, 1},
  {"0\n3\n1000\n5\n100\n0 1\n",             0,  3, 1000,  20, 100,  0.0, 1.0, 1, 1},
  {"0\n3\n1000\n500\n1000\n0 1\n",          0,  3, 1000, 100, 1000, 0.0, 1.0, 1, 1},
  {"0\n3\n32\n1000\n31\n0 1\n",             0,  3,   32,   3,  31,  0.0, 1.0, 1, 1},
  // A value on the next line; an empty line is passed over.
  {"0\n\n4.9\n\n1000\n20\n100\n1.5\n0.01\n", 0, 4, 1000, 20, 100,  1.5, 0.01, 1, 1},
  // 2*0.5 gives both values; a comma keeps Tini; a slash keeps Tstep at 0,
  // which repeats the question.
  {"0\n2\n1000\n20\n100\n1.5 /\n,0.01\n",   0,  2, 1000,  20, 100,  1.5, 0.01, 1, 2},
  {"0\n2\n1000\n20\n100\n2*0.5\n",          0,  2, 1000,  20, 100,  0.5, 0.5, 1, 1},
  // A comma answers nothing: IncrFlag keeps 0; order 0 becomes 1.
  {",\n,\n/\n/\n/\n1,\n0.01\n",             0,  1,   32,   3,   1,  1.0, 0.01, 1, 1},
  // Two numbers on a line: the second is never read.
  {"1 0\n2 3\n1000 7\n20\n100\n0 1\n",      1,  2, 1000,  20, 100,  0.0, 1.0, 1, 1},
};
// clang-format on

TEST(AskQuestions, SettlesEveryAnswerAsTheDialogueRulesSay) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.input);
    const Answers a = Ask(c.input);
    EXPECT_EQ(a.params.IncrFlag, c.incr);
    EXPECT_EQ(a.params.TrendOrder, c.order);
    EXPECT_EQ(a.params.Lrec, c.lrec);
    EXPECT_EQ(a.params.MinScale, c.min_scale);
    EXPECT_EQ(a.params.WinShift, c.shift);
    EXPECT_EQ(a.params.Tini, c.tini);
    EXPECT_EQ(a.params.Tstep, c.tstep);
    EXPECT_EQ(Count(a.console, "(0/1) ?"), c.q1_asked);
    EXPECT_EQ(Count(a.console, "Tini, Tstep=?"), c.q6_asked);
  }
}

TEST(AskQuestions, RunsTheHooksRightAfterTheirQuestions) {
  std::istringstream in("0\n12\n500\n30\n9\n0 1\n");
  std::ostringstream out;
  TextOut console_out(out, series::StreamId{series::kConsoleOutUnit, "stdout"});
  TextIn console_in(in, series::StreamId{series::kConsoleInUnit, "stdin"});
  RecordingHooks hooks;
  AskQuestions(console_out, console_in, hooks);
  EXPECT_EQ(hooks.order_at_hook, 10);  // clamped before the hook
  EXPECT_EQ(hooks.min_scale_at_hook, 30);
  EXPECT_EQ(hooks.shift_at_hook, 0);  // asked after the tables are built
}

TEST(AskQuestions, EndOfInputIsFatalAtEveryQuestion) {
  const char* kInputs[] = {"",
                           "0\n",
                           "0\n2\n",
                           "0\n2\n1000\n",
                           "0\n2\n1000\n20\n",
                           "0\n2\n1000\n20\n100\n",
                           "0\n2\n1000\n20\n100\n1\n"};
  for (const char* input : kInputs) {
    SCOPED_TRACE(input);
    try {
      Ask(input);
      ADD_FAILURE() << "no fatal error";
    } catch (const series::FatalError& e) {
      EXPECT_EQ(e.Number(), series::ErrorNumber::kEndOfInput);
      EXPECT_EQ(series::FatalReport(e),
                "mfwindow: severe (1): end of input during read, unit 5, "
                "file stdin");
    }
  }
}

}  // namespace
}  // namespace driver
