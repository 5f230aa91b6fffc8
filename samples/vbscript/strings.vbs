' Strings: trimming, document numbers, parts of paths, formatting and XML escaping.
Option Explicit
Dim util, guid

Set util = CreateObject("QarnComConnector.CQarnUtilities")

' Trim methods use the first character of their second argument.
WScript.Echo "TrimLeft:          [" & util.TrimLeft("xxA-100xx", "x") & "]"
WScript.Echo "TrimRight:         [" & util.TrimRight("xxA-100xx", "x") & "]"
WScript.Echo "TrimLeftAndRight:  [" & util.TrimLeftAndRight("  A-100  ", " ") & "]"
' SAP document numbers: trimmed, then numeric ones padded with zeros to 25 characters.
WScript.Echo "TrimSAPDocumentNumber: " & util.TrimSAPDocumentNumber(" 4711 ", " ") & ", " & _
    util.TrimSAPDocumentNumber(" DRW-4711 ", " ")
WScript.Echo "IsDigit(""0815""): " & util.IsDigit("0815") & ", IsDigit(""08a15""): " & util.IsDigit("08a15")
' SubStr counts from 0 and clamps both ends.
WScript.Echo "SubStr(""Gear box"", 5, 99): " & util.SubStr("Gear box", 5, 99)

' Paths: only "\" separates folders; the last "." starts the extension.
Const model = "C:\Models\gear box.v2\housing.sasm"
WScript.Echo "GetNameByPath:     " & util.GetNameByPath(model)
WScript.Echo "GetPathByFullname: " & util.GetPathByFullname(model)
WScript.Echo "GetExtension:      " & util.GetExtension(model)
WScript.Echo "RemoveExtension:   " & util.RemoveExtension(model)

' One "%s" per format; anything else is refused instead of read from nowhere.
WScript.Echo util.sprintf1("Material [%-10s] created.", "A-100")
On Error Resume Next
WScript.Echo util.sprintf1("%s has %d parts", "A-100")
WScript.Echo "sprintf1 with %d is refused: " & FirstLine(Err.Description)
Err.Clear
On Error GoTo 0

WScript.Echo "ConvertBSTRToXMLString: " & util.ConvertBSTRToXMLString("Bolt <M8> & ""nut""")
guid = util.CreateGuid()
WScript.Echo "CreateGuid: " & Len(guid) & " characters, starts with " & Left(guid, 1)
WScript.Echo "done"

' The first line of a text (an error description ends with "at" lines).
Function FirstLine(text)
    Dim lines
    lines = Split(text, vbLf)
    If UBound(lines) >= 0 Then FirstLine = lines(0)
End Function
