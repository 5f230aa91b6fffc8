' Arguments that VBScript passes through our IDispatch layer, against the DispatchProbe double:
' variables by reference for [out] and [in,out] parameters, Nothing/Empty/Null for object
' parameters, parametrised properties, For Each, GUID parameters given as text.

Dim probe, rest, head, flag, text, list, previous, fields, field, word, words, number, description
Set probe = CreateObject("QarnTest.DispatchProbe")

' [out] BSTR* next to the retval: the variable receives the text, whatever it held before.
rest = 42
head = probe.Split("key:value:more", rest)
Check head = "key", "Split returns the head"
Check rest = "value:more" And TypeName(rest) = "String", "Split writes the [out] rest into the variable (" & rest & ")"
Dim unset
head = probe.Split("alone", unset)
Check head = "alone" And TypeName(unset) = "String" And unset = "", "an Empty variable receives an empty [out] text"

' [in,out] VARIANT_BOOL*: the value goes in, the negation comes back, also from a number.
flag = True
probe.Toggle flag
Check flag = False And TypeName(flag) = "Boolean", "Toggle turns True into False"
probe.Toggle flag
Check flag = True, "Toggle turns False into True"
flag = 0
probe.Toggle flag
Check flag = True And TypeName(flag) = "Boolean", "a number is coerced to a Boolean for [in,out] and comes back as Boolean"

' [in,out] BSTR*: variables, numbers coerced to text, array elements; parentheses pass a copy.
text = "abc"
probe.Bracket text
Check text = "[abc]", "Bracket rewrites the variable (" & text & ")"
text = 7
probe.Bracket text
Check text = "[7]" And TypeName(text) = "String", "a number is coerced to text for [in,out] BSTR"
Dim cells(1)
cells(1) = "cell"
probe.Bracket cells(1)
Check cells(1) = "[cell]", "an array element is passed by reference"
text = "copy"
probe.Bracket (text)
Check text = "copy", "an argument in parentheses is a copy and stays unchanged"

' Object parameters: Nothing, Empty and Null arrive as a null pointer, an object as itself.
Check probe.IsNullField(Nothing) = True, "Nothing is a null object"
Check probe.IsNullField(Empty) = True, "Empty is a null object"
Check probe.IsNullField(Null) = True, "Null is a null object"
Set field = CreateObject("QarnComDatatypes.Field")
Check probe.IsNullField(field) = False, "a Field arrives as an object"

' [in,out] IParameterList**: an empty variable gets a new list; a list is filled in place.
probe.FillList "first", "1", list
Check IsObject(list), "FillList puts a new list into an Empty variable"
Set previous = list
probe.FillList "second", "2", list
Check list Is previous, "FillList keeps the caller's list"
Set fields = list.FieldCollection
Check fields.Count = 2, "both fields are in the list (" & fields.Count & ")"
Check fields.GetValue("first") = "1" And fields.GetValue("second") = "2", "the list holds the values"
Set list = Nothing
probe.FillList "third", "3", list
Check Not (list Is Nothing), "FillList replaces Nothing with a new list"
Check list.FieldCollection.Count = 1, "the new list holds one field"

' A property with an argument, a property without, and For Each over _NewEnum.
Check probe.Word(1) = "alpha" And probe.Word(3) = "gamma", "Word(index) reads the words"
Check probe.Count = 3, "Count is 3"
words = ""
For Each word In probe
    words = words & word & ";"
Next
Check words = "alpha;beta;gamma;", "For Each visits every word (" & words & ")"

' A GUID parameter is given as its text; a text that is no GUID is a type mismatch.
Check probe.Describe("{bbccd012-0b53-4f72-ae8a-6977d5e4c7b4}") = "{BBCCD012-0B53-4F72-AE8A-6977D5E4C7B4}", _
    "Describe echoes the GUID"
On Error Resume Next
text = probe.Describe("no guid")
number = Err.Number
On Error GoTo 0
Check number = 13, "a text that is no GUID is a type mismatch (" & number & ")"

WScript.Echo passed & " passed, " & failed & " failed"
