// Runs the library API on one series and prints every double it returns in
// hex (std::to_chars, exact), for the Python tests to compare bit for bit.
//
//   mfwindow_api_dump SERIES INCR ORDER LREC MIN_SCALE SHIFT TINI TSTEP
//                     THREADS SPECTRUM
//
// SERIES holds one number per line, each the shortest text that reads back
// as its double (Python's repr). Output, one record per line:
//   q <200 values>                      the moment orders
//   row <6 values>                      one per window, in order
//   h|tau <200 values>, alpha|f_alpha <100 values>   per window, SPECTRUM 1
// Exit status 2 on unusable arguments or input, with a line on stderr.
#include <array>
#include <charconv>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "mfwindow/mfwindow.h"

namespace {

template <typename T>
T Parse(std::string_view text) {
  T value{};
  const auto [end, ec] =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) {
    throw std::invalid_argument("not a number: " + std::string(text));
  }
  return value;
}

std::vector<double> ReadSeries(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::invalid_argument(std::string("cannot open ") + path);
  const std::string text((std::istreambuf_iterator<char>(in)),
                         std::istreambuf_iterator<char>());
  std::vector<double> values;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) {
      values.push_back(
          Parse<double>(std::string_view(text).substr(start, end - start)));
    }
    start = end + 1;
  }
  return values;
}

void WriteRecord(std::string_view tag, std::span<const double> values) {
  std::string line(tag);
  std::array<char, 64> buffer{};
  for (const double v : values) {
    const auto [end, ec] =
        std::to_chars(buffer.data(), buffer.data() + buffer.size(), v,
                      std::chars_format::hex);
    line += ' ';
    line.append(buffer.data(), end);
  }
  line += '\n';
  std::cout << line;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 11) {
    std::cerr << "usage: mfwindow_api_dump SERIES INCR ORDER LREC MIN_SCALE "
                 "SHIFT TINI TSTEP THREADS SPECTRUM\n";
    return 2;
  }
  try {
    const std::vector<double> series = ReadSeries(argv[1]);
    mfwindow::Settings settings;
    settings.IncrFlag = Parse<std::int32_t>(argv[2]);
    settings.TrendOrder = Parse<std::int32_t>(argv[3]);
    settings.Lrec = Parse<std::int32_t>(argv[4]);
    settings.MinScale = Parse<std::int32_t>(argv[5]);
    settings.WinShift = Parse<std::int32_t>(argv[6]);
    settings.Tini = Parse<double>(argv[7]);
    settings.Tstep = Parse<double>(argv[8]);
    settings.Threads = Parse<int>(argv[9]);
    settings.Spectrum = Parse<int>(argv[10]) != 0;

    const mfwindow::SeriesResult result =
        mfwindow::AnalyseSeries(series, settings);
    WriteRecord("q", result.QGrid);
    for (const mfwindow::WindowRow& r : result.Rows) {
      const std::array<double, 6> row = {r.TimeMark,  r.AlfaMin, r.AlfaMax,
                                         r.AlfaWidth, r.AlfaSz,  r.FAlfaSz};
      WriteRecord("row", row);
    }
    for (const mfwindow::WindowSpectrum& s : result.Spectra) {
      WriteRecord("h", s.HurstQ);
      WriteRecord("tau", s.TauQ);
      WriteRecord("alpha", s.AlfaGrid);
      WriteRecord("f_alpha", s.FAlfaGrid);
    }
    std::cout.flush();
    return std::cout ? 0 : 2;
  } catch (const std::exception& e) {
    std::cerr << "mfwindow_api_dump: " << e.what() << '\n';
    return 2;
  }
}
