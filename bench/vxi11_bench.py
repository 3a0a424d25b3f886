#!/usr/bin/python3
"""VXI-11 figures of `velkaroctl serve-scpi --vxi11` against
`virtual-supply --pace --address 1,2` (three processes), from PyVISA-py
(Debian's, run with /usr/bin/python3) and lxi-tools, in a network namespace
of its own (it enters one with unshare -n; as root):

1. MEAS:VOLT? round trips, 200 each: TCPIP::127.0.0.1::inst1::INSTR against
   TCPIP::127.0.0.1::PORT::SOCKET (the raw socket of the same instrument),
   median and 95th percentile, alternating in blocks of 20.
2. A poll loop with a 300 ms time-out through STALLS stalls of the supply of
   SECONDS each (kill -STOP, kill -CONT), each time-out followed by clear():
   VOLT? and CURR? in turn with set-points 12.345 V and 1.234 A, so that an
   answer that belongs to the other query is seen. Over VXI-11, then over the
   raw socket (whose clear() only empties PyVISA's own buffer).
3. `lxi discover` time, over a veth pair with broadcast addresses.

Usage: bench/vxi11_bench.py BUILD_DIR [STALLS [SECONDS]]   (default 10 stalls of 3 s)
"""
import os
import re
import signal
import statistics
import subprocess
import sys
import threading
import time

if os.environ.get("VXI11_BENCH_NAMESPACE") != "1":
    os.environ["VXI11_BENCH_NAMESPACE"] = "1"
    sys.exit(subprocess.run(["unshare", "-n", sys.executable] + sys.argv).returncode)

import pyvisa  # noqa: E402

build = sys.argv[1] if len(sys.argv) > 1 else "build"
stalls = int(sys.argv[2]) if len(sys.argv) > 2 else 10
stall_seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 3.0

for command in (["ip", "link", "set", "lo", "up"],
                ["ip", "link", "add", "vb0", "type", "veth", "peer", "name", "vb1"],
                ["ip", "addr", "add", "10.78.0.1/24", "brd", "+", "dev", "vb0"],
                ["ip", "addr", "add", "10.78.0.2/24", "brd", "+", "dev", "vb1"],
                ["ip", "link", "set", "vb0", "up"], ["ip", "link", "set", "vb1", "up"]):
    subprocess.run(command, check=True)

supply = subprocess.Popen([os.path.join(build, "sim", "virtual-supply"), "--pace", "--address", "1,2",
                           "--load", "10"], stdout=subprocess.PIPE, text=True)
server = None
try:
    pty = supply.stdout.readline().strip()
    server = subprocess.Popen([os.path.join(build, "ctl", "velkaroctl"), "--port", pty, "--address", "1,2",
                               "serve-scpi", "--vxi11", "--listen", "0.0.0.0:0"],
                              stdout=subprocess.PIPE, text=True)
    lines = [server.stdout.readline() for _ in range(5)]
    raw_port = re.match(r"listening\s+0\.0\.0\.0:(\d+)", lines[0]).group(1)

    rm = pyvisa.ResourceManager("@py")
    vxi = rm.open_resource("TCPIP::127.0.0.1::inst1::INSTR", read_termination="\n", timeout=5000)
    raw = rm.open_resource(f"TCPIP::127.0.0.1::{raw_port}::SOCKET", read_termination="\n",
                           write_termination="\n", timeout=5000)
    vxi.write("VOLT 12.345;:CURR 1.234")
    times = {"vxi-11": [], "socket": []}
    for block in range(10):
        for name, resource in (("vxi-11", vxi), ("socket", raw)):
            for _ in range(20):
                started = time.perf_counter()
                resource.query("MEAS:VOLT?")
                times[name].append((time.perf_counter() - started) * 1000)
    for name, values in times.items():
        values.sort()
        print(f"MEAS:VOLT? {name}: median {statistics.median(values):.2f} ms, "
              f"95th percentile {values[int(0.95 * len(values)) - 1]:.2f} ms, n={len(values)}")

    expected = {"VOLT?": "12.345", "CURR?": "1.234"}

    def poll(resource, name):
        resource.timeout = 300
        counts = {"in step": 0, "out of step": 0, "timed out": 0, "not a number": 0}
        done = threading.Event()

        def stall():
            for _ in range(stalls):
                time.sleep(1.0)
                os.kill(supply.pid, signal.SIGSTOP)
                time.sleep(stall_seconds)
                os.kill(supply.pid, signal.SIGCONT)
            time.sleep(3.0)  # the loop goes on past the last stall
            done.set()

        stopper = threading.Thread(target=stall)
        stopper.start()
        index = 0
        while not done.is_set():
            query = ("VOLT?", "CURR?")[index % 2]
            index += 1
            try:
                answer = resource.query(query)
            except pyvisa.errors.VisaIOError:
                counts["timed out"] += 1
                resource.clear()
                continue
            if answer == expected[query]:
                counts["in step"] += 1
            elif answer == "9.91E+37":
                counts["not a number"] += 1
            else:
                counts["out of step"] += 1
        stopper.join()
        print(f"poll loop {name}, 300 ms time-out, {stalls} stalls of {stall_seconds:g} s: {counts}")

    poll(vxi, "vxi-11")
    poll(raw, "socket")

    took = []
    for _ in range(3):
        started = time.monotonic()
        found = subprocess.run(["lxi", "discover"], capture_output=True, text=True)
        took.append(time.monotonic() - started)
        assert "norvel,TK4810M,ADDR1" in found.stdout, found.stdout
    vxi.close()
    raw.close()
    answers = found.stdout.count("Found ")
    print("lxi discover: " + ", ".join(f"{t:.2f} s" for t in took) + f" ({answers} answers)")
finally:
    for process in (server, supply):
        if process and process.poll() is None:
            os.kill(process.pid, signal.SIGCONT)
            process.kill()
            process.wait()
