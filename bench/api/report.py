#!/usr/bin/env python3
"""Writes BENCHMARKS.md (to stdout) from the JSON results bench/run.sh leaves
in a directory: bench_api.json (UTF-8 locale), bench_api.lc_all_c.json
(interpreter life cycle under LC_ALL=C) and one JSON file per other bench
executable. Figures are medians over the repetitions when there are any.

    python3 bench/api/report.py [--chart bench/conversions.png] build-bench/results > BENCHMARKS.md

The chart (PNG, gnuplot) is drawn only when gnuplot is installed.
"""
import json
import os
import platform
import shutil
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
CONVERT_REPORT = os.path.join(HERE, "..", "report.py")

# group -> (what it measures, number of API calls per iteration)
CALLS = {
    "Eval": ('`MkSvEval("1")`', 1),
    "EvalSv": ("`MkSvEvalSv` of a value holding `1`", 1),
    "GetSV": ('`MkGetSV("x", 0)`', 1),
    "LenGet10": ("`MkSvLEN` + `MkSvGET`, 10-char string, narrow", 2),
    "LenGet10Wide": ("`MkSvLEN` + `MkSvGET`, 10-char string, wide (reference: ICU)", 2),
    "FetchAV": ("`MkSvFetchAV`", 1),
    "NewStoreAv": ("`MkSvNew` + `MkStoreAv` over the previous element", 2),
}
RATIO_TARGETS = {"Eval": 1.10, "EvalSv": 1.10, "CreateDestroy": 1.05, "MemoryPerInterpreter": 1.05}
NS_PER_CALL_TARGET = 20.0
TO_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def load(path):
    with open(path) as f:
        return json.load(f)


def normalise(name):
    """Drops the modifiers Google Benchmark appends, except the thread count,
    and says whether the figure to read is wall-clock time."""
    parts = name.split("/")
    real = "real_time" in parts
    kept = [p for p in parts if p != "real_time" and not p.startswith("iterations:")]
    return "/".join(kept), real


def medians(report):
    """run name -> benchmark entry (the median aggregate when there is one)."""
    chosen = {}
    for b in report["benchmarks"]:
        name, real = normalise(b.get("run_name", b["name"]))
        b = dict(b, use_real_time=real)
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                chosen[name] = b
        elif name not in chosen or chosen[name].get("run_type") != "aggregate":
            chosen[name] = b  # no repetitions: the single run
    return chosen


def time_ns(b):
    """Wall-clock time where it is what matters (threads, child processes),
    otherwise the thread's CPU time, which a busy machine disturbs less."""
    key = "real_time" if b.get("use_real_time") else "cpu_time"
    return b[key] * TO_NS[b.get("time_unit", "ns")]


def load_instructions(directory):
    """(locale, case) -> instructions per step, from callgrind."""
    counts = {}
    path = os.path.join(directory, "instructions.txt")
    if os.path.exists(path):
        with open(path) as f:
            for line in f:
                locale, case, n = line.split()
                if int(n) > 0:
                    counts[(locale, case)] = int(n)
    return counts


def fmt_time(ns):
    if ns >= 1e6:
        return f"{ns / 1e6:,.2f} ms"
    if ns >= 1e3:
        return f"{ns / 1e3:,.1f} µs"
    return f"{ns:,.1f} ns"


def verdict(ok):
    return "met" if ok else "**not met**"


def instr_cells(ir, group, calls=1, locale="LANG=C.UTF-8"):
    m, r = ir.get((locale, f"{group}/mokavi")), ir.get((locale, f"{group}/libperl"))
    if not m or not r:
        return "-", "-", "-"
    return f"{m:,} / {r:,}", f"{m / r:.3f}×", f"{(m - r) / calls:+,.0f}"


def instr_verdict(ir, group, locale, limit):
    m, r = ir.get((locale, f"{group}/mokavi")), ir.get((locale, f"{group}/libperl"))
    return verdict(m / r <= limit) if m and r else "-"


def api_tables(runs, runs_c, ir, out):
    out.append("## Per-call overhead (UTF-8 locale)\n")
    out.append("Time per iteration: the thread's CPU time, median of the repetitions. The reference "
               "is raw libperl doing the same work, scoped the same way, in the same run. "
               "Instructions per iteration are counted by callgrind (mokavi / raw); they do not "
               "depend on the machine's load.\n")
    out.append("| call | mokavi | raw libperl | ratio | added per call | target | time verdict | "
               "instructions | instr. ratio | instr. added per call | instr. verdict |")
    out.append("|---|---|---|---|---|---|---|---|---|---|---|")
    for group, (label, calls) in CALLS.items():
        m, r = runs.get(f"{group}/mokavi"), runs.get(f"{group}/libperl")
        if not m or not r:
            continue
        tm, tr = time_ns(m), time_ns(r)
        added = (tm - tr) / calls
        if group in RATIO_TARGETS:
            target = f"≤ {RATIO_TARGETS[group]:.2f}×"
            ok = tm / tr <= RATIO_TARGETS[group]
        else:
            target = f"≤ ~{NS_PER_CALL_TARGET:.0f} ns/call"
            ok = added <= NS_PER_CALL_TARGET
        im, irr = ir.get(("LANG=C.UTF-8", f"{group}/mokavi")), ir.get(("LANG=C.UTF-8", f"{group}/libperl"))
        instr_ok = "-"
        if im and irr and group in RATIO_TARGETS:
            instr_ok = verdict(im / irr <= RATIO_TARGETS[group])
        out.append(f"| {label} | {fmt_time(tm)} | {fmt_time(tr)} | {tm / tr:.2f}× | "
                   f"{added:+.1f} ns | {target} | {verdict(ok)} | "
                   + " | ".join(instr_cells(ir, group, calls)) + f" | {instr_ok} |")
    out.append("")
    out.append("The library keeps every evaluation's result alive until the interpreter is "
               "destroyed; the raw reference above drops it at the end of its scope. Against raw "
               "libperl that keeps its results the same way:\n")
    out.append("| call | mokavi | raw libperl, result kept | ratio | instructions | instr. ratio |")
    out.append("|---|---|---|---|---|---|")
    for group in ("Eval", "EvalSv"):
        m, k = runs.get(f"{group}/mokavi"), runs.get(f"{group}/libperl_kept")
        im = ir.get(("LANG=C.UTF-8", f"{group}/mokavi"))
        ik = ir.get(("LANG=C.UTF-8", f"{group}/libperl_kept"))
        if m and k:
            out.append(f"| {CALLS[group][0]} | {fmt_time(time_ns(m))} | {fmt_time(time_ns(k))} | "
                       f"{time_ns(m) / time_ns(k):.2f}× | "
                       f"{f'{im:,} / {ik:,}' if im and ik else '-'} | "
                       f"{f'{im / ik:.3f}×' if im and ik else '-'} |")
    out.append("")

    m, r = runs.get("WideRoundTrip4MiB/mokavi"), runs.get("WideRoundTrip4MiB/libperl")
    if m and r:
        out.append("## Wide-mode host round trip, 4 MiB of UTF-16\n")
        out.append("`MkSvSetPv` of the text, then `MkSvLEN` + `MkSvGET`, against ICU "
                   "(`u_strToUTF8WithSub` / `u_strFromUTF8WithSub`, preflight + convert) with "
                   "`sv_setpvn` / `SvPV`. Throughput counts the UTF-16 input bytes.\n")
        out.append("| path | time | MB/s | ratio to raw libperl + ICU (time) | instructions | "
                   "instr. ratio |")
        out.append("|---|---|---|---|---|---|")
        for label, variant, b in (("mokavi", "mokavi", m), ("raw libperl + ICU", "libperl", r)):
            n = ir.get(("LANG=C.UTF-8", f"WideRoundTrip4MiB/{variant}"))
            nr = ir.get(("LANG=C.UTF-8", "WideRoundTrip4MiB/libperl"))
            out.append(f"| {label} | {fmt_time(time_ns(b))} | {b['bytes_per_second'] / 1e6:,.0f} | "
                       f"{time_ns(b) / time_ns(r):.2f}× | {f'{n:,}' if n else '-'} | "
                       f"{f'{n / nr:.3f}×' if n and nr else '-'} |")
        out.append("")

    out.append("## Interpreter create + destroy\n")
    out.append("| locale | mokavi | raw perl_alloc … perl_free | ratio | `perl -e 0` process | "
               "ratio to process | target ≤ 1.05× (time) | instructions | instr. ratio | "
               "target ≤ 1.05× (instr.) |")
    out.append("|---|---|---|---|---|---|---|---|---|---|")
    for locale, rs in (("LANG=C.UTF-8", runs), ("LC_ALL=C", runs_c)):
        m, r, p = (rs.get(f"CreateDestroy/{v}") for v in ("mokavi", "libperl", "perl_process"))
        if not m or not r:
            continue
        tm, tr = time_ns(m), time_ns(r)
        tp = time_ns(p) if p else None
        out.append(f"| {locale} | {fmt_time(tm)} | {fmt_time(tr)} | {tm / tr:.2f}× | "
                   f"{fmt_time(tp) if tp else '-'} | {f'{tm / tp:.3f}×' if tp else '-'} | "
                   f"{verdict(tm / tr <= 1.05)} | "
                   + " | ".join(instr_cells(ir, "CreateDestroy", 1, locale)[:2]) + " | "
                   + instr_verdict(ir, "CreateDestroy", locale, 1.05) + " |")
    m8, mc = runs.get("CreateDestroy/mokavi"), runs_c.get("CreateDestroy/mokavi")
    r8, rc = runs.get("CreateDestroy/libperl"), runs_c.get("CreateDestroy/libperl")
    if m8 and mc and r8 and rc:
        out.append("")
        out.append(f"Locale effect: a create + destroy cycle under `LANG=C.UTF-8` costs "
                   f"{time_ns(m8) / time_ns(mc):.2f}× (mokavi) and {time_ns(r8) / time_ns(rc):.2f}× "
                   f"(raw libperl) what it costs under `LC_ALL=C`. The library holds the "
                   f"environment's locale for the life of the process, so construction stops "
                   f"loading the locale files again each time; the raw reference runs in the "
                   f"same process and gains from that too. Before the hold, the cycle under "
                   f"`LANG=C.UTF-8` cost 2.3–2.5× the `LC_ALL=C` one.")
    out.append("")

    m, r = runs.get("MemoryPerInterpreter/mokavi"), runs.get("MemoryPerInterpreter/libperl")
    g = {v: runs.get(f"GrowthPerEval/{v}") for v in ("mokavi", "libperl", "libperl_kept")}
    out.append("## Memory\n")
    out.append("Measured in a forked child per variant. Resident bytes from `/proc/self/statm`, "
               "heap bytes in use from `mallinfo2()`.\n")
    out.append("| figure | mokavi | raw libperl | ratio | target | |")
    out.append("|---|---|---|---|---|---|")
    if m and r:
        for key, label in (("resident_bytes", "resident bytes per live interpreter (64 live)"),
                           ("heap_bytes", "heap bytes per live interpreter (64 live)")):
            ratio = m[key] / r[key] if r[key] else float("inf")
            target = "≤ 1.05×" if key == "resident_bytes" else ""
            mark = verdict(ratio <= 1.05) if key == "resident_bytes" else ""
            out.append(f"| {label} | {m[key]:,.0f} | {r[key]:,.0f} | {ratio:.3f}× | {target} | {mark} |")
    if g["mokavi"] and g["libperl"]:
        for key, label in (("heap_bytes", "heap growth per `MkSvEval(\"1\")`, 1,000,000 calls"),
                           ("resident_bytes", "resident growth per `MkSvEval(\"1\")`, 1,000,000 calls")):
            kept = g["libperl_kept"][key] if g["libperl_kept"] else None
            out.append(f"| {label} | {g['mokavi'][key]:.1f} B | {g['libperl'][key]:.1f} B "
                       f"(result dropped); {kept:.1f} B (result kept, as the library promises) | "
                       f"{g['mokavi'][key] / kept:.2f}× of kept | | |" if kept else
                       f"| {label} | {g['mokavi'][key]:.1f} B | {g['libperl'][key]:.1f} B | | | |")
    out.append("")

    out.append("## Scaling: evaluation throughput, one interpreter per thread\n")
    out.append("Wall-clock throughput needs a free CPU per thread; on a loaded machine the CPU time "
               "per evaluation (each thread's own CPU time) is the better sign of whether threads "
               "get in each other's way.\n")
    out.append("| threads | mokavi evals/s | raw libperl evals/s | ratio | mokavi scaling | raw scaling | "
               "mokavi CPU per eval | raw CPU per eval |")
    out.append("|---|---|---|---|---|---|---|---|")
    base = {}
    for threads in (1, 2):
        m = runs.get(f"EvalThreads/mokavi/threads:{threads}")
        r = runs.get(f"EvalThreads/libperl/threads:{threads}")
        if not m or not r:
            continue
        im, ir = m["items_per_second"], r["items_per_second"]
        base.setdefault("m", im)
        base.setdefault("r", ir)
        cm = m["cpu_time"] * TO_NS[m.get("time_unit", "ns")]
        cr = r["cpu_time"] * TO_NS[r.get("time_unit", "ns")]
        out.append(f"| {threads} | {im:,.0f} | {ir:,.0f} | {im / ir:.2f}× | {im / base['m']:.2f}× | "
                   f"{ir / base['r']:.2f}× | {fmt_time(cm)} | {fmt_time(cr)} |")
    out.append("")


def convert_table(path, out):
    """The conversion table, laid out by the converter's own report script,
    fed the medians."""
    report = load(path)
    entries = []
    for name, b in medians(report).items():
        b = dict(b, name=name, run_type="iteration")
        entries.append(b)
    with tempfile.NamedTemporaryFile("w", suffix=".json", delete=False) as f:
        json.dump({"context": report["context"], "benchmarks": entries}, f)
        tmp = f.name
    try:
        table = subprocess.run([sys.executable, CONVERT_REPORT, tmp], check=True,
                               capture_output=True, text=True).stdout
    finally:
        os.unlink(tmp)
    out.append(table)


def conversion_chart(path, png):
    """Grouped bars of conversion throughput per data set and converter
    (log scale, so memcpy fits), drawn by gnuplot. Returns False when there
    is no gnuplot."""
    if not shutil.which("gnuplot"):
        return False
    rates, converters = {}, []
    for name, b in medians(load(path)).items():
        parts = name.split("/")
        if len(parts) < 3 or "bytes_per_second" not in b:
            continue
        rates.setdefault(f"{parts[0]} {parts[1]}".replace("_", " "), {})[parts[2]] = b["bytes_per_second"] / 1e6
        if parts[2] not in converters:
            converters.append(parts[2])
    if not rates:
        return False
    preferred = ["mokavi", "mokavi_scalar", "icu", "iconv", "memcpy"]
    converters.sort(key=lambda c: (preferred.index(c) if c in preferred else len(preferred), c))
    with tempfile.TemporaryDirectory() as tmp:
        data = os.path.join(tmp, "rates.dat")
        with open(data, "w") as f:
            for group in sorted(rates):
                f.write(f'"{group}" ' + " ".join(str(rates[group].get(c, "NaN")) for c in converters) + "\n")
        columns = ", ".join(f"'{data}' using {i + 2}:xtic(1) title '{c.replace('_', ' ')}'"
                            for i, c in enumerate(converters))
        script = f"""set terminal pngcairo size 1200,600 font ",10"
set output '{png}'
set title 'Measure-then-convert throughput, ~4 MiB inputs (MB/s of input, log scale)'
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.8 border -1
set logscale y
set yrange [100:*]
set grid ytics
set key outside right top
set xtics rotate by -20
plot {columns}
"""
        subprocess.run(["gnuplot"], input=script, text=True, check=True, capture_output=True)
    return True


def generic_table(title, path, out):
    out.append(f"## {title}\n")
    out.append("| benchmark | time | throughput |")
    out.append("|---|---|---|")
    for name, b in sorted(medians(load(path)).items()):
        rate = f"{b['bytes_per_second'] / 1e6:,.0f} MB/s" if "bytes_per_second" in b else ""
        out.append(f"| {name} | {fmt_time(time_ns(b))} | {rate} |")
    out.append("")


def machine(context):
    def sh(cmd):
        try:
            return subprocess.run(cmd, shell=True, capture_output=True, text=True).stdout.strip()
        except OSError:
            return ""
    cpu = sh("lscpu | sed -n 's/^Model name: *//p' | head -1")
    mem = sh("free -g | awk '/^Mem:/ {print $2 \" GiB\"}'")
    perl = sh("perl -e 'print $^V'")
    cxx = sh("c++ --version | head -1")
    flags = sh("grep -o -w -E 'avx2|avx512f|avx512bw' /proc/cpuinfo | sort -u | tr '\\n' ' '")
    load_avg = ", ".join(f"{x:.2f}" for x in context.get("load_avg", []))
    return [
        f"- CPU: {cpu} ({context.get('num_cpus')} logical CPUs at {context.get('mhz_per_cpu')} MHz; "
        f"{flags.strip() or 'no AVX2'})",
        f"- Memory: {mem}",
        f"- OS: {platform.platform()}",
        f"- Compiler: {cxx}; Release build (-O2 or better)",
        f"- Perl: {perl} (the system libperl)",
        f"- Load average when the run started: {load_avg}",
        f"- Date: {context.get('date')}",
    ]


def main(directory, chart=None, chart_base="BENCHMARKS.md"):
    api = os.path.join(directory, "bench_api.json")
    api_c = os.path.join(directory, "bench_api.lc_all_c.json")
    others = sorted(f for f in os.listdir(directory)
                    if f.endswith(".json") and not f.startswith("bench_api"))
    out = ["# Benchmarks", "",
           "Written by `bench/run.sh`; every ratio compares with a reference measured in the same "
           "process and run. Ratios below 1 mean the library is faster than the reference; on a "
           "busy shared machine differences of a few percent are within the noise: the "
           "instruction counts (callgrind) next to the times are the load-independent check.", "",
           "- *mokavi*: through the C API; *raw libperl*: the same work with libperl calls, "
           "scoped the same way (`ENTER`/`SAVETMPS` … `FREETMPS`/`LEAVE` around evaluations).",
           "- Evaluation results stay alive until the interpreter is destroyed (the API's promise), "
           "so each `MkSvEval` grows the heap by one value; the raw reference that keeps its "
           "results grows by the same amount.",
           "- The wide round trip's cost is almost all conversion, so it follows the converter's "
           "throughput on the same kind of text (Latin prose here).", ""]
    context = None
    if os.path.exists(api):
        report = load(api)
        context = report["context"]
        runs_c = medians(load(api_c)) if os.path.exists(api_c) else {}
        api_tables(medians(report), runs_c, load_instructions(directory), out)
    for f in others:
        path = os.path.join(directory, f)
        if f == "bench_convert.json" and os.path.exists(CONVERT_REPORT):
            out.append("## Conversions, measure-then-convert (input MB/s; ratio to ICU)\n")
            convert_table(path, out)
            if chart and conversion_chart(path, chart):
                out.append(f"![Conversion throughput]({os.path.relpath(chart, os.path.dirname(chart_base))})\n")
        else:
            generic_table(f[:-5], path, out)
        context = context or load(path)["context"]
    out.append("## Machine\n")
    out += machine(context or {})
    out.append("")
    out.append("## Reproduce\n")
    out.append("```sh\nbench/run.sh            # builds build-bench/ in Release, runs every benchmark, "
               "rewrites BENCHMARKS.md\n```\n")
    out.append("It installs what it needs with `apt-get` (the project's prerequisites, "
               "libbenchmark-dev, python3, valgrind, gnuplot-nox). `REPETITIONS=N` sets the repetitions (default 5); the raw "
               "JSON stays in `build-bench/results/`. A single executable can be run by hand, e.g. "
               "`build-bench/bench/api/bench_api --benchmark_filter=Eval`.")
    print("\n".join(out))


if __name__ == "__main__":
    args = sys.argv[1:]
    chart = None
    if len(args) >= 2 and args[0] == "--chart":
        chart = os.path.abspath(args[1])
        args = args[2:]
    main(args[0] if args else "build-bench/results", chart, os.path.abspath("BENCHMARKS.md"))
