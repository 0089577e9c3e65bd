"""The library's settings table as the Python layer uses it: the keywords
of analyse() and analyse_files(), their defaults and type checks, the
Settings record of a result, and the dicts the compiled core takes, each
made by one loop over _core.setting_table().

What the rows do not say is Python's own convention and is written here:
which keywords take None for "what the library does when left out" beyond
the rows whose 0 means "not given" and those that may be left out, that fit_range pairs fit_min and
fit_max, and that the 0-or-1 increments is a bool here."""

from __future__ import annotations

import dataclasses
import operator
import warnings
from typing import Any, Callable, Dict, Optional, Sequence, Tuple

import numpy as np

from . import _core
from ._errors import SettingError

# The release that removes the names kept for scripts of earlier versions.
REMOVED_IN = "0.3"

TABLE: Tuple[Dict[str, Any], ...] = tuple(_core.setting_table())
ROWS: Dict[str, Dict[str, Any]] = {row["name"]: row for row in TABLE}
# The keywords of analyse() and analyse_files(), in the table's order
# (fit_min and fit_max share fit_range).
ANALYSIS_KEYWORDS: Tuple[str, ...] = tuple(dict.fromkeys(
    row["keyword"] for row in TABLE if row["python"] and not row["file"]))
FILE_KEYWORDS: Tuple[str, ...] = tuple(
    row["keyword"] for row in TABLE if row["python"] and row["file"])
# The rows behind each keyword.
ROWS_OF: Dict[str, Tuple[Dict[str, Any], ...]] = {
    keyword: tuple(r for r in TABLE if r["keyword"] == keyword)
    for keyword in ANALYSIS_KEYWORDS + FILE_KEYWORDS}

# Keywords whose None means what the library does when they are left out,
# beyond the rows whose 0 (or empty list or text) stands for "not given".
NONE_MEANS: Dict[str, str] = {
    "dt": "1, or 1/fs when fs is given",
    "fs": "dt sets the time axis",
    "shift": "the window",
    "fit_range": "every scale",
}
NONE_MEANS.update({row["keyword"]: row["zero"] for row in TABLE
                   if row["unset"] and row["keyword"] not in NONE_MEANS})
# Keywords the method chooses: None takes the standard method's textbook
# value, or the described one (the row's default) under "described".
BY_METHOD: Tuple[str, ...] = tuple(
    row["keyword"] for row in TABLE if row["by_method"] and row["python"])
NONE_MEANS.update({k: "the method's (%r under method='described')"
                   % (ROWS_OF[k][0]["default"],)
                   for k in BY_METHOD if k not in NONE_MEANS})
# A count that is 0 or 1 in the library and a bool here.
AS_BOOL = frozenset({"increments"})
# A shift of None means "the settled window": the largest shift, which
# settles to the window, whatever the window settles to.
SHIFT_OF_WINDOW = 2**31 - 1
# The order of a Settings record's first fields, which come without
# defaults (records made by position keep working).
LEADING = ("window", "shift", "order", "min_scale", "increments")


class SettingTypeError(SettingError, TypeError):
    """A setting of the wrong type (a word where a number is due, a float
    where a count is): both a SettingError naming the keyword and a
    TypeError."""


def default(keyword: str) -> Any:
    """The default of `keyword` as analyse() takes it: None where None
    means the library's own choice, else the library's default."""
    if keyword in NONE_MEANS:
        return None
    row = ROWS_OF[keyword][0]
    if row["python_default"]:
        return row["python_default"]
    if keyword in AS_BOOL:
        return bool(row["default"])
    return row["default"]


def _count(value: Any, name: str) -> int:
    if isinstance(value, (bool, np.bool_)):
        raise SettingTypeError("%s must be an integer, got %r"
                               % (name, value), name)
    try:
        return operator.index(value)
    except TypeError:
        raise SettingTypeError("%s must be an integer, got %r"
                               % (name, value), name) from None


def _real(value: Any, name: str) -> float:
    if isinstance(value, (bool, np.bool_, str, bytes)):
        raise SettingTypeError("%s must be a number, got %r" % (name, value),
                               name)
    try:
        return float(value)
    except (TypeError, ValueError):
        raise SettingTypeError("%s must be a number, got %r" % (name, value),
                               name) from None


def _flag(value: Any, name: str) -> bool:
    if not isinstance(value, (bool, np.bool_)):
        raise SettingTypeError("%s must be True or False, got %r"
                               % (name, value), name)
    return bool(value)


def _word(value: Any, name: str, words: Sequence[str]) -> str:
    listed = ", ".join(repr(w) for w in words)
    if not isinstance(value, str):
        raise SettingTypeError("%s must be one of %s, got %r"
                               % (name, listed, value), name)
    if value not in words:
        raise SettingError("%s must be one of %s, got %r"
                           % (name, listed, value), name)
    return value


def _reals(value: Any, name: str) -> list:
    orders = np.asarray(value)
    if orders.dtype.kind not in "iuf" or orders.ndim > 1:
        raise SettingTypeError("%s must be a sequence of real numbers, got "
                               "%r" % (name, value), name)
    orders = orders.astype(np.float64).reshape(-1)
    if orders.size == 0:
        raise SettingError("%s must hold at least one number (None: %s)"
                           % (name, NONE_MEANS[name]), name)
    return orders.tolist()


def _text(value: Any, name: str) -> str:
    if isinstance(value, (bool, np.bool_)) or not isinstance(
            value, (str, int, np.integer)):
        raise SettingTypeError("%s must be a column number or name, got %r"
                               % (name, value), name)
    return str(value)


_CHECKS: Dict[str, Callable[[Any, str], Any]] = {
    "count": _count, "real": _real, "flag": _flag, "reals": _reals,
    "seed": _count, "text": _text,
}


def _one(row: Dict[str, Any], value: Any, keyword: str) -> Any:
    """One value for `row` under `keyword`, type-checked and checked by the
    row's own constraints (the library's check_number)."""
    if row["type"] == "word":
        return _word(value, keyword, row["words"])
    if keyword in AS_BOOL and isinstance(value, (bool, np.bool_)):
        value = int(value)
    checked = _CHECKS[row["type"]](value, keyword)
    if row["type"] in ("count", "real"):
        _core.check_number(row["name"], float(checked))
    return checked


def _unset(row: Dict[str, Any]) -> Any:
    """What the library takes for a row left out."""
    if row["optional"]:
        return None
    return {"reals": None, "text": "", "word": ""}.get(row["type"], 0)


def core_settings(given: Dict[str, Any]) -> Dict[str, Any]:
    """Keywords (of analyse() or analyse_files()) type-checked and turned
    into the settings the core takes, keyed by the table's names. Whether
    the values can be used together the library decides when it settles
    them, raising SettingError naming the keyword."""
    out: Dict[str, Any] = {}
    for keyword, value in given.items():
        rows = ROWS_OF[keyword]
        if keyword == "fit_range":
            out.update(_fit_range(value, rows))
        elif value is None and keyword in NONE_MEANS:
            if keyword == "shift":
                out["shift"] = SHIFT_OF_WINDOW
            elif keyword in BY_METHOD and not rows[0]["unset"]:
                # The described value, which the standard method replaces.
                out[rows[0]["name"]] = rows[0]["default"]
            elif keyword != "dt":
                out[rows[0]["name"]] = _unset(rows[0])
        else:
            out[rows[0]["name"]] = _one(rows[0], value, keyword)
    return out


def _fit_range(fit_range: Any, rows: Sequence[Dict[str, Any]]
               ) -> Dict[str, int]:
    bounds = {row["name"]: 0 for row in rows}
    if fit_range is None:
        return bounds
    try:
        ends = tuple(fit_range)
    except TypeError:
        ends = ()
    if len(ends) != len(rows):
        raise SettingTypeError("fit_range must be a pair (lo, hi) of segment "
                               "lengths in samples, got %r" % (fit_range,),
                               "fit_range")
    for row, value in zip(rows, ends):
        if value is not None:
            bounds[row["name"]] = _one(row, value, "fit_range")
    return bounds


def python_value(keyword: str, core: Dict[str, Any]) -> Any:
    """The value of `keyword` as a Settings record holds it, from settings
    keyed by the table's names (the core's settled dict, a sidecar's)."""
    rows = ROWS_OF[keyword]
    if keyword == "fit_range":
        ends = tuple(core[row["name"]] or None for row in rows)
        return None if ends == (None,) * len(rows) else ends
    value = core[rows[0]["name"]]
    if keyword in AS_BOOL:
        return bool(value)
    if rows[0]["unset"] and not value:
        return None
    if rows[0]["type"] == "reals":
        return tuple(value)
    return value


def _record_fields() -> list:
    # The record holds each keyword, its leading fields first and without a
    # default, then what ran the analysis (left out of comparisons: every
    # kernel and scheduler gives the same bytes).
    fields = [(k, Any) for k in LEADING]
    for keyword in ANALYSIS_KEYWORDS:
        if keyword in LEADING:
            continue
        if keyword == "kernel":
            fields.append((keyword, Optional[str], dataclasses.field(
                default=default(keyword), compare=False)))
        elif keyword in BY_METHOD or ROWS_OF[keyword][0]["python_default"]:
            # What a record of settled values holds by default is the
            # library's: the described method, which files without these
            # keys were made with.
            row = ROWS_OF[keyword][0]
            fields.append((keyword, Any, dataclasses.field(
                default=None if row["unset"] else row["default"])))
        else:
            fields.append((keyword, Any, dataclasses.field(
                default=default(keyword))))
    fields.append(("scheduler", Optional[str],
                   dataclasses.field(default=None, compare=False)))
    return fields


def make_settings_class(base: type, doc: str) -> type:
    """The Settings record: a frozen dataclass with a field per keyword of
    the table, the methods of `base`."""
    cls = dataclasses.make_dataclass("Settings", _record_fields(),
                                     bases=(base,), frozen=True,
                                     namespace={"__doc__": doc})
    cls.__module__ = "mfwindow"
    return cls


def settings_from_core(cls: type, core: Dict[str, Any],
                       **python: Any) -> Any:
    """A Settings record from settings keyed by the table's names, with
    `python` (t0, dt, fs as the module took them, kernel, ...) over
    them."""
    values = {k: python_value(k, core) for k in ANALYSIS_KEYWORDS}
    values.update(python)
    return cls(**values)


def core_from_record(record: Any, **over: Any) -> Dict[str, Any]:
    """The settings a record names, as the core takes them (each checked
    again), with keywords `over` replacing its fields."""
    given = {k: getattr(record, k) for k in ANALYSIS_KEYWORDS
             if k != "kernel" or record.kernel in ROWS["kernel"]["words"]}
    given.update(over)
    return core_settings(given)


def warn_old_name(old: str, new: str, stacklevel: int = 3) -> None:
    """The one deprecation of a name of an earlier version."""
    warnings.warn("%r is now called %r; the old name goes in mfwindow %s"
                  % (old, new, REMOVED_IN), DeprecationWarning,
                  stacklevel=stacklevel)



def given_names(given: Dict[str, Any]) -> list:
    """The table's names of the keywords given a value (not None): what
    settle() keeps from the standard method's replacement."""
    return [row["name"] for keyword, value in given.items()
            if value is not None and keyword in ROWS_OF
            for row in ROWS_OF[keyword]]
