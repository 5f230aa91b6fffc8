' Documents: build a small QarnDocument tree (an assembly with two parts), store it as a document
' file in a temporary folder, read it back and print it; a document description becomes a tree too.
Option Explicit
Dim util, fso, folder, file, root, again, described

Set util = CreateObject("QarnComConnector.CQarnUtilities")
Set fso = CreateObject("Scripting.FileSystemObject")
folder = fso.GetSpecialFolder(2).Path & "\qarn-sample-documents"
If Not fso.FolderExists(folder) Then fso.CreateFolder folder
file = folder & "\assembly.xml"

' A document: a parameter list (fields, a structure, a table) and a collection of children.
Function NewDocument(number, title)
    Dim doc, list
    Set doc = CreateObject("QarnComDatatypes.QarnDocument")
    Set list = CreateObject("QarnComDatatypes.ParameterList")
    list.FieldCollection.SetValue "Number", number
    list.FieldCollection.SetValue "Title", title
    Set doc.ParameterList = list
    Set NewDocument = doc
End Function

Set root = NewDocument("A-100", "Gear box")
Dim head, items, row
Set head = CreateObject("QarnComDatatypes.Structure")
head.Name = "HEAD"
head.FieldCollection.SetValue "Plant", "1100"
root.ParameterList.StructureCollection.Add head
Set items = CreateObject("QarnComDatatypes.Table")
items.Name = "ITEMS"
Set row = CreateObject("QarnComDatatypes.FieldCollection")
row.SetValue "Pos", "10"
row.SetValue "Quantity", "4"
items.FieldCollectionTable.Add row
root.ParameterList.TableCollection.Add items
Set root.Children = CreateObject("QarnComDatatypes.QarnDocumentCollection")
root.Children.Add NewDocument("P-1", "Shaft")
root.Children.Add NewDocument("P-2", "Housing")

util.WriteQarnDocumentToFile root, file
WScript.Echo "Written: " & util.GetNameByPath(file) & " (" & fso.GetFile(file).Size & " bytes)"

' Prints a document and its children, indented by level (a tree read from a file is finite).
Sub PrintTree(doc, indent)
    Dim child
    WScript.Echo indent & doc.ParameterList.FieldCollection.GetValue("Number") & " " & _
        doc.ParameterList.FieldCollection.GetValue("Title")
    If Not doc.Children Is Nothing Then
        For Each child In doc.Children
            PrintTree child, indent & "  "
        Next
    End If
End Sub

Set again = util.ReadQarnDocumentFromFile(file)
WScript.Echo "Read back:"
PrintTree again, "  "
WScript.Echo "  HEAD: " & again.ParameterList.GetStructure("HEAD").Text
WScript.Echo "  ITEMS row 1 quantity: " & again.ParameterList.GetTableField("Quantity", "ITEMS", 1).Value

' A document description (XML attributes, QarnDocumentCollection) is a second, hand-written layout.
Set described = util.GetXmlQarnDocumentFromString( _
    "<QarnDocument type=""assembly""><Parameter><FieldCollection>" & _
    "<Field><Name>Number</Name><Value>A-200</Value></Field></FieldCollection></Parameter>" & _
    "<QarnDocumentCollection><QarnDocument number=""P-7""/></QarnDocumentCollection></QarnDocument>", Nothing)
WScript.Echo "Description: type " & described.Attributes.GetValue("type") & ", number " & _
    described.ParameterList.FieldCollection.GetValue("Number") & ", first child " & _
    described.Children.Item(1).Attributes.GetValue("number")

fso.DeleteFolder folder, True
WScript.Echo "done"
