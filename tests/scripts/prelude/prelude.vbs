' Joined in front of every VBScript test by tests/run-script.sh: counters and the check routine.
' Each test ends with the line: WScript.Echo passed & " passed, " & failed & " failed"
Option Explicit

Dim passed, failed
passed = 0
failed = 0

Sub Check(ok, label)
    If ok Then
        passed = passed + 1
    Else
        failed = failed + 1
        WScript.Echo "FAIL: " & label
    End If
End Sub
