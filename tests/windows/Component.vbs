' The component as a VBScript host drives it: created by programmatic id,
' properties with and without an index, enumeration values, optional
' arguments left out, the main job, and errors caught with Err.
' checks: 22
Option Explicit
On Error Resume Next

Dim passed, failed
passed = 0
failed = 0

' A check whose expression raised an error counts neither way, so the
' runner sees fewer checks than planned.
Sub Check(what, ok)
  If ok Then
    passed = passed + 1
  Else
    failed = failed + 1
    WScript.Echo "FAILED: " & what
  End If
End Sub

' The error of the statement before, as the check wants it; then none.
Function Raised(number)
  Raised = (Err.Number = number)
  If Not Raised Then WScript.Echo "  error " & Err.Number & " (" & Err.Source & ": " & Err.Description & ")"
  Err.Clear
End Function

' Wine's WScript.Sleep is not there: wait on the clock.
Sub Pause(seconds)
  Dim t
  t = Timer
  Do While Timer < t + seconds And Timer >= t
  Loop
End Sub

Const ppDUTAll = 0, ppDUT1 = 1, ppDUT2 = 2, ppDUT4 = 4, ppDUT5 = 5, attDUT3 = 3, esTIMEOUT = 2

Dim u
Set u = CreateObject("Tavlor_QuorvelUnit.clsQuorvelUnit")
Check "created by programmatic id", Raised(0) And IsObject(u)

' Properties without and with an index.
u.clsDevice_Name = "Zentrix8"
Check "a property without an index", u.clsDevice_Name = "Zentrix8"
u.Frequency(ppDUT2) = 2450000000
Check "a property with an index", u.Frequency(ppDUT2) = 2450000000
Check "the index chooses the port", u.Frequency(ppDUT4) <> 2450000000

' Enumeration values as arguments.
u.SetAttenuator 12.5, attDUT3
Check "an attenuator by its enumeration value", u.GetAttenuator(attDUT3, False) = 12.5
Check "an error status described", Len(u.GetErrorDescription(esTIMEOUT)) > 0 And Raised(0)

' Optional arguments left out: the port (all of them) and send (no).
u.SetMeasTime 0.02
Check "optional arguments left out", u.GetMeasTime(ppDUT5, False) = 0.02 And Raised(0)

' The main job: open, identify, set up, measure, search, read the results.
u.clsDevice_Status = 1
u.clsDevice_Initialize
Check "opened and identified", Raised(0)
u.SetActivePortClr
u.SetActivePort ppDUT1
u.SendActivePorts
u.SetFrequency 2400000000, ppDUTAll
u.SetMeasTime 0.05, ppDUTAll
u.SetBurstSearchLevel 20, ppDUTAll
u.SendAllSettings
Check "settings sent", Raised(0)
u.MeasurementInit ppDUT1
Pause 0.1
u.BurstSearchInit ppDUT1
Check "burst search", Raised(0)

Dim count, starts, levels, i
count = u.GetBurstCount(ppDUT1)
Check "bursts found", count > 0
u.GetBurstStartTime ppDUT1, starts
Check "start times come back in the variable", IsArray(starts)
Check "one start time per burst", UBound(starts) - LBound(starts) + 1 = count
u.GetBurstLevel ppDUT1, levels
Dim low, high, within
low = u.GetTraceMin(ppDUT1)
high = u.GetTraceMax(ppDUT1)
within = True
For i = LBound(levels) To UBound(levels)
  If levels(i) < low Or levels(i) > high Then within = False
Next
Check "every burst's level within the trace", within And UBound(levels) + 1 = count
Check "a duty cycle in range", u.GetDutyCycle(ppDUT1) > 0 And u.GetDutyCycle(ppDUT1) < 100
Check "the trace's minimum below its maximum", low < high
Check "no error status", u.GetErrorStatus() = 0 And Raised(0)

' Errors, as Err sees them.
u.SetMeasTime "abc", ppDUT1
Check "a text for a number: type mismatch", Raised(13)
u.GetMeasTime
Check "a required argument left out", Raised(449)
u.NoSuchMember
Check "a member that is not there", Raised(438)

' No device has the empty name: opening fails.
Dim other
Set other = CreateObject("Tavlor_QuorvelUnit.clsQuorvelUnit")
other.clsDevice_Status = 1
Dim number, source, description
number = Err.Number
source = Err.Source
description = Err.Description
Err.Clear
Check "the driver's error number", number = 5
Check "the driver's error source and description", source = "clsQuorvelUnit" And InStr(description, "no device named") > 0

WScript.Echo passed & " passed, " & failed & " failed"
WScript.Quit failed
