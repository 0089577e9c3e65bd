// mfwindow._core, the compiled part of the Python package: a thin binding of
// the library's public API (include/mfwindow/). It settles settings,
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
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "mfwindow/mfwindow.h"
#include "mfwindow/settings_table.h"

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

// The keyword of a row in the Python module.
std::string_view KeywordOf(const mfwindow::SettingRow& row) {
  return row.Keyword.empty() ? row.Name : row.Keyword;
}

// mfwindow.SettingError (a ValueError with .setting, the keyword) raised
// for a refusal of the library, worded with the keyword.
[[noreturn]] void RaiseSettingError(const mfwindow::SettingError& e) {
  const mfwindow::SettingRow* row = mfwindow::FindSetting(e.Which());
  const std::string keyword(row == nullptr ? std::string_view(e.Which())
                                           : KeywordOf(*row));
  const py::object error =
      py::module_::import("mfwindow._errors").attr("SettingError");
  PyErr_SetObject(error.ptr(),
                  error(mfwindow::Worded(e, keyword), keyword).ptr());
  throw py::error_already_set();
}

const mfwindow::SettingRow& RowNamed(const std::string& name) {
  const mfwindow::SettingRow* row = mfwindow::FindSetting(name);
  if (row == nullptr) throw py::key_error("no setting named '" + name + "'");
  return *row;
}

// The library's refusals as mfwindow.SettingError naming the keyword.
template <typename F>
auto Settled(F&& call) {
  try {
    return call();
  } catch (const mfwindow::SettingError& e) {
    RaiseSettingError(e);
  }
}

// `value` set into `s` or `f` as `row` says: the Python layer has checked
// its type already; what cannot be taken is a SettingError all the same.
void SetOne(const mfwindow::SettingRow& row, const py::handle& value,
            mfwindow::Settings& s, mfwindow::FileOptions& f) {
  const auto refuse = [&row, &value](const std::string& rule) {
    mfwindow::Refuse(row, mfwindow::SettingReason::kWrongType, rule,
                     py::repr(value).cast<std::string>());
  };
  try {
    std::visit(
        [&](const auto& member) {
          using M = std::decay_t<decltype(member)>;
          if constexpr (std::is_same_v<M, std::int32_t mfwindow::Settings::*>) {
            const auto wide = py::cast<std::int64_t>(value);
            mfwindow::CheckNumber(row, static_cast<double>(wide), false);
            s.*member = static_cast<std::int32_t>(wide);
          } else if constexpr (std::is_same_v<M, std::vector<double>
                                                     mfwindow::Settings::*>) {
            s.*member = value.is_none() ? std::vector<double>()
                                        : py::cast<std::vector<double>>(value);
          } else if constexpr (std::is_same_v<M, mfwindow::WordMember>) {
            const auto word = py::cast<std::string>(value);
            const int index = mfwindow::WordIndex(row, word);
            if (index < 0) {
              std::string words;
              for (const std::string_view w : row.Words) {
                words += (words.empty() ? "'" : ", '") + std::string(w) + "'";
              }
              mfwindow::Refuse(row, mfwindow::SettingReason::kNotAWord,
                               "must be one of " + words, "'" + word + "'");
            }
            member.Set(s, index);
          } else if constexpr (std::is_same_v<
                                   M, std::string mfwindow::FileOptions::*> ||
                               std::is_same_v<M,
                                              bool mfwindow::FileOptions::*>) {
            using V = std::decay_t<decltype(f.*member)>;
            f.*member = py::cast<V>(value);
          } else {
            using V = std::decay_t<decltype(s.*member)>;
            s.*member = py::cast<V>(value);
          }
        },
        row.Member);
  } catch (const py::cast_error&) {
    refuse(row.Type == mfwindow::SettingType::kSeed
               ? "must be a whole number from 0 to 2**64 - 1"
               : "cannot be taken as a value of its type");
  }
}

// Settings and file options from a dict keyed by the settings table's
// names; a key left out keeps the library's default.
std::pair<mfwindow::Settings, mfwindow::FileOptions> MakeSettings(
    const py::dict& given) {
  mfwindow::Settings s;
  mfwindow::FileOptions f;
  Settled([&] {
    for (const auto& [key, value] : given) {
      SetOne(RowNamed(py::cast<std::string>(key)), value, s, f);
    }
    return 0;
  });
  return {s, f};
}

// Settings as a dict keyed by the table's names: words as words, an empty
// list of orders as None.
py::dict SettingsDict(const mfwindow::Settings& s) {
  py::dict out;
  for (const mfwindow::SettingRow& row : mfwindow::SettingRows()) {
    if (mfwindow::IsFileRow(row)) continue;
    out[py::str(std::string(row.Name))] = std::visit(
        [&](const auto& member) -> py::object {
          using M = std::decay_t<decltype(member)>;
          if constexpr (std::is_same_v<M, mfwindow::WordMember>) {
            return py::str(std::string(
                row.Words[static_cast<std::size_t>(member.Get(s))]));
          } else if constexpr (std::is_same_v<M, std::vector<double>
                                                     mfwindow::Settings::*>) {
            return (s.*member).empty() ? py::object(py::none())
                                       : py::object(py::cast(s.*member));
          } else if constexpr (std::is_same_v<
                                   M, std::string mfwindow::FileOptions::*> ||
                               std::is_same_v<M,
                                              bool mfwindow::FileOptions::*>) {
            return py::none();  // file rows are skipped above
          } else {
            return py::cast(s.*member);
          }
        },
        row.Member);
  }
  return out;
}

// (samples analysed, samples dropped, samples kept as gaps, index of the
// first non-finite sample where the series ends or the first dropped or
// kept, -1 when there is none) under the nan policy `nan`, before anything
// is analysed; under "error" the index of the first is returned with no
// samples analysed, for the caller to name it.
std::tuple<std::int64_t, std::int64_t, std::int64_t, std::int64_t> ScanSamples(
    const Samples& samples, const std::string& nan) {
  const mfwindow::SettingRow& row = RowNamed("nan");
  const int index = mfwindow::WordIndex(row, nan);
  if (index < 0) throw py::value_error("no nan policy '" + nan + "'");
  const mfwindow::SampleScan scan = mfwindow::ScanSamples(
      std::span<const double>(samples.data(),
                              static_cast<std::size_t>(samples.size())),
      static_cast<mfwindow::BadSamplePolicy>(index));
  return {scan.Used, scan.Skipped, scan.Masked, scan.FirstBad};
}

// A bound of a row for Python: its number, or for one taken from other
// settings the words that name it; None when there is none.
py::object BoundOf(const std::optional<mfwindow::Bound>& bound) {
  if (!bound) return py::none();
  py::dict d;
  d["value"] = bound->Of == nullptr
                   ? py::object(py::float_(bound->Value))
                   : py::object(py::str(std::string(bound->Text)));
  d["open"] = bound->Open;
  return d;
}

// The settings table, one dict per row, for the Python layer to make its
// keywords, defaults, type checks, settings record and docstring from.
py::list SettingTable() {
  static constexpr const char* kTypes[] = {"count", "real", "flag", "word",
                                           "reals", "seed", "text"};
  const py::dict defaults = SettingsDict(mfwindow::Settings{});
  py::list rows;
  for (const mfwindow::SettingRow& row : mfwindow::SettingRows()) {
    py::dict d;
    d["name"] = std::string(row.Name);
    d["keyword"] = std::string(KeywordOf(row));
    d["flag"] = std::string(row.Flag);
    d["field"] = std::string(row.Field);
    d["type"] = kTypes[static_cast<int>(row.Type)];
    d["file"] = mfwindow::IsFileRow(row);
    d["python"] = (row.FrontEnds & mfwindow::kPython) != 0;
    d["default"] = mfwindow::IsFileRow(row)
                       ? py::object(py::str(mfwindow::DefaultText(row)))
                       : py::object(defaults[py::str(std::string(row.Name))]);
    d["range"] = mfwindow::RangeText(row);
    d["min"] = BoundOf(row.Min);
    d["max"] = BoundOf(row.Max);
    d["clamp"] = row.Clamp;
    d["finite"] = row.Finite;
    d["zero"] = std::string(row.Zero);
    d["unset"] = row.Unset;
    d["by_method"] = row.ByMethod;
    d["python_default"] = std::string(row.PythonDefault);
    // A real that may be left out: None, never 0, stands for "not given".
    d["optional"] =
        std::holds_alternative<std::optional<double> mfwindow::Settings::*>(
            row.Member);
    py::list words;
    for (const std::string_view w : row.Words) words.append(std::string(w));
    d["words"] = py::tuple(words);
    d["help"] = std::string(row.Help);
    rows.append(d);
  }
  return rows;
}

// Checks a number given to keyword of row `name` as that row says, as the
// user typed it (a 0 that stands for "not given" is refused: use None).
void CheckNumber(const std::string& name, double value) {
  Settled([&] {
    mfwindow::CheckNumber(RowNamed(name), value, true);
    return 0;
  });
}

// Field `member` of every row, as a 1-D array of doubles.
template <typename Row, typename Field>
Column RowColumn(const std::vector<Row>& rows, Field Row::*member) {
  Column column(static_cast<py::ssize_t>(rows.size()));
  auto out = column.mutable_unchecked<1>();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    out(static_cast<py::ssize_t>(i)) = static_cast<double>(rows[i].*member);
  }
  return column;
}

// Vector `member` of every window's spectrum (`width` values each), one
// row per window.
template <typename Item, typename Value>
py::array_t<Value> SpectrumTable(const std::vector<Item>& spectra,
                                 std::vector<Value> Item::*member,
                                 std::size_t width) {
  py::array_t<Value> table({static_cast<py::ssize_t>(spectra.size()),
                            static_cast<py::ssize_t>(width)});
  auto out = table.template mutable_unchecked<2>();
  for (std::size_t i = 0; i < spectra.size(); ++i) {
    const std::vector<Value>& values = spectra[i].*member;
    for (std::size_t k = 0; k < width; ++k) {
      out(static_cast<py::ssize_t>(i), static_cast<py::ssize_t>(k)) = values[k];
    }
  }
  return table;
}

// The settings settled once: a mfwindow.Settled that analyse and
// analyse_file take, whose settings() is a dict keyed by the table's names
// and clamped() the values settling changed, [(name, given, used), ...].
// Refusals raise mfwindow.SettingError naming the keyword.
// `given`: the names of the settings the user gave, which the standard
// method must not replace.
mfwindow::Settled Settle(const py::dict& given_settings,
                         const std::vector<std::string>& given) {
  const mfwindow::Settings settings = MakeSettings(given_settings).first;
  return Settled([&] {
    mfwindow::CheckGivenUnderMethod(settings, given);
    return mfwindow::Settle(settings);
  });
}

// The settled settings as the Python layer records them: max_scale as the
// length the run uses (the window div 5 when not given).
py::dict SettledDict(const mfwindow::Settled& settled) {
  const mfwindow::Settings& used = settled.Used();
  py::dict out = SettingsDict(used);
  out["max_scale"] = used.MaxScale == 0 ? used.Lrec / 5 : used.MaxScale;
  return out;
}

py::list ClampedList(const mfwindow::Settled& settled) {
  py::list clamped;
  for (const mfwindow::ClampedValue& c : settled.Clamped()) {
    clamped.append(py::make_tuple(c.Which, c.Given, c.Used));
  }
  return clamped;
}

// The rows of `result` as numpy columns, with the surrogate null levels
// when the run made surrogates; its spectra with Settings::Spectrum and
// F_q(s) with Settings::KeepFq.
py::dict Columns(const mfwindow::SeriesResult& result);

py::dict Analyse(const Samples& samples, const mfwindow::Settled& settled,
                 Progress* progress) {
  if (samples.ndim() != 1) {
    throw py::value_error("samples must be one-dimensional, got " +
                          std::to_string(samples.ndim()) + " dimensions");
  }
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
    result = mfwindow::Analyser(settled).Analyse(values, callback);
  }

  py::dict columns = Columns(result);
  columns["kernel"] = result.Kernel;
  columns["scheduler"] = result.Scheduler;
  return columns;
}

// The pair x, y analysed with the GIL released: a dict of columns, one
// value per window, the per-scale values as windows x scales tables, the
// cross spectra with Settings::Spectrum and F_q^xy with Settings::KeepFq.
py::dict Cross(const Samples& x, const Samples& y,
               const mfwindow::Settled& settled, Progress* progress) {
  if (x.ndim() != 1 || y.ndim() != 1) {
    throw py::value_error("x and y must be one-dimensional");
  }
  mfwindow::ProgressCallback callback;
  if (progress != nullptr) {
    callback = [progress](std::int64_t done, std::int64_t total) {
      progress->total.store(total);
      progress->done.store(done);
      return !progress->stop.load();
    };
  }
  const std::span<const double> xs(x.data(),
                                   static_cast<std::size_t>(x.shape(0)));
  const std::span<const double> ys(y.data(),
                                   static_cast<std::size_t>(y.shape(0)));
  // Refusals are raised here, with the GIL held.
  mfwindow::CrossAnalyser analyser =
      Settled([&] { return mfwindow::CrossAnalyser(settled); });
  mfwindow::CrossResult result;
  {
    py::gil_scoped_release release;
    result = analyser.Analyse(xs, ys, callback);
  }
  using Row = mfwindow::CrossRow;
  py::dict columns;
  columns["time"] = RowColumn(result.Rows, &Row::TimeMark);
  columns["alpha_min"] = RowColumn(result.Rows, &Row::AlfaMin);
  columns["alpha_max"] = RowColumn(result.Rows, &Row::AlfaMax);
  columns["alpha_width"] = RowColumn(result.Rows, &Row::AlfaWidth);
  columns["alpha_sz"] = RowColumn(result.Rows, &Row::AlfaSz);
  columns["f_alpha_sz"] = RowColumn(result.Rows, &Row::FAlfaSz);
  columns["lambda_xy"] = RowColumn(result.Rows, &Row::Lambda);
  columns["min_r2"] = RowColumn(result.Rows, &Row::MinRSquared);
  columns["negative_share"] = RowColumn(result.Rows, &Row::NegativeShare);
  py::list status;
  py::list status_x;
  py::list status_y;
  py::list negative;
  py::list sign_changes;
  for (const Row& row : result.Rows) {
    sign_changes.append(row.CovarianceSignChanges);
    status.append(mfwindow::QualityName(row.Status));
    status_x.append(mfwindow::QualityName(row.StatusX));
    status_y.append(mfwindow::QualityName(row.StatusY));
    negative.append(row.NegativeCovariance);
  }
  columns["status"] = status;
  columns["status_x"] = status_x;
  columns["status_y"] = status_y;
  columns["negative_covariance"] = negative;
  columns["cov_sign_changes"] = sign_changes;
  const std::size_t scales = result.ScaleLen.size();
  py::array_t<std::int64_t> lengths(static_cast<py::ssize_t>(scales));
  std::copy(result.ScaleLen.begin(), result.ScaleLen.end(),
            lengths.mutable_data());
  columns["scales"] = lengths;
  columns["log_scale"] =
      Column(static_cast<py::ssize_t>(scales), result.LogScale.data());
  using Scales = mfwindow::CrossScales;
  columns["cov_xy"] = SpectrumTable(result.Scales, &Scales::CovXY, scales);
  columns["f_xx"] = SpectrumTable(result.Scales, &Scales::FXX, scales);
  columns["f_yy"] = SpectrumTable(result.Scales, &Scales::FYY, scales);
  columns["rho"] = SpectrumTable(result.Scales, &Scales::Rho, scales);
  if (result.Used.Surrogates > 0) {
    columns["rho_critical"] =
        SpectrumTable(result.Scales, &Scales::RhoCritical, scales);
    columns["rho_significant"] =
        SpectrumTable(result.Scales, &Scales::RhoSignificant, scales);
    columns["surrogates_used"] = RowColumn(result.Rows, &Row::SurrogatesUsed);
  }
  const std::size_t orders = result.QGrid.size();
  columns["q"] = Column(static_cast<py::ssize_t>(orders), result.QGrid.data());
  if (result.Used.Spectrum) {
    using Spectrum = mfwindow::WindowSpectrum;
    const std::size_t alphas = mfwindow::kAlfaCount;
    columns["h"] = SpectrumTable(result.Spectra, &Spectrum::HurstQ, orders);
    columns["tau"] = SpectrumTable(result.Spectra, &Spectrum::TauQ, orders);
    columns["alpha"] =
        SpectrumTable(result.Spectra, &Spectrum::AlfaGrid, alphas);
    columns["f_alpha"] =
        SpectrumTable(result.Spectra, &Spectrum::FAlfaGrid, alphas);
  }
  if (result.Used.KeepFq) {
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
  columns["threads"] = result.Threads;
  return columns;
}

// A message as text. Messages quote the file's own bytes (a trailer line in
// cp1252, a binary file), which need not be UTF-8: a byte that does not
// decode becomes U+FFFD rather than failing the series.
py::str Decoded(const std::string& text) {
  PyObject* decoded = PyUnicode_DecodeUTF8(
      text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
  if (decoded == nullptr) throw py::error_already_set();  // out of memory
  return py::reinterpret_steal<py::str>(decoded);
}

// One series file as mfwindow-batch analyses it: a dict with the file's
// name, why it failed (None when it did not), its notes and its columns;
// with out_dir also the batch tool's result files.
py::dict AnalyseFile(const std::string& path, const mfwindow::Settled& settled,
                     const py::dict& file_options, const std::string& out_dir,
                     bool csv, const std::string& base_dir) {
  mfwindow::FileOptions options = MakeSettings(file_options).second;
  options.OutDir = out_dir;
  options.Csv = csv;
  options.BaseDir = base_dir;
  options.Program = "mfwindow (Python)";
  mfwindow::FileResult result;
  {
    py::gil_scoped_release release;
    result =
        Settled([&] { return mfwindow::AnalyseFile(path, settled, options); });
  }
  py::dict out;
  out["name"] = Decoded(result.Name);
  out["failure"] =
      result.Failure ? py::object(Decoded(*result.Failure)) : py::none();
  py::list notes;
  for (const std::string& note : result.Notes) notes.append(Decoded(note));
  out["notes"] = notes;
  out["columns"] = Columns(result.Result);
  // The time axis, the stamps' with a time column.
  out["t0"] = result.Result.Used.Tini;
  out["dt"] = result.Result.Used.Tstep;
  out["kernel"] = result.Result.Kernel;
  out["scheduler"] = result.Result.Scheduler;
  out["origin_ns"] = result.TimeOriginNs
                         ? py::object(py::int_(*result.TimeOriginNs))
                         : py::none();
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
    columns["iaaft_at_cap"] = RowColumn(result.Rows, &Row::IaaftAtCap);
    columns["surrogates_used"] = RowColumn(result.Rows, &Row::SurrogatesUsed);
  }
  columns["h2_se"] = RowColumn(result.Rows, &Row::H2Se);
  columns["width_se"] = RowColumn(result.Rows, &Row::WidthSe);
  columns["crossover_scale"] = RowColumn(result.Rows, &Row::CrossoverScale);
  if (used.Fill == mfwindow::GapFill::kLinear) {
    columns["filled_share"] = RowColumn(result.Rows, &Row::FilledShare);
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
    // As int64, numpy's default integer, which fathon and others ask for.
    py::array_t<std::int64_t> lengths(static_cast<py::ssize_t>(scales));
    std::copy(result.ScaleLen.begin(), result.ScaleLen.end(),
              lengths.mutable_data());
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

  py::class_<mfwindow::Settled>(
      m, "Settled",
      "Settings settled once by the library; analyse and analyse_file "
      "take it as it is.")
      .def("settings", &SettledDict,
           "The settled settings, keyed by the settings table's names.")
      .def("clamped", &ClampedList,
           "[(name, given, used), ...] for every value settling changed.")
      .def(
          "with_threads",
          [](const mfwindow::Settled& s, int threads) {
            return Settled([&] { return s.WithThreads(threads); });
          },
          py::arg("threads"), "The same settings on `threads` threads.");

  m.def("setting_table", &SettingTable,
        "The settings table: one dict per setting (name, keyword, flag, "
        "field, type, file, python, default, range, min, max, clamp, "
        "finite, zero, unset, by_method, python_default, words, help).");
  m.def("check_number", &CheckNumber, py::arg("name"), py::arg("value"),
        "Refuses a number given for setting `name` that its row does not "
        "allow on its own, with mfwindow.SettingError.");
  m.def("settle", &Settle, py::arg("settings"),
        py::arg("given") = std::vector<std::string>{},
        "The settings (a dict keyed by the table's names) settled: a "
        "Settled.");
  m.def("scan_samples", &ScanSamples, py::arg("samples"), py::arg("nan"),
        "(analysed, dropped, kept as gaps, first non-finite index or -1) "
        "of samples under the nan policy.");
  m.def("window_count", &mfwindow::WindowCount, py::arg("samples"),
        py::arg("window"), py::arg("shift"),
        "The complete windows of a series of `samples` values.");
  m.def("analyse", &Analyse, py::arg("samples"), py::arg("settled"),
        py::arg("progress") = nullptr,
        "One series analysed with the GIL released; a dict of columns, "
        "with the kernel and scheduler that ran it. Raises Stopped when "
        "progress.stop() was called.");
  m.def("cross", &Cross, py::arg("x"), py::arg("y"), py::arg("settled"),
        py::arg("progress") = nullptr,
        "A pair of series analysed together with the GIL released; a dict "
        "of columns. Raises Stopped when progress.stop() was called.");
  m.def("analyse_file", &AnalyseFile, py::arg("path"), py::arg("settled"),
        py::arg("file_options") = py::dict(), py::arg("out_dir") = "",
        py::arg("csv") = false, py::arg("base_dir") = "",
        "One series file read (file_options keyed by the table's file "
        "rows) and analysed as mfwindow-batch does it, with the GIL "
        "released; a dict of name, failure, notes and columns.");
}
