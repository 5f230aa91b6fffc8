' Late binding to the real classes from VBScript: the number generator and the data types
' (default members, parametrised properties, For Each, object-valued properties).

Dim numbers, number, names
Set numbers = CreateObject("QarnComConnector.CQarnNumberGenerator").Get1("N-", 9, 11)
Check numbers(3).Name = "N-11" And numbers(2).Value = "N-10", "Item is the default member of the numbers"
names = ""
For Each number In numbers
    names = names & number.Name & ";"
Next
Check names = "N-9;N-10;N-11;", "For Each visits the numbers in order (" & names & ")"

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
