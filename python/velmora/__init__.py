"""Velmora from Python: the flood-damage engine of velmora-batch for notebooks.

Velmora estimates, for each household (one mesh of a study area), the damage
caused by delayed restoration under the liquidity constraint, with or without
the risk premium. This module runs the same engine as the command-line tool
velmora-batch, with the same results to the bit.

    compute(data, ...)      households in columns -> the four results
    read_csv(path)          a batch input file, read as velmora-batch reads it
    run_csv(input, output)  velmora-batch's batch run; answers its summary
    explain(row, ...)       every named quantity of one household (--explain)

Every number of the model is a single (float32). compute() takes float32
columns as they are, without copying them, and rounds float64 (or integer)
columns once to float32. The result file of velmora-batch holds each result
with seven significant digits (%.7G) of the same single; for agreement to the
text with the CSV tool, the inputs must be the singles read from the same
texts: read the file with velmora.read_csv, or its numbers as texts
(pandas.read_csv(..., dtype=str)), which compute reads as the tool reads its
fields; a decimal text read as float64 and then rounded to float32 may,
rarely, land on the neighbouring single.

Settings are numbers (rounded once to float32) or the texts a user would type
into the window ("0.610"), checked exactly as velmora-batch checks them; a bad
one raises ValueError with the tool's message. A gap table that cannot be read
raises OSError. Without gap_table the table is looked for as the installed
velmora-batch looks for it.

Velmora の Python モジュール：velmora-batch と同じ計算エンジンを、Jupyter や
pandas から使えます。結果は一括計算の結果ファイルとビット単位で一致します。

    compute(data, ...)      世帯の列（DataFrame・dict・構造化配列）から4つの結果を計算
    read_csv(path)          一括計算の入力ファイルを velmora-batch と同じく読む
    run_csv(input, output)  velmora-batch の一括計算を実行し、集計を dict で返す
    explain(row, ...)       1世帯分の計算過程（--explain の JSON）を dict で返す

モデルの数値はすべて単精度（float32）です。float32 の列はコピーせずにそのまま
読み、float64 や整数の列は一度だけ float32 に丸めます。CSV ツールと文字列まで
一致させるには、同じ文字列から単精度で読んだ値が必要です。velmora.read_csv で
読むか、数値を文字列のまま（pandas.read_csv(..., dtype=str)）渡してください。
文字列の列はツールと同じく読みます（float64 として読んでから丸めると、まれに
隣の単精度値になります）。

設定値は数値（一度だけ float32 に丸めます）か、画面に入力する文字列（"0.610"）
です。文字列はツールと同じ検査を受け、誤りはツールのメッセージの ValueError に
なります。ギャップ分布表を読めないときは OSError です。
"""

import os as _os

import numpy as _np

from . import _engine

__version__ = _engine.version

_TITLES = list(_engine.header_titles)
#: The eight household columns, by the result header's titles, in file order.
INPUT_COLUMNS = tuple(_TITLES[:8])
#: The four result columns, by the result header's titles.
RESULT_COLUMNS = tuple(_TITLES[8:])
#: Why a household was not computed (None when it was), as --explain says it.
REASON_COLUMN = "計算できない理由"

__all__ = [
    "compute",
    "read_csv",
    "run_csv",
    "explain",
    "INPUT_COLUMNS",
    "RESULT_COLUMNS",
    "REASON_COLUMN",
    "__version__",
]


def _pandas():
    try:
        import pandas
    except ImportError:
        return None
    return pandas


def _setting_text(name, value):
    """The text the tool's check reads for one setting."""
    if isinstance(value, str):
        return value
    if isinstance(value, (bool, _np.bool_)) or not isinstance(value, (int, float, _np.integer, _np.floating)):
        raise TypeError(f"{name} must be a number or a text, not {type(value).__name__}")
    # Rounded once to a single; its shortest text reads back to that single,
    # and a value beyond the single range becomes "inf", which the check refuses.
    with _np.errstate(over="ignore"):
        return str(_np.float32(value))


def _settings(insurance_rate, damage_probability, interest_rate, markup_rate):
    return [
        _setting_text("insurance_rate", insurance_rate),
        _setting_text("damage_probability", damage_probability),
        _setting_text("interest_rate", interest_rate),
        _setting_text("markup_rate", markup_rate),
    ]


def _threads(threads):
    if threads is None:
        return 0  # one per core
    if isinstance(threads, (bool, _np.bool_)) or not isinstance(threads, (int, _np.integer)) or not 1 <= threads <= 1024:
        raise ValueError(f"スレッド数は1から1024の整数です / threads takes a whole number from 1 to 1024: {threads!r}")
    return int(threads)


def _path(path):
    return None if path is None else _os.fsdecode(_os.fspath(path))


def _singles(column, name):
    """A 1-D float32 array of the column: the column itself when it is one."""
    pandas = _pandas()
    if pandas is not None and isinstance(column, pandas.Series):
        if isinstance(column.dtype, _np.dtype):
            column = column.to_numpy()
        elif getattr(column.dtype, "kind", "O") in "fiu":  # nullable numbers: missing ones are not numbers
            column = column.to_numpy(dtype=_np.float32, na_value=_np.nan)
        else:  # texts ("string"), categories
            column = column.to_numpy(dtype=object)
    array = _np.asarray(column)
    if array.ndim != 1:
        raise ValueError(f"column {name!r} is not one-dimensional")
    if array.dtype == _np.float32:
        return array
    if array.dtype.kind in "fiu":
        with _np.errstate(over="ignore", invalid="ignore"):
            return array.astype(_np.float32)
    if array.dtype.kind in "OUS":
        # Texts are read as the tool reads a field, numbers rounded once.
        return _engine.singles_from_objects(array.astype(object, copy=False))
    raise TypeError(f"column {name!r} holds neither numbers nor texts ({array.dtype})")


def _numeric(column):
    dtype = getattr(column, "dtype", None)
    if isinstance(dtype, _np.dtype):
        return dtype.kind in "fiu"
    return dtype is not None and getattr(dtype, "kind", "") in "fiu"


def _missing_columns(need):
    titles = "、".join(INPUT_COLUMNS[:need])
    return ValueError(
        f"世帯の{need}列（{titles}）が見つかりません。列名をこれらにするか、先頭の{need}列を数値にしてください / "
        f"the {need} household columns were not found: name them {list(INPUT_COLUMNS[:need])}, "
        f"or make the first {need} columns numeric"
    )


def _household_columns(data, need):
    """The columns the model reads (by title, else by position) and the row count."""
    pandas = _pandas()
    if pandas is not None and isinstance(data, pandas.DataFrame):
        names = list(data.columns)
        if all(names.count(t) == 1 for t in INPUT_COLUMNS[:need]):
            picked = [(t, data[t]) for t in INPUT_COLUMNS[:need]]
        elif data.shape[1] >= need and all(_numeric(data.iloc[:, k]) for k in range(need)):
            picked = [(names[k], data.iloc[:, k]) for k in range(need)]
        else:
            raise _missing_columns(need)
        rows = len(data)
    elif isinstance(data, dict):
        if all(t in data for t in INPUT_COLUMNS[:need]):
            picked = [(t, data[t]) for t in INPUT_COLUMNS[:need]]
        elif 8 >= len(data) >= need:
            picked = list(data.items())[:need]
        else:
            raise _missing_columns(need)
        rows = None
    elif isinstance(data, _np.ndarray) and data.dtype.names is not None:
        names = data.dtype.names
        if data.ndim != 1:
            raise ValueError("a structured array of households must be one-dimensional")
        if all(t in names for t in INPUT_COLUMNS[:need]):
            picked = [(t, data[t]) for t in INPUT_COLUMNS[:need]]
        elif len(names) >= need:
            picked = [(n, data[n]) for n in names[:need]]
        else:
            raise _missing_columns(need)
        rows = len(data)
    else:
        raise TypeError("data must be a pandas DataFrame, a dict of 1-D arrays or a structured numpy array")
    columns = [_singles(column, name) for name, column in picked]
    if rows is None:
        rows = len(columns[0])
    for (name, _), column in zip(picked, columns):
        if len(column) != rows:
            raise ValueError(f"column {name!r} has {len(column)} values, not {rows}")
    return columns, rows


def compute(
    data,
    *,
    with_risk_premium=True,
    insurance_rate=0.61,
    damage_probability=0.025,
    interest_rate=0.04,
    markup_rate=3.14,
    gap_table=None,
    threads=None,
):
    """Compute every household of `data`, as velmora-batch computes each line.

    data: a pandas DataFrame, a dict of 1-D arrays, or a structured numpy
        array holding the eight household columns, named by INPUT_COLUMNS
        (the result header's first eight titles: house damage, goods damage,
        annual income, financial assets, land assets, goods value, house
        price, consumption; millions of yen), or else taken by position: the
        first eight columns, which must be numeric. Without the risk premium
        the consumption column is not read and may be missing.
        float32 columns are read in place (no copy, any stride); float64 and
        integer columns are rounded once to float32; a column of texts (as
        pandas.read_csv(..., dtype=str) gives) is read as the tool reads its
        fields. NaN (a field that is not a number), infinities and texts that
        are not numbers are refused by the row check, as the tool refuses a
        field that is not a number.
    with_risk_premium: the model with the risk premium (mode 1, all four
        results) or without it (mode 0, the delay damage alone).
    insurance_rate, damage_probability, interest_rate, markup_rate: a number
        (rounded once to float32) or a text as typed ("0.610"), checked as the
        tool checks its settings.
    gap_table: the EGapDis.txt to read (path); None looks where the
        installed velmora-batch looks.
    threads: threads to compute on (default: one per core). The results are
        the same, bit for bit, for every count. The interpreter's lock is
        released while they work.

    Answers the same kind as given: a DataFrame (with data's index and its
    columns, which share data's memory) for a DataFrame, else a dict of
    arrays. After the other
    columns come REASON_COLUMN (None for a computed household, else why not,
    as --explain names the row check or the model step) and the four
    RESULT_COLUMNS as float32, equal bit for bit to the engine's singles, NaN
    where a household was not computed (and, without the risk premium, in the
    first three).

    Raises ValueError for a bad setting (the tool's message) or bad columns,
    OSError for a gap table that cannot be read.

    data の世帯をすべて計算します（velmora-batch が各行を計算するのと同じ）。

    data: 8つの世帯列を持つ pandas の DataFrame、1次元配列の dict、または
        構造化配列。列名は INPUT_COLUMNS（結果ファイルの見出しの最初の8つ：
        家屋被害、家財被害、世帯年収、世帯金融資産残高、土地資産額、家庭用品額、
        家屋価格、物質資産への投資を除く消費額。単位は百万円）。列名がなければ
        先頭の8列（数値）を順に使います。リスクプレミアムを考慮しないときは
        消費額を読まず、なくてもかまいません。float32 の列はコピーせずに
        そのまま読み、float64 や整数の列は一度だけ float32 に丸め、文字列の
        列（pandas.read_csv(..., dtype=str) など）はツールと同じく欄の文字列
        から読みます。NaN（数値でない欄）、無限大、数値でない文字列は行の
        検査で計算不可になります。
    with_risk_premium: リスクプレミアムを考慮する（4つの結果）か、しない
        （復旧遅延被害額のみ）か。
    insurance_rate, damage_probability, interest_rate, markup_rate: 保険加入率・
        被害発生確率・利子率・マークアップ率。数値（一度だけ float32 に丸める）
        か、入力どおりの文字列（"0.610"）。ツールと同じ検査をします。
    gap_table: ギャップ分布表 EGapDis.txt のパス。None のときはインストール
        された velmora-batch と同じ場所を探します。
    threads: 計算に使うスレッド数（既定: CPUのコア数）。結果はどの数でも
        ビット単位で同じです。計算中は GIL を解放します。

    与えた形で返します：DataFrame には DataFrame（data の索引と列を含み、
    列のメモリは data と共有）、
    それ以外には配列の dict。他の列の後に REASON_COLUMN（計算できた世帯は
    None、できなかった世帯はその理由。--explain と同じく行の検査かモデルの
    段階を示す）と、RESULT_COLUMNS の4列（float32、エンジンの単精度値と
    ビット単位で一致、計算できない世帯は NaN）が続きます。

    設定値の誤りは ValueError（ツールのメッセージ）、ギャップ分布表を読めない
    ときは OSError です。
    """
    need = 8 if with_risk_premium else 7
    settings = _settings(insurance_rate, damage_probability, interest_rate, markup_rate)
    count = _threads(threads)
    columns, rows = _household_columns(data, need)
    results, refusals = _engine.compute(columns, rows, bool(with_risk_premium), settings, _path(gap_table), count)
    reasons = _np.full(rows, None, dtype=object)
    for row, why in refusals:
        reasons[row] = why
    answer = {REASON_COLUMN: reasons}
    answer.update(zip(RESULT_COLUMNS, results))

    pandas = _pandas()
    if pandas is not None and isinstance(data, pandas.DataFrame):
        # One block per column, data's own columns included: nothing is
        # copied (concat would copy them all into one block). Result columns
        # of an earlier answer give way to the new ones.
        kept = [k for k, name in enumerate(data.columns) if name not in answer]
        # A Series of objects, so that pandas does not scan the reasons for dates.
        answer[REASON_COLUMN] = pandas.Series(reasons, index=data.index, dtype=object, copy=False)
        columns = [data.iloc[:, k] for k in kept] + list(answer.values())
        frame = pandas.DataFrame(dict(enumerate(columns)), index=data.index, copy=False)
        frame.columns = [data.columns[k] for k in kept] + list(answer)
        return frame
    if isinstance(data, dict):
        others = {k: v for k, v in data.items() if k not in answer}
    else:
        others = {n: data[n] for n in data.dtype.names if n not in answer}
    others.update(answer)
    return others


def read_csv(path, *, with_risk_premium=True):
    """Read a batch input file exactly as velmora-batch reads it.

    The file checks of the tool come first, for the mode given (a data line
    with too few fields raises ValueError with the tool's message and line
    number; a file that cannot be read, OSError). The file is bytes in CP932
    (from Excel) or UTF-8 with a byte order mark; lines end in CR LF, CR or LF;
    the first line is the header; fields are split at every comma, without
    quoting.

    Answers a pandas DataFrame with one row per data line: the eight fields
    as float32 under INPUT_COLUMNS, each read from its text as the tool reads
    it (NaN for a field that is not a number or is missing, which compute
    then refuses in its row check as the tool does; without the risk premium
    the eighth is not read by compute), then the fields from the ninth on as
    text, named by the header's titles from the ninth on (列9, 列10, ... where
    it has none). Texts are decoded from the file's code page; a byte that
    does not decode becomes U+FFFD.

    一括計算の入力ファイルを velmora-batch と同じく読みます。

    まずツールと同じファイルの検査をします（列の足りない行はツールと同じ
    メッセージと行番号の ValueError、読めないファイルは OSError）。ファイルは
    CP932（Excel）か BOM 付き UTF-8、行末は CR LF・CR・LF、1行目は見出しで、
    欄はカンマで区切ります（引用符の扱いはありません）。

    データ行ごとに1行の DataFrame を返します。最初の8欄は INPUT_COLUMNS の
    列名で float32（ツールと同じく文字列から単精度で読む。数値でない欄や
    ない欄は NaN で、compute はツールと同じくその行を計算不可にします）、
    9欄目以降は文字列で、列名は見出しの9つ目以降（ない所は 列9、列10…）です。
    """
    pandas = _pandas()
    if pandas is None:
        raise ImportError("velmora.read_csv needs pandas (python3-pandas)")
    read = _engine.read_csv(_path(path), bool(with_risk_premium))
    encoding = "utf-8" if read["utf8"] else "cp932"
    rest = read["rest"]
    width = max((len(fields) for fields in rest), default=0)
    titles = [t.decode(encoding, errors="replace") for t in read["titles"]]
    names = list(INPUT_COLUMNS) + [titles[k] if k < len(titles) else f"列{k + 9}" for k in range(width)]
    columns = list(read["values"])
    for k in range(width):
        texts = _np.full(len(rest), None, dtype=object)
        for row, fields in enumerate(rest):
            if k < len(fields):
                texts[row] = fields[k].decode(encoding, errors="replace")
        columns.append(texts)
    frame = pandas.DataFrame(dict(enumerate(columns)), copy=False)
    frame.columns = names
    return frame


_ENCODINGS = {"cp932": "cp932", "utf-8": "utf-8", "utf8": "utf-8"}


def run_csv(
    input,
    output,
    *,
    with_risk_premium=True,
    insurance_rate=0.61,
    damage_probability=0.025,
    interest_rate=0.04,
    markup_rate=3.14,
    gap_table=None,
    threads=None,
    keep_columns=False,
    output_encoding=None,
    summary=None,
):
    """Run velmora-batch's batch calculation from the file `input` to `output`.

    The same chain as the tool: the gap table, the settings check, the file
    checks, then the run, whose result takes the output's place only when
    complete (a failed run leaves any earlier output as it was). Settings,
    gap_table and threads as for compute. keep_columns keeps the input's
    fields from the ninth on (--keep-columns); output_encoding is "cp932" or
    "utf-8" (default: as the input, --output-encoding); summary names a JSON
    file to write the summary to as well (--summary).

    Answers the run's summary (counts, column figures, settings, files and
    their SHA-256) as a dict. Raises ValueError with the tool's message for a
    bad setting or input format, OSError for a file that cannot be read or
    written.

    velmora-batch の一括計算を input から output へ実行します。

    ツールと同じ順に、ギャップ分布表、設定値の検査、ファイルの検査、計算を
    行い、結果は完了したときだけ出力ファイルを置き換えます。設定値・gap_table・
    threads は compute と同じです。keep_columns は入力の9列目以降を残し
    （--keep-columns）、output_encoding は "cp932" か "utf-8"（既定は入力に
    合わせる）、summary は集計の JSON も書くファイル名です（--summary）。

    実行の集計（件数、列ごとの集計、設定値、ファイルと SHA-256）を dict で
    返します。設定値や入力形式の誤りはツールのメッセージの ValueError、
    ファイルを読み書きできないときは OSError です。
    """
    import json

    settings = _settings(insurance_rate, damage_probability, interest_rate, markup_rate)
    count = _threads(threads)
    encoding = ""
    if output_encoding is not None:
        encoding = _ENCODINGS.get(str(output_encoding).lower())
        if encoding is None:
            raise ValueError(
                "文字コードは cp932 か utf-8 です / output_encoding takes cp932 or utf-8: " f"{output_encoding!r}"
            )
    input, output, table = _path(input), _path(output), _path(gap_table)
    summary = _path(summary)
    if summary is not None and any(
        other is not None and _engine.same_file(summary, other) for other in (input, output, table)
    ):
        raise ValueError(
            "集計ファイルには入力・出力ファイルやギャップ分布表と別のファイルを指定してください / "
            "summary must name a file other than the input, the output and the gap table"
        )
    text = _engine.run_csv(input, output, bool(with_risk_premium), settings, table, count, bool(keep_columns), encoding)
    if summary is not None:
        _engine.write_summary(summary, text)
    return json.loads(text)


def _field_text(value):
    if isinstance(value, (bytes, str)):
        return value if isinstance(value, str) else value.decode("utf-8", errors="surrogateescape")
    if isinstance(value, (bool, _np.bool_)):
        raise TypeError("a household value must be a number or a text")
    if isinstance(value, (int, _np.integer)):
        return str(int(value))
    with _np.errstate(over="ignore"):
        return str(_np.float32(value))


def explain(
    row,
    *,
    with_risk_premium=True,
    insurance_rate=0.61,
    damage_probability=0.025,
    interest_rate=0.04,
    markup_rate=3.14,
    gap_table=None,
):
    """Explain one household, as velmora-batch --explain ROW --format json.

    row: one data line of an input file ("9.725,7.38,4.81,..."), or a
    sequence of its values (numbers are rounded once to float32, as compute
    rounds them, and written as their shortest text). Settings and gap_table
    as for compute.

    Answers the explanation's JSON as a dict: the mode, the table, the
    settings (text and single), the row, the household's singles, every named
    quantity of the model in step order, then "results" (the file's texts)
    and "display" (the window's), or "failure" (the row check's test or the
    model's step, and its message) when the household is not computed.

    1世帯の計算過程を velmora-batch --explain ROW --format json と同じく示します。

    row: 入力ファイルの1データ行（"9.725,7.38,4.81,..."）か、その値の並び
    （数値は compute と同じく一度だけ float32 に丸め、最短の文字列にします）。
    設定値と gap_table は compute と同じです。

    JSON を dict で返します：モード、表、設定値（文字列と単精度値）、行、
    世帯の単精度値、モデルの途中の値（段階順）、計算できたときは "results"
    （ファイルの文字列）と "display"（画面の表示）、できなかったときは
    "failure"（行の検査の項目かモデルの段階と、そのメッセージ）。
    """
    import json

    if not isinstance(row, (str, bytes)):
        row = ",".join(_field_text(v) for v in row)
    settings = _settings(insurance_rate, damage_probability, interest_rate, markup_rate)
    return json.loads(_engine.explain(row, bool(with_risk_premium), settings, _path(gap_table)))
