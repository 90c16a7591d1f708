# The third station, PyVISA with the pyvisa-py backend, on a unit other
# stations lock too; and the check of the simulator's log afterwards.
#   locks.py station        lock, work in pieces with pauses, unlock
#   locks.py refused        while another station holds the lock: refused at once
#   locks.py check LOG      every locking station's commands form one block
import re
import sys
import time

RESOURCE = "TCPIP::127.0.0.1::inst0::INSTR"


def open_unit():
    import pyvisa

    inst = pyvisa.ResourceManager("@py").open_resource(RESOURCE)
    inst.read_termination = "\n"
    inst.write_termination = "\n"
    inst.timeout = 10000
    return inst


def station():
    from pyvisa import constants, errors

    inst = open_unit()
    # pyvisa-py asks without waitlock: a lock held elsewhere is refused at once, so ask again.
    deadline = time.monotonic() + 30
    while True:
        try:
            inst.lock_excl(timeout=0)
            break
        except errors.VisaIOError as e:
            if e.error_code != constants.StatusCode.error_resource_locked or time.monotonic() > deadline:
                raise
            time.sleep(0.02)
    # A sequence another station must not break into: set, pause, read back.
    inst.write("*CLS")
    for port in (4, 6, 8):
        inst.write(f":SENS{port}:FREQ {port}e8")
        time.sleep(0.1)
        got = float(inst.query(f":SENS{port}:FREQ?"))
        assert got == port * 1e8, (port, got)
    inst.write("*ESE 32;*SRE 0")
    inst.write(":FROBNICATE")
    stb = inst.read_stb()
    assert stb & (4 | 32) == 4 | 32, f"status byte {stb}: error queue and ESB expected"
    inst.write("*IDN?")  # left unread: device clear must take it
    assert inst.read_stb() & 16, "MAV expected with an answer waiting"
    inst.clear()
    assert not inst.read_stb() & 16, "device clear leaves no answer"
    assert inst.query(":SYST:ERR?").strip() == '-113,"Undefined header"'
    inst.write("*CLS")
    inst.unlock()
    inst.close()
    print("pyvisa-py station: locked, 3 settings read back, read_stb() and clear() as expected, unlocked")


def refused():
    from pyvisa import constants, errors

    inst = open_unit()
    started = time.monotonic()
    try:
        inst.query("*IDN?")
    except errors.VisaIOError as e:
        # pyvisa-py reports every refused write as an I/O error; a lock refuses at once.
        took = time.monotonic() - started
        codes = (constants.StatusCode.error_resource_locked, constants.StatusCode.error_io)
        if e.error_code in codes and took < 1:
            print(f"pyvisa-py: refused at once while another station holds the lock ({took * 1000:.0f} ms, {e.abbreviation})")
            return
        raise
    sys.exit("pyvisa-py: a command went through while another station held the lock")


LINE = re.compile(r"^zentrix8-sim: +[0-9.]+ (\S+) (> |< |locked the unit|unlocked the unit|released)")


def check(log):
    events = []  # (peer, kind)
    for line in open(log, encoding="utf-8", errors="replace"):
        m = LINE.match(line)
        if m:
            kind = m.group(2).strip()
            events.append((m.group(1), kind if kind in ("locked the unit", "unlocked the unit", "released") else "io"))
    holders = 0
    for i, (peer, kind) in enumerate(events):
        if kind != "locked the unit":
            continue
        holders += 1
        end = next((j for j in range(i + 1, len(events)) if events[j][0] == peer and events[j][1] != "io"), len(events))
        strangers = [e for e in events[i:end] if e[0] != peer and e[1] == "io"]
        mine = sum(1 for e in events[i:end] if e[0] == peer and e[1] == "io")
        before = [e for e in events[:i] if e[0] == peer and e[1] == "io"]
        print(f"{peer}: {mine} commands and answers while it held the lock, "
              f"{len(strangers)} of other stations, {len(before)} before it locked")
        if strangers or mine == 0:
            sys.exit(f"{peer}'s block was broken into: {strangers[:3]}")
    if holders < 3:
        sys.exit(f"only {holders} stations locked the unit")


if __name__ == "__main__":
    {"station": station, "refused": refused}.get(sys.argv[1], lambda: check(sys.argv[2]))()
