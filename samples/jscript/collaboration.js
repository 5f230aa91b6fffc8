// Collaboration data beside the CAD models: the structure information of an assembly and the
// .CLB store, all in a temporary folder. (The modification state comes back through an [in, out]
// argument, which JScript cannot receive: see collaboration.vbs.)
var util = new ActiveXObject("QarnComConnector.CQarnUtilities");
var fso = new ActiveXObject("Scripting.FileSystemObject");
var folder = fso.GetSpecialFolder(2).Path + "\\qarn-sample-collaboration-js";
if (!fso.FolderExists(folder)) fso.CreateFolder(folder);

// A model document: its fields name the model file and where its structure information goes.
function newModel(file, stamp) {
    var doc = new ActiveXObject("QarnComDatatypes.QarnDocument");
    var list = new ActiveXObject("QarnComDatatypes.ParameterList");
    list.FieldCollection.SetValue("ModelFullName", folder + "\\" + file);
    list.FieldCollection.SetValue("ModelStamp", stamp);
    doc.ParameterList = list;
    return doc;
}

// The assembly with two components; the shaft carries collaboration data (recorded stamp, revision).
var model = newModel("gearbox.sasm", "S7");
model.ParameterList.FieldCollection.SetValue("ModelLocalStructureFile", folder + "\\gearbox.xml");
model.Children = new ActiveXObject("QarnComDatatypes.QarnDocumentCollection");
var child = newModel("shaft.spt", "S3");
var collab = new ActiveXObject("QarnComDatatypes.Structure");
collab.Name = "QarnCollaboration";
collab.FieldCollection.SetValue("ModelStamp", "S3");
collab.FieldCollection.SetValue("Revision", "B");
child.ParameterList.StructureCollection.Add(collab);
model.Children.Add(child);
model.Children.Add(newModel("housing.spt", "S1"));

// Structure information: the model's fields and one row per component.
util.CreateStructureInformation(model);
var written = util.GetXmlParameterList2(folder + "\\gearbox.xml", "", null);
WScript.Echo("gearbox.xml: " + written.FieldCollection.Count + " fields, Children rows:");
var rows = written.GetTable("Children").FieldCollectionTable;
for (var i = 1; i <= rows.Count; i++)
    WScript.Echo("  " + util.GetNameByPath(rows.Item(i).GetValue("ModelFullName")) +
                 " revision [" + rows.Item(i).GetValue("Revision") + "]");

// The .STR file beside the model, and the model's own Children table.
util.CreateStructureInformation3(model);
WScript.Echo("ModelStructureFile: " + util.GetNameByPath(model.ParameterList.FieldCollection.GetValue("ModelStructureFile")) +
             ", exists: " + fso.FileExists(folder + "\\gearbox.sasm.STR"));

// Empty fields removed from a list, its structures and table rows.
var list = new ActiveXObject("QarnComDatatypes.ParameterList");
list.FieldCollection.SetValue("Material", "P-1");
list.FieldCollection.SetValue("Remark", "");
util.RemoveEmptyFields(list);
WScript.Echo("After RemoveEmptyFields: " + list.FieldCollection.Count + " field(s)");

// The .CLB store: one field collection per model in <model>.CLB.
var store = new ActiveXObject("QarnComConnector.CQarnSimpleCollaboration");
var fields = new ActiveXObject("QarnComDatatypes.FieldCollection");
fields.SetValue("ModelFullName", folder + "\\shaft.spt");
fields.SetValue("Status", "In work");
store.Add(fields);
fields = new ActiveXObject("QarnComDatatypes.FieldCollection");
fields.SetValue("ModelFullName", folder + "\\shaft.spt");
fields.SetValue("Status", "Released");
store.Update(fields);                       // appends: the newest value is found by name
var stored = store.Get2(folder + "\\shaft.spt");
WScript.Echo("shaft.spt.CLB: Status = " + stored.GetValue("Status") + ", " + stored.Count + " fields stored");
WScript.Echo("A model without a store file gives null: " + (store.Get2(folder + "\\housing.spt") === null));

fso.DeleteFolder(folder, true);
WScript.Echo("done");
