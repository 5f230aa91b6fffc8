' Script macros: a macro written in VBScript runs on a parameter list. The engine is a Windows
' Script Component (a .wsc file run by the system's script engines through scrobj.dll), registered
' for the time of this sample under its own ProgID. Registering writes to HKEY_CLASSES_ROOT: on
' Windows run this sample from an administrator prompt.
Option Explicit
Const progId = "QarnSample.VbsMacros"
Dim util, fso, shell, folder, wsc, stream, order, result, field

Set util = CreateObject("QarnComConnector.CQarnUtilities")
Set fso = CreateObject("Scripting.FileSystemObject")
Set shell = CreateObject("WScript.Shell")
folder = fso.GetSpecialFolder(2).Path & "\qarn-sample-macros"
If Not fso.FolderExists(folder) Then fso.CreateFolder folder
wsc = folder & "\macros.wsc"

' The engine: RunMacro(macro name, input list, output list) and Destroy are the members the
' connector calls. The lists arrive by reference, so a macro could also put new lists in their place.
Set stream = fso.CreateTextFile(wsc, True)
stream.Write "<?xml version=""1.0""?>" & vbCrLf & _
    "<component>" & vbCrLf & _
    "<registration progid=""" & progId & """ classid=""{6B0D4C1E-2F6A-4C55-9A39-0E7C2D1B5A11}"" version=""1.0""></registration>" & vbCrLf & _
    "<public>" & vbCrLf & _
    "  <method name=""RunMacro""><parameter name=""macroName""/><parameter name=""inList""/><parameter name=""outList""/></method>" & vbCrLf & _
    "  <method name=""Destroy""/>" & vbCrLf & _
    "</public>" & vbCrLf & _
    "<script language=""VBScript""><![CDATA[" & vbCrLf & _
    "Function RunMacro(macroName, inList, outList)" & vbCrLf & _
    "    Dim quantity" & vbCrLf & _
    "    If macroName <> ""CheckOrder"" Then Err.Raise vbObjectError + 1, ""macros.wsc"", ""No macro "" & macroName" & vbCrLf & _
    "    quantity = CLng(inList.FieldCollection.GetValue(""Quantity""))" & vbCrLf & _
    "    outList.FieldCollection.SetValue ""Order"", inList.FieldCollection.GetValue(""Order"")" & vbCrLf & _
    "    outList.FieldCollection.SetValue ""Approved"", CStr(quantity <= 100)" & vbCrLf & _
    "    outList.FieldCollection.SetValue ""CheckedBy"", ""macros.wsc ("" & ScriptEngine & "")""" & vbCrLf & _
    "End Function" & vbCrLf & _
    "Function Destroy()" & vbCrLf & _
    "End Function" & vbCrLf & _
    "]]></script>" & vbCrLf & _
    "</component>" & vbCrLf
stream.Close
If shell.Run("regsvr32 /s /n /i:""" & wsc & """ scrobj.dll", 0, True) <> 0 Then
    Err.Raise vbObjectError + 2, "macros.vbs", "The script component could not be registered (administrator rights?)."
End If

' Run the macro on an order: the engine fills the output list.
Set order = CreateObject("QarnComDatatypes.ParameterList")
order.FieldCollection.SetValue "Order", "4500012345"
order.FieldCollection.SetValue "Quantity", "40"
Set result = CreateObject("QarnComDatatypes.ParameterList")
util.RunMacro progId, "CheckOrder", order, result
WScript.Echo "CheckOrder filled the output list:"
For Each field In result.FieldCollection
    WScript.Echo "  " & field.Name & " = " & field.Value
Next

' A failing macro fails the call with a description and the "at" lines (the macro's own text
' when the script host hands it on, else "Error invoking method RunMacro.").
On Error Resume Next
util.RunMacro progId, "Unknown", order, result
WScript.Echo "Unknown macro: " & Replace(Err.Description, vbLf, " | ")
Err.Clear
On Error GoTo 0

' The engine stays until DestroyScriptEngine calls its Destroy; then unregister and clean up.
util.DestroyScriptEngine progId
shell.Run "regsvr32 /s /u /n /i:""" & wsc & """ scrobj.dll", 0, True
fso.DeleteFolder folder, True
WScript.Echo "ProgID still registered: " & CStr(util.GetCLSIDFromProgID(progId) <> "")
WScript.Echo "done"
