#!/usr/bin/env python3
"""Runs every benchmark executable and prints one table: each figure beside
the baseline measured in the same run, and the ratio (above 1: faster than the
baseline).

Pairing rule: a benchmark named "X_baseline/args" (or "X_baseline") is the
baseline of "X/args" (or "X"). Figures are bytes/s when set, else items/s,
else time per iteration; user counters are printed as they come.
"""
import json
import os
import subprocess
import sys
import tempfile


def figure(b):
    if "bytes_per_second" in b:
        return b["bytes_per_second"] / 1e6, "MB/s", True
    if "items_per_second" in b:
        return b["items_per_second"], "ops/s", True
    return b["real_time"], b.get("time_unit", "ns"), False


def fmt(v):
    if v >= 1e6:
        return f"{v:,.0f}"
    if v >= 100:
        return f"{v:.0f}"
    return f"{v:.3g}"


def base_name(name):
    head, sep, tail = name.partition("/")
    if head.endswith("_baseline"):
        return head[: -len("_baseline")] + sep + tail, True
    return name, False


def run(exe, extra):
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        cmd = [exe, f"--benchmark_out={out.name}", "--benchmark_out_format=json"] + extra
        r = subprocess.run(cmd, stdout=subprocess.DEVNULL)
        if r.returncode != 0:
            print(f"{os.path.basename(exe)}: exited with {r.returncode}")
            return []
        try:
            return json.load(open(out.name)).get("benchmarks", [])
        except json.JSONDecodeError:
            return []  # a filter that matched nothing in this program


def main():
    bench_dir = sys.argv[1]
    extra = sys.argv[2:]
    exes = sorted(
        os.path.join(bench_dir, f)
        for f in os.listdir(bench_dir)
        if f.startswith("bench_") and os.path.isfile(os.path.join(bench_dir, f))
        and os.access(os.path.join(bench_dir, f), os.X_OK)
    ) if os.path.isdir(bench_dir) else []
    header = f"{'benchmark':<48} {'figure':>16} {'baseline':>16} {'ratio':>7}  unit / baseline"
    print(header)
    print("-" * len(header))
    for exe in exes:
        results = [b for b in run(exe, extra) if b.get("run_type") != "aggregate"]
        ours = {b["name"]: b for b in results if not base_name(b["name"])[1]}
        bases = {base_name(b["name"])[0]: b for b in results if base_name(b["name"])[1]}
        for name, b in ours.items():
            v, unit, higher_better = figure(b)
            line = f"{name:<48} {fmt(v):>16}"
            base = bases.get(name)
            if base:
                bv, _, _ = figure(base)
                ratio = v / bv if higher_better else bv / v
                label = base.get("label", "") or base_name(base["name"])[0]
                line += f" {fmt(bv):>16} {ratio:>7.2f}  {unit} / {label}"
            else:
                line += f" {'-':>16} {'-':>7}  {unit}"
            print(line)
            counters = {k: v for k, v in b.items()
                        if k not in ("name", "run_name", "run_type", "repetitions", "repetition_index",
                                     "threads", "iterations", "real_time", "cpu_time", "time_unit",
                                     "bytes_per_second", "items_per_second", "label", "family_index",
                                     "per_family_instance_index", "aggregate_name")
                        and isinstance(v, (int, float))}
            for k, cv in counters.items():
                print(f"    {k} = {fmt(cv)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
