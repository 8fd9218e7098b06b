"""The module against the engine's pinned singles and against velmora-batch."""

import os
import subprocess
import sys
import threading
import time
import tracemalloc

import numpy as np
import pandas as pd
import pytest

import velmora

TOOL = os.environ["VELMORA_BATCH_TOOL"]
TABLE = os.environ["VELMORA_GAP_TABLE"]
RESULTS = list(velmora.RESULT_COLUMNS)
REASON = velmora.REASON_COLUMN
# The window's default household, as typed.
DEFAULT = [9.725, 7.38, 4.81, 3.57, 7.416, 14.759, 22.616, 3.321]


def bits(values):
    return np.asarray(values, dtype=np.float32).view(np.uint32)


def test_worked_example_in_both_modes_every_input_shape():
    frame = pd.DataFrame([DEFAULT], columns=velmora.INPUT_COLUMNS)  # float64, rounded once
    shapes = [
        frame,
        frame.astype(np.float32).set_axis([f"c{k}" for k in range(8)], axis=1),  # by position
        {t: np.float32([v]) for t, v in zip(velmora.INPUT_COLUMNS, DEFAULT)},
        np.array([tuple(DEFAULT)], dtype=[(t, np.float32) for t in velmora.INPUT_COLUMNS]),  # strided fields
    ]
    for data in shapes:
        one = velmora.compute(data, gap_table=TABLE)
        # The singles pinned for the engine (the example table's entry for -2.7).
        assert [float(one[c][0]) for c in RESULTS[:3]] == [0.3940526843070984, 1.3427425622940063, 0.664203941822052]
        assert bits(one[RESULTS[3]])[0] == 964354079
        assert one[REASON][0] is None
        zero = velmora.compute(data, with_risk_premium=False, gap_table=TABLE)
        assert bits(zero[RESULTS[3]])[0] == 1041347211  # 0.1422826, key 4
        assert all(np.isnan(zero[c][0]) for c in RESULTS[:3])
    assert list(one) == list(data.dtype.names) + [REASON] + RESULTS
    # Texts as typed in the window are the same settings.
    typed = velmora.compute(
        frame, insurance_rate="0.610", damage_probability="0.025", interest_rate="0.040", markup_rate="3.140",
        gap_table=TABLE,
    )
    assert list(typed.columns) == list(velmora.INPUT_COLUMNS) + [REASON] + RESULTS
    assert (bits(typed[RESULTS].to_numpy()) == bits(velmora.compute(frame, gap_table=TABLE)[RESULTS].to_numpy())).all()
    shown = velmora.explain(DEFAULT, gap_table=TABLE)["display"]
    assert [shown[k] for k in ("PreferenceFactor", "WillingnessToPay", "OptimalCoverage", "DelayDamage")] == [
        "0.394", "1.343", "0.664", "0.000"]
    assert velmora.explain(DEFAULT, with_risk_premium=False, gap_table=TABLE)["display"]["DelayDamage"] == "0.142"


def generated_households(path, rows, seed):
    """CP932 input of plausible households, some of them not computable."""
    rng = np.random.default_rng(seed)
    values = rng.uniform([0, 0, 1, 0, 0, 2, 5, 1], [20, 12, 16, 25, 30, 22, 45, 9], size=(rows, 8))
    lines = ["家屋被害,家財被害,世帯年収,世帯金融資産,土地資産,家庭用品,家屋価格,消費額,メッシュ,備考"]
    for i, v in enumerate(values):
        f = [f"{x:.3f}" for x in v]
        kind = i % 97
        if kind == 1:
            f[i % 8] = "x"  # not a number (the eighth: computed without the premium)
        elif kind == 2:
            f[5], f[6] = "2", "-2"  # goods value + house price = 0
        elif kind == 3:
            f[2], f[3] = "0", "0"  # income + assets = 0
        elif kind == 4:
            f[7] = "0"  # consumption 0: the model with the premium fails
        elif kind == 5:
            f[0], f[1] = "0", "0"  # no damage: both models fail
        elif kind == 6:
            f[0] = f"{v[0] * 1e3:.4E}"  # exponent form
        elif kind == 7:
            f[4] = f"-{f[4]}"
        lines.append(",".join(f + [f"{53394500 + i}", "浸水" if i % 2 else ""]))
    with open(path, "wb") as out:
        out.write("\r\n".join(lines).encode("cp932") + b"\r\n")


@pytest.mark.parametrize("with_risk_premium", [True, False])
def test_hundred_thousand_households_agree_with_velmora_batch(tmp_path, with_risk_premium):
    source = tmp_path / "households.csv"
    generated_households(source, 100_000, 23 if with_risk_premium else 24)
    mode = [] if with_risk_premium else ["--without-risk-premium"]
    subprocess.run([TOOL, *mode, "--quiet", "--gap-table", TABLE, str(source), str(tmp_path / "tool.csv")], check=True)
    tool_lines = (tmp_path / "tool.csv").read_bytes().split(b"\r\n")[1:-1]

    frame = velmora.read_csv(source, with_risk_premium=with_risk_premium)
    assert list(frame.columns[8:]) == ["メッシュ", "備考"]
    assert frame["メッシュ"].iloc[99_999] == str(53394500 + 99_999) and frame["備考"].iloc[1] == "浸水"
    answer = velmora.compute(frame, with_risk_premium=with_risk_premium, gap_table=TABLE, threads=2)
    assert len(tool_lines) == len(answer) == 100_000
    # The texts as pandas reads them are read as the tool reads them.
    texts = pd.read_csv(source, encoding="cp932", dtype=str, keep_default_na=False).iloc[:, :8]
    texts.columns = velmora.INPUT_COLUMNS
    again = velmora.compute(texts, with_risk_premium=with_risk_premium, gap_table=TABLE)
    assert (bits(again[RESULTS].to_numpy()) == bits(answer[RESULTS].to_numpy())).all()
    assert again[REASON].tolist() == answer[REASON].tolist()
    used = RESULTS if with_risk_premium else RESULTS[3:]
    values = answer[used].to_numpy(dtype=np.float64) + 0.0  # -0 is written as 0
    reasons = answer[REASON].to_numpy()
    for line, row, why in zip(tool_lines, values, reasons):
        fields = line.decode("ascii").split(",")[8:]
        if why is None:
            assert fields[4 - len(used):] == ["%.7G" % x for x in row] and fields[: 4 - len(used)] == [""] * (4 - len(used))
        else:
            assert fields == ["", "", "", ""], why

    # The tool's own run, from Python: the same bytes, and a summary that
    # counts what compute refused, each reason where it belongs.
    summary = velmora.run_csv(source, tmp_path / "run.csv", with_risk_premium=with_risk_premium, gap_table=TABLE)
    assert (tmp_path / "run.csv").read_bytes() == (tmp_path / "tool.csv").read_bytes()
    refused = pd.Series(reasons[reasons != None]).str  # noqa: E711
    assert summary["lines"] == {
        "data": 100_000,
        "computed": int((reasons == None).sum()),  # noqa: E711
        "rowRejected": int(refused.startswith("行の検査").sum()),
        "modelFailed": int(refused.startswith("モデルで").sum()),
    }
    assert summary["lines"]["modelFailed"] > 0 and summary["lines"]["rowRejected"] > 0


def test_same_bits_at_one_two_seven_threads_without_copy_or_lock():
    rng = np.random.default_rng(7)
    rows = 300_000
    data = {t: rng.uniform(-1, 30, rows).astype(np.float32) for t in velmora.INPUT_COLUMNS}
    data[velmora.INPUT_COLUMNS[3]][::1000] = np.nan
    answers = [velmora.compute(data, gap_table=TABLE, threads=n) for n in (1, 2, 7)]
    for other in answers[1:]:
        for c in RESULTS:
            assert (bits(other[c]) == bits(answers[0][c])).all()
        assert (other[REASON] == answers[0][REASON]).all()
    assert (answers[0][REASON] != None).sum() >= rows // 1000  # noqa: E711

    # float32 columns are read in place: the answer's memory stays below the
    # input's (4 results of 4 bytes, a reason of 8, per household).
    frame = pd.DataFrame(data)
    tracemalloc.start()
    velmora.compute(frame, gap_table=TABLE, threads=2)
    peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    assert peak < 8 * 4 * rows

    # Other Python threads run while the engine computes: the longest pause
    # they see is far shorter than the calculation (the best of three, for a
    # busy machine).
    started = time.perf_counter()
    velmora.compute(data, gap_table=TABLE, threads=1)
    whole = time.perf_counter() - started
    interval = sys.getswitchinterval()
    sys.setswitchinterval(0.0005)
    pauses = []
    try:
        for _ in range(3):
            worker = threading.Thread(target=velmora.compute, args=(data,), kwargs={"gap_table": TABLE, "threads": 1})
            last, longest = time.perf_counter(), 0.0
            worker.start()
            while worker.is_alive():
                now = time.perf_counter()
                longest, last = max(longest, now - last), now
            pauses.append(longest)
    finally:
        sys.setswitchinterval(interval)
    assert min(pauses) < whole / 2, (pauses, whole)


def test_errors_are_the_tools(tmp_path):
    frame = pd.DataFrame([DEFAULT], columns=velmora.INPUT_COLUMNS)
    settings_invalid = "「全メッシュ共通の設定値」に誤りがあります"
    for bad in ({"interest_rate": ""}, {"insurance_rate": "abc"}, {"insurance_rate": float("nan")},
                {"markup_rate": 1e39}):
        with pytest.raises(ValueError, match=f"^{settings_invalid}$"):
            velmora.compute(frame, gap_table=TABLE, **bad)
    for zero in ("0", "-0", "0e3", 0.0):
        with pytest.raises(ValueError, match="^マークアップ率に「0」は指定できません$"):
            velmora.compute(frame, gap_table=TABLE, markup_rate=zero)
    # Without the premium only the insurance rate and the markup's zero are checked.
    velmora.compute(frame, with_risk_premium=False, gap_table=TABLE, damage_probability="abc")
    with pytest.raises(OSError, match="^EGapDis.txtを正しく読み取れません$"):
        velmora.compute(frame, gap_table=tmp_path / "none.txt")
    with pytest.raises(ValueError):
        velmora.compute(frame, gap_table=TABLE, threads=0)
    with pytest.raises(ValueError, match="見つかりません"):
        velmora.compute(frame.drop(columns=velmora.INPUT_COLUMNS[7]).astype(str), gap_table=TABLE)

    # Why a household is not computed, as --explain names it.
    rows = [DEFAULT[:1] + [np.nan] + DEFAULT[2:], DEFAULT[:7] + [0.0]]
    answer = velmora.compute(pd.DataFrame(rows, columns=velmora.INPUT_COLUMNS), gap_table=TABLE)
    assert list(answer[REASON]) == [
        "行の検査で計算できません：2番目の値（家財被害）が数値ではありません",
        "モデルで計算できません：PreferenceFactor の途中の (UserCost * PropertyValue) / Consumption が有限の値になりません",
    ]
    assert velmora.explain(rows[1], gap_table=TABLE)["failure"]["message"] == answer[REASON][1]

    # The input file's checks and messages.
    source = tmp_path / "in.csv"
    source.write_bytes(b"h\r\n1,2,3,4,5,6,7,8,m1\r\n1,2,3,4,5,6,7\r\n")
    with pytest.raises(ValueError, match="^3行目：入力ファイル形式が正しくありません$"):
        velmora.read_csv(source)
    seven = velmora.read_csv(source, with_risk_premium=False)
    assert list(seven.columns[8:]) == ["列9"] and seven["列9"].tolist() == ["m1", None]
    assert np.isnan(seven.iloc[1, 7]) and seven.iloc[0, 7] == 8
    (tmp_path / "empty.csv").write_bytes(b"")
    with pytest.raises(ValueError, match="^入力ファイル形式が正しくありません$"):
        velmora.read_csv(tmp_path / "empty.csv")
    with pytest.raises(OSError, match="^入力ファイルを読み取れません$"):
        velmora.read_csv(tmp_path / "missing.csv")
    with pytest.raises(ValueError, match="^入力ファイルと出力ファイルが同じです$"):
        velmora.run_csv(source, source, with_risk_premium=False, gap_table=TABLE)
    assert source.read_bytes().startswith(b"h\r\n1,2")
