"""mfwindow: multifractal singularity spectra by detrended fluctuation
analysis (MF-DFA) inside a window that moves along each series.

    >>> import numpy as np, mfwindow
    >>> x = np.random.default_rng(1).standard_normal(5000)
    >>> r = mfwindow.analyse(x, window=1000, shift=250, fs=250)
    >>> r
    <mfwindow.Result: 17 windows; window 1000, shift 250, order 2, min scale 16, values, fs 250 Hz, standard>

analyse() runs the textbook MF-DFA (method="standard": the profile of x,
RMS fluctuations); method="described" gives the numbers of the mfwindow
program and of mfwindow-batch, which analyse a walk's own values.

analyse() returns a Result of numpy arrays (time, alpha_min, alpha_max,
alpha_width, alpha_sz, f_alpha_sz, and the whole spectra on request) with the
settled settings and to_pandas(); read_result() reads the result files of
the mfwindow programs into the same kind of object; mfwindow.plot draws
either (it needs matplotlib).
"""

from ._core import __version__
from ._errors import SettingError
from ._analyse import (BadSampleWarning, ClampWarning, NoiseWarning,
                       ShortSeriesWarning,
                       analyse)
from ._cross import CrossResult, cross
from ._files import CutResultError, read_result
from ._result import Result, Settings

__all__ = ["analyse", "cross", "CrossResult", "read_result", "Result", "Settings", "SettingError",
           "CutResultError", "ClampWarning",
           "ShortSeriesWarning", "BadSampleWarning", "NoiseWarning", "__version__"]
