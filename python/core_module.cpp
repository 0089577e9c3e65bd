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
#include <utility>
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

// The method and surrogate keywords of mfwindow.analyse, as the Python layer
// hands them over (types checked there): profile, fluctuation ("range",
// "rms"), q (None or a list), q_min, q_max, q_count, max_scale (0: the
// default), scale_count, fit_min, fit_max (0: no bound), fq, range_floor,
// surrogates, surrogate ("shuffle", "phase", "iaaft") and seed. A key left
// out keeps the library's default.
void ApplyMethod(const py::dict& method, mfwindow::Settings& s) {
  for (const auto& [key_object, value] : method) {
    const std::string key = py::cast<std::string>(key_object);
    if (key == "profile") {
      s.Profile = py::cast<bool>(value);
    } else if (key == "fluctuation") {
      const std::string name = py::cast<std::string>(value);
      if (name != "range" && name != "rms") {
        throw py::value_error("fluctuation must be 'range' or 'rms', got '" +
                              name + "'");
      }
      s.Measure = name == "rms" ? mfwindow::Fluctuation::kRms
                                : mfwindow::Fluctuation::kRange;
    } else if (key == "q") {
      s.QList = value.is_none() ? std::vector<double>()
                                : py::cast<std::vector<double>>(value);
    } else if (key == "q_min") {
      s.QMin = py::cast<double>(value);
    } else if (key == "q_max") {
      s.QMax = py::cast<double>(value);
    } else if (key == "q_count") {
      s.QCount = ToCount(py::cast<std::int64_t>(value), "q_count");
    } else if (key == "max_scale") {
      s.MaxScale = ToCount(py::cast<std::int64_t>(value), "max_scale");
    } else if (key == "scale_count") {
      s.ScaleCount = ToCount(py::cast<std::int64_t>(value), "scale_count");
    } else if (key == "fit_min") {
      s.FitMin = ToCount(py::cast<std::int64_t>(value), "fit_range");
    } else if (key == "fit_max") {
      s.FitMax = ToCount(py::cast<std::int64_t>(value), "fit_range");
    } else if (key == "fq") {
      s.KeepFq = py::cast<bool>(value);
    } else if (key == "range_floor") {
      s.RangeFloor = py::cast<double>(value);
    } else if (key == "surrogates") {
      s.Surrogates = ToCount(py::cast<std::int64_t>(value), "surrogates");
    } else if (key == "surrogate") {
      const std::string name = py::cast<std::string>(value);
      if (name == "shuffle") {
        s.Surrogate = mfwindow::SurrogateKind::kShuffle;
      } else if (name == "phase") {
        s.Surrogate = mfwindow::SurrogateKind::kPhase;
      } else if (name == "iaaft") {
        s.Surrogate = mfwindow::SurrogateKind::kIaaft;
      } else {
        throw py::value_error(
            "surrogate must be 'shuffle', 'phase' or 'iaaft', got '" + name +
            "'");
      }
    } else if (key == "seed") {
      s.Seed = py::cast<std::uint64_t>(value);
    } else {
      throw py::value_error("unknown method option '" + key + "'");
    }
  }
}

const char* FluctuationName(mfwindow::Fluctuation measure) {
  return measure == mfwindow::Fluctuation::kRms ? "rms" : "range";
}

const char* SurrogateName(mfwindow::SurrogateKind kind) {
  switch (kind) {
    case mfwindow::SurrogateKind::kShuffle:
      return "shuffle";
    case mfwindow::SurrogateKind::kPhase:
      return "phase";
    case mfwindow::SurrogateKind::kIaaft:
      return "iaaft";
  }
  return "?";
}

mfwindow::Settings MakeSettings(std::int64_t increments, std::int64_t order,
                                std::int64_t window, std::int64_t min_scale,
                                std::int64_t shift, double t0, double dt,
                                int threads, bool spectrum,
                                const py::dict& method) {
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
  ApplyMethod(method, settings);
  return settings;
}

// The keyword of mfwindow.analyse that a refusal of the method or
// surrogate settings is about, told by the library's words; empty for
// other refusals.
std::string MethodKeyword(const std::string& text) {
  // The first match wins: "the largest scale (..) must exceed the minimum
  // scale" is about max_scale, not min_scale.
  static constexpr std::array<std::pair<const char*, const char*>, 10>
      kKeywords{{{"listed", "q"},
                 {"moment order must be a finite", "q"},
                 {"number of moment orders", "q_count"},
                 {"smallest and largest moment", "q_min, q_max"},
                 {"smallest moment order", "q_min, q_max"},
                 {"too close together", "q_min, q_max, q_count"},
                 {"number of scales", "scale_count"},
                 {"largest scale", "max_scale"},
                 {"fit range", "fit_range"},
                 {"range floor", "range_floor"}}};
  for (const auto& [words, keyword] : kKeywords) {
    if (text.find(words) != std::string::npos) return keyword;
  }
  if (text.find("surrogates") != std::string::npos) return "surrogates";
  return "";  // not about the method
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
    } else if (const std::string keyword = MethodKeyword(text);
               !keyword.empty()) {
      text = keyword + ": " + text;
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
// value settling changed). The method and surrogate settings are checked
// as the library checks them (ValueError naming the keyword) and come back
// as the run uses them: max_scale as a length (the window div 5 when not
// given), q as a list or None.
std::tuple<py::dict, py::list> Settle(std::int64_t increments,
                                      std::int64_t order, std::int64_t window,
                                      std::int64_t min_scale,
                                      std::int64_t shift, double t0, double dt,
                                      int threads, const py::dict& method) {
  const mfwindow::Settings given =
      MakeSettings(increments, order, window, min_scale, shift, t0, dt, threads,
                   false, method);
  const mfwindow::Settings used =
      Settled([&] { return mfwindow::Settle(given); });
  py::dict settled;
  settled["increments"] = used.IncrFlag;
  settled["order"] = used.TrendOrder;
  settled["window"] = used.Lrec;
  settled["min_scale"] = used.MinScale;
  settled["shift"] = used.WinShift;
  settled["profile"] = used.Profile;
  settled["fluctuation"] = FluctuationName(used.Measure);
  settled["q"] = used.QList.empty() ? py::object(py::none())
                                    : py::object(py::cast(used.QList));
  settled["q_min"] = used.QMin;
  settled["q_max"] = used.QMax;
  settled["q_count"] = used.QCount;
  // The library's rule for MaxScale 0 (the header's "0: Lrec div 5").
  settled["max_scale"] = used.MaxScale == 0 ? used.Lrec / 5 : used.MaxScale;
  settled["scale_count"] = used.ScaleCount;
  settled["fit_min"] = used.FitMin;
  settled["fit_max"] = used.FitMax;
  settled["fq"] = used.KeepFq;
  settled["range_floor"] = used.RangeFloor;
  settled["surrogates"] = used.Surrogates;
  settled["surrogate"] = SurrogateName(used.Surrogate);
  settled["seed"] = used.Seed;
  py::list clamped;
  for (const mfwindow::ClampedValue& c : mfwindow::ClampedValues(given)) {
    clamped.append(py::make_tuple(KeywordName(c.Which), c.Given, c.Used));
  }
  return {settled, clamped};
}

// The rows of `result` as numpy columns, with the surrogate null levels
// when the run made surrogates; its spectra with Settings::Spectrum and
// F_q(s) with Settings::KeepFq.
py::dict Columns(const mfwindow::SeriesResult& result);

py::dict Analyse(const Samples& samples, std::int64_t increments,
                 std::int64_t order, std::int64_t window,
                 std::int64_t min_scale, std::int64_t shift, double t0,
                 double dt, int threads, bool spectrum, const py::dict& method,
                 Progress* progress) {
  if (samples.ndim() != 1) {
    throw py::value_error("samples must be one-dimensional, got " +
                          std::to_string(samples.ndim()) + " dimensions");
  }
  const mfwindow::Settings settings =
      MakeSettings(increments, order, window, min_scale, shift, t0, dt, threads,
                   spectrum, method);
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

  py::dict columns = Columns(result);
  columns["kernel"] = result.Kernel;
  columns["scheduler"] = result.Scheduler;
  return columns;
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
                     const py::dict& method, const std::string& column,
                     const std::string& header, const std::string& delimiter,
                     const std::string& on_bad_sample,
                     const std::string& out_dir, bool csv,
                     const std::string& base_dir) {
  mfwindow::Settings settings =
      MakeSettings(increments, order, window, min_scale, shift, t0, dt, threads,
                   spectrum, method);
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
  out["columns"] = Columns(result.Result);
  return out;
}

}  // namespace

namespace {

py::dict Columns(const mfwindow::SeriesResult& result) {
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
  const mfwindow::Settings& used = result.Used;
  if (used.Surrogates > 0) {
    columns["width_null_median"] =
        RowColumn(result.Rows, &Row::WidthNullMedian);
    columns["width_null_p95"] = RowColumn(result.Rows, &Row::WidthNullP95);
    columns["width_p"] = RowColumn(result.Rows, &Row::WidthP);
    columns["alfa_sz_null_median"] =
        RowColumn(result.Rows, &Row::AlfaSzNullMedian);
    columns["alfa_sz_null_p95"] = RowColumn(result.Rows, &Row::AlfaSzNullP95);
    columns["alfa_sz_p"] = RowColumn(result.Rows, &Row::AlfaSzP);
  }
  const std::size_t orders = result.QGrid.size();
  if (used.Spectrum || used.KeepFq) {
    columns["q"] =
        Column(static_cast<py::ssize_t>(orders), result.QGrid.data());
  }
  if (used.KeepFq) {
    // Windows x orders x scales; the library keeps each window's values
    // scale by scale, orders fastest.
    const std::size_t scales = result.ScaleLen.size();
    py::array_t<std::int32_t> lengths(static_cast<py::ssize_t>(scales),
                                      result.ScaleLen.data());
    columns["scales"] = lengths;
    columns["log_scale"] =
        Column(static_cast<py::ssize_t>(scales), result.LogScale.data());
    Column fq({static_cast<py::ssize_t>(result.Fq.size()),
               static_cast<py::ssize_t>(orders),
               static_cast<py::ssize_t>(scales)});
    auto out = fq.mutable_unchecked<3>();
    for (std::size_t i = 0; i < result.Fq.size(); ++i) {
      for (std::size_t j = 0; j < orders; ++j) {
        for (std::size_t k = 0; k < scales; ++k) {
          out(static_cast<py::ssize_t>(i), static_cast<py::ssize_t>(j),
              static_cast<py::ssize_t>(k)) = result.Fq[i][k * orders + j];
        }
      }
    }
    columns["fq"] = fq;
  }
  if (used.Spectrum) {
    using Spectrum = mfwindow::WindowSpectrum;
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
        py::arg("method") = py::dict(),
        "Settled settings and the values settling changed.");
  m.def("analyse", &Analyse, py::arg("samples"), py::arg("increments"),
        py::arg("order"), py::arg("window"), py::arg("min_scale"),
        py::arg("shift"), py::arg("t0"), py::arg("dt"), py::arg("threads"),
        py::arg("spectrum"), py::arg("method") = py::dict(),
        py::arg("progress") = nullptr,
        "One series analysed with the GIL released; a dict of columns, "
        "with the kernel and scheduler that ran it. Raises Stopped when "
        "progress.stop() was called.");
  m.def("analyse_file", &AnalyseFile, py::arg("path"), py::arg("increments"),
        py::arg("order"), py::arg("window"), py::arg("min_scale"),
        py::arg("shift"), py::arg("t0"), py::arg("dt"), py::arg("threads"),
        py::arg("spectrum"), py::arg("method") = py::dict(),
        py::arg("column") = "", py::arg("header") = "",
        py::arg("delimiter") = "", py::arg("on_bad_sample") = "error",
        py::arg("out_dir") = "", py::arg("csv") = false,
        py::arg("base_dir") = "",
        "One series file read and analysed as mfwindow-batch does it, with "
        "the GIL released; a dict of name, failure, notes and columns.");
}
