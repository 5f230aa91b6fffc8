' Type information: which type library describes an object, where it is registered, and the
' class id of a ProgID.
Option Explicit
Dim util, info, field, library, rows, row

Set util = CreateObject("QarnComConnector.CQarnUtilities")
WScript.Echo "CLSID of QarnComConnector.CQarnUtilities: " & util.GetCLSIDFromProgID("QarnComConnector.CQarnUtilities")
WScript.Echo "CLSID of an unknown ProgID: [" & util.GetCLSIDFromProgID("Qarn.NotInstalled") & "]"

' The type library of an automation object: file, library GUID and dispatch interface GUID.
Set info = util.GetInterfaceInfo1(CreateObject("QarnComDatatypes.ParameterList"))
For Each field In info
    If field.Name = "PathName" Then
        WScript.Echo "  PathName = ..." & util.GetNameByPath(field.Value)
    Else
        WScript.Echo "  " & field.Name & " = " & field.Value
    End If
Next

' A registered library by GUID, version and locale: ours is registered for German (1031).
library = util.GetInterfaceInfo1(util).GetValue("TLIB_GUID")
Set info = util.GetInterfaceInfo2(library, 1, 0, 1031)
WScript.Echo "QarnComConnector library " & library & ": file version " & info.GetValue("FILE_VERSION") & _
    ", file " & util.GetNameByPath(info.GetValue("PathName"))
' A library that is not registered gives Nothing.
Set info = util.GetInterfaceInfo2(library, 9, 0, 1031)
WScript.Echo "Version 9.0 is registered: " & CStr(Not info Is Nothing)

' The installation's known libraries that are registered for locale 0 (in version 1.0 or 2.0).
Set rows = util.GetInterfaceInfos()
WScript.Echo "Registered known libraries: " & rows.Count
For Each row In rows
    WScript.Echo "  " & row.GetValue("TLIB_GUID") & " " & util.GetNameByPath(row.GetValue("PathName"))
Next
WScript.Echo "done"
