#!/usr/bin/python3
"""Wrong values after supply stalls: velkaroctl get after a failed status,
watch, and SCPI polling, against `virtual-supply --pace --load 10` stopped
(SIGSTOP) for 3 s and 6 s and continued (SIGCONT), when it answers every
request it missed, one after another.

The supply is set to 5 V and 1 A with the output on: into 10 ohm it holds
5.00 V and 0.500 A in CV. A value is wrong when it differs from that (by
more than the measurement noise for measured values). The state does not
change during a trial, so a late reply of the same command carries the same
values; what the figure counts is values taken from replies of other
commands. A second check reads the frame trace (--trace): every reply taken
must carry the command of the request sent before it.

Usage: bench/stall_bench.py BUILD_DIR [TRIALS]   (default 10 trials each)
Prints one line per figure.
"""

import os
import signal
import socket
import statistics
import subprocess
import sys
import threading
import time

BUILD = sys.argv[1] if len(sys.argv) > 1 else "build"
TRIALS = int(sys.argv[2]) if len(sys.argv) > 2 else 10
SUPPLY = os.path.join(BUILD, "sim", "virtual-supply")
CTL = os.path.join(BUILD, "ctl", "velkaroctl")
STALLS = (3.0, 6.0)
HELD = {"voltage": 5.0, "current": 1.0, "output": "on"}


def start_supply():
    supply = subprocess.Popen([SUPPLY, "--pace", "--load", "10"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True)
    path = supply.stdout.readline().strip()
    return supply, path


def ctl(port, *args, trace=False):
    started = time.monotonic()
    run = subprocess.run([CTL, "--port", port] + (["--trace"] if trace else []) + list(args),
                         capture_output=True, text=True)
    return run, time.monotonic() - started


def mispaired(trace):
    """Replies taken (no note) whose command is not the last request's."""
    count = 0
    asked = None
    for line in trace.splitlines():
        parts = line.split()
        if len(parts) < 3 or not parts[2].startswith("#"):
            continue
        frame = parts[2]
        if parts[1] == ">":
            asked = frame[5:7]
        elif parts[1] == "<" and len(parts) == 3 and asked is not None and frame[5:7] != asked:
            count += 1
    return count


def get_after_failed_status(port, pid):
    print("get after a failed status (%d trials per stall)" % TRIALS)
    quiet = [ctl(port, "get")[1] for _ in range(TRIALS)]
    for stall in STALLS:
        wrong = values = failed_status = failed_get = traced = 0
        times = []
        for _ in range(TRIALS):
            os.kill(pid, signal.SIGSTOP)
            began = time.monotonic()
            status, _ = ctl(port, "status")
            failed_status += status.returncode != 0
            time.sleep(max(0.0, stall - (time.monotonic() - began)))
            os.kill(pid, signal.SIGCONT)
            get, took = ctl(port, "get", trace=True)
            times.append(took)
            traced += mispaired(get.stderr)
            if get.returncode != 0:
                failed_get += 1
                continue
            out = get.stdout.split()
            values += len(out)
            wrong += (abs(float(out[0]) - HELD["voltage"]) > 0.0005) \
                + (abs(float(out[1]) - HELD["current"]) > 0.0005) + (out[2] != HELD["output"])
            time.sleep(0.3)
        print("  %.0f s stall: status failed %d of %d; get: %d wrong of %d values, %d failed,"
              " %d mispaired in the trace; get took median %.1f ms (max %.1f) against"
              " %.1f ms on a quiet line: %.1f ms more"
              % (stall, failed_status, TRIALS, wrong, values, failed_get, traced,
                 1000 * statistics.median(times), 1000 * max(times),
                 1000 * statistics.median(quiet),
                 1000 * (statistics.median(times) - statistics.median(quiet))))


def stall_cycles(pid, stall, after):
    """Stops the supply for stall seconds and lets it run for after, TRIALS times;
    returns the times it was continued."""
    continued = []
    for _ in range(TRIALS):
        os.kill(pid, signal.SIGSTOP)
        time.sleep(stall)
        os.kill(pid, signal.SIGCONT)
        continued.append(time.monotonic())
        time.sleep(after)
    return continued


def first_after(times, moments):
    """Seconds from each moment to the first time after it."""
    delays = []
    for m in moments:
        later = [t for t in times if t > m]
        if later:
            delays.append(later[0] - m)
    return delays


def watch(port, pid):
    print("watch --interval 0.2 --max-failures 1000 (%d stalls each)" % TRIALS)
    for stall in STALLS:
        proc = subprocess.Popen([CTL, "--port", port, "--trace", "watch", "--interval", "0.2",
                                 "--max-failures", "1000"],
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        lines = []
        reader = threading.Thread(
            target=lambda: lines.extend((time.monotonic(), l) for l in proc.stdout))
        reader.start()
        errors = []
        err_reader = threading.Thread(target=lambda: errors.append(proc.stderr.read()))
        err_reader.start()
        time.sleep(1.0)
        continued = stall_cycles(pid, stall, 2.0)
        proc.send_signal(signal.SIGINT)
        proc.wait()
        reader.join()
        err_reader.join()
        wrong = values = 0
        for _, line in lines[1:]:
            f = line.strip().split(",")
            values += 4
            wrong += (abs(float(f[2]) - 5.0) > 0.005) + (abs(float(f[3]) - 0.5) > 0.0005) \
                + (f[4] != "CV") + (f[5] != "on")
        delays = first_after([t for t, _ in lines[1:]], continued)
        print("  %.0f s stalls: %d wrong of %d values (%d lines), %d mispaired in the trace;"
              " first line after the supply was continued: median %.0f ms, max %.0f ms"
              % (stall, wrong, values, len(lines) - 1, mispaired(errors[0]),
                 1000 * statistics.median(delays), 1000 * max(delays)))


def scpi(port, pid):
    print("SCPI polling, MEAS:VOLT? MEAS:CURR? VOLT? OUTP? in turn (%d stalls each)" % TRIALS)
    expected = {"MEAS:VOLT?": (5.0, 0.02), "MEAS:CURR?": (0.5, 0.005), "VOLT?": (5.0, 0.0005),
                "OUTP?": (1.0, 0.0)}
    for stall in STALLS:
        server = subprocess.Popen([CTL, "--port", port, "serve-scpi", "--listen", "127.0.0.1:0"],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        host, tcp = server.stdout.readline().split()[-1].rsplit(":", 1)
        stop = threading.Event()
        tally = {"wrong": 0, "answers": 0, "missed": 0}
        answered = []

        def poll():
            sock = socket.create_connection((host, int(tcp)))
            sock.settimeout(5.0)
            held = b""
            n = 0
            while not stop.is_set():
                query = list(expected)[n % len(expected)]
                n += 1
                sock.sendall(query.encode() + b"\n")
                try:
                    while b"\n" not in held:
                        chunk = sock.recv(256)
                        if not chunk:
                            return
                        held += chunk
                except socket.timeout:
                    # No answer: a fresh connection, so that a late answer is
                    # never read as the next query's.
                    tally["missed"] += 1
                    sock.close()
                    sock = socket.create_connection((host, int(tcp)))
                    sock.settimeout(5.0)
                    held = b""
                    continue
                answer, held = held.split(b"\n", 1)
                value, tolerance = expected[query]
                try:
                    got = float(answer)
                except ValueError:
                    got = None
                # 9.91E+37 is SCPI's "not a number": the supply did not answer.
                if got is None or got == 9.91e37:
                    tally["missed"] += 1
                    continue
                tally["answers"] += 1
                answered.append(time.monotonic())
                tally["wrong"] += abs(got - value) > tolerance
            sock.close()

        poller = threading.Thread(target=poll)
        poller.start()
        time.sleep(1.0)
        continued = stall_cycles(pid, stall, 2.0)
        stop.set()
        poller.join()
        server.send_signal(signal.SIGTERM)
        server.wait()
        delays = first_after(answered, continued)
        print("  %.0f s stalls: %d wrong of %d answers, %d queries unanswered; first answer"
              " after the supply was continued: median %.0f ms, max %.0f ms"
              % (stall, tally["wrong"], tally["answers"], tally["missed"],
                 1000 * statistics.median(delays), 1000 * max(delays)))


def main():
    supply, port = start_supply()
    try:
        for args in (("set", "--voltage", "5", "--current", "1"), ("on",)):
            if ctl(port, *args)[0].returncode != 0:
                sys.exit("could not set the supply up")
        get_after_failed_status(port, supply.pid)
        watch(port, supply.pid)
        scpi(port, supply.pid)
    finally:
        os.kill(supply.pid, signal.SIGCONT)
        supply.terminate()
        supply.wait()


if __name__ == "__main__":
    main()
