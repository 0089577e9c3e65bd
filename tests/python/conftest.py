"""Settings for the Python tests. They run against whichever mfwindow
package Python imports: the build folder's (CTest puts build/python on
PYTHONPATH) or an installed one (`make wheel-check` installs the x86_64
wheel of `make wheel` into a fresh virtual environment). The programs they compare
with come from environment variables:

  MFWINDOW_PROGRAM    the mfwindow program
  MFWINDOW_BATCH      mfwindow-batch
  MFWINDOW_API_DUMP   tests/python/api_dump.cpp, built
  MFWINDOW_PLOT       the plot command (default: the mfwindow-plot that pip
                      installed beside the interpreter)
  MFWINDOW_SOURCE_DIR the source tree, for the README and examples
  MFWINDOW_REQUIRE_ALL  set: a missing program fails a test, not skips it
  MFWINDOW_EXPECT_PACKAGE_IN  set: the package must be imported from there
"""

import os

import matplotlib
import pytest

# No window may open; figures are drawn off screen.
matplotlib.use("Agg")


def pytest_configure(config):
    # A clamp or a short series that a test did not expect is an error.
    for category in ("ClampWarning", "ShortSeriesWarning"):
        config.addinivalue_line("filterwarnings",
                                "error::mfwindow.%s" % category)


def pytest_report_header(config):
    import mfwindow
    return "mfwindow %s from %s" % (mfwindow.__version__,
                                    os.path.dirname(mfwindow.__file__))


@pytest.fixture(autouse=True, scope="session")
def package_under_test():
    import mfwindow
    expected = os.environ.get("MFWINDOW_EXPECT_PACKAGE_IN")
    if expected:
        where = os.path.realpath(mfwindow.__file__)
        assert where.startswith(os.path.realpath(expected) + os.sep), where
    return mfwindow


@pytest.fixture(autouse=True)
def close_figures():
    yield
    import matplotlib.pyplot as plt
    plt.close("all")
