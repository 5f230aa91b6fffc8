' First steps with QarnComConnector from VBScript.
' Run it with:  cscript //nologo first-steps.vbs  (with QarnRootDir naming an installation root)
Option Explicit

Dim generator, numbers, field, timer, list, utilities, value

' Numbered names as a field collection.
Set generator = CreateObject("QarnComConnector.CQarnNumberGenerator")
Set numbers = generator.Get1("DOC-", 1, 3)
WScript.Echo "Generated " & numbers.Count & " numbers:"
For Each field In numbers
    WScript.Echo "  " & field.Name & " = " & field.Value
Next

' A parameter list as transactions and connectors exchange it.
Set list = CreateObject("QarnComDatatypes.ParameterList")
list.FieldCollection.SetValue "Material", "4711"
list.FieldCollection.SetValue "Description", "Bolt <M8> & nut"
WScript.Echo "Parameter list as XML:"
WScript.Echo "  " & list.Xml

' A stopwatch.
Set timer = CreateObject("QarnComConnector.CQarnTimer")
timer.start
timer.Stop
WScript.Echo "Timer running: " & timer.IsRunning & ", measured " & timer.GetTimeDiff & " s"

' Strings and files.
Set utilities = CreateObject("QarnComConnector.CQarnUtilities")
WScript.Echo "Document number: " & utilities.TrimSAPDocumentNumber("  4711 ", " ")
WScript.Echo "Extension of parts.csv: " & utilities.GetExtension("C:\exports\parts.csv")
WScript.Echo utilities.sprintf1("Hello %s!", "QarnComConnector")

' Errors arrive as script errors with a description and the methods they passed.
On Error Resume Next
utilities.FileCopy "C:\exports\none.csv", "C:\exports\copy.csv"
WScript.Echo "FileCopy failed (0x" & Hex(Err.Number) & "):"
WScript.Echo "  " & Replace(Err.Description, vbLf, vbLf & "  ")
Err.Clear
value = utilities.GetRootDir()
If Err.Number <> 0 Then
    WScript.Echo "GetRootDir failed (0x" & Hex(Err.Number) & "):"
    WScript.Echo "  " & Replace(Err.Description, vbLf, vbLf & "  ")
Else
    WScript.Echo "Installation root: " & value
End If
On Error GoTo 0
WScript.Echo "done"
