// The component as a JScript host drives it: created by programmatic id,
// properties with an index, optional arguments left out, the main job,
// arrays given back, and errors caught with try/catch.
// checks: 13
var passed = 0, failed = 0;

function check(what, ok) {
  if (ok) {
    passed++;
  } else {
    failed++;
    WScript.Echo("FAILED: " + what);
  }
}

// Runs f; the error it raised as [number, source, description], or null.
function raised(f) {
  try {
    f();
    return null;
  } catch (e) {
    return [e.number >>> 0, e.source, e.description];
  }
}

// A check whose code throws counts as failed, with what it threw.
function test(what, f) {
  var error = null, ok = false;
  try {
    ok = f();
  } catch (e) {
    error = e;
  }
  if (error) WScript.Echo("  " + what + ": " + (error.number >>> 0).toString(16) + " " + error.description);
  check(what, ok && !error);
}

// Wine's WScript.Sleep is not there: wait on the clock.
function pause(ms) {
  var end = new Date().getTime() + ms;
  while (new Date().getTime() < end) {}
}

var ppDUTAll = 0, ppDUT1 = 1, ppDUT3 = 3, ppDUT6 = 6;
var u = new ActiveXObject("Tavlor_QuorvelUnit.clsQuorvelUnit");
check("created by programmatic id", typeof u == "object");

u.SetFrequency(1.8e9, ppDUT3);
test("a property with an index", function () { return u.Frequency(ppDUT3) == 1.8e9 && u.Frequency(ppDUT6) != 1.8e9; });
u.clsDevice_Name = "Zentrix8";
test("a property without an index", function () { return u.clsDevice_Name == "Zentrix8"; });

u.SetMeasTime(0.02);
test("optional arguments left out", function () { return u.GetMeasTime(ppDUT6, false) == 0.02; });

test("the main job", function () {
  u.clsDevice_Status = 1;
  u.clsDevice_Initialize();
  u.SetActivePortClr();
  u.SetActivePort(ppDUT1);
  u.SendActivePorts();
  u.SetFrequency(2.4e9, ppDUTAll);
  u.SetMeasTime(0.05, ppDUTAll);
  u.SetBurstSearchLevel(20, ppDUTAll);
  u.SendAllSettings();
  u.MeasurementInit(ppDUT1);
  pause(100);
  u.BurstSearchInit(ppDUT1);
  return true;
});
var count = 0;
test("bursts found", function () { count = u.GetBurstCount(ppDUT1); return count > 0; });
test("a duty cycle in range", function () { var d = u.GetDutyCycle(ppDUT1); return d > 0 && d < 100; });
test("the trace's minimum below its maximum", function () { return u.GetTraceMin(ppDUT1) < u.GetTraceMax(ppDUT1); });
test("no error status", function () { return u.GetErrorStatus() == 0; });

var e = raised(function () { u.GetBurstCount("abc"); });
check("a text for a number: type mismatch", e != null && e[0] == 0x80020005);
e = raised(function () { u.NoSuchMember(); });
check("a member that is not there", e != null);

// No device has the empty name: opening fails.
var other = new ActiveXObject("Tavlor_QuorvelUnit.clsQuorvelUnit");
e = raised(function () { other.clsDevice_Status = 1; });
check("the driver's error number", e != null && e[0] == 0x800A0005);
check("the driver's error description", e != null && e[2].indexOf("no device named") >= 0);

WScript.Echo(passed + " passed, " + failed + " failed");
WScript.Quit(failed);
