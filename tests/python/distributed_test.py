"""mfwindow.distributed on a real Dask LocalCluster: 20 series, one of them
missing and one with a NaN line, give one table whose good series equal
mfwindow-batch --format csv bit for bit, whose failures are named, and
whose result files (out=DIR) are mfwindow-batch's own, byte for byte."""

import dataclasses
import json
import os
import subprocess

import numpy as np
import pytest

import support

pytestmark = pytest.mark.filterwarnings("ignore::DeprecationWarning")

pd = pytest.importorskip("pandas")
distributed = pytest.importorskip("distributed")
import mfwindow.distributed  # noqa: E402

SETTINGS = dict(window=256, shift=128, order=2, min_scale=20,
                method="described")
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


def batch_csv(path):
    """mfwindow-batch's CSV, its "alfa" columns under a result's names."""
    table = pd.read_csv(path, float_precision="round_trip")
    return table.rename(columns=lambda c: c.replace("alfa", "alpha"))


def test_table_equals_mfwindow_batch_and_names_the_failures(
        cluster, series, monkeypatch):
    top, names = series
    batch = support.tool("MFWINDOW_BATCH")
    done = subprocess.run([batch, *FLAGS, "--format", "csv", "--quiet",
                           "--out", "batch", *names], cwd=top,
                          capture_output=True, text=True)
    assert done.returncode == 1, done.stderr  # two series failed
    monkeypatch.chdir(top)
    got = mfwindow.distributed.analyse_files(names, client=cluster,
                                             **SETTINGS)
    assert got.failed == ("s07.txt", "s13.txt")
    assert got["s13.txt"].n_windows == 0
    assert got["s12.txt"].settings == got["s14.txt"].settings
    table = got.to_pandas()
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
        want = batch_csv(top / "batch" / ("F(Alfa)_%s.csv" % name))
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
    assert len(written) == 36  # 18 result files and their sidecars
    assert sorted(os.listdir(top / ("d-" + fmt))) == written
    for name in written:
        ours, theirs = (top / d / name for d in ("d-" + fmt, "b-" + fmt))
        if not name.endswith(".json"):
            assert ours.read_bytes() == theirs.read_bytes(), name
            continue
        # The same series and settings; the writer, times and threads differ,
        # and max_scale is 0 (window // 5) from the flags, 51 from Python.
        a, b = json.loads(ours.read_text()), json.loads(theirs.read_text())
        assert (a["settings"]["max_scale"], b["settings"]["max_scale"]) == (
            51, 0)
        for d in (a, b):
            del d["settings"]["threads"], d["settings"]["max_scale"]
        assert (a["series"], a["settings"], a["windows"]) == (
            b["series"], b["settings"], b["windows"]), name
        assert (a["program"], b["program"]) == ("mfwindow (Python)",
                                                "mfwindow-batch")


def test_columns_give_the_batch_tools_files_per_column(cluster, tmp_path,
                                                       monkeypatch):
    rows = zip(support.walk(700, seed=5), support.walk(700, seed=6))
    (tmp_path / "ab.csv").write_text(
        "a,b\n" + "".join("%.17g,%.17g\n" % r for r in rows))
    subprocess.run([support.tool("MFWINDOW_BATCH"), *FLAGS, "--quiet",
                    "--column", "a,2", "--out", "b", "ab.csv"], cwd=tmp_path)
    monkeypatch.chdir(tmp_path)
    got = mfwindow.distributed.analyse_files(
        ["ab.csv"], client=cluster, out="d", column=["a", 2], **SETTINGS)
    assert list(got) == ["ab.csv@a", "ab.csv@2"]
    written = sorted(n for n in os.listdir(tmp_path / "b")
                     if not n.endswith(".json"))  # sidecars hold times
    # Column 1 keeps F(Alfa)_ when chosen by its name, too.
    assert written == ["F(Alfa)@2_ab.csv.dat", "F(Alfa)_ab.csv.dat"]
    for name in written:
        assert (tmp_path / "d" / name).read_bytes() == \
            (tmp_path / "b" / name).read_bytes(), name


def test_arrays_give_what_analyse_gives_and_failures_are_rows(cluster):
    good = support.walk(900, seed=3)
    bad = support.walk(900, seed=4)
    bad[100] = np.nan
    table = mfwindow.distributed.analyse_arrays(
        {"good": good, "bad": bad, "short": good[:200]}, client=cluster,
        **SETTINGS).to_pandas()
    want = mfwindow.analyse(good, **SETTINGS)
    rows = table[table["series"] == "good"]
    assert support.bits(rows["alpha_sz"].to_numpy()) == support.bits(
        want.alpha_sz)
    assert support.bits(rows["time"].to_numpy()) == support.bits(want.time)
    failed = table[table["series"] == "bad"]
    assert list(failed["status"]) == ["failed"]
    assert "x[100] is nan" in failed["message"].iloc[0]
    short = table[table["series"] == "short"].iloc[0]
    assert short["status"] == "no window"
    assert short["message"].startswith("short: the series has 200 samples")


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
        **SETTINGS, **METHOD).to_pandas()
    assert table[table["series"] == "s07.txt"]["width_p"].isna().all()
    for name in names:
        if name == "s07.txt":
            continue
        rows = table[table["series"] == name]
        want = batch_csv(top / "m-batch" / ("F(Alfa)_%s.csv" % name))
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
        **METHOD).to_pandas()
    want = mfwindow.analyse(support.walk(900, seed=3), **SETTINGS, **METHOD)
    for column in ("alpha_width", "width_null_median", "alpha_sz_p"):
        assert support.bits(arrays[column].to_numpy()) == support.bits(
            want[column]), column


def test_unknown_or_bad_method_keywords_are_refused_before_any_task():
    with pytest.raises(TypeError, match="surogates"):
        mfwindow.distributed.analyse_files([], window=256, surogates=3)
    with pytest.raises(ValueError, match="^fit_range"):
        mfwindow.distributed.analyse_files([], window=256,
                                           fit_range=(90, 30))
    # Each refusal is analyse's own, or says why the keyword is not taken.
    for call, keywords, error, text in [
            ("analyse_arrays", dict(progress=True), TypeError, "progress"),
            ("analyse_files", dict(nan="skip"), TypeError, "on_bad_sample"),
            ("analyse_files", dict(out="o", t0=np.datetime64("2020-01-01")),
             ValueError, "^out"),
            ("analyse_arrays", dict(fs=0), ValueError, "^fs"),
            ("analyse_arrays", dict(order=2.5), TypeError, "^order"),
            ("analyse_files", dict(profile=1), TypeError, "^profile"),
            ("analyse_files", dict(time_column=1, dt=2), ValueError,
             "^time_column")]:
        with pytest.raises(error, match=text):
            getattr(mfwindow.distributed, call)([], window=256, **keywords)
    with pytest.raises(ValueError, match="named twice"):
        mfwindow.distributed.analyse_files(["a", "a"], window=256)


def test_every_series_comes_back_when_both_workers_die():
    # A worker that died too often once lost every row, finished ones too;
    # one 2-D array once ended the whole call.
    import dask
    from dask.distributed import Client, LocalCluster
    arrays = {"w%d" % i: support.walk(3000, seed=i) for i in range(6)}
    arrays.update(boom1=support.Bomb(), boom2=support.Bomb(),
                  flat=np.zeros((3, 900)))
    with dask.config.set({"distributed.scheduler.allowed-failures": 1}):
        with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                          dashboard_address=":0") as local, \
                Client(local) as client:
            got = mfwindow.distributed.analyse_arrays(arrays, client=client,
                                                      **SETTINGS)
    assert list(got) == list(arrays)
    assert {"boom1", "boom2", "flat"} <= set(got.failed)
    # A series queued on a worker as it died may die with it.
    died = "workers analysing it died"
    assert died in got["boom1"].failure and died in got["boom2"].failure
    for name in got.failed:
        assert got[name].failure.startswith(name + ": ")
        assert died in got[name].failure or (
            name == "flat" and "(3, 900)" in got[name].failure)
    for name in set(arrays) - set(got.failed) - {"flat"}:
        want = mfwindow.analyse(arrays[name], **SETTINGS)
        assert support.bits(got[name].alpha_sz) == support.bits(want.alpha_sz)


def test_foreign_bytes_are_decoded_and_the_file_named(cluster, tmp_path,
                                                      monkeypatch):
    # A cp1252 trailer once failed a series that mfwindow-batch analysed.
    lines = ["%.17g" % v for v in support.walk(900, seed=9)]
    (tmp_path / "cp.txt").write_bytes(
        ("\n".join(lines) + "\n").encode() + b"caf\xe9 end\n")
    (tmp_path / "rnd.bin").write_bytes(
        np.random.default_rng(1).bytes(3000))
    subprocess.run([support.tool("MFWINDOW_BATCH"), *FLAGS, "--format",
                    "csv", "--quiet", "--on-bad-sample", "stop", "--out",
                    "batch", "cp.txt"], cwd=tmp_path, check=True)
    monkeypatch.chdir(tmp_path)
    got = mfwindow.distributed.analyse_files(
        ["cp.txt"], client=cluster, out="dask", format="csv",
        on_bad_sample="stop", **SETTINGS)
    assert got.failed == () and got["cp.txt"].n_windows == 6
    assert 'caf\ufffd end' in got["cp.txt"].messages[0]
    name = "F(Alfa)_cp.txt.csv"
    assert (tmp_path / "dask" / name).read_bytes() == \
        (tmp_path / "batch" / name).read_bytes()
    bad = mfwindow.distributed.analyse_files(["rnd.bin"], client=cluster,
                                             **SETTINGS)
    assert bad.failed == ("rnd.bin",)
    assert bad["rnd.bin"].failure.startswith("rnd.bin")


def test_time_keywords_pass_through_to_analyse(cluster, series,
                                               monkeypatch):
    top, names = series
    monkeypatch.chdir(top)
    values = np.loadtxt(top / names[0])
    for keywords in (dict(fs=250), dict(t0=np.datetime64("2024-05-01"),
                                        dt=0.5)):
        want = mfwindow.analyse(values, **SETTINGS, **keywords)
        for got in (mfwindow.distributed.analyse_files(
                        names[:1], client=cluster, **SETTINGS, **keywords),
                    mfwindow.distributed.analyse_arrays(
                        {names[0]: values}, client=cluster, **SETTINGS,
                        **keywords)):
            one = got[names[0]]
            assert one.settings == dataclasses.replace(want.settings,
                                                       threads=1)
            assert support.bits(one.time) == support.bits(want.time)
            assert support.bits(one.alpha_sz) == support.bits(want.alpha_sz)


@pytest.mark.parametrize("step, unit", [
    (np.timedelta64(4, "ms"), "ns"),
    (np.timedelta64(1, "D"), "D")])  # dates alone, as pandas writes them
def test_time_column_sets_the_axis_as_t0_and_dt_would(cluster, tmp_path,
                                                      monkeypatch, step, unit):
    values = support.walk(700, seed=7)
    start = np.datetime64("2024-03-01T00:00:00", "ns")
    stamps = start + np.arange(700) * step
    (tmp_path / "st.csv").write_text("when,x\n" + "".join(
        "%s,%.17g\n" % r for r in zip(
            np.datetime_as_string(stamps, unit=unit), values)))
    monkeypatch.chdir(tmp_path)
    got = mfwindow.distributed.analyse_files(
        ["st.csv"], client=cluster, column="x", time_column="when", out="o",
        format="csv", **SETTINGS)["st.csv"]
    want = mfwindow.analyse(values, t0=start - step,
                            dt=step / np.timedelta64(1, "s"), **SETTINGS)
    assert got.failure is None and len(got.time) == len(want.time) == 4
    assert np.array_equal(got.time, want.time)
    # The file read back has the stamps' date-times again, by its sidecar.
    read = mfwindow.read_result(str(tmp_path / "o" / "F(Alfa)@x_st.csv.csv"))
    assert np.array_equal(read.time, want.time)
    assert support.bits(got.alpha_sz) == support.bits(want.alpha_sz)


def test_summary_is_one_row_per_series(cluster):
    good = support.walk(2000, seed=5)
    bad = good.copy()
    bad[7] = np.inf
    got = mfwindow.distributed.analyse_arrays(
        {"good": good, "bad": bad}, client=cluster, summary=True,
        surrogates=9, surrogate="shuffle", **SETTINGS)
    table = got.to_pandas()
    assert list(table["series"]) == ["good", "bad"]
    assert list(table["status"]) == ["ok", "failed"]
    want = mfwindow.analyse(good, surrogates=9, surrogate="shuffle",
                            **SETTINGS)
    row = got["good"]
    assert row["windows"] == want.n_windows == 14
    assert sum(row[s] for s in mfwindow.distributed.WINDOW_STATUSES) == 14
    assert row["ok"] == np.count_nonzero(want.status == "ok")
    width = np.sort(want.alpha_width[np.isfinite(want.alpha_width)])
    assert row["width_median"] == np.median(width)
    assert row["null_rejections"] == np.count_nonzero(want.width_p < 0.05)
    assert got["bad"]["message"].startswith("bad: x[7] is inf")
