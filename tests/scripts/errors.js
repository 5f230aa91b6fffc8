// Failures seen from JScript: the error object's description reaches e.description and
// e.message; the texts and "at" lines themselves are checked in errors.vbs.
// (Wine's JScript shows DISP_E_EXCEPTION as e.number 0x80004005, Windows as 0x80020009.)

var probe = new ActiveXObject("QarnTest.DispatchProbe");

var e = thrown(function () { probe.Fail("50% of %s done %n"); });
check(e !== null && e.number !== 0, "a failed method throws");
check(e !== null && startsWith(e.description, "50% of %s done %n\n   at DispatchProbe::Fail"),
      "the description is the caller's text as it is, then the method");
check(e !== null && same(e.message, e.description), "message and description agree");

WScript.Echo(passed + " passed, " + failed + " failed");
