"""Footswitch-to-relay benchmark over the network: both ports on RFC 2217 peers.

The real program runs with its input (Com1) and output (Com2) ports mapped
to rfc2217://127.0.0.1:PORT, each served by tests/network/rfc2217peer.py
(pyserial's RFC 2217 server over a port without hardware). The footswitch
is pressed many times by driving CTS on the input peer, each press of a
random length and starting at a random moment against the program's 100 ms
poll tick; the script prints the delay from each CTS edge to the RTS change
on the output peer (p50, p95, p99, max), the RTS changes per edge, the
missed presses, and the program's CPU use and memory while it sits idle.
The target is p99 <= 105 ms (one tick plus a little); it is reported, not
enforced.

Run it under a private X server, after building:
    tests/with-xserver.sh /usr/bin/python3 bench/network_latency.py
    tests/with-xserver.sh /usr/bin/python3 bench/network_latency.py --presses 20 --idle 5

Times are the peers' CLOCK_MONOTONIC stamps: the edge is the moment the
input peer applied the new CTS and sent its notification to the program,
the change the moment the output peer's port took the program's RTS command.
The peer reports RTS changes, not repeated commands, so a redundant RTS
write of the same value would not be counted.

With --tls the output port is rfc2217+tls://127.0.0.1:PORT: socat accepts
TLS there (certificates made for the run with openssl, a client certificate
demanded) and passes the plain stream to the output peer. The input stays
plain, so the difference to a run without --tls is the output's TLS.
"""

import contextlib
import os
import random
import shutil
import statistics
import sys
import tempfile
import time

BENCH = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(BENCH)
sys.dont_write_bytecode = True  # no byte-code beside the sources
sys.path.insert(0, BENCH)
sys.path.insert(0, os.path.join(TOP, "tests", "e2e"))

from footswitch_latency import parse_arguments, percentile  # noqa: E402
from zelvo_e2e.certificates import TestCertificates  # noqa: E402
from zelvo_e2e.networkpeer import NetworkRig  # noqa: E402
from zelvo_e2e.tlsterminator import TlsTerminator  # noqa: E402

TARGET_P99_MS = 105.0


def run_presses(rig, options, rng):
    """Presses and releases on the input peer; returns the edges as
    (peer time ns, CTS value)."""
    edges = []
    for _ in range(options.presses):
        # A pause of continuous random length puts each press at a random
        # moment against the tick.
        time.sleep(rng.uniform(*options.gap))
        edges.append((rig.press(), 1))
        time.sleep(rng.uniform(options.shortest, options.longest))
        edges.append((rig.release(), 0))
    rig.output.wait_for_rts(0, timeout=5.0, after=edges[-1][0])
    return edges


def analyse_edges(rig, edges):
    changes = [(value, t) for value, t in rig.output.rts_changes() if t >= edges[0][0]]
    bounds = [t for t, _ in edges] + [float("inf")]
    latencies, per_edge, missed_presses, wrong = [], [], 0, 0
    for i, (t, value) in enumerate(edges):
        inside = [(v, c) for v, c in changes if bounds[i] <= c < bounds[i + 1]]
        per_edge.append(len(inside))
        if inside and inside[0][0] == value:
            latencies.append((inside[0][1] - t) / 1e6)
        elif value == 1:
            missed_presses += 1
        else:
            wrong += 1
    return latencies, per_edge, missed_presses, wrong


def measure_idle(rig, seconds):
    cpu0, t0 = rig.cpu_seconds(), time.monotonic()
    time.sleep(seconds)
    cpu1, t1 = rig.cpu_seconds(), time.monotonic()
    return 100.0 * (cpu1 - cpu0) / (t1 - t0)


def add_tls_argument(parser):
    parser.add_argument("--tls", action="store_true",
                        help="the output over TLS, through socat in front of its peer")


def put_output_behind_tls(rig, folder):
    """Maps Com2 (the output) to a TLS terminator in front of the output peer; returns
    the terminator (the caller closes it)."""
    certificates = TestCertificates(os.path.join(folder, "certificates"))
    terminator = TlsTerminator(certificates, rig.output.port)
    rig.write_settings({"Com2": terminator.url}, group="Ports")
    rig.write_settings({"Ca-File": certificates.path("ca.pem"), "Cert-File": certificates.path("client.pem"),
                        "Key-File": certificates.path("client.key")}, group="Tls")
    return terminator


def main():
    options = parse_arguments(__doc__, add_tls_argument)
    rng = random.Random(options.seed)
    with contextlib.ExitStack() as cleanup:
        rig = cleanup.enter_context(NetworkRig(options.program, options.modemlines,
                                               settings={"ComPort": "1", "ComPort2": "2"}))
        input_url, output_url = rig.input.url, rig.output.url
        if options.tls:
            folder = tempfile.mkdtemp(prefix="zelvo-bench-")
            cleanup.callback(shutil.rmtree, folder, ignore_errors=True)
            # Entered after the rig: closed before it.
            terminator = cleanup.enter_context(put_output_behind_tls(rig, folder))
            output_url = f"{terminator.url} (socat) -> {rig.output.url}"
        rig.start()
        rig.wait_until_open()
        started = time.monotonic()
        edges = run_presses(rig, options, rng)
        press_seconds = time.monotonic() - started
        latencies, per_edge, missed, wrong = analyse_edges(rig, edges)
        idle_cpu = measure_idle(rig, options.idle)
        peak_kib, rss_kib = rig.peak_memory_kib(), rig.memory_kib()
        connections = (rig.input.clients, rig.output.clients)
        rig.stop()

    over = "RFC 2217, output over TLS" if options.tls else "RFC 2217"
    print(f"zelvo-footswitch2 footswitch-to-relay benchmark over {over} (seed {options.seed})")
    print(f"input {input_url}, output {output_url}: pyserial RFC 2217 peers on loopback; "
          f"connections made: input {connections[0]}, output {connections[1]}")
    print(f"presses: {options.presses} of {options.shortest:g}-{options.longest:g} s, "
          f"{len(edges)} edges in {press_seconds:.0f} s")
    if latencies:
        p99 = percentile(latencies, 99)
        print(f"edge to output RTS, ms: p50 {percentile(latencies, 50):.1f}  p95 {percentile(latencies, 95):.1f}  "
              f"p99 {p99:.1f}  max {max(latencies):.1f}  "
              f"(min {min(latencies):.1f}, mean {statistics.fmean(latencies):.1f}; {len(latencies)} edges)")
        print(f"target p99 <= {TARGET_P99_MS:g} ms: {'met' if p99 <= TARGET_P99_MS else 'NOT met'}")
    print(f"RTS changes per edge: {sum(per_edge) / len(per_edge):.3f} "
          f"(edges with exactly one change: {per_edge.count(1)} of {len(per_edge)}; "
          f"min {min(per_edge)}, max {max(per_edge)})")
    print(f"missed presses: {missed}; releases without their RTS-low change: {wrong}")
    print(f"idle {options.idle:g} s: CPU {idle_cpu:.2f} % of one core; "
          f"peak memory (VmHWM) {peak_kib / 1024:.1f} MiB, resident now {rss_kib / 1024:.1f} MiB")
    return 0


if __name__ == "__main__":
    sys.exit(main())
