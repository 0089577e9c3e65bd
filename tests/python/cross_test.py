"""mfwindow.cross: its keywords against analyse's, what it refuses, its
time axis and statuses against analyse's, and the validation's agreement
with the independent peer on a small case."""

import importlib
import inspect
import os
import sys

import numpy as np
import pytest

import mfwindow
from mfwindow import _cross
import support


def test_keywords_are_analyses_that_a_pair_takes():
    # A keyword added to analyse (a row of the table) must reach cross too,
    # with the same default, or be listed as one a pair cannot take.
    mine = inspect.signature(mfwindow.cross).parameters
    theirs = inspect.signature(mfwindow.analyse).parameters
    expected = set(theirs) - _cross.NOT_FOR_PAIRS - {"x", "time",
                                                      "old_names"}
    assert set(mine) - {"x", "y"} - set(_cross.PAIR_ONLY) == expected
    for name in expected - {"window"}:
        assert mine[name].default == theirs[name].default, name
        assert "\n    %s : " % name in mfwindow.cross.__doc__, name


@pytest.mark.parametrize("keywords, y_len, error, setting", [
    (dict(method="described"), 3000, mfwindow.SettingError, "fluctuation"),
    (dict(fluctuation="range"), 3000, mfwindow.SettingError, "fluctuation"),
    (dict(surrogates=5, surrogate="shuffle"), 3000, mfwindow.SettingError,
     "surrogate"),
    (dict(rho_level=1.0), 3000, mfwindow.SettingError, "rho_level"),
    (dict(), 2999, ValueError, None),
    (dict(), -1, ValueError, None),  # a NaN in y
])
def test_refuses_what_a_pair_cannot_take(keywords, y_len, error, setting):
    x = np.random.default_rng(2).standard_normal(3000)
    y = x[:y_len] if y_len > 0 else np.where(np.arange(3000) == 9, np.nan, x)
    with pytest.raises(error) as caught:
        mfwindow.cross(x, y, window=1000, **keywords)
    if setting is not None:
        assert caught.value.setting == setting


def test_time_axis_and_each_series_status_are_analyses():
    rng = np.random.default_rng(4)
    x = np.cumsum(rng.standard_normal(6000))
    y = rng.standard_normal(6000)
    r = mfwindow.cross(x, y, window=1000, shift=250, fs=250, threads=2)
    for series, status in ((x, r.status_x), (y, r.status_y)):
        one = mfwindow.analyse(series, window=1000, shift=250, fs=250)
        np.testing.assert_array_equal(r.time, one.time)
        np.testing.assert_array_equal(status, one.status)
    assert r.rho.shape == (r.n_windows, r.scales.size)


def test_agrees_with_the_independent_peer_on_a_small_case():
    sys.path.insert(0, os.path.join(support.SOURCE_DIR, "validation"))
    try:
        validate = importlib.import_module("validate")
    finally:
        sys.path.pop(0)
    targets = validate.Targets()
    validate.check_cross_targets(targets,
                                 validate.cross_rows(mfwindow, 4096, 1024))
    assert len(targets.rows) == 24
    assert not targets.failed(), targets.failed()


def test_rho_null_level_and_sign_changes_of_the_covariance():
    rng = np.random.default_rng(6)
    x, y = rng.standard_normal((2, 3000))
    keywords = dict(window=1000, shift=500, surrogates=9, surrogate="phase",
                    rho_level=0.8)
    self = mfwindow.cross(x, x, **keywords)
    assert self.rho_significant.dtype == bool and self.rho_significant.all()
    one = mfwindow.cross(x, y, threads=1, **keywords)
    two = mfwindow.cross(x, y, threads=2, **keywords)
    assert one.rho_critical.shape == one.rho.shape and one.rho_level == 0.8
    assert one.rho_critical.tobytes() == two.rho_critical.tobytes()
    np.testing.assert_array_equal(one.surrogates_used, 9)
    # Every scale is fitted here: the flag is both signs among cov_xy(s).
    signs = (one.cov_xy > 0).any(axis=1) & (one.cov_xy < 0).any(axis=1)
    assert signs.any() and not self.cov_sign_changes.any()
    np.testing.assert_array_equal(one.cov_sign_changes, signs)
    assert "rho_critical" not in mfwindow.cross(x, y, window=1000)
