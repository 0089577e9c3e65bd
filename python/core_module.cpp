// mfwindow._core, the compiled part of the Python package: a thin binding of
// the library API (include/mfwindow/mfwindow.h). It settles settings,
// analyses one series with the GIL released and returns numpy columns; the
// package's Python layer does the argument handling, the channels, the
// progress display and Ctrl-C. Settings are settled by the library, so the
// numbers are those of the program and of the C++ API, bit for bit.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "mfwindow/mfwindow.h"

namespace py = pybind11;

namespace {

using Column = py::array_t<double>;
// Whatever numpy can turn into contiguous float64: arrays of other types,
// lists, tuples.
using Samples = py::array_t<double, py::array::c_style | py::array::forcecast>;

// How far one analysis has come, and whether it should stop. The library
// calls the progress callback on its own threads, where Python may not run,
// so the callback only touches these atomics; Python reads them (and asks
// for a stop) from its own thread. One object per analysis.
struct Progress {
  std::atomic<std::int64_t> done{0};
  std::atomic<std::int64_t> total{0};
  std::atomic<bool> stop{false};
};

// Python integers are unbounded; the settings are 32-bit like the program's
// answers.
std::int32_t ToCount(std::int64_t value, const char* name) {
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    throw py::value_error(std::string(name) + " must fit in 32 bits");
  }
  return static_cast<std::int32_t>(value);
}

mfwindow::Settings MakeSettings(std::int64_t increments, std::int64_t order,
                                std::int64_t window, std::int64_t min_scale,
                                std::int64_t shift, double t0, double dt,
                                int threads, bool spectrum) {
  mfwindow::Settings settings;
  settings.IncrFlag = ToCount(increments, "increments");
  settings.TrendOrder = ToCount(order, "order");
  settings.Lrec = ToCount(window, "window");
  settings.MinScale = ToCount(min_scale, "min_scale");
  settings.WinShift = ToCount(shift, "shift");
  settings.Tini = t0;
  settings.Tstep = dt;
  settings.Threads = threads;
  settings.Spectrum = spectrum;
  return settings;
}

// The library's invalid_argument as Python's ValueError, with the Python
// names of the settings.
template <typename F>
auto Settled(F&& call) {
  try {
    return call();
  } catch (const std::invalid_argument& e) {
    std::string text = e.what();
    if (text.rfind("IncrFlag", 0) == 0) {
      text = "increments must be False or True (0 or 1)";
    } else if (text.rfind("Tstep", 0) == 0) {
      text = "dt must be greater than 0";
    } else if (text.rfind("Threads", 0) == 0) {
      text = "threads must not be negative";
    }
    throw py::value_error(text);
  }
}

// Names of mfwindow::Setting, as the keywords of mfwindow.analyse.
const char* KeywordName(mfwindow::Setting which) {
  switch (which) {
    case mfwindow::Setting::kTrendOrder:
      return "order";
    case mfwindow::Setting::kLrec:
      return "window";
    case mfwindow::Setting::kMinScale:
      return "min_scale";
    case mfwindow::Setting::kWinShift:
      return "shift";
  }
  return "?";
}

// Field `member` of every row, as a 1-D array.
Column RowColumn(const std::vector<mfwindow::WindowRow>& rows,
                 double mfwindow::WindowRow::*member) {
  Column column(static_cast<py::ssize_t>(rows.size()));
  auto out = column.mutable_unchecked<1>();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    out(static_cast<py::ssize_t>(i)) = rows[i].*member;
  }
  return column;
}

// Vector `member` of every window's spectrum (`width` values each), one
// row per window.
Column SpectrumTable(const std::vector<mfwindow::WindowSpectrum>& spectra,
                     std::vector<double> mfwindow::WindowSpectrum::*member,
                     std::size_t width) {
  Column table({static_cast<py::ssize_t>(spectra.size()),
                static_cast<py::ssize_t>(width)});
  auto out = table.mutable_unchecked<2>();
  for (std::size_t i = 0; i < spectra.size(); ++i) {
    const std::vector<double>& values = spectra[i].*member;
    for (std::size_t k = 0; k < width; ++k) {
      out(static_cast<py::ssize_t>(i), static_cast<py::ssize_t>(k)) = values[k];
    }
  }
  return table;
}

// (settled settings as a dict, [(keyword, given, used), ...] for every
// value settling changed).
std::tuple<py::dict, py::list> Settle(std::int64_t increments,
                                      std::int64_t order, std::int64_t window,
                                      std::int64_t min_scale,
                                      std::int64_t shift, double t0, double dt,
                                      int threads) {
  const mfwindow::Settings given = MakeSettings(
      increments, order, window, min_scale, shift, t0, dt, threads, false);
  const mfwindow::Settings used =
      Settled([&] { return mfwindow::Settle(given); });
  py::dict settled;
  settled["increments"] = used.IncrFlag;
  settled["order"] = used.TrendOrder;
  settled["window"] = used.Lrec;
  settled["min_scale"] = used.MinScale;
  settled["shift"] = used.WinShift;
  py::list clamped;
  for (const mfwindow::ClampedValue& c : mfwindow::ClampedValues(given)) {
    clamped.append(py::make_tuple(KeywordName(c.Which), c.Given, c.Used));
  }
  return {settled, clamped};
}

// The rows of `result` as numpy columns, and its spectra with `spectrum`.
py::dict Columns(const mfwindow::SeriesResult& result, bool spectrum);

py::dict Analyse(const Samples& samples, std::int64_t increments,
                 std::int64_t order, std::int64_t window,
                 std::int64_t min_scale, std::int64_t shift, double t0,
                 double dt, int threads, bool spectrum, Progress* progress) {
  if (samples.ndim() != 1) {
    throw py::value_error("samples must be one-dimensional, got " +
                          std::to_string(samples.ndim()) + " dimensions");
  }
  const mfwindow::Settings settings = MakeSettings(
      increments, order, window, min_scale, shift, t0, dt, threads, spectrum);
  mfwindow::ProgressCallback callback;
  if (progress != nullptr) {
    callback = [progress](std::int64_t done, std::int64_t total) {
      progress->total.store(total);
      progress->done.store(done);
      return !progress->stop.load();
    };
  }

  // `samples` keeps the buffer alive; the caller must not write to it from
  // another thread meanwhile, as with any numpy call that drops the GIL.
  const std::span<const double> values(
      samples.data(), static_cast<std::size_t>(samples.shape(0)));
  mfwindow::SeriesResult result;
  {
    py::gil_scoped_release release;
    result = Settled(
        [&] { return mfwindow::AnalyseSeries(values, settings, callback); });
  }

  return Columns(result, spectrum);
}

// The file policy names of mfwindow-batch's --on-bad-sample.
mfwindow::BadSamplePolicy Policy(const std::string& name) {
  if (name == "error") return mfwindow::BadSamplePolicy::kError;
  if (name == "stop") return mfwindow::BadSamplePolicy::kStop;
  if (name == "skip") return mfwindow::BadSamplePolicy::kSkip;
  throw py::value_error(
      "on_bad_sample must be 'error', 'stop' or 'skip', "
      "got '" +
      name + "'");
}

// One series file as mfwindow-batch analyses it: a dict with the file's
// name, why it failed (None when it did not), its notes and its columns;
// with out_dir also the batch tool's result files.
py::dict AnalyseFile(const std::string& path, std::int64_t increments,
                     std::int64_t order, std::int64_t window,
                     std::int64_t min_scale, std::int64_t shift, double t0,
                     double dt, int threads, bool spectrum,
                     const std::string& column, const std::string& header,
                     const std::string& delimiter,
                     const std::string& on_bad_sample,
                     const std::string& out_dir, bool csv,
                     const std::string& base_dir) {
  mfwindow::Settings settings = MakeSettings(
      increments, order, window, min_scale, shift, t0, dt, threads, spectrum);
  settings.OnBadSample = Policy(on_bad_sample);
  mfwindow::FileOptions options;
  options.Column = column;
  options.Header = header;
  options.Delimiter = delimiter;
  options.OutDir = out_dir;
  options.Csv = csv;
  options.BaseDir = base_dir;
  mfwindow::FileResult result;
  {
    py::gil_scoped_release release;
    result =
        Settled([&] { return mfwindow::AnalyseFile(path, settings, options); });
  }
  py::dict out;
  out["name"] = result.Name;
  out["failure"] =
      result.Failure ? py::object(py::str(*result.Failure)) : py::none();
  out["notes"] = result.Notes;
  out["columns"] = Columns(result.Result, spectrum);
  return out;
}

}  // namespace

namespace {

py::dict Columns(const mfwindow::SeriesResult& result, bool spectrum) {
  using Row = mfwindow::WindowRow;
  py::dict columns;
  columns["time"] = RowColumn(result.Rows, &Row::TimeMark);
  columns["alfa_min"] = RowColumn(result.Rows, &Row::AlfaMin);
  columns["alfa_max"] = RowColumn(result.Rows, &Row::AlfaMax);
  columns["alfa_width"] = RowColumn(result.Rows, &Row::AlfaWidth);
  columns["alfa_sz"] = RowColumn(result.Rows, &Row::AlfaSz);
  columns["f_alfa_sz"] = RowColumn(result.Rows, &Row::FAlfaSz);
  py::list status;
  for (const Row& row : result.Rows)
    status.append(mfwindow::QualityName(row.Status));
  columns["status"] = status;
  columns["zero_share"] = RowColumn(result.Rows, &Row::ZeroShare);
  columns["floor_share"] = RowColumn(result.Rows, &Row::FloorShare);
  columns["min_r2"] = RowColumn(result.Rows, &Row::MinRSquared);
  if (spectrum) {
    using Spectrum = mfwindow::WindowSpectrum;
    Column q(static_cast<py::ssize_t>(result.QGrid.size()),
             result.QGrid.data());
    columns["q"] = q;
    const std::size_t orders = result.QGrid.size();
    const std::size_t alphas = mfwindow::kAlfaCount;
    columns["h"] = SpectrumTable(result.Spectra, &Spectrum::HurstQ, orders);
    columns["tau"] = SpectrumTable(result.Spectra, &Spectrum::TauQ, orders);
    columns["alpha"] =
        SpectrumTable(result.Spectra, &Spectrum::AlfaGrid, alphas);
    columns["f_alpha"] =
        SpectrumTable(result.Spectra, &Spectrum::FAlfaGrid, alphas);
  }
  return columns;
}

}  // namespace

PYBIND11_MODULE(_core, m) {
  m.doc() =
      "The compiled core of mfwindow; use mfwindow.analyse, not this module.";
  m.attr("__version__") = MFWINDOW_VERSION;
  m.attr("MOMENT_COUNT") = mfwindow::kMomentCount;
  m.attr("ALFA_COUNT") = mfwindow::kAlfaCount;

  py::register_exception<mfwindow::Stopped>(m, "Stopped");

  py::class_<Progress>(m, "Progress",
                       "Windows done and total of one analysis, readable "
                       "while it runs; stop() ends it at the next window.")
      .def(py::init<>())
      .def_property_readonly("done",
                             [](const Progress& p) { return p.done.load(); })
      .def_property_readonly("total",
                             [](const Progress& p) { return p.total.load(); })
      .def("stop", [](Progress& p) { p.stop.store(true); });

  m.def("settle", &Settle, py::arg("increments"), py::arg("order"),
        py::arg("window"), py::arg("min_scale"), py::arg("shift"),
        py::arg("t0"), py::arg("dt"), py::arg("threads"),
        "Settled settings and the values settling changed.");
  m.def("analyse", &Analyse, py::arg("samples"), py::arg("increments"),
        py::arg("order"), py::arg("window"), py::arg("min_scale"),
        py::arg("shift"), py::arg("t0"), py::arg("dt"), py::arg("threads"),
        py::arg("spectrum"), py::arg("progress") = nullptr,
        "One series analysed with the GIL released; a dict of columns. "
        "Raises Stopped when progress.stop() was called.");
  m.def("analyse_file", &AnalyseFile, py::arg("path"), py::arg("increments"),
        py::arg("order"), py::arg("window"), py::arg("min_scale"),
        py::arg("shift"), py::arg("t0"), py::arg("dt"), py::arg("threads"),
        py::arg("spectrum"), py::arg("column") = "", py::arg("header") = "",
        py::arg("delimiter") = "", py::arg("on_bad_sample") = "error",
        py::arg("out_dir") = "", py::arg("csv") = false,
        py::arg("base_dir") = "",
        "One series file read and analysed as mfwindow-batch does it, with "
        "the GIL released; a dict of name, failure, notes and columns.");
}
