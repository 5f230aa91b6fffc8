' System: installation root, Windows user and computer, environment variables, and the network
' helpers on this computer only (loopback: nothing leaves the machine).
Option Explicit
Dim util, host, field, answer, domain

Set util = CreateObject("QarnComConnector.CQarnUtilities")
WScript.Echo "Installation root (QarnRootDir): " & util.GetRootDir()
WScript.Echo "Configuration folder: " & util.GetRootDir() & "\xml"      ' no backslash is appended
WScript.Echo "User: " & util.GetSystemUserName() & ", computer: " & util.GetSystemComputerName()
WScript.Echo "GetEnv(""QarnRootDir"") = " & util.GetEnv("QarnRootDir")
WScript.Echo "GetEnv of an unset variable = [" & util.GetEnv("QARN_SAMPLE_NOT_SET") & "]"

' The DNS domain, or USERDNSDOMAIN; a workstation without either gets a readable error.
On Error Resume Next
domain = util.GetDomain()
If Err.Number = 0 Then
    WScript.Echo "Domain: " & domain
Else
    WScript.Echo "No domain: " & FirstLine(Err.Description)
End If
Err.Clear
On Error GoTo 0

' Name resolution of this computer's loopback name.
Set host = util.GetHostByName("localhost")
WScript.Echo "localhost: address family " & host.GetValue("IntType") & ", address length " & host.GetValue("Length")
For Each field In host
    If field.Name = "IP" Then WScript.Echo "  IP " & field.Value
Next

' Port 0 never accepts a connection, so the call fails at once (a listening port that never
' answers would block it: SendNetworkData has no time-out). A network failure is an empty answer.
answer = util.SendNetworkData("PING", "127.0.0.1", 0)
WScript.Echo "SendNetworkData to 127.0.0.1:0 answered [" & answer & "]"

' Sleep blocks the caller for at least that many milliseconds.
Dim timer
Set timer = CreateObject("QarnComConnector.CQarnTimer")
timer.start
util.Sleep 200
timer.Stop
WScript.Echo "Sleep 200 ms took at least 0.2 s: " & (timer.GetTimeDiff >= 0.2)
WScript.Echo "done"

' The first line of a text (an error description ends with "at" lines).
Function FirstLine(text)
    Dim lines
    lines = Split(text, vbLf)
    If UBound(lines) >= 0 Then FirstLine = lines(0)
End Function
