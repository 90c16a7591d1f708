"""A burst search on DUT1 of the Zentrix8 named in the host configuration
(the embedded simulator when the entry names no unit)."""

import time

import quorvel

print(quorvel.load())
u = quorvel.Dispatch("Tavlor_QuorvelUnit.clsQuorvelUnit")
P = quorvel.QuorvelPowerPort

u.clsDevice_Name = "Zentrix8"
u.clsDevice_Status = 1             # open the session
u.clsDevice_Initialize()           # reset and identify
print("unit:", u.clsDevice_Info)

u.SetActivePortClr()
u.SetActivePort(P.ppDUT1)
u.SendActivePorts()
u.SetFrequency(2.4e9, P.ppDUTAll)
u.SetMeasTime(0.05, P.ppDUTAll)
u.SetBurstSearchLevel(20, P.ppDUTAll)
u.SendAllSettings()
errors = u.GetSystemError()        # sending does not read the unit's error queue: a refused
if not errors.startswith("0,"):    # setting shows here, not in GetErrorStatus
    raise SystemExit("the unit refused the settings: " + errors)
u.MeasurementInit(P.ppDUT1)
time.sleep(0.05)                   # the measuring time
u.BurstSearchInit(P.ppDUT1)

starts, lengths, levels = [], [], []
u.GetBurstStartTime(P.ppDUT1, starts)
u.GetBurstOnTime(P.ppDUT1, lengths)
u.GetBurstLevel(P.ppDUT1, levels)
print("%d bursts, duty cycle %.1f %%" % (u.GetBurstCount(P.ppDUT1), u.GetDutyCycle(P.ppDUT1)))
for n, (start, length, level) in enumerate(zip(starts, lengths, levels), 1):
    print("%3d  start %8.4f ms  on %7.4f ms  %8.3f dBm" % (n, start * 1e3, length * 1e3, level))
status = u.GetErrorStatus()
if status != quorvel.QuorvelErrorStatus.esNONE:
    raise SystemExit("unit error status %d: %s" % (status, u.GetErrorDescription(status)))
