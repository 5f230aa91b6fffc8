' Failures seen from VBScript: the description of the error object reaches Err, texts from the
' caller are kept as they are, every failure reports its own text, and dispatch errors carry
' VBScript's numbers. (On Error does not reach into a Sub under Wine: the cases stay inline.)

Const DISP_E_EXCEPTION = &H80020009
Dim probe, utilities, value, number, description, second
Set probe = CreateObject("QarnTest.DispatchProbe")

On Error Resume Next
probe.Fail "disk full"
number = Err.Number
description = Err.Description
On Error GoTo 0
Check number = DISP_E_EXCEPTION, "a failed method raises DISP_E_EXCEPTION (" & Hex(number) & ")"
Check Left(description, 10) = "disk full" & vbLf, "the description starts with the message (" & description & ")"
Check InStr(description, "at DispatchProbe::Fail") > 0, "the description names the method (" & description & ")"

On Error Resume Next
probe.Fail "50% of %s done %n"
description = Err.Description
Err.Clear
probe.Fail "second"
second = Err.Description
On Error GoTo 0
Check Left(description, 18) = "50% of %s done %n" & vbLf, "a caller's text is not used as a format (" & description & ")"
Check Left(second, 7) = "second" & vbLf, "each failure reports its own text (" & second & ")"

On Error Resume Next
value = probe.Word(9)
description = Err.Description
On Error GoTo 0
Check InStr(description, "Word index 9 is out of range") = 1, "a property get reports its failure (" & description & ")"

' Failures of the dispatch layer itself.
On Error Resume Next
value = probe.NoSuchMember
number = Err.Number
On Error GoTo 0
Check number = 438, "an unknown member is error 438 (" & number & ")"
On Error Resume Next
value = probe.Word()
number = Err.Number
On Error GoTo 0
Check number = 449, "a missing required argument is error 449 (" & number & ")"
On Error Resume Next
value = probe.Word(1, 2)
number = Err.Number
On Error GoTo 0
Check number = 450, "an argument too many is error 450 (" & number & ")"

' The real classes.
Set utilities = CreateObject("QarnComConnector.CQarnUtilities")
On Error Resume Next
value = utilities.FileExist("C:\no\such\file.txt")
number = Err.Number
description = Err.Description
On Error GoTo 0
Check number = DISP_E_EXCEPTION, "a failing utility method is DISP_E_EXCEPTION (" & Hex(number) & ")"
Check InStr(description, "File C:\no\such\file.txt does not exist." & vbLf & "   at CQarnUtilities::FileExist: line ") = 1, _
      "its message comes first, then the ""at"" line (" & description & ")"

WScript.Echo passed & " passed, " & failed & " failed"
