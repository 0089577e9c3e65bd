"""mfwindow.distributed on a real Dask LocalCluster: 20 series, one of them
missing and one with a NaN line, give one table whose good series equal
mfwindow-batch --format csv bit for bit, whose failures are named, and
whose result files (out=DIR) are mfwindow-batch's own, byte for byte."""

import os
import subprocess

import numpy as np
import pytest

import support

pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning")

pd = pytest.importorskip("pandas")
distributed = pytest.importorskip("distributed")
import mfwindow.distributed  # noqa: E402

SETTINGS = dict(window=256, shift=128, order=2, min_scale=20)
FLAGS = ["--window", "256", "--shift", "128", "--order", "2",
         "--min-scale", "20"]


@pytest.fixture(scope="module")
def cluster():
    from dask.distributed import Client, LocalCluster
    local = LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                         dashboard_address=None)
    client = Client(local)
    yield client
    client.close()
    local.close()


@pytest.fixture(scope="module")
def series(tmp_path_factory):
    """20 names in a folder: 18 walks, one missing, one with a NaN line."""
    top = tmp_path_factory.mktemp("series")
    names = []
    for i in range(20):
        name = "s%02d.txt" % i
        names.append(name)
        if i == 7:
            continue  # missing
        values = support.walk(700 + 37 * i, seed=100 + i)
        lines = ["%.17g" % v for v in values]
        if i == 13:
            lines[300] = "NaN"
        (top / name).write_text("\n".join(lines) + "\n")
    return top, names


def batch_csv(top, name):
    return pd.read_csv(top / "batch" / ("F(Alfa)_%s.csv" % name),
                       float_precision="round_trip")


def test_table_equals_mfwindow_batch_and_names_the_failures(
        cluster, series, monkeypatch):
    top, names = series
    batch = support.tool("MFWINDOW_BATCH")
    done = subprocess.run([batch, *FLAGS, "--format", "csv", "--quiet",
                           "--out", "batch", *names], cwd=top,
                          capture_output=True, text=True)
    assert done.returncode == 1, done.stderr  # two series failed
    monkeypatch.chdir(top)
    table = mfwindow.distributed.analyse_files(names, client=cluster,
                                               **SETTINGS)
    assert list(table["series"].unique()) == names
    failed = table[table["status"] == "failed"]
    assert list(failed["series"]) == ["s07.txt", "s13.txt"]
    assert "cannot open series file" in failed["message"].iloc[0]
    assert 's13.txt:301: not a number: "NaN"' in failed["message"].iloc[1]
    for name in names:
        if name in ("s07.txt", "s13.txt"):
            assert not os.path.exists(top / "batch" / ("F(Alfa)_%s.csv"
                                                       % name))
            continue
        rows = table[table["series"] == name]
        want = batch_csv(top, name)
        assert len(rows) == len(want) > 0
        assert list(rows["window"]) == list(range(1, len(want) + 1))
        assert list(want.columns) == [
            c for c in rows.columns if c not in ("series", "window",
                                                  "message")]
        for column in want.columns:
            if column == "status":
                assert list(rows[column]) == list(want[column]), name
                continue
            assert support.bits(rows[column].to_numpy(np.float64)) == \
                support.bits(want[column].to_numpy(np.float64)), \
                (name, column)


@pytest.mark.parametrize("fmt", ["dat", "csv"])
def test_out_writes_the_batch_tools_files_byte_for_byte(
        cluster, series, monkeypatch, fmt):
    top, names = series
    batch = support.tool("MFWINDOW_BATCH")
    subprocess.run([batch, *FLAGS, "--format", fmt, "--quiet", "--out",
                    "b-" + fmt, *names], cwd=top, capture_output=True)
    monkeypatch.chdir(top)
    mfwindow.distributed.analyse_files(names, client=cluster, out="d-" + fmt,
                                       format=fmt, **SETTINGS)
    written = sorted(os.listdir(top / ("b-" + fmt)))
    assert len(written) == 18
    assert sorted(os.listdir(top / ("d-" + fmt))) == written
    for name in written:
        assert (top / ("d-" + fmt) / name).read_bytes() == \
            (top / ("b-" + fmt) / name).read_bytes(), name


def test_arrays_give_what_analyse_gives_and_failures_are_rows(cluster):
    good = support.walk(900, seed=3)
    bad = support.walk(900, seed=4)
    bad[100] = np.nan
    table = mfwindow.distributed.analyse_arrays(
        {"good": good, "bad": bad}, client=cluster, **SETTINGS)
    want = mfwindow.analyse(good, **SETTINGS)
    rows = table[table["series"] == "good"]
    assert support.bits(rows["alfa_sz"].to_numpy()) == support.bits(
        want.alfa_sz)
    assert support.bits(rows["time"].to_numpy()) == support.bits(want.time)
    failed = table[table["series"] == "bad"]
    assert list(failed["status"]) == ["failed"]
    assert "x[100] is nan" in failed["message"].iloc[0]


# The method and surrogate keywords and mfwindow-batch's flags for them.
METHOD = dict(profile=True, q=[-3, 0, 3], fit_range=(25, 40), surrogates=3,
              surrogate="shuffle", seed=8)
METHOD_FLAGS = ["--profile", "--q-list=-3,0,3", "--fit-min", "25",
                "--fit-max", "40", "--surrogates", "3", "--surrogate",
                "shuffle", "--seed", "8"]


def test_method_keywords_give_the_batch_tools_null_columns(
        cluster, series, monkeypatch):
    top, names = series
    names = names[5:9]  # s07.txt is missing: its row has the null columns
    done = subprocess.run([support.tool("MFWINDOW_BATCH"), *FLAGS,
                           *METHOD_FLAGS, "--format", "csv", "--quiet",
                           "--out", "m-batch", *names], cwd=top,
                          capture_output=True, text=True)
    assert done.returncode == 1, done.stderr
    monkeypatch.chdir(top)
    table = mfwindow.distributed.analyse_files(
        names, client=cluster, out="m-dask", format="csv", fq=True,
        **SETTINGS, **METHOD)
    assert table[table["series"] == "s07.txt"]["width_p"].isna().all()
    for name in names:
        if name == "s07.txt":
            continue
        rows = table[table["series"] == name]
        want = pd.read_csv(top / "m-batch" / ("F(Alfa)_%s.csv" % name),
                           float_precision="round_trip")
        assert "width_null_p95" in want.columns
        assert list(want.columns) == [
            c for c in rows.columns if c not in ("series", "window",
                                                  "message")]
        for column in want.columns.drop("status"):
            assert support.bits(rows[column].to_numpy(np.float64)) == \
                support.bits(want[column].to_numpy(np.float64)), \
                (name, column)
        assert (top / "m-dask" / ("F(Alfa)_%s.fq.csv" % name)).exists()
    # The arrays' table is analyse()'s, null levels included.
    arrays = mfwindow.distributed.analyse_arrays(
        {"one": support.walk(900, seed=3)}, client=cluster, **SETTINGS,
        **METHOD)
    want = mfwindow.analyse(support.walk(900, seed=3), **SETTINGS, **METHOD)
    for column in ("alfa_width", "width_null_median", "alfa_sz_p"):
        assert support.bits(arrays[column].to_numpy()) == support.bits(
            want[column]), column


def test_unknown_or_bad_method_keywords_are_refused_before_any_task():
    with pytest.raises(TypeError, match="surogates"):
        mfwindow.distributed.analyse_files([], window=256, surogates=3)
    with pytest.raises(ValueError, match="^fit_range"):
        mfwindow.distributed.analyse_files([], window=256,
                                           fit_range=(90, 30))
    with pytest.raises(ValueError, match="^fq"):
        mfwindow.distributed.analyse_arrays({}, window=256, fq=True)
