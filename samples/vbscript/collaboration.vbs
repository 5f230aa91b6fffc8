' Collaboration data beside the CAD models: the structure information of an assembly, the
' modification state, and the .CLB store, all in a temporary folder.
Option Explicit
Dim util, fso, folder, model, collab, child, written, stored, fields, isModified, row, store

Set util = CreateObject("QarnComConnector.CQarnUtilities")
Set fso = CreateObject("Scripting.FileSystemObject")
folder = fso.GetSpecialFolder(2).Path & "\qarn-sample-collaboration"
If Not fso.FolderExists(folder) Then fso.CreateFolder folder

' A model document: its fields name the model file and where its structure information goes.
Function NewModel(file, stamp)
    Dim doc, list
    Set doc = CreateObject("QarnComDatatypes.QarnDocument")
    Set list = CreateObject("QarnComDatatypes.ParameterList")
    list.FieldCollection.SetValue "ModelFullName", folder & "\" & file
    list.FieldCollection.SetValue "ModelStamp", stamp
    Set doc.ParameterList = list
    Set NewModel = doc
End Function

' The assembly with two components; the shaft carries collaboration data (recorded stamp, revision).
Set model = NewModel("gearbox.sasm", "S7")
model.ParameterList.FieldCollection.SetValue "ModelLocalStructureFile", folder & "\gearbox.xml"
Set model.Children = CreateObject("QarnComDatatypes.QarnDocumentCollection")
Set child = NewModel("shaft.spt", "S3")
Set collab = CreateObject("QarnComDatatypes.Structure")
collab.Name = "QarnCollaboration"
collab.FieldCollection.SetValue "ModelStamp", "S3"
collab.FieldCollection.SetValue "Revision", "B"
child.ParameterList.StructureCollection.Add collab
model.Children.Add child
model.Children.Add NewModel("housing.spt", "S1")

' Structure information: the model's fields and one row per component.
util.CreateStructureInformation model
Set written = util.GetXmlParameterList2(folder & "\gearbox.xml", "", Nothing)
WScript.Echo "gearbox.xml: " & written.FieldCollection.Count & " fields, Children rows:"
For Each row In written.GetTable("Children").FieldCollectionTable
    WScript.Echo "  " & util.GetNameByPath(row.GetValue("ModelFullName")) & " revision [" & row.GetValue("Revision") & "]"
Next

' The .STR file beside the model, and the model's own Children table.
util.CreateStructureInformation3 model
WScript.Echo "ModelStructureFile: " & util.GetNameByPath(model.ParameterList.FieldCollection.GetValue("ModelStructureFile")) & _
    ", exists: " & fso.FileExists(folder & "\gearbox.sasm.STR")

' Modified unless the recorded stamp equals the current one (and no traverse flag forces it).
isModified = True
util.CheckModificationState child, isModified
WScript.Echo "shaft.spt modified: " & isModified
isModified = False
util.CheckModificationState model, isModified
WScript.Echo "gearbox.sasm (no collaboration data) modified: " & isModified

' Empty fields removed from a list, its structures and table rows.
Dim list
Set list = CreateObject("QarnComDatatypes.ParameterList")
list.FieldCollection.SetValue "Material", "P-1"
list.FieldCollection.SetValue "Remark", ""
util.RemoveEmptyFields list
WScript.Echo "After RemoveEmptyFields: " & list.FieldCollection.Count & " field(s)"

' The .CLB store: one field collection per model in <model>.CLB.
Set store = CreateObject("QarnComConnector.CQarnSimpleCollaboration")
Set fields = CreateObject("QarnComDatatypes.FieldCollection")
fields.SetValue "ModelFullName", folder & "\shaft.spt"
fields.SetValue "Status", "In work"
store.Add fields
Set fields = CreateObject("QarnComDatatypes.FieldCollection")
fields.SetValue "ModelFullName", folder & "\shaft.spt"
fields.SetValue "Status", "Released"
store.Update fields                         ' appends: the newest value is found by name
Set stored = store.Get2(folder & "\shaft.spt")
WScript.Echo "shaft.spt.CLB: Status = " & stored.GetValue("Status") & ", " & stored.Count & " fields stored"
WScript.Echo "A model without a store file gives Nothing: " & (store.Get2(folder & "\housing.spt") Is Nothing)

fso.DeleteFolder folder, True
WScript.Echo "done"
