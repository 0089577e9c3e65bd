#include "driver/dialogue.h"

#include <array>
#include <cstdint>
#include <fstream>
#include <string_view>

#include "analysis/settle.h"

namespace driver {
namespace {

using analysis::AnalysisParams;

// Long lines are split into adjacent literals on purpose.
// NOLINTBEGIN(bugprone-suspicious-missing-comma)
constexpr std::string_view kGreeting[] = {
    "This is the program for esimating multi-fractal singularity spectrums "
    "for",
    "a set of time series using Detrended Fluctuation Analysis (DFA) within",
    "moving time window. Files with time series to be processed must in the "
    "same",
    "directory as the program and their filenames must be listed in a column",
    "in a file with standard filename \"list\". For each input file the "
    "correspondent",
    "output file is generated which has filename "
    "\"F(Alfa)_<Input_Filename>.dat\"",
    "Output files have 6 columns: 1-st column: time marks of right-hand end "
    "of",
    "moving time window, 2-nd, 3-rd, 4-th, 5-th: AlfaMin, AlfaMax, "
    "AlfaMax-AlfaMin,",
    "AlfaSz, where Alfa is singularity index, AlfaSz - index value providing",
    "maximum to singularity spectra F(Alfa).",
    "The 6-th column are the values of F(AlfaSz) within each time window.",
    " ",
};
// NOLINTEND(bugprone-suspicious-missing-comma)

constexpr std::string_view kSeparator =
    "--------------------------------------------------------------";

// The banner lines are kept as character codes raised by a constant of
// each line; the character is the low byte of the code minus the constant.
constexpr int kBannerWidth = 70;
constexpr std::uint16_t kBannerOffset1 = 301;
constexpr std::array<std::uint16_t, kBannerWidth> kBannerCodes1 = {
    333, 333, 333, 333, 333, 333, 410, 403, 420, 406, 411, 401, 412, 420,
    359, 333, 410, 418, 409, 417, 406, 403, 415, 398, 400, 417, 398, 409,
    333, 416, 406, 411, 404, 418, 409, 398, 415, 406, 417, 422, 333, 416,
    413, 402, 400, 417, 415, 398, 333, 412, 403, 333, 417, 406, 410, 402,
    333, 416, 402, 415, 406, 402, 416, 333, 333, 333, 333, 333, 333, 333};
constexpr std::uint16_t kBannerOffset2 = 577;
constexpr std::array<std::uint16_t, kBannerWidth> kBannerCodes2 = {
    609, 609, 609, 609, 609, 609, 675, 698, 609, 677, 678, 693, 691, 678,
    687, 677, 678, 677, 609, 679, 685, 694, 676, 693, 694, 674, 693, 682,
    688, 687, 609, 674, 687, 674, 685, 698, 692, 682, 692, 609, 682, 687,
    609, 674, 609, 686, 688, 695, 682, 687, 680, 609, 693, 682, 686, 678,
    609, 696, 682, 687, 677, 688, 696, 609, 609, 609, 609, 609, 609, 609};

std::string DecodeBanner(const std::array<std::uint16_t, kBannerWidth>& codes,
                         std::uint16_t offset) {
  std::string line;
  for (std::uint16_t code : codes) {
    line.push_back(static_cast<char>((code - offset) & 0xFF));
  }
  return line;
}

// Writes `prompts` and reads the question's values until `accept` takes
// them; `targets` keep what the last read left in them.
template <typename Accept>
void Ask(TextOut& out, TextIn& in,
         std::initializer_list<std::string_view> prompts,
         std::initializer_list<textio::FreeTarget> targets, Accept accept) {
  for (;;) {
    for (std::string_view prompt : prompts) out.Free({prompt});
    out.Flush();
    const textio::FreeReadResult result = in.ReadAnswer(targets);
    if (result.Status == textio::kReadDone && accept()) return;
  }
}

}  // namespace

void AU(TextOut& console_out) {
  // One free-format record of 70 one-character items per line.
  for (const std::string& line :
       {DecodeBanner(kBannerCodes1, kBannerOffset1),
        DecodeBanner(kBannerCodes2, kBannerOffset2)}) {
    console_out.Free({std::string_view(line)});
  }
}

void WriteGreeting(TextOut& console_out, TextIn& console_in) {
  for (std::string_view line : kGreeting) console_out.Free({line});
  AU(console_out);
  console_out.Free({kSeparator});
  console_out.Free({"Press <Enter> to continue..."});
  console_out.Flush();
  console_in.SkipRecord();
}

std::optional<std::vector<std::string>> ReadSeriesList(
    const std::filesystem::path& run_dir, TextOut& console_out) {
  const std::filesystem::path list_path = run_dir / "list";
  // A folder named "list" opens as a stream but cannot be read: it is no
  // list either.
  std::error_code kind;
  if (std::filesystem::is_directory(list_path, kind)) return std::nullopt;
  std::ifstream file(list_path, std::ios::in | std::ios::binary);
  if (!file.is_open()) return std::nullopt;
  // A byte-order mark that an editor put before the first name is no part
  // of it.
  TextIn list(file, series::StreamId{series::kListUnit, "list"},
              textio::RecordRules{.SkipByteOrderMark = true});

  std::int32_t signal_count = 0;
  while (list.SkipRecordUnlessEnd()) ++signal_count;
  console_out.Free({"Number of signals=", signal_count});

  list.Rewind();
  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(signal_count));
  for (std::int32_t i = 0; i < signal_count; ++i) {
    names.push_back(list.ReadText(kSeriesNameWidth));
  }
  return names;
}

void ReportMissingList(TextOut& console_out, TextIn& console_in) {
  console_out.Free({"Input file \"list\" with list of filenames,"});
  console_out.Free({"where time series are located, is absent."});
  console_out.Free({"Press <Enter> to terminate the program..."});
  console_out.Flush();
  console_in.SkipRecord();
  // The stop line comes from the process end, not from a free-format write.
  console_out.Line("Stop - Program terminated.");
}

AnalysisParams AskQuestions(TextOut& out, TextIn& in, DialogueHooks& hooks) {
  AnalysisParams p;
  Ask(out, in,
      {"Do you want to come to incremental series within each window",
       "before estimating singularity spectrum (0/1) ?"},
      {&p.IncrFlag}, [&] { return analysis::AcceptIncrFlag(p.IncrFlag); });

  Ask(out, in,
      {"What is the polynomial order for scale-dependent trends removing",
       "( 1 <= * <= 10 ) ?"},
      {&p.TrendOrder}, [] { return true; });
  p.TrendOrder = analysis::SettleTrendOrder(p.TrendOrder);

  Ask(out, in,
      {"What is the length of time window (number of samples, * => 32) ?"},
      {&p.Lrec}, [] { return true; });
  p.Lrec = analysis::SettleLrec(p.Lrec);

  Ask(out, in,
      {"What is the minimum scale value= ? (cutoff < 20 and > Lrec/10)"},
      {&p.MinScale}, [] { return true; });
  p.MinScale = analysis::SettleMinScale(p.MinScale, p.Lrec);
  hooks.TablesSettled(p);

  Ask(out, in, {"What is the value of window`s shift= ?"}, {&p.WinShift},
      [] { return true; });
  p.WinShift = analysis::SettleWinShift(p.WinShift, p.Lrec);

  Ask(out, in,
      {"What are the values of initial time mark for series and time step:",
       "Tini, Tstep=?"},
      {&p.Tini, &p.Tstep}, [&] { return analysis::AcceptTstep(p.Tstep); });
  return p;
}

}  // namespace driver
