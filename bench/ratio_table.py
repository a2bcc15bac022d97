#!/usr/bin/env python3
"""Prints the ratio table of a korvo_bench run.

Reads Google Benchmark's JSON output (run with --benchmark_repetitions and
--benchmark_report_aggregates_only=true) and sets each SDK case beside its
peer: ratios of medians of CPU time (of the byte counters for memory), the
spread between repetitions (coefficient of variation) and whether the target
is met. Given a second results file (another run of the same build), it adds
that run's ratio, so the spread between runs shows too; the verdict is the
first run's. Timings never fail anything: the exit code is 0 whenever the
files could be read.
"""
import json
import sys

DOCUMENTS = ["twitter", "citm_catalog", "canada"]


def rows():
    """(label, ours, peer, kind, limit): kind 'max' wants ours/peer <= limit,
    'faster' wants peer/ours >= limit, 'abs_ns' wants ours <= limit ns,
    'linear' wants the time per byte at the long size <= limit times the time
    per byte at 1 KiB, 'info' has no target."""
    out = []
    for doc in DOCUMENTS + ["ui-state"]:
        prefix = f"Json/{doc}/"
        has_target = doc in DOCUMENTS
        out.append((f"ReadJson / RapidJSON SAX floor  [{doc}]", prefix + "ReadJson",
                    prefix + "rapidjson_sax_floor", "max" if has_target else "info", 1.6))
        out.append((f"ReadJson / RapidJSON Document   [{doc}]", prefix + "ReadJson",
                    prefix + "rapidjson_document", "info", None))
        out.append((f"ReadJson / simdjson DOM         [{doc}]", prefix + "ReadJson",
                    prefix + "simdjson_dom", "info", None))
        out.append((f"nlohmann / ReadJson (speed-up)  [{doc}]", prefix + "ReadJson",
                    prefix + "nlohmann", "faster" if has_target else "info", 4.0))
    for doc in DOCUMENTS + ["ui-state"]:
        prefix = f"MessagePack/{doc}/"
        out.append((f"ReadMessagePack / msgpack-cxx   [{doc}]", prefix + "ReadMessagePack",
                    prefix + "msgpack_cxx_unpack", "max", 2.0))
    for doc in DOCUMENTS + ["ui-state"]:
        prefix = f"Yaml/{doc}/"
        out.append((f"ReadYaml / libyaml event floor  [{doc}]", prefix + "ReadYaml",
                    prefix + "libyaml_events_floor", "max", 1.25))
        out.append((f"yaml-cpp / ReadYaml (speed-up)  [{doc}]", prefix + "ReadYaml",
                    prefix + "yaml_cpp_load", "faster", 6.0))
    for doc in DOCUMENTS + ["ui-state"]:
        prefix = f"Memory/{doc}/"
        out.append((f"tree bytes / Document bytes     [{doc}]", prefix + "ReadJson_tree/iterations:5",
                    prefix + "rapidjson_document/iterations:5", "mem", 1.0))
    out.append(("FormatToString / snprintf        [3 args]", "Format/three_arguments/FormatToString",
                "Format/three_arguments/snprintf_floor", "max", 1.5))
    out.append(("FormatToString printf form / snprintf", "Format/three_arguments/FormatToString_printf_form",
                "Format/three_arguments/snprintf_floor", "info", None))
    out.append(("LogMessage filtered (ns)", "Log/filtered/LogMessage", None, "abs_ns", 5.0))
    out.append(("LogMessage to discarding target (ns)", "Log/discarding_target/LogMessage", None, "abs_ns", None))
    for case in ["ui_state", "ui_state_miss", "two_segments", "reserved_1KiB", "segment_1KiB"]:
        out.append((f"MatchRoute / std::regex         [{case}]", f"Routes/{case}/MatchRoute",
                    f"Routes/{case}/std_regex_floor", "max" if case == "ui_state" else "info", 1.0))
    for kind in ["reserved", "segment"]:
        for size, factor in [("64KiB", 64), ("1MiB", 1024)]:
            out.append((f"MatchRoute per byte {size} / 1KiB [{kind}]", f"Routes/{kind}_{size}/MatchRoute",
                        f"Routes/{kind}_1KiB/MatchRoute", "linear", (factor, 1.5)))
    out.append(("UI-state write / hand floor", "Dispatch/write_ui_state/callback",
                "Dispatch/write_ui_state/hand_floor", "max", 2.0))
    out.append(("single read (ns)", "Dispatch/read_ui_state/callback", None, "abs_ns", 1000.0))
    out.append(("list of 1,000 / hand copy", "Dispatch/list_1000/callback",
                "Dispatch/list_1000/hand_copy", "max", 2.0))
    return out


def load(path):
    with open(path, encoding="utf-8") as f:
        data = json.load(f)
    medians, cvs = {}, {}
    for b in data.get("benchmarks", []):
        name = b.get("run_name", b["name"])
        aggregate = b.get("aggregate_name")
        if aggregate == "median":
            medians[name] = b
        elif aggregate == "cv":
            cvs[name] = b
        elif aggregate is None and name not in medians:
            medians[name] = b  # a run without repetitions
    repetitions = max((b.get("repetitions", 0) for b in data.get("benchmarks", [])), default=0)
    return data.get("context", {}), medians, cvs, repetitions


def ns(b):
    unit = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
    return b["cpu_time"] * unit


def spread(cvs, name, counter=False):
    b = cvs.get(name)
    if b is None or counter:
        return ""
    return f"{100.0 * b['cpu_time']:.0f}%"


def human(value_ns):
    if value_ns >= 1e6:
        return f"{value_ns / 1e6:.2f} ms"
    if value_ns >= 1e3:
        return f"{value_ns / 1e3:.2f} us"
    return f"{value_ns:.1f} ns"


def ratio_of(kind, limit, ours, peer):
    """The ratio a row shows, or None for absolute rows."""
    if kind == "mem":
        return ours["bytes"] / peer["bytes"]
    if kind == "abs_ns" or peer is None:
        return None
    if kind == "linear":
        return (ns(ours) / limit[0]) / ns(peer)
    if kind == "faster":
        return ns(peer) / ns(ours)
    return ns(ours) / ns(peer)


def second_run_text(second, label_row):
    """The ratio (or time) of a row in the second run, as text."""
    if second is None:
        return None
    _, ours_name, peer_name, kind, limit = label_row
    medians = second[1]
    ours = medians.get(ours_name)
    peer = medians.get(peer_name) if peer_name else None
    if ours is None or (peer_name and peer is None):
        return "-"
    ratio = ratio_of(kind, limit, ours, peer)
    return f"{ratio:.2f}x" if ratio is not None else human(ns(ours))


def main():
    if len(sys.argv) not in (2, 3):
        print("usage: ratio_table.py RESULTS.json [SECOND_RUN.json]", file=sys.stderr)
        return 2
    context, medians, cvs, repetitions = load(sys.argv[1])
    second = load(sys.argv[2]) if len(sys.argv) == 3 else None
    print(f"korvo_bench {context.get('date', '')}, {context.get('num_cpus', '?')} CPUs, "
          f"medians of {repetitions or 1} repetitions (CPU time)")
    header = f"{'case':<46} {'ours':>10} {'peer':>10} {'ratio':>7} {'target':>8} {'spread':>13}"
    if second is not None:
        header += f" {'run 2':>10}"
    header += "  verdict"
    print(header)
    print("-" * len(header))
    met = missed = 0
    for row in rows():
        label, ours_name, peer_name, kind, limit = row
        run2 = second_run_text(second, row)
        run2_text = f" {run2:>10}" if run2 is not None else ""
        ours = medians.get(ours_name)
        peer = medians.get(peer_name) if peer_name else None
        if ours is None or (peer_name and peer is None):
            print(f"{label:<46} {'(not run)':>10}")
            continue
        spread_text = "" if kind == "mem" else "/".join(
            s for s in (spread(cvs, ours_name), spread(cvs, peer_name) if peer_name else "") if s)
        verdict = ""
        if kind == "mem":
            a, b = ours["bytes"], peer["bytes"]
            ratio = a / b
            ours_text, peer_text = f"{a / 1024:.0f} KiB", f"{b / 1024:.0f} KiB"
            ok = ratio <= limit
            target = f"<= {limit:g}x"
        elif kind == "abs_ns":
            ratio = None
            ours_text, peer_text = human(ns(ours)), ""
            ok = ns(ours) <= limit if limit is not None else None
            target = f"<= {human(limit)}" if limit is not None else ""
        elif kind == "linear":
            factor, bound = limit
            ratio = (ns(ours) / factor) / ns(peer)
            ours_text, peer_text = human(ns(ours)), human(ns(peer))
            ok = ratio <= bound
            target = f"<= {bound:g}x"
        elif kind == "faster":
            ratio = ns(peer) / ns(ours)
            ours_text, peer_text = human(ns(ours)), human(ns(peer))
            ok = ratio >= limit
            target = f">= {limit:g}x"
        else:
            ratio = ns(ours) / ns(peer)
            ours_text, peer_text = human(ns(ours)), human(ns(peer))
            ok = ratio <= limit if kind == "max" else None
            target = f"<= {limit:g}x" if kind == "max" else ""
        if ok is not None:
            verdict = "met" if ok else "MISSED"
            met += ok
            missed += not ok
        ratio_text = f"{ratio:.2f}x" if ratio is not None else ""
        print(f"{label:<46} {ours_text:>10} {peer_text:>10} {ratio_text:>7} {target:>8} {spread_text:>13}"
              f"{run2_text}  {verdict}")
    print(f"\ntargets: {met} met, {missed} missed (spread: coefficient of variation of ours/peer over repetitions)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
