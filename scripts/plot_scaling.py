#!/usr/bin/env python3
"""Plots open, commit, adds and lookups by id of the address book against its
number of entries, and the security book's open against its folder entries,
each beside its plain baseline where it has one, from kviabdb_bench's JSON
output.

usage: plot_scaling.py BENCH.json OUT.png
"""
import json
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def median(values):
    v = sorted(values)
    n = len(v)
    return v[n // 2] if n % 2 else (v[n // 2 - 1] + v[n // 2]) / 2


def medians(path):
    """run name -> median real time in microseconds. A pair measured in
    alternation ("<name>/<arg>/manual_time", with figure_ns and baseline_ns
    per repetition) gives "<name>.figure/<arg>" and "<name>.baseline/<arg>"."""
    with open(path) as f:
        data = json.load(f)
    out = {}
    pairs = {}
    for b in data["benchmarks"]:
        name = b.get("run_name", b["name"])
        if name.endswith("/manual_time"):
            if b.get("run_type") != "aggregate" and "figure_ns" in b:
                pairs.setdefault(name[: -len("/manual_time")], []).append((b["figure_ns"], b["baseline_ns"]))
            continue
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        if b.get("run_type") == "iteration" and name in out:
            continue  # a run without repetitions has no median: keep the first
        out[name] = b["real_time"] * UNIT_NS[b.get("time_unit", "ns")] / 1e3
    for name, runs in pairs.items():
        family, _, arg = name.rpartition("/")
        out[f"{family}.figure/{arg}"] = median([f for f, _ in runs]) / 1e3
        out[f"{family}.baseline/{arg}"] = median([b for _, b in runs]) / 1e3
    return out


def series(times, family):
    points = []
    for name, t in times.items():
        prefix, _, arg = name.rpartition("/")
        if prefix == family and arg.isdigit():
            points.append((int(arg), t))
    return sorted(points)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    times = medians(sys.argv[1])
    fig, axes = plt.subplots(2, 3, figsize=(15, 8.5))
    book_ticks = [50, 100, 200, 400, 800]
    panels = [
        (axes[0][0], "Open (load the whole book)", "BM_ScalingOpenPair.figure", "BM_ScalingOpenPair.baseline",
         "plain read of the file",
         "entries in the address book", book_ticks),
        (axes[0][1], "Full commit (durable)", "BM_ScalingCommitPair.figure", "BM_ScalingCommitPair.baseline",
         "plain write + fsync + rename", "entries in the address book", book_ticks),
        (axes[0][2], "n adds to an empty book (no commit)", "BM_ScalingAdds", None, None,
         "adds (entries at the end)", book_ticks),
        (axes[1][0], "Lookup by id (KviDfGetAddress)", "BM_ScalingGetById", None, None,
         "entries in the address book", book_ticks),
        (axes[1][1], "Security book open", "BM_ScalingSecurityOpenPair.figure", "BM_ScalingSecurityOpenPair.baseline",
         "plain read of the file", "folder entries", [2000, 5000, 10000, 20000]),
    ]
    for ax, title, own, base, base_label, xlabel, ticks in panels:
        for family, label, style in ((own, "KVIABDB", "o-"), (base, base_label, "s--")):
            pts = series(times, family) if family else []
            if pts:
                ax.plot([n for n, _ in pts], [t for _, t in pts], style, label=label)
        ax.set_title(title)
        ax.set_xlabel(xlabel)
        ax.set_ylabel("median time per operation (µs)")
        ax.set_xticks(ticks)
        ax.set_ylim(bottom=0)
        ax.grid(True, alpha=0.3)
        ax.legend()
    axes[1][2].axis("off")
    fig.suptitle("Cost against the size of the book (medians of one run)")
    fig.tight_layout()
    fig.savefig(sys.argv[2], dpi=100)


if __name__ == "__main__":
    main()
