#!/usr/bin/env python3
"""Plots open and commit time of the address book against its number of
entries, each beside its plain baseline, from kviabdb_bench's JSON output.

usage: plot_scaling.py BENCH.json OUT.png
"""
import json
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def medians(path):
    """run name -> median real time in microseconds."""
    with open(path) as f:
        data = json.load(f)
    out = {}
    for b in data["benchmarks"]:
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        name = b.get("run_name", b["name"])
        if b.get("run_type") == "iteration" and name in out:
            continue  # a run without repetitions has no median: keep the first
        out[name] = b["real_time"] * UNIT_NS[b.get("time_unit", "ns")] / 1e3
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
    fig, (left, right) = plt.subplots(1, 2, figsize=(11, 4.5))
    panels = [
        (left, "Open (load the whole book)", "BM_ScalingOpen", "BM_ScalingPlainRead", "plain read of the file"),
        (right, "Full commit (durable)", "BM_ScalingCommit", "BM_ScalingPlainWriteFsyncRename",
         "plain write + fsync + rename"),
    ]
    for ax, title, own, base, base_label in panels:
        for family, label, style in ((own, "KVIABDB", "o-"), (base, base_label, "s--")):
            pts = series(times, family)
            if pts:
                ax.plot([n for n, _ in pts], [t for _, t in pts], style, label=label)
        ax.set_title(title)
        ax.set_xlabel("entries in the address book")
        ax.set_ylabel("median time per operation (µs)")
        ax.set_xticks([50, 100, 200, 400, 800])
        ax.set_ylim(bottom=0)
        ax.grid(True, alpha=0.3)
        ax.legend()
    fig.suptitle("Address book: open and commit against the number of entries")
    fig.tight_layout()
    fig.savefig(sys.argv[2], dpi=110)


if __name__ == "__main__":
    main()
