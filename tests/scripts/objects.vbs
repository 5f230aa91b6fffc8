' Late binding to the real classes from VBScript: the timer, the number generator and the data
' types (default members, parametrised properties, For Each, object-valued properties).

' Busy-waits `seconds` (WScript.Sleep does not wait under Wine); gives up at midnight.
Sub Pause(seconds)
    Dim started
    started = Timer
    Do While Timer - started < seconds And Timer >= started
    Loop
End Sub

Dim stopwatch, elapsed, frozen
Set stopwatch = CreateObject("QarnComConnector.CQarnTimer")
Check stopwatch.IsRunning = False, "a new timer is not running"
stopwatch.start
Check stopwatch.IsRunning = True, "start runs the timer"
Pause 0.15
elapsed = stopwatch.GetTimeDiff
Check elapsed >= 0.1 And elapsed < 10, "the running timer measures the time (" & elapsed & ")"
stopwatch.Stop
Check stopwatch.IsRunning = False, "Stop stops the timer"
frozen = stopwatch.GetTimeDiff
Pause 0.05
Check stopwatch.GetTimeDiff = frozen And frozen >= elapsed, "a stopped timer keeps its reading (" & frozen & ")"

Dim generator, numbers, number, names
Set generator = CreateObject("QarnComConnector.CQarnNumberGenerator")
Set numbers = generator.Get1("N-", 9, 11)
Check numbers.Count = 3, "Get1 gives one field per number (" & numbers.Count & ")"
Check numbers.Item(1).Name = "N-9" And numbers(3).Name = "N-11", "the fields are named prefix and number"
Check numbers(2).Value = "N-10", "the value is the name"
names = ""
For Each number In numbers
    names = names & number.Name & ";"
Next
Check names = "N-9;N-10;N-11;", "For Each visits the numbers in order (" & names & ")"
Check generator.Get1("N", 5, 4).Count = 0, "an empty range gives an empty collection"

Dim field, fields, other, value, list
Set field = CreateObject("QarnComDatatypes.Field")
field.Name = "weight"
field.Value = 12
value = field
Check field.Name = "weight" And value = 12, "Value is the default member of a Field"
Check field.StringValue = "12", "StringValue is the value as text"
Check field.Attributes Is Nothing, "a new Field has no attributes"

Set fields = CreateObject("QarnComDatatypes.FieldCollection")
Set field.Attributes = fields
Check field.Attributes Is fields, "Attributes holds the collection put into it"
Set field.Value = fields
Check field.Value Is fields And field.StringValue = "", "a Field can hold an object; its text is empty"

Set field = CreateObject("QarnComDatatypes.Field")
field.Name = "first"
fields.Add field
fields.SetValue "twice", "a"
fields.SetValue "twice", "b"
Check fields.Count = 3, "Add and SetValue append (" & fields.Count & ")"
Check fields(1) Is field, "Item is the default member and gives the very object added"
Check fields.Field("twice").Value = "b", "Field(name) finds the last field of that name"
Check fields.GetValue("missing") = "", "GetValue of a missing name is empty"
names = ""
For Each other In fields
    names = names & other.Name & ";"
Next
Check names = "first;twice;twice;", "For Each over a FieldCollection (" & names & ")"

Set list = CreateObject("QarnComDatatypes.ParameterList")
Check Not (list.FieldCollection Is Nothing), "a new ParameterList has a FieldCollection"
Check list.Attributes Is Nothing, "a new ParameterList has no attributes"
Set list.FieldCollection = fields
Check list.FieldCollection Is fields And list.GetField("first") Is field, "the list uses the collection put into it"

WScript.Echo passed & " passed, " & failed & " failed"
