# PyVISA with pyvisa-py against the same zentrix8-sim: per-query time and a
# 200 000-value list with query_ascii_values.  Prints "name value unit".
import statistics
import sys
import time

import pyvisa

rm = pyvisa.ResourceManager("@py")
for name, resource in (("pyvisa_socket", sys.argv[1]), ("pyvisa_vxi11", sys.argv[2])):
    inst = rm.open_resource(resource)
    inst.read_termination = "\n"
    inst.write_termination = "\n"
    inst.timeout = 20000
    times = []
    for _ in range(1000):
        start = time.perf_counter()
        inst.query(":SENS1:FREQ?")
        times.append((time.perf_counter() - start) * 1e6)
    print(f"{name}_query {statistics.median(times):.3f} us")
    times = []
    for _ in range(10):
        start = time.perf_counter()
        values = inst.query_ascii_values(":SYST:TEST:LIST? 200000")
        times.append((time.perf_counter() - start) * 1e3)
    assert len(values) == 200000
    print(f"{name}_list_200000 {statistics.median(times):.3f} ms")
    inst.close()
