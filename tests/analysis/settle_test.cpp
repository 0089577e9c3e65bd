// Which method options are refused, and that every accepted combination
// builds its tables. A front end reports MethodProblem's text; a refusal
// missed here would reach an assert or a meaningless fit instead.
#include "analysis/settle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>

#include "analysis/run_constants.h"
#include "analysis_test_support.h"

namespace {

using analysis::TableParams;

struct ProblemCase {
  const char* name;
  std::function<void(TableParams&)> change;
  const char* reason;  // a part of the text; nullptr: accepted
};

const double kNaN = std::numeric_limits<double>::quiet_NaN();

// Lrec 1000, MinScale 20: the default scales run from 20 to 200 samples.
const ProblemCase kProblemCases[] = {
    {"defaults", [](TableParams&) {}, nullptr},
    {"one order", [](TableParams& p) { p.Method.QCount = 1; }, nullptr},
    {"no order", [](TableParams& p) { p.Method.QCount = 0; }, "at least 1"},
    {"too many orders", [](TableParams& p) { p.Method.QCount = 10001; },
     "at most 10000"},
    {"inverted orders",
     [](TableParams& p) {
       p.Method.QMin = 3.0;
       p.Method.QMax = -3.0;
     },
     "below the largest"},
    {"NaN order", [](TableParams& p) { p.Method.QMax = kNaN; }, "finite"},
    {"list with 0",
     [](TableParams& p) {
       p.Method.QList = {-2.0, 0.0, 2.0};
     },
     nullptr},
    {"list with NaN",
     [](TableParams& p) {
       p.Method.QList = {1.0, kNaN};
     },
     "finite"},
    {"unsorted list",
     [](TableParams& p) {
       p.Method.QList = {2.0, -2.0};
     },
     "ascending"},
    {"repeated order",
     [](TableParams& p) {
       p.Method.QList = {1.0, 1.0};
     },
     "ascending"},
    {"orders that collapse",
     [](TableParams& p) {
       p.Method.QMin = 1.0;
       p.Method.QMax = 1.0 + 1e-15;
       p.Method.QCount = 50;
     },
     "too close"},
    {"one scale", [](TableParams& p) { p.Method.ScaleCount = 1; },
     "at least 2"},
    {"max scale = Lrec", [](TableParams& p) { p.Method.MaxScale = 1000; },
     nullptr},
    {"max scale > Lrec", [](TableParams& p) { p.Method.MaxScale = 1001; },
     "must not exceed the window length (1000)"},
    {"max scale = min scale", [](TableParams& p) { p.Method.MaxScale = 20; },
     "must exceed the minimum scale (20)"},
    {"negative max scale", [](TableParams& p) { p.Method.MaxScale = -1; },
     "negative"},
    {"fit range",
     [](TableParams& p) {
       p.Method.FitMin = 30;
       p.Method.FitMax = 100;
     },
     nullptr},
    {"fit range inverted",
     [](TableParams& p) {
       p.Method.FitMin = 100;
       p.Method.FitMax = 30;
     },
     "lower end"},
    {"fit range of one length",
     [](TableParams& p) {
       p.Method.FitMin = 50;
       p.Method.FitMax = 50;
     },
     "at least 2 different segment lengths of the scale grid (20 to 200"},
    {"fit range beyond the grid", [](TableParams& p) { p.Method.FitMin = 201; },
     "at least 2 different"},
    {"negative floor", [](TableParams& p) { p.Method.RangeFloor = -1e-9; },
     "range floor"},
    {"NaN floor", [](TableParams& p) { p.Method.RangeFloor = kNaN; },
     "range floor"},
    {"negative surrogates", [](TableParams& p) { p.Surrogates.Count = -1; },
     "surrogates"},
};

TEST(MethodProblem, RefusesWhatCannotBeRun) {
  for (const ProblemCase& c : kProblemCases) {
    SCOPED_TRACE(c.name);
    TableParams params =
        analysis::TablesOf(analysis_test::MakeParams(1000, 20, 2));
    c.change(params);
    const std::optional<analysis::SettingProblem> problem =
        analysis::MethodProblem(params);
    if (c.reason == nullptr) {
      EXPECT_FALSE(problem.has_value()) << problem->Text;
      // What is accepted must build.
      analysis::RunConstants run;
      analysis::PrepareRun(run, params);
      EXPECT_GE(run.FitEnd - run.FitBegin, 2u);
    } else {
      ASSERT_TRUE(problem.has_value());
      EXPECT_NE(problem->Text.find(c.reason), std::string::npos)
          << problem->Text;
    }
  }
}

}  // namespace
