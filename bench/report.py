#!/usr/bin/env python3
"""Turns bench_convert's --benchmark_format=json output into a Markdown table
of throughput (MB/s, input bytes) per data set and direction, with each
converter's ratio to ICU from the same run.

    ./bench_convert --benchmark_format=json [--benchmark_repetitions=5] > out.json
    python3 bench/report.py out.json
"""
import json
import sys
from collections import defaultdict

CONVERTERS = ["mokavi", "mokavi_scalar", "icu", "iconv", "memcpy"]


def main(path):
    with open(path) as f:
        report = json.load(f)
    rates = defaultdict(dict)  # (direction, data set) -> converter -> MB/s
    # With --benchmark_repetitions the medians are used, otherwise single runs.
    repeated = any(b.get("run_type") == "aggregate" for b in report["benchmarks"])
    for bench in report["benchmarks"]:
        if "bytes_per_second" not in bench:
            continue
        if repeated and bench.get("aggregate_name") != "median":
            continue
        name = bench.get("run_name", bench["name"])
        direction, dataset, converter = name.split("/")[:3]
        rates[(direction, dataset)][converter] = bench["bytes_per_second"] / 1e6
    header = ["direction", "data"] + [f"{c} MB/s" for c in CONVERTERS] + ["mokavi / ICU"]
    print("| " + " | ".join(header) + " |")
    print("|" + "---|" * len(header))
    for (direction, dataset), row in sorted(rates.items()):
        cells = [direction, dataset]
        cells += [f"{row[c]:,.0f}" if c in row else "-" for c in CONVERTERS]
        icu = row.get("icu")
        cells.append(f"{row['mokavi'] / icu:.2f}x" if icu and "mokavi" in row else "-")
        print("| " + " | ".join(cells) + " |")


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "/dev/stdin")
