' Transactions: the CAD add-in sends its part as a parameter list and gets back the list that a
' transaction of the installation (xml\Parts.xml, xml\Customer_Parts.xml) builds from it.
Option Explicit
Dim util, part, cad, list, row, changed, field, i

Set util = CreateObject("QarnComConnector.CQarnUtilities")
util.ReadXmlConfigurationFiles          ' the properties (Plant, BaseUnit ...) the definitions use

' The caller's list: fields and a structure of CAD attributes.
Set part = CreateObject("QarnComDatatypes.ParameterList")
part.FieldCollection.SetValue "PartNumber", "100-4711"
part.FieldCollection.SetValue "Title", "Drive shaft D40x320"
part.FieldCollection.SetValue "TitleDE", "Antriebswelle D40x320"
part.FieldCollection.SetValue "Mass", "3.9"
Set cad = CreateObject("QarnComDatatypes.Structure")
cad.Name = "CadAttributes"
cad.FieldCollection.SetValue "DIAMETER", "40"
cad.FieldCollection.SetValue "LENGTH", "320"
part.StructureCollection.Add cad

' CreatePart exists only in Parts.xml: the customer file is tried first and says why it did not fit.
Set list = util.GetXmlParameterList("Parts.xml", "CreatePart", part)
WScript.Echo "CreatePart from " & util.GetNameByPath(list.Attributes.GetValue("source")) & _
    ", isCustomerFile = '" & list.Attributes.GetValue("isCustomerFile") & "'"
WScript.Echo "  customer warning: " & FirstLine(list.Attributes.GetValue("customerWarning"))
WScript.Echo "  Material = " & list.FieldCollection.GetValue("Material") & ", Plant = " & list.FieldCollection.GetValue("Plant")
WScript.Echo "  HEADER: " & list.GetStructure("HEADER").Text
WScript.Echo "  CLASSIFICATION: " & list.GetStructure("CLASSIFICATION").Text
For Each row In list.GetTable("DESCRIPTIONS").FieldCollectionTable
    WScript.Echo "  description " & row.GetValue("LANGU") & ": " & row.GetValue("DESCRIPTION")
Next

' ChangePart comes from Customer_Parts.xml, which merges into a copy of the caller's list and keeps
' the caller's values: the change number sent here wins over the plant's default.
part.FieldCollection.SetValue "ChangeNumber", "500000000999"
Set changed = util.GetXmlParameterList("Parts.xml", "ChangePart", part)
WScript.Echo "ChangePart from " & util.GetNameByPath(changed.Attributes.GetValue("source")) & _
    ", isCustomerFile = '" & changed.Attributes.GetValue("isCustomerFile") & "'"
For i = 1 To changed.FieldCollection.Count
    Set field = changed.FieldCollection.Item(i)
    WScript.Echo "  " & field.Name & " = " & field.Value
Next
WScript.Echo "  structures: " & changed.StructureCollection.Count & " (CadAttributes from the caller, PLANTDATA added)"
WScript.Echo "  PLANTDATA: " & changed.GetStructure("PLANTDATA").Text
WScript.Echo "The caller's own list still has " & part.FieldCollection.Count & " fields."

' A transaction that does not exist fails with a readable description.
On Error Resume Next
Set list = util.GetXmlParameterList("Parts.xml", "DeletePart", part)
WScript.Echo "DeletePart: " & FirstLine(Err.Description)
On Error GoTo 0
WScript.Echo "done"

' The first line of a text (an error description ends with "at" lines).
Function FirstLine(text)
    Dim lines
    lines = Split(text, vbLf)
    If UBound(lines) >= 0 Then FirstLine = lines(0)
End Function
