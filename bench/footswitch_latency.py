"""Footswitch-to-relay benchmark: the real program on pseudo-terminal ports.

Presses the footswitch (CTS on the input port) many times, each press of a
random length and starting at a random moment against the program's 100 ms
poll tick, and prints the delay from each CTS edge to the program's RTS write
on the output port, the RTS writes per edge, the missed presses, the poll
period, and the program's CPU use and peak memory while it sits idle.

The input port reports its line changes by default (the modem-line library
emulates the driver's wait for them, TIOCMIWAIT), so a program that waits for
them can answer an edge at once; --no-wait makes the port refuse that wait,
as many USB adapters do, and the program can only poll. --bounce makes every
edge bounce (several level changes within 3 ms) and counts the RTS writes per
edge; --glitches adds 2 ms spikes while released and 2 ms dropouts while
pressed and counts the RTS writes they cause (none, with a debounce time of
more than 2 ms set, e.g. with --setting).

Run it under a private X server, after building:
    tests/with-xserver.sh /usr/bin/python3 bench/footswitch_latency.py
    tests/with-xserver.sh /usr/bin/python3 bench/footswitch_latency.py --presses 20 --idle 5
    tests/with-xserver.sh /usr/bin/python3 bench/footswitch_latency.py --bounce 3 --glitches 20
    tests/with-xserver.sh /usr/bin/python3 bench/footswitch_latency.py --no-wait

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

from zelvo_e2e import FootswitchRig, ModemLines, Timeout  # noqa: E402


def percentile(values, p):
    """Nearest-rank percentile of a non-empty list."""
    ordered = sorted(values)
    rank = max(1, -(-len(ordered) * p // 100))
    return ordered[int(rank) - 1]


def add_line_arguments(parser):
    """Options of this benchmark only: how the footswitch line behaves."""
    parser.add_argument("--no-wait", action="store_true",
                        help="the input port cannot report line changes: the program must poll")
    parser.add_argument("--bounce", type=int, default=0, metavar="N",
                        help="each edge bounces N times (2N extra level changes within 3 ms; default 0)")
    parser.add_argument("--glitches", type=int, default=0, metavar="N",
                        help="N spikes of 2 ms while released and N dropouts of 2 ms while pressed (default 0)")
    parser.add_argument("--setting", action="append", default=[], metavar="KEY=VALUE",
                        help="a \"Settings\" key stored before the start, e.g. a debounce time (repeatable)")


def parse_arguments(description=__doc__, add_arguments=None):
    parser = argparse.ArgumentParser(description=description, formatter_class=argparse.RawDescriptionHelpFormatter)
    if add_arguments:
        add_arguments(parser)
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


def spin_until(t_ns):
    """Waits without sleeping: a sleep's wake-up is too coarse for bounces."""
    while time.monotonic_ns() < t_ns:
        pass


def drive_edge(rig, value, bounce=0, span_ns=3_000_000):
    """Sets CTS to `value`, bouncing back and forth `bounce` times within
    span_ns before it settles. Returns the time of the first change."""
    device = rig.input.device
    first = rig.lines.drive(device, CTS=value)
    changes = 2 * bounce
    for i in range(changes):
        spin_until(first + (i + 1) * span_ns // (changes + 1))
        rig.lines.drive(device, CTS=value if i % 2 else 1 - value)
    return first


def glitch(rig, value, length_ns=2_000_000):
    """CTS to `value` for length_ns, then back. Returns the time it began."""
    device = rig.input.device
    began = rig.lines.drive(device, CTS=value)
    spin_until(began + length_ns)
    rig.lines.drive(device, CTS=1 - value)
    return began


def run_presses(rig, options, rng):
    """Presses and releases; returns the edges as (time ns, CTS value)."""
    edges = []
    bounce = getattr(options, "bounce", 0)
    for _ in range(options.presses):
        # A pause of continuous random length puts each press at a random
        # moment against the tick.
        time.sleep(rng.uniform(*options.gap))
        edges.append((drive_edge(rig, 1, bounce), 1))
        time.sleep(rng.uniform(options.shortest, options.longest))
        edges.append((drive_edge(rig, 0, bounce), 0))
    rig.wait_for_rts(rig.output, 0)
    rig.wait_ticks(3)
    return edges


def run_glitches(rig, options, rng):
    """Spikes while released and dropouts while pressed. Returns the windows
    (start ns, end ns) in which no RTS write belongs, and the number of
    presses around the dropouts that did not key."""
    windows, unkeyed = [], 0
    for _ in range(options.glitches):
        time.sleep(rng.uniform(*options.gap))
        spike = glitch(rig, 1)
        time.sleep(rng.uniform(*options.gap))
        press = rig.press()
        windows.append((spike, press))
        try:
            rig.wait_for_rts(rig.output, 1, timeout=2.0)
        except Timeout:
            unkeyed += 1
        time.sleep(rng.uniform(0.1, 0.3))
        dropout = glitch(rig, 0)
        time.sleep(rng.uniform(0.1, 0.3))
        windows.append((dropout, rig.release()))
        rig.wait_for_rts(rig.output, 0)
    rig.wait_ticks(3)
    return windows, unkeyed


def count_writes_in(rig, windows):
    """RTS writes on the output inside each window."""
    slack = 2_000_000
    writes = rig.lines.writes(rig.output.device, "RTS")
    return [sum(1 for w in writes if start - slack <= w.t < end - slack) for start, end in windows]


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
    options = parse_arguments(add_arguments=add_line_arguments)
    rng = random.Random(options.seed)
    settings = {"ComPort": "1", "ComPort2": "2"}
    settings.update(item.split("=", 1) for item in options.setting)
    env = {ModemLines.NO_WAIT_VARIABLE: "1"} if options.no_wait else {}
    with FootswitchRig(options.program, options.modemlines, settings=settings, env=env) as rig:
        rig.start()
        rig.wait_until_open()
        started = time.monotonic()
        edges = run_presses(rig, options, rng)
        press_seconds = time.monotonic() - started
        latencies, per_edge, missed, wrong = analyse_edges(rig, edges)
        wakes = len(rig.lines.wakes(rig.input.device))
        windows, unkeyed = run_glitches(rig, options, rng)
        glitch_writes = count_writes_in(rig, windows)
        idle_cpu, periods = measure_idle(rig, options.idle)
        peak_kib, rss_kib = rig.peak_memory_kib(), rig.memory_kib()
        rig.stop()

    print(f"zelvo-footswitch2 footswitch-to-relay benchmark (seed {options.seed})")
    mode = ("input port cannot report line changes (--no-wait): polling only" if options.no_wait
            else f"input port reports line changes; the program woke on {wakes} of them")
    print(f"line changes: {mode}")
    print(f"presses: {options.presses} of {options.shortest:g}-{options.longest:g} s, "
          f"{len(edges)} edges in {press_seconds:.0f} s"
          + (f", each edge bouncing {options.bounce} times within 3 ms" if options.bounce else ""))
    if options.setting:
        print(f"settings: {', '.join(options.setting)}")
    if latencies:
        print(f"edge to RTS write, ms: p50 {percentile(latencies, 50):.1f}  p95 {percentile(latencies, 95):.1f}  "
              f"p99 {percentile(latencies, 99):.1f}  max {max(latencies):.1f}  "
              f"(min {min(latencies):.1f}, mean {statistics.fmean(latencies):.1f})")
    print(f"RTS writes per edge: {sum(per_edge) / len(per_edge):.3f} "
          f"(edges with exactly one write: {per_edge.count(1)} of {len(per_edge)}; "
          f"min {min(per_edge)}, max {max(per_edge)})")
    print(f"missed presses: {missed}; releases without their RTS-low write: {wrong}")
    if windows:
        spikes, dropouts = glitch_writes[0::2], glitch_writes[1::2]
        print(f"2 ms glitches: RTS writes caused by {len(spikes)} spikes while released: {sum(spikes)}, "
              f"by {len(dropouts)} dropouts while pressed: {sum(dropouts)} (expected 0 with a debounce "
              f"time over 2 ms); presses around them that did not key: {unkeyed}")
    if periods:
        print(f"poll period while idle, ms: mean {statistics.fmean(periods):.2f}  p50 {percentile(periods, 50):.2f}  "
              f"p99 {percentile(periods, 99):.2f}  max {max(periods):.2f}  ({len(periods)} periods)")
    print(f"idle {options.idle:g} s: CPU {idle_cpu:.2f} % of one core; "
          f"peak memory (VmHWM) {peak_kib / 1024:.1f} MiB, resident now {rss_kib / 1024:.1f} MiB")
    return 0


if __name__ == "__main__":
    sys.exit(main())
