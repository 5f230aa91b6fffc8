' Shows search results in the list view dialog of QarnComConnector.
'
' One document describes the dialog: the field "Caption" of its parameter list is the title, its
' table "Columns" has one row per column, and each child document is one row of the list.
' A column row names its header ("Caption"), its width in pixels ("Width", -1 for the default) and
' where a row's value is found ("Subtype" and "Attribut", plus "Structurename" or "Tablename" and
' "Row" for values in structures and tables).
'
' The dialog reads the installation's configuration first, so QarnRootDir must name the
' installation folder, for example:  set QarnRootDir=C:\Qarn\samples\installation
' Run it with:  cscript //nologo list-view.vbs
Option Explicit

' A field collection from pairs of names and values.
Function Fields(pairs)
    Dim i
    Set Fields = CreateObject("QarnComDatatypes.FieldCollection")
    For i = 0 To UBound(pairs) Step 2
        Fields.SetValue pairs(i), pairs(i + 1)
    Next
End Function

' A document with an empty parameter list.
Function NewDocument()
    Set NewDocument = CreateObject("QarnComDatatypes.QarnDocument")
    NewDocument.ParameterList = CreateObject("QarnComDatatypes.ParameterList")
End Function

' One search result: number and description as fields, the plant in the structure "HEAD".
Function Result(number, description, plant)
    Dim head
    Set Result = NewDocument()
    Result.ParameterList.FieldCollection = Fields(Array("Number", number, "Description", description))
    Set head = CreateObject("QarnComDatatypes.Structure")
    head.Name = "HEAD"
    head.FieldCollection = Fields(Array("Plant", plant))
    Result.ParameterList.StructureCollection.Add head
End Function

Dim view, columns, table, rows

Set view = NewDocument()
view.ParameterList.FieldCollection.SetValue "Caption", "Parts found for 'bracket'"

Set table = CreateObject("QarnComDatatypes.Table")
table.Name = "Columns"
Set columns = table.FieldCollectionTable
columns.Add Fields(Array("Caption", "Number", "Width", 110, "Subtype", "FieldCollection", "Attribut", "Number"))
columns.Add Fields(Array("Caption", "Description", "Width", 260, "Subtype", "FieldCollection", "Attribut", "Description"))
columns.Add Fields(Array("Caption", "Plant", "Width", 80, "Subtype", "StructureCollection", _
                         "Attribut", "Plant", "Structurename", "HEAD"))
view.ParameterList.TableCollection.Add table

Set rows = CreateObject("QarnComDatatypes.QarnDocumentCollection")
rows.Add Result("P-100-01", "Bracket, left, steel", "1000")
rows.Add Result("P-100-02", "Bracket, right, steel", "1000")
rows.Add Result("P-240-07", "Mounting bracket, aluminium", "2000")
view.Children = rows

' Modal: returns when the user presses OK.
CreateObject("QarnComConnector.QarnGenericListViewCon").Show view
WScript.Echo "The dialog was closed."
