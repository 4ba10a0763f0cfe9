"""Footswitch-to-relay benchmark: the real program on pseudo-terminal ports.

Presses the footswitch (CTS on the input port) many times, each press of a
random length and starting at a random moment against the program's 100 ms
poll tick, and prints the delay from each CTS edge to the program's RTS write
on the output port, the RTS writes per edge, the missed presses, the poll
period, and the program's CPU use and peak memory while it sits idle.

Run it under a private X server, after building:
    tests/with-xserver.sh /usr/bin/python3 bench/footswitch_latency.py
    tests/with-xserver.sh /usr/bin/python3 bench/footswitch_latency.py --presses 20 --idle 5

Times come from the modem-line library's log (tests/modemlines): the edge is
the moment the new CTS state became visible to the program, the write the
moment the program's RTS request completed (CLOCK_MONOTONIC both).
"""

import argparse
import os
import random
import statistics
import sys
import time

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(TOP, "tests", "e2e"))

from zelvo_e2e import FootswitchRig  # noqa: E402


def percentile(values, p):
    """Nearest-rank percentile of a non-empty list."""
    ordered = sorted(values)
    rank = max(1, -(-len(ordered) * p // 100))
    return ordered[int(rank) - 1]


def parse_arguments(description=__doc__):
    parser = argparse.ArgumentParser(description=description, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build-dir", default=os.path.join(TOP, "build"),
                        help="build folder holding the program and the modem-line library (default: build)")
    parser.add_argument("--program", help="path of zelvo-footswitch2 (default: in --build-dir)")
    parser.add_argument("--modemlines", help="path of libzelvo_modemlines.so (default: in --build-dir)")
    parser.add_argument("--presses", type=int, default=200, help="number of presses (default 200)")
    parser.add_argument("--shortest", type=float, default=0.15, help="shortest press, s (default 0.15)")
    parser.add_argument("--longest", type=float, default=2.0, help="longest press, s (default 2.0)")
    parser.add_argument("--gap", type=float, nargs=2, default=(0.15, 1.0), metavar=("MIN", "MAX"),
                        help="pause before each press, s (default 0.15 1.0)")
    parser.add_argument("--idle", type=float, default=30.0, help="idle time measured, s (default 30)")
    parser.add_argument("--seed", type=int, help="random seed (default: from the clock)")
    options = parser.parse_args()
    options.program = options.program or os.path.join(options.build_dir, "zelvo-footswitch2")
    options.modemlines = options.modemlines or os.path.join(
        options.build_dir, "tests", "modemlines", "libzelvo_modemlines.so")
    if options.seed is None:
        options.seed = time.time_ns() % 1_000_000
    return options


def run_presses(rig, options, rng):
    """Presses and releases; returns the edges as (time ns, CTS value)."""
    edges = []
    for _ in range(options.presses):
        # A pause of continuous random length puts each press at a random
        # moment against the tick.
        time.sleep(rng.uniform(*options.gap))
        edges.append((rig.press(), 1))
        time.sleep(rng.uniform(options.shortest, options.longest))
        edges.append((rig.release(), 0))
    rig.wait_for_rts(rig.output, 0)
    rig.wait_ticks(3)
    return edges


def analyse_edges(rig, edges):
    writes = [e for e in rig.lines.writes(rig.output.device, "RTS")]
    # The program's own request can complete a few microseconds before the
    # test has read the clock after making the change: allow for that.
    slack = 2_000_000
    bounds = [t - slack for t, _ in edges] + [float("inf")]
    latencies, per_edge, missed_presses, wrong = [], [], 0, 0
    for i, (t, value) in enumerate(edges):
        inside = [w for w in writes if bounds[i] <= w.t < bounds[i + 1]]
        per_edge.append(len(inside))
        if inside and inside[0].value("RTS") == value:
            latencies.append((inside[0].t - t) / 1e6)
        elif value == 1:
            missed_presses += 1
        else:
            wrong += 1
    return latencies, per_edge, missed_presses, wrong


def measure_idle(rig, seconds):
    rig.wait_ticks(2)
    reads_before = len(rig.lines.reads(rig.input.device))
    cpu0, t0 = rig.cpu_seconds(), time.monotonic()
    time.sleep(seconds)
    cpu1, t1 = rig.cpu_seconds(), time.monotonic()
    reads = rig.lines.reads(rig.input.device)[reads_before:]
    periods = [(b.t - a.t) / 1e6 for a, b in zip(reads, reads[1:])]
    return 100.0 * (cpu1 - cpu0) / (t1 - t0), periods


def main():
    options = parse_arguments()
    rng = random.Random(options.seed)
    with FootswitchRig(options.program, options.modemlines) as rig:
        rig.start()
        rig.wait_until_open()
        started = time.monotonic()
        edges = run_presses(rig, options, rng)
        press_seconds = time.monotonic() - started
        latencies, per_edge, missed, wrong = analyse_edges(rig, edges)
        idle_cpu, periods = measure_idle(rig, options.idle)
        peak_kib, rss_kib = rig.peak_memory_kib(), rig.memory_kib()
        rig.stop()

    print(f"zelvo-footswitch2 footswitch-to-relay benchmark (seed {options.seed})")
    print(f"presses: {options.presses} of {options.shortest:g}-{options.longest:g} s, "
          f"{len(edges)} edges in {press_seconds:.0f} s")
    if latencies:
        print(f"edge to RTS write, ms: p50 {percentile(latencies, 50):.1f}  p95 {percentile(latencies, 95):.1f}  "
              f"p99 {percentile(latencies, 99):.1f}  max {max(latencies):.1f}  "
              f"(min {min(latencies):.1f}, mean {statistics.fmean(latencies):.1f})")
    print(f"RTS writes per edge: {sum(per_edge) / len(per_edge):.3f} "
          f"(edges with exactly one write: {per_edge.count(1)} of {len(per_edge)}; "
          f"min {min(per_edge)}, max {max(per_edge)})")
    print(f"missed presses: {missed}; releases without their RTS-low write: {wrong}")
    if periods:
        print(f"poll period while idle, ms: mean {statistics.fmean(periods):.2f}  p50 {percentile(periods, 50):.2f}  "
              f"p99 {percentile(periods, 99):.2f}  max {max(periods):.2f}  ({len(periods)} periods)")
    print(f"idle {options.idle:g} s: CPU {idle_cpu:.2f} % of one core; "
          f"peak memory (VmHWM) {peak_kib / 1024:.1f} MiB, resident now {rss_kib / 1024:.1f} MiB")
    return 0


if __name__ == "__main__":
    sys.exit(main())
