"""Drives `velkaroctl serve-scpi --vxi11` with PyVISA-py's VXI-11 client and
lxi-tools, as a test engineer would, inside a network namespace of its own
(PyVISA-py asks the portmapper on port 111, and `lxi discover` broadcasts on
every interface): the machine's own port 111 and network are never touched.

usage: vxi11_pyvisa.py VELKAROCTL VIRTUAL_SUPPLY VERSION [STALLS [SECONDS]]
It enters a network namespace of its own first (unshare -n, as root); where
it may not, it exits with 77 (skipped).
"""
import os
import re
import signal
import subprocess
import sys
import tempfile
import threading
import time

import pyvisa

# No system bus: the servers started here never advertise through the
# machine's own Avahi daemon.
os.environ["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + os.path.join(tempfile.gettempdir(), "no-system-bus")

if os.environ.get("VXI11_TEST_NAMESPACE") != "1":
    os.environ["VXI11_TEST_NAMESPACE"] = "1"
    try:
        # A mount namespace too: the system's portmapper started here keeps
        # its files in a /run of the test's own.
        entered = subprocess.run(["unshare", "-n", "-m", sys.executable] + sys.argv)
    except OSError:
        sys.exit(77)
    # unshare itself fails with 1 where it is not allowed.
    sys.exit(entered.returncode if entered.returncode != 1 or os.geteuid() == 0 else 77)

ctl, supply_exe, version = sys.argv[1:4]
ctl, supply_exe = os.path.abspath(ctl), os.path.abspath(supply_exe)
stalls = int(sys.argv[4]) if len(sys.argv) > 4 else 2
stall_seconds = float(sys.argv[5]) if len(sys.argv) > 5 else 1.5


def read_lines(process, count):
    """The first lines a server prints, or its end and what it said."""
    lines = [process.stdout.readline().strip() for _ in range(count)]
    if not lines[-1]:
        process.wait(5)
        raise AssertionError(f"serve-scpi ended with {process.returncode}: {lines} {process.stderr.read()}")
    return lines


def sh(*command):
    subprocess.run(command, check=True)


# Our own namespace: only its loopback and a veth pair with broadcast
# addresses for discovery.
sh("ip", "link", "set", "lo", "up")
sh("ip", "link", "add", "vx0", "type", "veth", "peer", "name", "vx1")
sh("ip", "addr", "add", "10.77.0.1/24", "brd", "+", "dev", "vx0")
sh("ip", "addr", "add", "10.77.0.2/24", "brd", "+", "dev", "vx1")
sh("ip", "link", "set", "vx0", "up")
sh("ip", "link", "set", "vx1", "up")

supply = subprocess.Popen([supply_exe, "--pace", "--address", "1,2", "--load", "10"],
                          stdout=subprocess.PIPE, text=True)
server = None
try:
    pty = supply.stdout.readline().strip()
    # Every interface of the namespace, so that the broadcast reaches it.
    server = subprocess.Popen([ctl, "--port", pty, "--address", "1,2", "serve-scpi", "--vxi11",
                               "--listen", "0.0.0.0:0"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    lines = read_lines(server, 5)
    raw_port = re.match(r"listening\s+0\.0\.0\.0:(\d+)\s+supply .*address 1$", lines[0]).group(1)
    assert re.match(r"vxi-11\s+0\.0\.0\.0:\d+\s+TCPIP::.*::inst1::INSTR$", lines[2]), lines
    assert re.match(r"vxi-11\s+0\.0\.0\.0:\d+\s+TCPIP::.*::inst2::INSTR$", lines[3]), lines
    assert re.match(r"portmapper\s+0\.0\.0\.0:111\s+own$", lines[4]), lines

    # rpcinfo (the system RPC library's client) lists the portmapper and the
    # core channel, and reaches the core channel's null procedure through it.
    listed = subprocess.run(["rpcinfo", "-p", "127.0.0.1"], capture_output=True, text=True).stdout
    core = re.match(r"vxi-11\s+0\.0\.0\.0:(\d+)", lines[2]).group(1)
    assert re.search(rf"395183\s+1\s+tcp\s+{core}\s", listed), listed
    assert re.search(r"100000\s+2\s+udp\s+111\s", listed), listed
    pinged = subprocess.run(["rpcinfo", "-t", "127.0.0.1", "395183", "1"], capture_output=True, text=True)
    assert "program 395183 version 1 ready and waiting" in pinged.stdout, pinged

    rm = pyvisa.ResourceManager("@py")
    one = rm.open_resource("TCPIP::127.0.0.1::inst1::INSTR", timeout=5000)
    assert one.query("*IDN?") == f"norvel,TK4810M,ADDR1,{version}\n"
    # The bare resource and inst0 name the first address (0 is not served);
    # gpib0,N is another name of address N.
    bare = rm.open_resource("TCPIP::127.0.0.1::INSTR", timeout=5000)
    assert bare.query("*IDN?") == f"norvel,TK4810M,ADDR1,{version}\n"
    two = rm.open_resource("TCPIP::127.0.0.1::gpib0,2::INSTR", timeout=5000)
    assert two.query("*IDN?") == f"norvel,TK4810M,ADDR2,{version}\n"
    try:
        rm.open_resource("TCPIP::127.0.0.1::inst7::INSTR")
        raise AssertionError("inst7 is not served but got a link")
    except Exception as refused:
        assert "error creating link: 3" in str(refused), refused

    one.read_termination = "\n"
    one.write("VOLT 12.345;:CURR 1.234")
    assert one.query("VOLT?;CURR?") == "12.345;1.234"
    # Links of one instrument share its state, as raw-socket clients do.
    bare.write("NOSUCH")
    assert one.query("SYST:ERR?") == '-113,"Undefined header"'
    assert two.query("SYST:ERR?") == '0,"No error"\n'
    # The status byte: 16 while an answer waits for this link, 4 for an error.
    one.write("*IDN?")
    assert one.read_stb() == 16
    one.read()
    one.write("NOSUCH")
    assert one.read_stb() == 4
    one.write("*CLS")
    # device_clear drops the answer waiting: the next read gets its own.
    one.write("VOLT?")
    one.clear()
    assert one.query("CURR?") == "1.234"
    # A lock holds the other links off until it is let go.
    one.lock_excl(2000)
    bare.timeout = 300
    try:
        bare.query("*IDN?")
        raise AssertionError("a locked device took another link's message")
    except pyvisa.errors.VisaIOError:
        pass
    one.unlock()
    bare.read_termination = "\n"
    bare.clear()
    assert bare.query("*IDN?") == f"norvel,TK4810M,ADDR1,{version}"
    two.close()
    bare.close()

    # The poll loop of a client with a short time-out through stalls of the
    # supply: each time-out followed by clear(), and never an answer that
    # belongs to another query.
    one.timeout = 300
    expected = {"VOLT?": "12.345", "CURR?": "1.234"}
    counts = {"in step": 0, "out of step": 0, "timed out": 0, "not a number": 0}
    stalled = []

    def stall():
        for _ in range(stalls):
            time.sleep(1.0)
            os.kill(supply.pid, signal.SIGSTOP)
            stalled.append(time.monotonic())
            time.sleep(stall_seconds)
            os.kill(supply.pid, signal.SIGCONT)
        stalled.append(None)

    stopper = threading.Thread(target=stall)
    stopper.start()
    index = 0
    # The stall each time-out or 'not a number' answer came in: the client
    # must feel every stall, one way or the other (how long the server's
    # first unanswered try takes against the client's time-out decides which).
    felt_in_stall = []
    while not stalled or stalled[-1] is not None:
        query = ("VOLT?", "CURR?")[index % 2]
        index += 1
        try:
            answer = one.query(query)
        except pyvisa.errors.VisaIOError as error:
            assert error.error_code == pyvisa.constants.StatusCode.error_timeout, error
            counts["timed out"] += 1
            felt_in_stall.append(len(stalled))
            one.clear()
            continue
        if answer == expected[query]:
            counts["in step"] += 1
        elif answer == "9.91E+37":
            counts["not a number"] += 1
            felt_in_stall.append(len(stalled))
        else:
            counts["out of step"] += 1
    stopper.join()
    # After the last stall the loop goes on until it answers in step again.
    deadline = time.monotonic() + 10
    after = 0
    while after < 20:
        assert time.monotonic() < deadline, counts
        query = ("VOLT?", "CURR?")[index % 2]
        index += 1
        try:
            answer = one.query(query)
        except pyvisa.errors.VisaIOError:
            counts["timed out"] += 1
            one.clear()
            continue
        if answer == expected[query]:
            counts["in step"] += 1
            after += 1
        elif answer != "9.91E+37":
            counts["out of step"] += 1
    print("poll loop, 300 ms time-out, %d stalls of %.1f s:" % (stalls, stall_seconds), counts)
    assert counts["out of step"] == 0, counts
    # Every stall was felt.
    for number in range(1, stalls + 1):
        assert number in felt_in_stall, (number, felt_in_stall, counts)
    one.timeout = 5000
    one.query("SYST:ERR:ALL?")
    one.close()

    # Discovery as lxi-tools does it: a broadcast to the portmapper on every
    # interface, then *IDN? over VXI-11 to each host that answered.
    started = time.monotonic()
    found = subprocess.run(["lxi", "discover"], capture_output=True, text=True, timeout=30)
    took = time.monotonic() - started
    print(f"lxi discover: {took:.2f} s")
    assert f'Found "norvel,TK4810M,ADDR1,{version}" on address 10.77.0.1' in found.stdout, found.stdout
    # And lxi's own VXI-11 client, which asks for inst0: the first address.
    scpi = subprocess.run(["lxi", "scpi", "-a", "127.0.0.1", "-t", "5", "*IDN?"],
                          capture_output=True, text=True, timeout=30)
    assert f"norvel,TK4810M,ADDR1,{version}" in scpi.stdout, (scpi.stdout, scpi.stderr)

    server.send_signal(signal.SIGTERM)
    assert server.wait(5) == 0, "serve-scpi did not end cleanly on SIGTERM"

    # Where the system's portmapper holds port 111, the core channel is
    # registered with it while the server runs, and taken off at its end.
    sh("mount", "-t", "tmpfs", "tmpfs", "/run")
    os.makedirs("/run/rpcbind", exist_ok=True)
    rpcbind = subprocess.Popen(["rpcbind", "-f", "-w"])
    deadline = time.monotonic() + 5
    while subprocess.run(["rpcinfo", "-p", "127.0.0.1"], capture_output=True).returncode != 0:
        assert time.monotonic() < deadline, "rpcbind did not come up"
        time.sleep(0.05)
    server = subprocess.Popen([ctl, "--port", pty, "--address", "2", "serve-scpi", "--vxi11",
                               "--listen", "127.0.0.1:0"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    lines = read_lines(server, 4)
    assert re.match(r"portmapper\s+127\.0\.0\.1:111\s+the system's, programs registered$", lines[3]), lines
    core = re.match(r"vxi-11\s+127\.0\.0\.1:(\d+)", lines[2]).group(1)
    listed = subprocess.run(["rpcinfo", "-p", "127.0.0.1"], capture_output=True, text=True).stdout
    assert re.search(rf"395183\s+1\s+tcp\s+{core}", listed), listed
    bare = rm.open_resource("TCPIP::127.0.0.1::INSTR", read_termination="\n", timeout=5000)
    assert bare.query("*IDN?") == f"norvel,TK4810M,0,{version}"
    bare.close()
    server.send_signal(signal.SIGTERM)
    assert server.wait(5) == 0
    listed = subprocess.run(["rpcinfo", "-p", "127.0.0.1"], capture_output=True, text=True).stdout
    assert "395183" not in listed, listed
    rpcbind.terminate()
    rpcbind.wait(5)

    # No portmapper, and a user that may not bind port 111: one line says
    # why clients cannot find the instruments and how to fix it, and the
    # server serves all the same.
    os.chmod(pty, 0o666)
    server = subprocess.Popen(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", ctl,
                               "--port", pty, "--address", "2", "serve-scpi", "--vxi11",
                               "--listen", "127.0.0.1:0"],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, cwd="/")
    lines = read_lines(server, 3)
    assert lines[2].startswith("vxi-11  127.0.0.1:"), lines
    told = server.stderr.readline()
    assert told.startswith("velkaroctl: VXI-11 clients cannot find the instruments: no portmapper runs "
                           "and port 111 may not be bound by this user; start rpcbind, or let velkaroctl "
                           "bind it: setcap cap_net_bind_service=+ep"), told
    server.send_signal(signal.SIGTERM)
    assert server.wait(5) == 0
finally:
    for process in (server, supply):
        if process and process.poll() is None:
            os.kill(process.pid, signal.SIGCONT)
            process.kill()
            process.wait()
print("PyVISA-py and lxi-tools reached the virtual supply through serve-scpi --vxi11")
