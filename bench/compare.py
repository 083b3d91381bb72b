#!/usr/bin/env python3
"""Puts the baseline's and the current tree's benchmark results side by side.

    compare.py --baseline FILE... --current FILE... [--dump-pair FILE]
               [--build native|windows] [--rounds N] [--emulated]

FILEs are Google Benchmark JSON outputs (chaostrails_bench --benchmark_out)
or the harness's tab-separated results (chaostrails_harness --out), one per
round of side-by-side.sh. Every benchmark gets the least CPU time per
iteration over the rounds; the resident memory readings the least too, with
their spread over the rounds. The
dump-pair file is dump-pair.sh's report. Prints the table, the floors as a
control of the run's noise, and the targets of issue 14 with met or MISSED.
"""

import argparse
import json
import sys

UNIT_SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
MEMORY_KEYS = ("resident_kb_before_setup", "resident_kb_after_setup", "resident_kb_after_running")

FRAME_TARGET = 0.6
FRAME_AIM = 0.5
PAIR_TARGET = 0.75
SECOND_TARGET = {"native": 20.0, "windows": 25.0}
EIGHT_THOUSAND_TARGET = 4.2


class Side:
    """The least time of every benchmark, and the memory readings, of one build."""

    def __init__(self):
        self.seconds = {}
        self.memory = {}
        self.rounds = 0

    def note(self, name, seconds):
        if seconds > 0 and (name not in self.seconds or seconds < self.seconds[name]):
            self.seconds[name] = seconds

    def note_memory(self, key, kilobytes):
        if kilobytes > 0:
            self.memory.setdefault(key, []).append(kilobytes)

    def read(self, path):
        with open(path, encoding="utf-8") as handle:
            text = handle.read()
        self.rounds += 1
        if text.lstrip().startswith("{"):
            self.read_json(json.loads(text))
        else:
            self.read_harness(text)

    def read_json(self, data):
        for run in data.get("benchmarks", []):
            if run.get("run_type", "iteration") != "iteration" or run.get("error_occurred"):
                continue
            self.note(run["name"], run["cpu_time"] * UNIT_SECONDS[run.get("time_unit", "ns")])
        context = data.get("context", {})
        for key in MEMORY_KEYS:
            if key in context:
                self.note_memory(key, int(context[key]))

    def read_harness(self, text):
        for line in text.splitlines():
            fields = line.split("\t")
            if fields[0] == "result" and len(fields) >= 3:
                self.note(fields[1], float(fields[2]))
            elif fields[0] == "context" and len(fields) >= 3 and fields[1] in MEMORY_KEYS:
                self.note_memory(fields[1], int(fields[2]))


def read_dump_pair(path):
    report = {}
    with open(path, encoding="utf-8") as handle:
        for line in handle:
            fields = line.rstrip("\n").split("\t")
            if len(fields) >= 2:
                report[tuple(fields[:-1])] = fields[-1]
    return report


def show_time(seconds):
    if seconds is None:
        return "-"
    if seconds >= 0.01:
        return "%.3f ms" % (seconds * 1e3)
    return "%.1f us" % (seconds * 1e6)


def verdict(ok):
    return "met" if ok else "MISSED"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--baseline", nargs="+", required=True)
    parser.add_argument("--current", nargs="+", required=True)
    parser.add_argument("--dump-pair")
    parser.add_argument("--build", choices=("native", "windows"), default="native")
    parser.add_argument("--rounds", type=int, help="rounds run (default: one per file)")
    parser.add_argument("--emulated", action="store_true",
                        help="32-bit code ran under QEMU here: the Windows times mean nothing")
    args = parser.parse_args()

    baseline, current = Side(), Side()
    for path in args.baseline:
        baseline.read(path)
    for path in args.current:
        current.read(path)

    names = [name for name in current.seconds if name in baseline.seconds]
    names += [name for name in current.seconds if name not in baseline.seconds]
    rounds = args.rounds or min(baseline.rounds, current.rounds)
    print("Side by side, %s build: baseline 24c5995 against the current tree, %d interleaved rounds;"
          % (args.build, rounds))
    print("CPU time per iteration, the least of the rounds.")
    if args.emulated:
        print("NOTE: this machine runs 32-bit code only under QEMU user emulation: these times measure the")
        print("emulator, not the scene. Run this on a machine that runs 32-bit code natively.")
    print()
    print("%-36s %14s %14s %10s" % ("benchmark", "baseline", "current", "ratio"))
    for name in names:
        base = baseline.seconds.get(name)
        now = current.seconds[name]
        ratio = "%10.3f" % (now / base) if base else "%10s" % "-"
        print("%-36s %14s %14s %s" % (name, show_time(base), show_time(now), ratio))

    def ratio_of(name):
        base = baseline.seconds.get(name)
        now = current.seconds.get(name)
        return now / base if base and now else None

    # The floors run the same code in both builds: how far their ratios stray
    # from 1 is what load did to this run.
    floors = [(name, ratio_of(name)) for name in names if "Floor" in name and ratio_of(name)]
    noise = max((abs(r - 1.0) for _, r in floors), default=None)
    if floors:
        print()
        print("Control: the floors run the same code in both builds; their ratios stray from 1 by at most %.1f %%,"
              % (100 * noise))
        print("the noise of this run.")

    print()
    print("Targets of issue 14:")
    row = "  %-62s %s"

    frame = ratio_of("Frame/particles:2000")
    if frame is None:
        print(row % ("Frame/particles:2000 <= 0.6 x the baseline's", "not measured"))
    else:
        print(row % ("Frame/particles:2000 <= %.1f x the baseline's (aim %.1f)" % (FRAME_TARGET, FRAME_AIM),
                     "%.3f  %s%s" % (frame, verdict(frame <= FRAME_TARGET),
                                     ", aim reached" if frame <= FRAME_AIM else "")))

    label = "tick+frame pair through trails dump <= %.2f x the baseline's" % PAIR_TARGET
    if args.dump_pair:
        pair = read_dump_pair(args.dump_pair)
        base = float(pair.get(("pair_seconds", "baseline"), "nan"))
        now = float(pair.get(("pair_seconds", "current"), "nan"))
        dumps = pair.get(("dumps",), "unknown")
        if base > 0 and now > 0:
            ratio = now / base
            print(row % (label, "%.3f  %s  (%s against %s a pair; dumps %s)"
                         % (ratio, verdict(ratio <= PAIR_TARGET and dumps == "identical"), show_time(now),
                            show_time(base), dumps)))
        else:
            print(row % (label, "not measured (pair times %s, %s; dumps %s)"
                         % (show_time(base if base == base else None), show_time(now if now == now else None),
                            dumps)))
    else:
        print(row % (label, "not measured (run bench/dump-pair.sh)"))

    second = current.seconds.get("SimulatedSecond")
    for build in ("native", "windows"):
        what = "one simulated second <= %.0f %% of one core (%s)" % (
            SECOND_TARGET[build], "native" if build == "native" else "32-bit build")
        if build != args.build:
            other = "bench/side-by-side.sh --windows" if build == "windows" else "bench/side-by-side.sh"
            print(row % (what, "not measured in this run (%s)" % other))
        elif second is None:
            print(row % (what, "not measured (SimulatedSecond was not selected)"))
        else:
            percent = 100 * second
            print(row % (what, "%.1f %%  %s" % (percent, verdict(percent <= SECOND_TARGET[build]))))

    ticks = [(name, ratio_of(name)) for name in names if name.startswith("Tick/") and ratio_of(name)]
    if ticks:
        worst_name, worst = max(ticks, key=lambda item: item[1])
        note = ""
        if worst > 1.0 and noise is not None and worst - 1.0 <= noise:
            note = " (within this run's noise of %.1f %%)" % (100 * noise)
        print(row % ("every tick no slower than the baseline's",
                     "worst %.3f (%s)  %s%s" % (worst, worst_name, verdict(worst <= 1.0), note)))

    for kind, small, large in (("tick", "Tick/particles:2000/family:1", "Tick/particles:8000/family:1"),
                               ("frame", "Frame/particles:2000", "Frame/particles:8000")):
        what = "%s with 8000 particles <= %.1f x with 2000" % (kind, EIGHT_THOUSAND_TARGET)
        if small in current.seconds and large in current.seconds:
            ratio = current.seconds[large] / current.seconds[small]
            base_note = ""
            if small in baseline.seconds and large in baseline.seconds:
                base_note = " (baseline %.2f)" % (baseline.seconds[large] / baseline.seconds[small])
            print(row % (what, "%.2f  %s%s" % (ratio, verdict(ratio <= EIGHT_THOUSAND_TARGET), base_note)))
        else:
            print(row % (what, "not measured"))

    for key, what in (("resident_kb_after_setup", "after one set-up"),
                      ("resident_kb_after_running", "after 2000 ticks + frames")):
        label = "resident memory %s <= the baseline's" % what
        if key in baseline.memory and key in current.memory:
            base = min(baseline.memory[key])
            now = min(current.memory[key])
            # The same program reads a few tens of kB apart from run to run.
            spread = max(max(side.memory[key]) - min(side.memory[key]) for side in (baseline, current))
            note = ""
            if now > base and now - base <= spread:
                note = " (within the %d kB the readings of one build spread over its rounds)" % spread
            print(row % (label, "%.1f MB against %.1f MB (%+d kB)  %s%s"
                         % (now / 1024, base / 1024, now - base, verdict(now <= base), note)))
        else:
            print(row % (label, "not measured"))
    key = "resident_kb_before_setup"
    if key in baseline.memory and key in current.memory:
        print("  (least of the rounds; before set-up the processes held %.1f MB and %.1f MB)"
              % (min(current.memory[key]) / 1024, min(baseline.memory[key]) / 1024))
    return 0


if __name__ == "__main__":
    sys.exit(main())
