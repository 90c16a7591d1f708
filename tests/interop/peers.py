# PyVISA with the pyvisa-py backend against zentrix8-sim: identity, a setting
# read back, a 200 000-value trace and the error queue, over VXI-11 and a socket.
import sys

import pyvisa

rm = pyvisa.ResourceManager("@py")
failures = 0
for resource in ("TCPIP::127.0.0.1::inst0::INSTR", "TCPIP::127.0.0.1::5025::SOCKET"):
    inst = rm.open_resource(resource)
    inst.read_termination = "\n"
    inst.write_termination = "\n"
    inst.timeout = 10000
    idn = inst.query("*IDN?").strip()
    inst.write(":SENS1:FREQ 2400000000")
    frequency = float(inst.query(":SENS1:FREQ?"))
    inst.write(":SENS1:SAMP:COUNT 200000")
    inst.write("*CLS;:INIT:IMM;*OPC")
    trace = inst.query_ascii_values(":SENS1:TRAC:DATA?")
    errors = inst.query(":SYSTEM:ERR:ALL?").strip()
    ok = idn.startswith("Tavlor,Zentrix8,") and frequency == 2.4e9 and len(trace) == 200000 and errors == '0,"No error"'
    print(f"{resource}: {'ok' if ok else 'FAILED'} idn={idn!r} frequency={frequency} values={len(trace)} errors={errors!r}")
    failures += 0 if ok else 1
    # What an IEEE 488.2 / SCPI instrument answers to the standard queries.
    inst.write("*CLS")
    inst.write("*ESE 32")
    inst.write(":FROBNICATE")
    standard = [
        ("*OPC?", "1"), ("*TST?", "0"), ("*OPT?", "0"), ("*ESE?", "32"), ("SYST:VERS?", "1999.0"),
        ("*STB?", "36"),  # error queue not empty (4) and ESB (32): a command error is enabled
        ("SYST:ERR:COUN?", "1"), ("SYSTem:ERRor:NEXT?", '-113,"Undefined header"'), ("SYST:ERR?", '0,"No error"'),
        ("*ESR?", "32"), ("*ESR?", "0"), ("SENSe1:FREQuency?", "2400000000"), ("*IDN?;*ESR?", idn + ";0"),
    ]
    for query, expected in standard:
        got = inst.query(query).strip()
        good = got == expected
        failures += 0 if good else 1
        if not good:
            print(f"{resource}: FAILED {query!r} -> {got!r}, expected {expected!r}")
    print(f"{resource}: common commands, status bits, error queue, long forms, a compound query: checked")
    inst.close()
sys.exit(1 if failures else 0)
