#!/usr/bin/python3
"""STATus events across supply stalls: serve-scpi on `virtual-supply --pace
--load 10` with the output on in CV (5 V, 1 A limit, 0.5 A into 10 ohm); the
supply is stopped (SIGSTOP) for STALL seconds and continued (SIGCONT), then
left to answer for 2 s, STALLS times. One client polls
`STAT:OPER?;:STAT:OPER:COND?;:STAT:QUES?;:STAT:QUES:COND?` all along, with
every rise and every fall of an operation condition latched (PTR and NTR
32767). Nothing changes at the supply, so any OPERation event is false.

Usage: bench/scpi_stall_events.py BUILD_DIR [STALLS] [STALL_S] [VELKAROCTL]
(default 10 stalls of 3 s; VELKAROCTL: another build's program, to compare).
Prints one line per figure.
"""

import os
import signal
import socket
import subprocess
import sys
import threading
import time

BUILD = sys.argv[1] if len(sys.argv) > 1 else "build"
STALLS = int(sys.argv[2]) if len(sys.argv) > 2 else 10
STALL_S = float(sys.argv[3]) if len(sys.argv) > 3 else 3.0
CTL = sys.argv[4] if len(sys.argv) > 4 else os.path.join(BUILD, "ctl", "velkaroctl")
SUPPLY = os.path.join(BUILD, "sim", "virtual-supply")
NOT_A_NUMBER = "9.91E+37"


def ask(sock, held, message):
    sock.sendall(message.encode() + b"\n")
    while b"\n" not in held[0]:
        chunk = sock.recv(256)
        if not chunk:
            raise ConnectionError("the server closed the connection")
        held[0] += chunk
    line, held[0] = held[0].split(b"\n", 1)
    return line.decode().strip()


def main():
    supply = subprocess.Popen([SUPPLY, "--pace", "--load", "10"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True)
    server = None
    try:
        port = supply.stdout.readline().strip()
        server = subprocess.Popen([CTL, "--port", port, "serve-scpi", "--listen", "127.0.0.1:0"],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        host, tcp = server.stdout.readline().split()[1].rsplit(":", 1)
        sock = socket.create_connection((host, int(tcp)))
        sock.settimeout(10.0)
        held = [b""]
        setup = ask(sock, held, "*RST;:APPL 5,1;:OUTP ON;:STAT:PRES;:STAT:OPER:NTR 32767;"
                                ":STAT:QUES:NTR 0;:STAT:OPER:COND?;*CLS;:STAT:OPER?;:STAT:QUES?")
        if setup != "1280;0;0":
            sys.exit("not on in CV at the start: " + setup)

        stop = threading.Event()
        tally = {"polls": 0, "operation_events": 0, "operation_bits": 0, "conditions_off": 0,
                 "not_answering_polls": 0, "questionable_latched": 0, "other_questionable": 0}

        def poll():
            while not stop.is_set():
                answer = ask(sock, held, "STAT:OPER?;:STAT:OPER:COND?;:STAT:QUES?;:STAT:QUES:COND?")
                events, condition, questionable, questionable_condition = \
                    (int(x) for x in answer.split(";"))
                tally["polls"] += 1
                if events:
                    tally["operation_events"] += 1
                    tally["operation_bits"] |= events
                tally["conditions_off"] += condition != 1280
                tally["not_answering_polls"] += questionable_condition == 512
                tally["questionable_latched"] += questionable == 512
                tally["other_questionable"] += questionable not in (0, 512)

        poller = threading.Thread(target=poll)
        poller.start()
        time.sleep(1.0)
        for _ in range(STALLS):
            os.kill(supply.pid, signal.SIGSTOP)
            time.sleep(STALL_S)
            os.kill(supply.pid, signal.SIGCONT)
            time.sleep(2.0)
        stop.set()
        poller.join()
        after = ask(sock, held, "STAT:OPER:COND?;:OUTP:MODE?;:MEAS:VOLT?")
        sock.close()
        print("%d stalls of %.1f s, output on in CV, %d polls" % (STALLS, STALL_S, tally["polls"]))
        print("  STAT:OPER? non-zero (OPERation events): %d (bits %d)"
              % (tally["operation_events"], tally["operation_bits"]))
        print("  STAT:OPER:COND? other than 1280: %d polls" % tally["conditions_off"])
        print("  STAT:QUES:COND? 512 (not answering): %d polls" % tally["not_answering_polls"])
        print("  STAT:QUES? 512 latched: %d times (one per stall: %d); other questionable events: %d"
              % (tally["questionable_latched"], STALLS, tally["other_questionable"]))
        print("  after: STAT:OPER:COND?;:OUTP:MODE?;:MEAS:VOLT? = %s" % after)
    finally:
        os.kill(supply.pid, signal.SIGCONT)
        for process in (server, supply):
            if process:
                process.terminate()
                process.wait()


if __name__ == "__main__":
    main()
