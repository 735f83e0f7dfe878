#!/usr/bin/env python3
"""Writes bench/RESULTS.md from the results bench/run collected (Google Benchmark JSON files,
wrk outputs, the machine's description)."""

import argparse
import json
import re
import statistics
from pathlib import Path

OFM_SORTS = {1: "ConnectionNumber", 2: "UserName", 3: "FileName"}
CONNECTION_SORTS = {1: "ConnectionNumber", 2: "ConnectionName", 3: "LoginTime",
                    4: "FSActivity", 5: "ZupRequest", 6: "ConnectionType"}
UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


class Runs:
    """The benchmarks of one JSON file by run name: median times (ns), the spread of the CPU
    times over the repetitions, and the counters."""

    def __init__(self, path):
        data = json.loads(Path(path).read_text())
        self.context = data.get("context", {})
        self.runs = {}
        grouped = {}
        for entry in data["benchmarks"]:
            name = entry.get("run_name", entry["name"])
            grouped.setdefault(name, []).append(entry)
        for name, entries in grouped.items():
            aggregates = {e.get("aggregate_name"): e for e in entries
                          if e.get("run_type") == "aggregate"}
            iterations = [e for e in entries if e.get("run_type") != "aggregate"]
            if "median" in aggregates:
                middle = aggregates["median"]
                cv = aggregates.get("cv", {}).get("cpu_time")
                repetitions = middle.get("repetitions", 0)
            else:
                middle = iterations[len(iterations) // 2]
                cv = None
                repetitions = len(iterations)
            scale = UNIT_NS[middle.get("time_unit", "ns")]
            self.runs[name] = {
                "cpu": middle["cpu_time"] * scale,
                "real": middle["real_time"] * scale,
                "cv": cv,
                "repetitions": repetitions,
                "counters": middle,
            }

    def get(self, name):
        return self.runs.get(name)


def ms(ns):
    return f"{ns / 1e6:,.2f}"


def per_row(ns, rows):
    return f"{ns / rows:,.0f}"


def percent(cv):
    return "–" if cv is None else f"{cv * 100:.1f} %"


def verdict(ok):
    return "met" if ok else "**not met**"


def wrk_figures(path):
    text = Path(path).read_text()
    figures = {}
    match = re.search(r"Requests/sec:\s+([\d.]+)", text)
    figures["rps"] = float(match.group(1)) if match else 0.0
    match = re.search(r"Transfer/sec:\s+([\d.]+)(\w+)", text)
    if match:
        factor = {"B": 1, "KB": 1024, "MB": 1024 ** 2, "GB": 1024 ** 3}.get(match.group(2), 1)
        figures["transfer"] = float(match.group(1)) * factor
    for quantile in ("50%", "99%"):
        match = re.search(r"^\s+" + re.escape(quantile) + r"\s+([\d.]+)(\w+)", text, re.M)
        if match:
            factor = {"us": 1e-3, "ms": 1.0, "s": 1e3}.get(match.group(2), 1.0)
            figures[quantile] = float(match.group(1)) * factor
    match = re.search(r"Non-2xx or 3xx responses:\s+(\d+)", text)
    figures["errors"] = int(match.group(1)) if match else 0
    return figures


def page_section(out, title, runs, page, floor, sizes, sorts, row_name, goal_size):
    out.append(f"### {title}\n")
    out.append(f"| {row_name} | sort | page CPU ms | page ns/row | page real ms | spread | "
               f"page bytes | bytes/row | floor ns/row | ratio to floor |")
    out.append("|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    goal = []
    worst = 0.0
    for size in sizes:
        for sort, keyword in sorts.items():
            name = f"{page}/{row_name}:{size}/sort:{sort}"
            page_run = runs.get(name)
            floor_run = runs.get(f"{floor}/{row_name}:{size}/sort:{sort}")
            if page_run is None or floor_run is None:
                out.append(f"| {size:,} | {keyword} | missing | | | | | | | |")
                continue
            counters = page_run["counters"]
            page_bytes = counters.get("page_bytes", 0)
            ratio = page_run["cpu"] / floor_run["cpu"]
            worst = max(worst, ratio)
            if size == goal_size:
                goal.append(ratio)
            out.append(
                f"| {size:,} | {keyword} | {ms(page_run['cpu'])} | "
                f"{per_row(page_run['cpu'], size)} | {ms(page_run['real'])} | "
                f"{percent(page_run['cv'])} | {page_bytes:,.0f} | {page_bytes / size:,.0f} | "
                f"{per_row(floor_run['cpu'], size)} | {ratio:.2f} |")
    out.append("")
    return goal


def breakdown_section(out, runs, listing, copy, page, floor, sizes, row_name, sort_suffix):
    out.append(f"| {row_name} | monitoring listing ns/row | listing + copy into nodes "
               f"(+ sort) + free ns/row | whole page ns/row | floor ns/row |")
    out.append("|---:|---:|---:|---:|---:|")
    for size in sizes:
        listing_run = runs.get(f"{listing}/{row_name}:{size}")
        copy_run = runs.get(f"{copy}/{row_name}:{size}{sort_suffix}")
        page_run = runs.get(f"{page}/{row_name}:{size}/sort:1")
        floor_run = runs.get(f"{floor}/{row_name}:{size}/sort:1")
        cells = [per_row(r["cpu"], size) if r else "–"
                 for r in (listing_run, copy_run, page_run, floor_run)]
        out.append(f"| {size:,} | " + " | ".join(cells) + " |")
    out.append("")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--results", required=True)
    parser.add_argument("--command", required=True)
    parser.add_argument("--repetitions", type=int, required=True)
    parser.add_argument("--output", required=True)
    args = parser.parse_args()
    results = Path(args.results)

    ofm = Runs(results / "bench_ofm_page.json")
    connections = Runs(results / "bench_connections_page.json")
    sorts = Runs(results / "bench_sort.json")
    memory = Runs(results / "bench_memory.json")
    http = json.loads((results / "http.json").read_text())
    machine = (results / "machine.txt").read_text().strip().splitlines()
    load_before = (results / "load-before.txt").read_text().strip()
    load_after = (results / "load-after.txt").read_text().strip()

    out = ["# Benchmark results", ""]
    out.append("Written by `bench/report.py` from the run below; the figures are this machine's, "
               "taken while other builds shared it (see Noise).")
    out.append("")
    out.append(f"Command: `{args.command}` (Release build in `build/bench`, "
               f"{args.repetitions} repetition(s) per benchmark, medians shown).")
    out.append("")
    out.append("## Machine\n")
    for line in machine:
        key, _, value = line.partition(": ")
        out.append(f"- {key}: {value}")
    out.append(f"- load before the run: `{load_before}`")
    out.append(f"- load after the run: `{load_after}`")
    out.append("")

    goals = []

    out.append("## Pages without the network\n")
    out.append("Each page is served through its service method on a `kel::console::Request` of "
               "libkel.so (the console's request object and response buffer), from the "
               "monitoring call (libcifsmonitoring's demo backend, a state file written by the "
               "generator) to the last byte in the response buffer, the plug-in's logger at "
               "warning level. The floor writes the same rows' bytes with one `snprintf` each "
               "into a preallocated buffer from arguments prepared beforehand; its setup checks "
               "that its bytes stand in the page unchanged. Ratios are of CPU times; *spread* is "
               "the coefficient of variation of the page's CPU time over the repetitions.\n")
    goal = page_section(out, "Manage Open Files, one volume", ofm, "OfmPage", "OfmFloor",
                        [1000, 10000, 100000, 1000000], OFM_SORTS, "files", 100000)
    million = [ofm.get(f"OfmPage/files:1000000/sort:{s}") for s in OFM_SORTS]
    complete = all(run is not None and run["counters"].get("page_bytes", 0) > 0
                   for run in million)
    goals.append(("Open-files page at 100,000 files: at most 2 × the floor (every sort order)",
                  f"worst {max(goal):.2f} ×" if goal else "missing", bool(goal) and max(goal) <= 2))
    goals.append(("The million-file page complete",
                  "complete (checked to end with its closing tags)" if complete else "missing",
                  complete))
    out.append("Where the open-files page's time goes (sort by connection number):\n")
    breakdown_section(out, ofm, "OfmListing", "OfmCopy", "OfmPage", "OfmFloor",
                      [1000, 10000, 100000, 1000000], "files", "")

    goal = page_section(out, "Manage Connections, the list", connections, "ConnectionsPage",
                        "ConnectionsFloor", [1000, 10000, 100000], CONNECTION_SORTS,
                        "connections", 100000)
    goals.append(("Connection list at 100,000 connections: at most 2 × the floor (every order)",
                  f"worst {max(goal):.2f} ×" if goal else "missing", bool(goal) and max(goal) <= 2))
    out.append("Where the connection list's time goes (sort by connection number):\n")
    breakdown_section(out, connections, "ConnectionsListing", "ConnectionsCopy",
                      "ConnectionsPage", "ConnectionsFloor", [1000, 10000, 100000],
                      "connections", "/sort:1")

    out.append("## Sorting alone\n")
    out.append("The plug-in's list merge sort (`mergesortFile`, `mergesort`) on the plug-in's own "
               "nodes, against `std::stable_sort` of an array of pointers to the same nodes by "
               "the same key (the array is filled outside the timing, the list relinked outside "
               "the timing). CPU times.\n")
    out.append("| list | nodes | sort | merge sort ms | stable_sort ms | ratio | spread |")
    out.append("|---|---:|---|---:|---:|---:|---:|")
    worst = 0.0
    for kind, names, sizes in (("OpenFile", OFM_SORTS, [1000, 10000, 100000, 1000000]),
                               ("Connection", CONNECTION_SORTS, [1000, 10000, 100000])):
        for size in sizes:
            for sort, keyword in names.items():
                merge = sorts.get(f"{kind}MergeSort/nodes:{size}/sort:{sort}")
                stable = sorts.get(f"{kind}StableSort/nodes:{size}/sort:{sort}")
                if merge is None or stable is None:
                    continue
                ratio = merge["cpu"] / stable["cpu"]
                worst = max(worst, ratio)
                out.append(f"| {kind} | {size:,} | {keyword} | {merge['cpu'] / 1e6:,.3f} | "
                           f"{stable['cpu'] / 1e6:,.3f} | {ratio:.2f} | "
                           f"{percent(merge['cv'])} |")
    out.append("")
    goals.append(("Merge sort at most 2 × std::stable_sort (every list, size and order)",
                  f"worst {worst:.2f} ×", worst <= 2))

    out.append("## Memory of the million-file page\n")
    run = memory.get("OfmPagePeakMemory/files:1000000/iterations:1") or next(
        iter(memory.runs.values()))
    counters = run["counters"]
    held = counters["record_bytes"] + counters["node_bytes"] + counters["page_bytes"]
    mib = 1024.0 * 1024.0
    out.append("One page (sorted by file name) in a process that has let the monitoring library "
               "parse its state first; the peak is the kernel's (VmHWM, reset just before the "
               "page). Records and nodes are what the allocator holds for them (mallinfo2, headers "
               "included), measured apart after the page.\n")
    out.append("| figure | MiB |")
    out.append("|---|---:|")
    for label, value in (("resident before the page (baseline)", counters["baseline_rss"]),
                         ("peak resident during the page", counters["peak_rss"]),
                         ("peak increase over the baseline", counters["peak_increase"]),
                         ("monitoring library's records", counters["record_bytes"]),
                         ("plug-in's OpenFileInfo nodes", counters["node_bytes"]),
                         ("page bytes", counters["page_bytes"]),
                         ("records + nodes + page", held)):
        out.append(f"| {label} | {value / mib:,.1f} |")
    out.append("")
    ratio = counters["peak_increase"] / held
    out.append(f"Peak increase ÷ (records + nodes + page) = **{ratio:.2f}**; the baseline holds "
               f"the demo backend's parsed state (kept between requests) and the program.\n")
    goals.append(("Peak memory of the million-file page at most 1.5 × (records + nodes + page)",
                  f"{ratio:.2f} ×", ratio <= 1.5))

    out.append("## Over HTTP\n")
    out.append(f"`{http['wrk']}` on loopback, {http['rounds']} round(s) alternating between "
               f"kelconsole ({http['console_threads']} request threads, logged in, GET "
               f"`{http['page_path']}`: the open-files page of a volume with "
               f"{http['rows']:,} open files, {http['page_bytes']:,} bytes, generated per "
               f"request) and nginx (workers {http['nginx_workers']}, the same bytes as a static "
               f"file). wrk runs on the same two cores.\n")
    out.append("| server | round | requests/s | transfer MiB/s | p50 ms | p99 ms | errors |")
    out.append("|---|---:|---:|---:|---:|---:|---:|")
    medians = {}
    for server in ("kelconsole", "nginx"):
        rates = []
        for round_number in range(1, http["rounds"] + 1):
            figures = wrk_figures(results / f"wrk-{server}-{round_number}.txt")
            rates.append(figures["rps"])
            out.append(f"| {server} | {round_number} | {figures['rps']:,.0f} | "
                       f"{figures.get('transfer', 0) / mib:,.0f} | {figures.get('50%', 0):.2f} | "
                       f"{figures.get('99%', 0):.2f} | {figures['errors']} |")
        medians[server] = statistics.median(rates)
    out.append("")
    ratio = medians["kelconsole"] / medians["nginx"] if medians["nginx"] else 0.0
    out.append(f"Median requests/s: kelconsole {medians['kelconsole']:,.0f}, nginx "
               f"{medians['nginx']:,.0f}: kelconsole serves **{ratio:.2f}** of nginx's rate.\n")
    goals.append(("kelconsole at least half of nginx's requests per second",
                  f"{ratio:.2f} of nginx", ratio >= 0.5))

    out.append("## Goals\n")
    out.append("| goal | figure | |")
    out.append("|---|---|---|")
    for label, figure, ok in goals:
        out.append(f"| {label} | {figure} | {verdict(ok)} |")
    out.append("")

    notes = Path(__file__).resolve().parent / "notes.md"
    if notes.exists():
        out.append(notes.read_text().strip())
        out.append("")
    Path(args.output).write_text("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
