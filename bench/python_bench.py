# The Python package's cost over the component's own: a property get
# (u.Frequency[2]) through the package and through a lean ctypes Invoke of
# the same member, and a 200 000-value GetTrace into a list and into an
# array('d').  bench/component ... does the same calls from C++.
#   python_bench.py COMPONENT CONFIG        prints "name value unit" lines
import array
import ctypes as C
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "python"))
import quorvel  # noqa: E402
from quorvel import _abi as A  # noqa: E402


def per_call_us(fn, calls=2000, rounds=15):
    """Median over rounds of the mean time of `calls` calls, in microseconds."""
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        for _ in range(calls):
            fn()
        times.append((time.perf_counter() - start) / calls * 1e6)
    return statistics.median(times)


def median_ms(fn, rounds=15):
    times = []
    for _ in range(rounds):
        start = time.perf_counter()
        fn()
        times.append((time.perf_counter() - start) * 1e3)
    return statistics.median(times)


def lean_invoke(u, name):
    """The same property get with everything made once: ctypes' own floor."""
    vt = A.vtbl(u._pointer, A.IDispatchVtbl)
    invoke, pointer = vt.Invoke, u._pointer
    disp = C.c_int32()
    vt.GetIDsOfNames(pointer, None, (C.c_char_p * 1)(name.encode()), 1, 0, C.byref(disp))
    arg = A.VARIANT()
    arg.vt, arg.u.lVal = A.VT_I4, 2
    dp = A.DISPPARAMS(C.pointer(arg), None, 1, 0)
    result, excep, err = A.VARIANT(), A.EXCEPINFO(), C.c_uint32()
    refs = C.byref(dp), C.byref(result), C.byref(excep), C.byref(err)
    dispid, flags = disp.value, A.DISPATCH_PROPERTYGET | A.DISPATCH_METHOD

    def call():
        invoke(pointer, dispid, None, 0, flags, *refs)
        return result.u.dblVal

    return call


def main():
    library, config = sys.argv[1], sys.argv[2]
    quorvel.load(library, config=config)
    u = quorvel.Dispatch()
    u.clsDevice_Name = "Zentrix8"
    u.clsDevice_Status = 1
    u.clsDevice_Initialize()
    u.Frequency[2] = 2.4e9
    assert u.Frequency[2] == 2.4e9
    print("python_property_get %.3f us" % per_call_us(lambda: u.Frequency[2]))
    call = lean_invoke(u, "Frequency")
    assert call() == 2.4e9
    print("python_lean_invoke %.3f us" % per_call_us(call))

    u.SetSampleRate(1000000, 1, True)
    u.SetMeasTime(0.199999, 1, True)  # 200 000 samples at 1 MHz
    assert u.GetSampleCount(1, True) == 200000, u.GetSystemError()
    u.MeasurementInit(1)
    values, packed = [], array.array("d")
    u.GetTrace(1, values)
    assert len(values) == 200000, len(values)
    # A new list each time, as the examples do; a list used again is also passed in (by reference).
    print("python_gettrace_200000 %.3f ms" % median_ms(lambda: u.GetTrace(1, [])))
    print("python_gettrace_200000_reused %.3f ms" % median_ms(lambda: u.GetTrace(1, values)))
    u.GetTrace(1, packed)
    assert list(packed) == values
    print("python_gettrace_200000_array %.3f ms" % median_ms(lambda: u.GetTrace(1, packed)))


if __name__ == "__main__":
    main()
