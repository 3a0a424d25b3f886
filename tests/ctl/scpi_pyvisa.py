"""Drives `velkaroctl serve-scpi` on the virtual-supply program with PyVISA,
as a test-automation script would.

usage: scpi_pyvisa.py VELKAROCTL VIRTUAL_SUPPLY VERSION
"""
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

import pyvisa
from pymeasure.adapters import VISAAdapter
from pymeasure.instruments import Instrument

# No system bus: the servers started here never advertise through the
# machine's own Avahi daemon.
os.environ["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + os.path.join(tempfile.gettempdir(), "no-system-bus")

ctl, supply_exe, version = sys.argv[1:4]

# A 10-ohm load: 12 V draws 1.2 A (CV under a 2 A limit); a 0.5 A limit
# binds (CC) and leaves 5 V across the load.
supply = subprocess.Popen([supply_exe, "--load", "10"], stdout=subprocess.PIPE, text=True)
server = None
try:
    pty = supply.stdout.readline().strip()
    server = subprocess.Popen([ctl, "--port", pty, "serve-scpi", "--listen", "127.0.0.1:0"],
                              stdout=subprocess.PIPE, text=True)
    port = re.match(r"listening\s+127\.0\.0\.1:(\d+)$", server.stdout.readline().strip()).group(1)

    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource(f"TCPIP::127.0.0.1::{port}::SOCKET",
                            read_termination="\n", write_termination="\n", timeout=5000)

    def check(query, expected):
        answer = inst.query(query)
        assert answer == expected, f"{query!r}: {answer!r}, expected {expected!r}"

    def near(query, expected, tolerance):
        answer = float(inst.query(query))
        assert abs(answer - expected) <= tolerance, f"{query!r}: {answer}, expected {expected}"

    check("*IDN?", f"norvel,TK4810M,0,{version}")
    check("*ESR?", "128")
    check("SYSTem:VERSion?", "1999.0")
    check("OUTP?", "0")
    check("OUTPut:MODE?", "OFF")

    inst.write("SOURce:VOLTage:LEVel:IMMediate:AMPLitude 12;:CURR 2000 mA")
    check("VOLT?;CURR?", "12.000;2.000")
    # APPL? answers a quoted string; the two ways docs/scpi.md gives to read it.
    assert [float(x) for x in inst.query("APPL?").strip('"').split(",")] == [12.0, 2.0]
    assert inst.query_ascii_values("VOLT?;CURR?", separator=";") == [12.0, 2.0]
    inst.write("outp on")
    check("OUTPut:STATe?;MODE?", "1;CV")
    near("MEASure:SCALar:VOLTage:DC?", 12.0, 0.011)
    near("MEAS:CURR?", 1.2, 0.0011)
    near("MEAS:POW?", 14.4, 0.03)
    temperature = float(inst.query("MEAS:TEMP?"))
    assert 20.0 <= temperature <= 80.0, temperature

    # The limit binds: wait for constant current (STATus:OPERation bit 9) as
    # a script that knows nothing of OUTP:MODE? would.
    inst.write("CURR 5E-1")
    deadline = time.monotonic() + 5
    while not int(inst.query("STAT:OPER:COND?")) & 512:
        assert time.monotonic() < deadline, "no CC in STATus:OPERation:CONDition"
    check("STAT:OPER:COND?;:OUTP:MODE?", "1536;CC")
    near("MEAS:CURR?", 0.5, 0.0011)
    near("MEAS:VOLT?", 5.0, 0.011)
    inst.write("OUTP OFF;VOLT 1500 MV")
    check("OUTP:MODE?;:VOLT?", "OFF;1.500")
    inst.write("VOLT MIN;CURR MAX")
    check("VOLT?;CURR?", "0.010;9.999")
    check("VOLT? MAX;CURR? MIN", "30.000;0.005")

    check("SYST:ERR?", '0,"No error"')
    inst.write("VOLT 30.5")   # out of range: nothing is sent
    inst.write("CURR 2 V")    # wrong unit: invalid suffix
    inst.write("OUTP MAYBE")
    inst.write("VOLT")
    inst.write("VOLT 1,2")
    inst.write("VOLT::LEV 3")
    check("VOLT?", "0.010")
    # Malformed or unknown queries answer nothing: the next query reads its
    # own answer.
    inst.write("NOSUCH?")
    inst.write('DISP:TEXT "Ready?"')
    inst.write("VOLT 5?")
    check("*OPC?", "1")
    for code in ["-222", "-131", "-224", "-109", "-108", "-102", "-113", "-113", "-102"]:
        assert inst.query("SYST:ERR?").startswith(code + ","), code
    check("SYSTem:ERRor:NEXT?", '0,"No error"')
    inst.write("VOLT 99")  # the oldest errors are kept when the queue overflows
    for _ in range(20):
        inst.write("BAD")
    errors = [inst.query("SYST:ERR?") for _ in range(17)]
    assert errors[:15] == ['-222,"Data out of range"'] + ['-113,"Undefined header"'] * 14, errors
    assert errors[15:] == ['-350,"Queue overflow"', '0,"No error"'], errors
    inst.write("BAD")
    inst.write("*CLS")
    check("SYST:ERR?", '0,"No error"')

    # The status registers as IEEE 488.2 has them; power-on was read above.
    inst.write("NOSUCH")
    check("*ESR?", "32")
    check("*ESR?", "0")
    check("*STB?", "4")
    check("SYST:ERR:COUN?", "1")
    check("SYST:ERR:ALL?", '-113,"Undefined header"')
    check("*OPC;*ESR?", "1")
    check("*TST?;*OPT?", "0;0")
    inst.write("APPL 12,2;:OUTP ON")
    inst.close()

    # PyMeasure as a script uses it: reset() sends *RST, which must leave the
    # output off and the set-points at their minimum.
    adapter = VISAAdapter(f"TCPIP::127.0.0.1::{port}::SOCKET", visa_library="@py",
                          read_termination="\n", write_termination="\n", timeout=5000)
    psu = Instrument(adapter, "supply")
    assert psu.ask("OUTP?").strip() == "1"
    psu.reset()
    psu.write("*CLS")
    assert psu.ask("OUTP?;:APPL?;:SYST:ERR:COUN?").strip() == '0;"0.010,0.005";0'
    adapter.connection.close()

    server.send_signal(signal.SIGTERM)
    assert server.wait(5) == 0, "serve-scpi did not end cleanly on SIGTERM"

    # A supply that never answers, with PyVISA's default time-out of 2 s:
    # every answer comes in time, so none is read by the wrong query.
    silent = subprocess.Popen([supply_exe, "--silent"], stdout=subprocess.PIPE, text=True)
    silent_pty = silent.stdout.readline().strip()
    silent_server = subprocess.Popen(
        [ctl, "--port", silent_pty, "serve-scpi", "--listen", "127.0.0.1:0"],
        stdout=subprocess.PIPE, text=True)
    silent_port = re.match(r"listening\s+127\.0\.0\.1:(\d+)$",
                           silent_server.stdout.readline().strip()).group(1)
    try:
        dead = rm.open_resource(f"TCPIP::127.0.0.1::{silent_port}::SOCKET",
                                read_termination="\n", write_termination="\n")
        assert dead.timeout == 2000, dead.timeout
        nan = "9.91E+37"
        assert dead.query("MEAS:VOLT?;:VOLT?;:MEAS:TEMP?") == f"{nan};{nan};{nan}"
        assert dead.query("*IDN?") == f"norvel,TK4810M,0,{version}"
        assert dead.query("MEAS:CURR?;:APPL?") == f"{nan};{nan}"
        assert dead.query("STAT:QUES:COND?") == "512"
        assert dead.query("SYST:ERR:COUN?") == "6"
        dead.close()
    finally:
        for process in (silent_server, silent):
            process.kill()
            process.wait()

finally:
    for process in (server, supply):
        if process and process.poll() is None:
            process.kill()
            process.wait()
print("PyVISA drove the virtual supply through serve-scpi")
