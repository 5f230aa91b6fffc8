' The stopwatch and the number generator.
Option Explicit
Dim timer, util, generator, numbers, field, first, i

Set timer = CreateObject("QarnComConnector.CQarnTimer")
Set util = CreateObject("QarnComConnector.CQarnUtilities")
timer.start
WScript.Echo "Running after start: " & timer.IsRunning
util.Sleep 150                              ' WScript.Sleep would do, where the host supports it
timer.Stop
WScript.Echo "Running after Stop: " & timer.IsRunning
WScript.Echo "Measured at least 0.15 s: " & (timer.GetTimeDiff >= 0.15) & " (" & FormatNumber(timer.GetTimeDiff, 3) & " s)"

' Numbered names: one field per number, name and value alike.
Set generator = CreateObject("QarnComConnector.CQarnNumberGenerator")
Set numbers = generator.Get1("DRW-", 98, 102)
WScript.Echo "Get1(""DRW-"", 98, 102) gives " & numbers.Count & " numbers:"
For Each field In numbers
    WScript.Echo "  " & field.Name
Next

' More than 1,000,000 numbers at once are refused.
On Error Resume Next
Set numbers = generator.Get1("X", 1, 2000000)
WScript.Echo "Two million numbers: " & FirstLine(Err.Description)
Err.Clear
On Error GoTo 0
WScript.Echo "done"

' The first line of a text (an error description ends with "at" lines).
Function FirstLine(text)
    Dim lines
    lines = Split(text, vbLf)
    If UBound(lines) >= 0 Then FirstLine = lines(0)
End Function
