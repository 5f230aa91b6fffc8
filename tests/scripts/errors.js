// Failures seen from JScript: the error object's description reaches e.description, texts from
// the caller are kept as they are, and every failure reports its own text.
// (Wine's JScript shows DISP_E_EXCEPTION as e.number 0x80004005, Windows as 0x80020009.)

var probe = new ActiveXObject("QarnTest.DispatchProbe");

var e = thrown(function () { probe.Fail("disk full"); });
check(e !== null && e.number !== 0, "a failed method throws");
check(e !== null && startsWith(e.description, "disk full\n"), "the description starts with the message");
check(e !== null && contains(e.description, "at DispatchProbe::Fail"), "the description names the method");
check(e !== null && same(e.message, e.description), "message and description agree");

e = thrown(function () { probe.Fail("50% of %s done %n"); });
check(e !== null && startsWith(e.description, "50% of %s done %n\n"), "a caller's text is not used as a format");
e = thrown(function () { probe.Fail("second"); });
check(e !== null && startsWith(e.description, "second\n"), "each failure reports its own text");

e = thrown(function () { probe.Word(9); });
check(e !== null && startsWith(e.description, "Word index 9 is out of range"), "a property get reports its failure");
check(same(probe.Word(2), "beta"), "the object works on after a failure");

check(thrown(function () { probe.NoSuchMember(); }) !== null, "an unknown member throws");
check(thrown(function () { probe.Word(); }) !== null, "a missing required argument throws");

var utilities = new ActiveXObject("QarnComConnector.CQarnUtilities");
e = thrown(function () { utilities.FileExist("C:\\no\\such\\file.txt"); });
check(e !== null && contains(e.description, "File C:\\no\\such\\file.txt does not exist.\n   at CQarnUtilities::FileExist: line "),
      "a failing utility method reports its message" + (e ? " (" + e.description + ")" : ""));

var generator = new ActiveXObject("QarnComConnector.CQarnNumberGenerator");
e = thrown(function () { generator.Get1("N", 1, 2000000); });
check(e !== null && contains(e.description, "2000000"), "a range of two million numbers is refused with its range");

WScript.Echo(passed + " passed, " + failed + " failed");
