# ---
# jupyter:
#   jupytext:
#     text_representation:
#       extension: .py
#       format_name: percent
#   kernelspec:
#     display_name: Python 3
#     language: python
#     name: python3
# ---

# %% [markdown]
# # Tutorial: an ECG recording
#
# This notebook analyses a real recording: the five-minute ECG excerpt
# that scipy ships (360 Hz, in mV; Debian's `python3-scipy` has it, so
# nothing is downloaded). It is kept as a jupytext script,
# `docs/tutorial.py`, and runs each time the site is built. Steps: load the
# recording, analyse it in windows of 10 s, read the quality of each window,
# look at the scaling of one window, and restrict the fit to the scales
# where one power law holds.

# %%
import os

import numpy as np
import scipy
import mfwindow
import mfwindow.plot

path = os.path.join(os.path.dirname(scipy.__file__), "misc", "ecg.dat")
with np.load(path) as data:
    # The ADC's zero is 1024 and its gain 200 per mV.
    ecg = (data["ecg"].astype(np.float64) - 1024.0) / 200.0
fs = 360
print(len(ecg), "samples,", len(ecg) / fs, "s")

# %% [markdown]
# ## A first look
#
# Windows of 10 s (3600 samples) every 5 s, with the standard MF-DFA
# (`method="standard"`, Python's default, written out here). An ECG is a
# noise-like signal around a baseline, so it goes in as it is: the method
# forms its profile.

# %%
standard = dict(window=3600, fs=fs, method="standard")
r = mfwindow.analyse(ecg, shift=1800, **standard)
print(r)
fig = mfwindow.plot.summary(r, signal=ecg, units="mV",
                            title="ECG, windows of 10 s")

# %% [markdown]
# ## The quality of each window
#
# Each window has a status. On an ECG many windows are `crossover`: the
# fluctuation function bends at the time scale of one heartbeat, so one
# exponent per window averages two regimes.

# %%
table = r.to_pandas()
print(table["status"].value_counts())
print(table["crossover_scale"].describe().round(1))

# %% [markdown]
# ## The scaling of one window
#
# `fq=True` keeps F_q(s), and `mfwindow.plot.fluctuation` draws it with the
# fitted lines and their residuals.

# %%
f = mfwindow.analyse(ecg, shift=3600, fq=True, **standard)
fig = mfwindow.plot.fluctuation(f, window=5, q=[-4, -2, 2, 4])

# %% [markdown]
# ## One side of the crossover
#
# Restricting the fits to segments longer than the beat (here 250 to 900
# samples, 0.7 to 2.5 s) asks about the scaling between beats alone.
# The width and alpha_0 then describe that range of scales, and the
# statuses say how many windows still bend inside it.

# %%
slow = mfwindow.analyse(ecg, shift=1800, fit_range=(250, 900), **standard)
both = np.vstack([r.alpha_width, slow.alpha_width])
print("median width, all scales: %.2f; 250 to 900 samples: %.2f"
      % tuple(np.nanmedian(both, axis=1)))
print(slow.to_pandas()["status"].value_counts())
fig = mfwindow.plot.summary(slow, signal=ecg, units="mV",
                            title="ECG, fits over 250 to 900 samples")

# %% [markdown]
# ## Against surrogates
#
# Is the width more than a linear process with the same spectrum and
# distribution would give? 19 IAAFT surrogates per window give each window a
# null band; the summary shades it behind the width and marks the windows
# whose p-value is at most 0.05. With 30 windows, one or two below the
# level are expected by chance ({doc}`guide/surrogates`).

# %%
n = mfwindow.analyse(ecg, shift=3600, fit_range=(250, 900), surrogates=19,
                     seed=1, **standard)
print("windows with width_p <= 0.05: %d of %d"
      % (np.sum(n.width_p <= 0.05), n.n_windows))
fig = mfwindow.plot.summary(n, signal=ecg, units="mV",
                            title="ECG, with 19 IAAFT surrogates per window")
