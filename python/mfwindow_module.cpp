// The Python module mfwindow: analyse() runs the library API on a numpy
// array, with the GIL released, and returns the results as numpy columns.
// Settings are settled by the library, so the numbers are those of the
// program and of the C++ API, bit for bit.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "mfwindow/mfwindow.h"

namespace py = pybind11;

namespace {

using Column = py::array_t<double>;
// Whatever numpy can turn into contiguous float64: arrays of other types,
// lists, tuples.
using Samples = py::array_t<double, py::array::c_style | py::array::forcecast>;

// Python integers are unbounded; the settings are 32-bit like the program's
// answers.
std::int32_t ToCount(std::int64_t value, const char* name) {
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    throw py::value_error(std::string(name) + " must fit in 32 bits");
  }
  return static_cast<std::int32_t>(value);
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

// Array `member` of every window's spectrum, one row per window.
template <std::size_t N>
Column SpectrumTable(const std::vector<mfwindow::WindowSpectrum>& spectra,
                     std::array<double, N> mfwindow::WindowSpectrum::*member) {
  Column table(
      {static_cast<py::ssize_t>(spectra.size()), static_cast<py::ssize_t>(N)});
  auto out = table.mutable_unchecked<2>();
  for (std::size_t i = 0; i < spectra.size(); ++i) {
    const std::array<double, N>& values = spectra[i].*member;
    for (std::size_t k = 0; k < N; ++k) {
      out(static_cast<py::ssize_t>(i), static_cast<py::ssize_t>(k)) = values[k];
    }
  }
  return table;
}

py::dict Analyse(const Samples& values, std::int64_t window,
                 std::optional<std::int64_t> shift, std::int64_t order,
                 std::int64_t min_scale, std::int64_t incr, double tini,
                 double tstep, bool spectrum, int threads) {
  if (values.ndim() != 1) {
    throw py::value_error("values must be one-dimensional, got " +
                          std::to_string(values.ndim()) + " dimensions");
  }
  mfwindow::Settings settings;
  settings.IncrFlag = ToCount(incr, "incr");
  settings.TrendOrder = ToCount(order, "order");
  settings.Lrec = ToCount(window, "window");
  settings.MinScale = ToCount(min_scale, "min_scale");
  // A shift above the window settles to the window, whatever it settles to.
  settings.WinShift = shift ? ToCount(*shift, "shift")
                            : std::numeric_limits<std::int32_t>::max();
  settings.Tini = tini;
  settings.Tstep = tstep;
  settings.Threads = threads;
  settings.Spectrum = spectrum;

  // `values` keeps the buffer alive; the caller must not write to it from
  // another thread meanwhile, as with any numpy call that drops the GIL.
  const std::span<const double> samples(
      values.data(), static_cast<std::size_t>(values.shape(0)));
  mfwindow::SeriesResult result;
  {
    py::gil_scoped_release release;
    result = mfwindow::AnalyseSeries(samples, settings);
  }

  using Row = mfwindow::WindowRow;
  py::dict columns;
  columns["time"] = RowColumn(result.Rows, &Row::TimeMark);
  columns["alfa_min"] = RowColumn(result.Rows, &Row::AlfaMin);
  columns["alfa_max"] = RowColumn(result.Rows, &Row::AlfaMax);
  columns["alfa_width"] = RowColumn(result.Rows, &Row::AlfaWidth);
  columns["alfa_sz"] = RowColumn(result.Rows, &Row::AlfaSz);
  columns["f_alfa_sz"] = RowColumn(result.Rows, &Row::FAlfaSz);
  if (spectrum) {
    using Spectrum = mfwindow::WindowSpectrum;
    Column q(static_cast<py::ssize_t>(result.QGrid.size()),
             result.QGrid.data());
    columns["q"] = q;
    columns["h"] = SpectrumTable(result.Spectra, &Spectrum::HurstQ);
    columns["tau"] = SpectrumTable(result.Spectra, &Spectrum::TauQ);
    columns["alpha"] = SpectrumTable(result.Spectra, &Spectrum::AlfaGrid);
    columns["f_alpha"] = SpectrumTable(result.Spectra, &Spectrum::FAlfaGrid);
  }
  return columns;
}

constexpr const char* kAnalyseDoc =
    R"(Multifractal singularity spectrum by detrended fluctuation analysis in a
window moving along `values` (anything numpy converts to a 1-D float64
array), the numbers the mfwindow program writes for the same answers.

window     window length in samples (Lrec), at least 32
shift      samples between window starts, 1..window; None: the window
order      detrending polynomial order, 1..10
min_scale  smallest segment length, min(max(min_scale, 20), window // 10)
incr       analyse the increments inside each window (False/True or 0/1)
tini, tstep  sample j (counted from 1) lies at time tini + j*tstep; tstep > 0
spectrum   also return each window's whole spectrum
threads    worker threads; 0: every core this process may use

Out-of-range counts are clamped as the program clamps its answers; incr
other than 0/1, tstep not greater than 0 (or NaN), negative threads or a
count outside 32 bits raise ValueError. The GIL is released while the
series is analysed; do not modify `values` meanwhile.

Returns a dict of float64 numpy arrays, one entry per complete window
(a last window that the series does not fill is dropped):
  time, alfa_min, alfa_max, alfa_width, alfa_sz, f_alfa_sz
and with spectrum=True also
  q (200,), h and tau (windows, 200), alpha and f_alpha (windows, 100).
A degenerate window (a constant one) reads 0.5, 0.5, 0, 0.5, 1 and has NaN
h and tau.)";

}  // namespace

PYBIND11_MODULE(mfwindow, m) {
  m.doc() =
      "Multifractal singularity spectra by detrended fluctuation analysis in "
      "a moving window.";
  m.attr("__version__") = MFWINDOW_VERSION;
  m.def("analyse", &Analyse, py::arg("values"), py::arg("window") = 1000,
        py::arg("shift") = py::none(), py::arg("order") = 2,
        py::arg("min_scale") = 20, py::arg("incr") = false,
        py::arg("tini") = 0.0, py::arg("tstep") = 1.0,
        py::arg("spectrum") = false, py::arg("threads") = 0, kAnalyseDoc);
}
