"""Footswitch-to-relay benchmark: the real program on pseudo-terminal ports.

Presses the footswitch (CTS on the input port) many times, each press of a
random length and starting at a random moment against the program's 100 ms
poll tick, and prints the delay from each CTS edge to the program's RTS write
on the output port (with the debounce time stored as "Footswitch-Debounce",
10 ms unless --debounce says otherwise), then presses that bounce (several
level changes within 3 ms per edge) and counts the RTS writes per edge, then
2 ms spikes while released and 2 ms dropouts while pressed and counts the RTS
writes they cause (none belong there: they are shorter than the debounce),
and last the program's CPU use, poll period and memory while it sits idle.

The input port reports its line changes by default (the modem-line library
emulates the driver's wait for them, TIOCMIWAIT), so the program answers an
edge as soon as the debounce time has passed; --no-wait makes the port refuse
that wait, as cp210x adapters do, and the program finds the edge at its next
poll tick. The target is a p99 of at most the debounce time plus 5 ms on the
first, and one tick more on the second.

Run it under a private X server, after building:
    tests/with-xserver.sh /usr/bin/python3 bench/footswitch_latency.py --presses 80
    tests/with-xserver.sh /usr/bin/python3 bench/footswitch_latency.py --presses 80 --no-wait
    tests/with-xserver.sh /usr/bin/python3 bench/footswitch_latency.py --presses 20 --idle 5 \
        --bouncing-presses 5 --glitches 5

Times come from the modem-line library's log (tests/modemlines) and the
benchmark's own clock (CLOCK_MONOTONIC both): the edge is the moment right
before the benchmark made the new CTS state visible to the program (the first
change of a bouncing edge), the write the moment the program's RTS request
completed. Timing the edge before the change rather than after it keeps a
benchmark that was kept off the processor in between from understating the
delay: the figures are upper bounds.
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
    parser.add_argument("--debounce", type=int, default=10, metavar="MS",
                        help="the debounce time stored as Footswitch-Debounce (default 10, the program's own)")
    parser.add_argument("--bouncing-presses", type=int, default=20, metavar="N",
                        help="presses whose edges bounce, after the clean ones (default 20; 0: none)")
    parser.add_argument("--bounce", type=int, default=3, metavar="N",
                        help="each bouncing edge bounces N times (2N extra level changes within 3 ms; default 3)")
    parser.add_argument("--glitches", type=int, default=20, metavar="N",
                        help="N spikes of 2 ms while released and N dropouts of 2 ms while pressed (default 20)")
    parser.add_argument("--setting", action="append", default=[], metavar="KEY=VALUE",
                        help="a further \"Settings\" key stored before the start (repeatable)")


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


def drive_edge(rig, value, bounce):
    """(time of the first change, longest hold of a bouncing level in ns)."""
    if bounce:
        return rig.bounce(value, bounces=bounce)
    return rig.lines.drive_between(rig.input.device, CTS=value)[0], 0


def run_presses(rig, options, rng, presses, bounce=0):
    """Presses and releases; returns the edges as (time ns, CTS value) and
    the longest time a bouncing level held (ns, 0 without bounce)."""
    edges, longest = [], 0
    for _ in range(presses):
        # A pause of continuous random length puts each press at a random
        # moment against the tick.
        time.sleep(rng.uniform(*options.gap))
        for value, pause in ((1, (options.shortest, options.longest)), (0, None)):
            began, held = drive_edge(rig, value, bounce)
            edges.append((began, value))
            longest = max(longest, held)
            if pause:
                time.sleep(rng.uniform(*pause))
    rig.wait_for_rts(rig.output, 0)
    rig.wait_ticks(3)
    return edges, longest


def run_glitches(rig, options, rng):
    """Spikes while released and dropouts while pressed. Returns the windows
    (start ns, end ns, how long the glitch lasted at most in ns) in which no
    RTS write belongs, and the number of presses around the dropouts that did
    not key."""
    windows, unkeyed = [], 0
    for _ in range(options.glitches):
        time.sleep(rng.uniform(*options.gap))
        spike = rig.glitch(1)
        time.sleep(rng.uniform(*options.gap))
        press = rig.press()
        windows.append((spike.began, press, spike.longest_ns))
        try:
            rig.wait_for_rts(rig.output, 1, timeout=2.0)
        except Timeout:
            unkeyed += 1
        time.sleep(rng.uniform(0.1, 0.3))
        dropout = rig.glitch(0)
        time.sleep(rng.uniform(0.1, 0.3))
        windows.append((dropout.began, rig.release(), dropout.longest_ns))
        rig.wait_for_rts(rig.output, 0)
    rig.wait_ticks(3)
    return windows, unkeyed


def count_writes_in(rig, windows):
    """RTS writes on the output inside each window."""
    slack = 2_000_000
    writes = rig.lines.writes(rig.output.device, "RTS")
    return [sum(1 for w in writes if start - slack <= w.t < end - slack) for start, end, _ in windows]


def analyse_edges(rig, edges, until=float("inf")):
    """Latencies (ms) of the edges' first writes, writes per edge, missed
    presses and releases without their write; writes from `until` (ns) on
    belong to what came after the edges."""
    writes = [e for e in rig.lines.writes(rig.output.device, "RTS") if e.t < until]
    # Each edge is timed right before it was made: a write from then on
    # answers it (or a later one).
    bounds = [t for t, _ in edges] + [float("inf")]
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


def load_average():
    with open("/proc/loadavg", encoding="ascii") as f:
        return " ".join(f.read().split()[:3])


def print_latencies(label, latencies):
    print(f"{label}, ms: p50 {percentile(latencies, 50):.1f}  p95 {percentile(latencies, 95):.1f}  "
          f"p99 {percentile(latencies, 99):.1f}  max {max(latencies):.1f}  "
          f"(min {min(latencies):.1f}, mean {statistics.fmean(latencies):.1f}; {len(latencies)} edges)")


def print_writes_per_edge(label, per_edge):
    print(f"{label}: {sum(per_edge) / len(per_edge):.3f} "
          f"(edges with exactly one write: {per_edge.count(1)} of {len(per_edge)}; "
          f"min {min(per_edge)}, max {max(per_edge)})")


def main():
    options = parse_arguments(add_arguments=add_line_arguments)
    rng = random.Random(options.seed)
    settings = {"ComPort": "1", "ComPort2": "2", "Footswitch-Debounce": str(options.debounce)}
    settings.update(item.split("=", 1) for item in options.setting)
    env = {ModemLines.NO_WAIT_VARIABLE: "1"} if options.no_wait else {}
    load_before = load_average()
    with FootswitchRig(options.program, options.modemlines, settings=settings, env=env) as rig:
        rig.start()
        rig.wait_until_open()
        started = time.monotonic()
        edges, _ = run_presses(rig, options, rng, options.presses)
        press_seconds = time.monotonic() - started
        wakes = len(rig.lines.wakes(rig.input.device))
        bouncing_from = time.monotonic_ns()
        bouncing, bounce_held = run_presses(rig, options, rng, options.bouncing_presses, options.bounce)
        glitches_from = time.monotonic_ns()
        latencies, per_edge, missed, wrong = analyse_edges(rig, edges, until=bouncing_from)
        bouncing_results = analyse_edges(rig, bouncing, until=glitches_from) if bouncing else None
        windows, unkeyed = run_glitches(rig, options, rng)
        glitch_writes = count_writes_in(rig, windows)
        idle_cpu, periods = measure_idle(rig, options.idle)
        peak_kib, rss_kib = rig.peak_memory_kib(), rig.memory_kib()
        rig.stop()
    load_after = load_average()

    debounce = int(settings["Footswitch-Debounce"])
    print(f"zelvo-footswitch2 footswitch-to-relay benchmark (seed {options.seed})")
    print(f"load average (1, 5, 15 min) before {load_before}, after {load_after}")
    mode = ("input port cannot report line changes (--no-wait): polling only" if options.no_wait
            else f"input port reports line changes; the program woke on {wakes} of them in the clean presses")
    print(f"line changes: {mode}")
    print(f"settings: {', '.join(f'{k}={v}' for k, v in settings.items() if not k.startswith('ComPort'))}")
    print(f"presses: {options.presses} of {options.shortest:g}-{options.longest:g} s, "
          f"{len(edges)} edges in {press_seconds:.0f} s")
    if latencies:
        print_latencies("edge to RTS write", latencies)
        target = debounce + 5 + (100 if options.no_wait else 0)
        met = "met" if percentile(latencies, 99) <= target else "NOT met"
        print(f"target p99 <= {target} ms (debounce {debounce} ms + 5 ms"
              + (" + one 100 ms tick" if options.no_wait else "") + f"): {met}")
    print_writes_per_edge("RTS writes per edge", per_edge)
    print(f"missed presses: {missed}; releases without their RTS-low write: {wrong}")
    if bouncing_results:
        b_latencies, b_per_edge, b_missed, b_wrong = bouncing_results
        print(f"bouncing presses: {options.bouncing_presses}, each edge bouncing {options.bounce} times "
              f"within 3 ms ({len(bouncing)} edges; the longest bouncing level held {bounce_held / 1e6:.1f} ms, "
              f"the load stretching the benchmark's own timing)")
        print_writes_per_edge("RTS writes per bouncing edge", b_per_edge)
        if b_latencies:
            print_latencies("first change of a bouncing edge to RTS write", b_latencies)
        print(f"missed bouncing presses: {b_missed}; releases without their RTS-low write: {b_wrong}")
    if windows:
        # A glitch the load stretched to the debounce time is a press: it
        # belongs to neither count.
        short = [i for i, (_, _, held) in enumerate(windows) if held < debounce * 1_000_000]
        spikes = [glitch_writes[i] for i in short if i % 2 == 0]
        dropouts = [glitch_writes[i] for i in short if i % 2 == 1]
        stretched = len(windows) - len(short)
        print(f"2 ms glitches: RTS writes caused by {len(spikes)} spikes while released: {sum(spikes)}, "
              f"by {len(dropouts)} dropouts while pressed: {sum(dropouts)} (expected 0 with the debounce "
              f"time over 2 ms); presses around them that did not key: {unkeyed}")
        if stretched:
            print(f"  left out: {stretched} glitches that the load stretched to {debounce} ms or more "
                  f"(up to {max(held for _, _, held in windows) / 1e6:.1f} ms)")
    if periods:
        print(f"poll period while idle, ms: mean {statistics.fmean(periods):.2f}  p50 {percentile(periods, 50):.2f}  "
              f"p99 {percentile(periods, 99):.2f}  max {max(periods):.2f}  ({len(periods)} periods)")
    print(f"idle {options.idle:g} s: CPU {idle_cpu:.2f} % of one core "
          f"({'below' if idle_cpu < 0.5 else 'NOT below'} 0.5 %); "
          f"peak memory (VmHWM) {peak_kib / 1024:.1f} MiB, resident now {rss_kib / 1024:.1f} MiB")
    return 0


if __name__ == "__main__":
    sys.exit(main())
