// Which combinations of method options are refused, and that every
// accepted combination builds its tables. A front end reports
// MethodProblem's rule; a refusal missed here would reach an assert or a
// meaningless fit instead.
#include "analysis/settle.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
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

// Lrec 1000, MinScale 20: the default scales run from 20 to 200 samples.
// Each option's own range is the settings table's (tests/api); these are
// the rules between options.
const ProblemCase kProblemCases[] = {
    {"defaults", [](TableParams&) {}, nullptr},
    {"one order", [](TableParams& p) { p.Method.QCount = 1; }, nullptr},
    {"inverted orders",
     [](TableParams& p) {
       p.Method.QMin = 3.0;
       p.Method.QMax = -3.0;
     },
     "below q_max"},
    {"list with 0",
     [](TableParams& p) {
       p.Method.QList = {-2.0, 0.0, 2.0};
     },
     nullptr},
    {"orders that collapse",
     [](TableParams& p) {
       p.Method.QMin = 1.0;
       p.Method.QMax = 1.0 + 1e-15;
       p.Method.QCount = 50;
     },
     "far enough apart"},
    {"max scale = Lrec", [](TableParams& p) { p.Method.MaxScale = 1000; },
     nullptr},
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
     "must not exceed fit_max (30)"},
    {"fit range of one length",
     [](TableParams& p) {
       p.Method.FitMin = 50;
       p.Method.FitMax = 50;
     },
     "at least 2 different segment lengths of the scale grid (20 to 200"},
    {"fit range beyond the grid", [](TableParams& p) { p.Method.FitMin = 201; },
     "at least 2 different"},
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
      EXPECT_FALSE(problem.has_value()) << problem->Rule;
      // What is accepted must build.
      analysis::RunConstants run;
      analysis::PrepareRun(run, params);
      EXPECT_GE(run.FitEnd - run.FitBegin, 2u);
    } else {
      ASSERT_TRUE(problem.has_value());
      EXPECT_NE(problem->Rule.find(c.reason), std::string::npos)
          << problem->Rule;
    }
  }
}

}  // namespace
