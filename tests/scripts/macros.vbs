' What a script author does with a script engine: run its macros on parameter lists and
' documents, and let the engine fill the lists or put new ones in the variables' place.

Dim u, engine, inList, outList, before, a, b, inDoc, outDoc, description
Set u = CreateObject("QarnComConnector.CQarnUtilities")
engine = "QarnTest.ScriptEngine"

' The engine fills the output list and sees the input list.
Set inList = CreateObject("QarnComDatatypes.ParameterList")
inList.FieldCollection.SetValue "text", "from the script"
Set outList = CreateObject("QarnComDatatypes.ParameterList")
Set before = outList
u.RunMacro engine, "Fill", inList, outList
Check outList Is before, "Fill keeps the output list"
Check outList.FieldCollection.GetValue("input") = "from the script", "the engine read the input list"

' The engine replaces both lists: the variables hold the new ones, empty variables receive lists.
u.RunMacro engine, "Replace", inList, outList
Check inList.FieldCollection.GetValue("replaced") = "input", "the input variable holds the engine's input list"
Check outList.FieldCollection.GetValue("replaced") = "output", "the output variable holds the engine's output list"
Check before.FieldCollection.GetValue("calls") = "1", "the old list is unchanged"
u.RunMacro engine, "Replace", a, b
Check IsObject(a) And IsObject(b), "empty variables receive lists"

' Documents go to RunMacro2 of the same engine.
Set inDoc = CreateObject("QarnComDatatypes.QarnDocument")
Set outDoc = CreateObject("QarnComDatatypes.QarnDocument")
Set inDoc.ParameterList = inList
u.RunMacro2 engine, "Fill", inDoc, outDoc
Check outDoc.ParameterList.FieldCollection.GetValue("macro") = "RunMacro2", "RunMacro2 calls the engine's RunMacro2"
Check outDoc.ParameterList.FieldCollection.GetValue("calls") = "4", "RunMacro2 uses the same engine"

' A failing macro gives the engine's description.
On Error Resume Next
u.RunMacro engine, "Fail", inList, outList
description = Err.Description
On Error GoTo 0
Check InStr(description, "Macro failed on request" & vbLf & "   at CQarnUtilities::RunMacro: line ") = 1, "engine failure: " & description

WScript.Echo passed & " passed, " & failed & " failed"
