' A client asks for the parameter list of a transaction in its installation's definition file and
' reads the values, structures, tables and context attributes of the list it gets.

Dim util, fso, root, file, list, table, rows, context, caught, shell
Set util = CreateObject("QarnComConnector.CQarnUtilities")
Set fso = CreateObject("Scripting.FileSystemObject")
root = fso.GetSpecialFolder(2) & "\qarn-transactions-" & fso.GetTempName()
fso.CreateFolder root
fso.CreateFolder root & "\xml"

Set file = fso.CreateTextFile(root & "\xml\Parts.xml", True, True)
file.Write "<Qarn><Transaction><Aliasname>CreatePart</Aliasname><Import>" & _
    "<Parameter plant=""1000"">" & _
    "<FieldCollection>" & _
    "  <Field><Name>Drawings</Name><Value>%SystemRoot%\parts</Value></Field>" & _
    "  <Field unit=""kg""><Name>Unit</Name><ValueFromNodeAttributes>unit</ValueFromNodeAttributes></Field>" & _
    "  <Field><Name>Description</Name><Type>ParameterList</Type><Subtype>FieldCollection</Subtype>" & _
    "    <Attribute>Title</Attribute></Field>" & _
    "</FieldCollection>" & _
    "<StructureCollection><Structure><Name>Header</Name><FieldCollection>" & _
    "  <Field><Name>Type</Name><Value>FERT</Value></Field></FieldCollection></Structure></StructureCollection>" & _
    "<TableCollection><Table><Name>Classes</Name><FieldCollectionTable>" & _
    "  <FieldCollection><Field><Name>Class</Name><Value>A</Value></Field></FieldCollection>" & _
    "  <FieldCollection><Field><Name>Class</Name><Value>B</Value></Field></FieldCollection>" & _
    "</FieldCollectionTable></Table></TableCollection>" & _
    "</Parameter></Import></Transaction></Qarn>"
file.Close

Set shell = CreateObject("WScript.Shell")
Set context = CreateObject("QarnComDatatypes.ParameterList")
context.FieldCollection.SetValue "Title", "Bracket"

Set list = util.GetXmlParameterList4("Parts.xml", "CreatePart", context, root)
Check list.FieldCollection.GetValue("Drawings") = shell.ExpandEnvironmentStrings("%SystemRoot%") & "\parts", _
    "environment reference expanded"
Check list.FieldCollection.GetValue("Unit") = "kg", "value from the field's attribute"
Check list.FieldCollection.GetValue("Description") = "Bracket", "value from the caller's list"
Check list.GetStructureField("Type", "Header").Value = "FERT", "structure field"
Set table = list.GetTable("Classes")
Set rows = table.FieldCollectionTable
Check rows.Count = 2, "two table rows"
Check rows.Item(2).GetValue("Class") = "B", "second row"
Check list.Attributes.GetValue("plant") = "1000", "element attribute on the list"
Check list.Attributes.GetValue("transaction") = "CreatePart", "transaction attribute"
Check list.Attributes.GetValue("source") = root & "\xml\Parts.xml", "source attribute"

' A transaction the file does not declare: the error names the selection and the file.
caught = ""
On Error Resume Next
Set list = util.GetXmlParameterList4("Parts.xml", "DeletePart", Nothing, root)
caught = Err.Description
On Error GoTo 0
Check InStr(caught, "Node Qarn/Transaction[Aliasname='DeletePart']/Import/Parameter not found in " & root & "\xml\Parts.xml.") > 0, _
    "missing transaction: " & caught

fso.DeleteFolder root, True
WScript.Echo passed & " passed, " & failed & " failed"
