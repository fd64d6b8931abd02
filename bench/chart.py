"""Draws docs/bench.png from the results that `make bench` saved.

    python3.14 bench/chart.py CALLS_JSON BULK_JSON OUT_PNG

Left: single calls, time per call of orvath and PyGLM. Right: bulk members,
speed-up over numpy (numpy time / orvath time) per list size, log scale.
"""
import json
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402


def main(calls_path, bulk_path, out_path):
    with open(calls_path) as fh:
        calls = json.load(fh)
    with open(bulk_path) as fh:
        bulk = json.load(fh)

    fig, (left, right) = plt.subplots(1, 2, figsize=(15, 6.5), gridspec_kw={"width_ratios": [1, 1.3]})

    names = [r["operation"] for r in calls][::-1]
    ys = range(len(names))
    left.barh([y + 0.2 for y in ys], [r["orvath_ns"] for r in calls][::-1], height=0.4, label="orvath")
    left.barh([y - 0.2 for y in ys], [r["pyglm_ns"] for r in calls][::-1], height=0.4, label="PyGLM")
    left.set_yticks(list(ys), names, fontsize=8)
    left.set_xscale("log")
    left.set_xlabel("ns per call (median, lower is better)")
    left.set_title("Single calls: orvath vs PyGLM")
    left.legend()

    members = bulk["members"]
    sizes = bulk["sizes"]
    width = 0.8 / len(sizes)
    for k, n in enumerate(sizes):
        xs = [i + (k - (len(sizes) - 1) / 2) * width for i in range(len(members))]
        right.bar(xs, [bulk["ratios"][f"{m}@{n}"] for m in members], width=width, label=f"n = {n:.0e}")
    right.axhline(1.0, color="black", linewidth=0.8)
    right.set_xticks(range(len(members)), members, rotation=60, ha="right", fontsize=8)
    right.set_yscale("log")
    right.set_ylabel("numpy time / orvath time (higher is better)")
    right.set_title("VecList bulk members vs numpy (2 cores)")
    right.legend(fontsize=8)

    fig.tight_layout()
    fig.savefig(out_path, dpi=110)


if __name__ == "__main__":
    main(*sys.argv[1:4])
