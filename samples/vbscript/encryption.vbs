' Encryption: credentials and other marked values as encrypted texts. A text made under a name
' decrypts only under the same name.
Option Explicit
Dim util, field, plain, text, list, marks, logon

Set util = CreateObject("QarnComConnector.CQarnUtilities")

' A field: Encrypt marks it with the attribute x3nc = true, Decrypt gives the plain value back.
Set field = util.Encrypt("password", "Kiel-Cad-2024")
WScript.Echo "Encrypted field " & field.Name & ": " & Len(field.Value) & " hex digits, x3nc = " & _
    field.Attributes.GetValue("x3nc")
Set plain = util.Decrypt2(field)
WScript.Echo "Decrypted: " & plain.Value

' Under another name the text does not decrypt: the error code is the description.
On Error Resume Next
Set plain = util.Decrypt("user", field.Value)
WScript.Echo "Decrypt as 'user' fails: 0x" & Hex(Err.Number) & " " & Err.Description
Err.Clear
On Error GoTo 0

' A bare value under the fixed value key.
text = util.Encrypt3("4711-secret")
WScript.Echo "Encrypt3: " & Left(text, 16) & "... -> " & util.Decrypt3(text)

' Marked objects: every value below a list marked x3nc = true is encrypted in place, and back.
Set list = CreateObject("QarnComDatatypes.ParameterList")
list.FieldCollection.SetValue "user", "QARN_CAD"
list.FieldCollection.SetValue "password", "Kiel-Cad-2024"
Set marks = CreateObject("QarnComDatatypes.FieldCollection")
marks.SetValue "x3nc", "true"
Set list.Attributes = marks
util.EncryptData list
WScript.Echo "EncryptData: user is now " & Len(list.FieldCollection.GetValue("user")) & " hex digits"
util.DecryptData list
WScript.Echo "DecryptData: user = " & list.FieldCollection.GetValue("user") & _
    ", password = " & list.FieldCollection.GetValue("password")

' Texts for the logon files, bound to the element they go into (see logon.vbs).
logon = util.EncryptLogon2("password", "Kiel-Cad-2024")
WScript.Echo "For <password x3nc=""true"">: " & Left(logon, 24) & "... (" & Len(logon) & " digits)"
WScript.Echo "done"
