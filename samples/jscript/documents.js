// Documents: build a small QarnDocument tree (an assembly with two parts), store it as a document
// file in a temporary folder, read it back and print it; a document description becomes a tree too.
var util = new ActiveXObject("QarnComConnector.CQarnUtilities");
var fso = new ActiveXObject("Scripting.FileSystemObject");
var folder = fso.GetSpecialFolder(2).Path + "\\qarn-sample-documents-js";
if (!fso.FolderExists(folder)) fso.CreateFolder(folder);
var file = folder + "\\assembly.xml";

// A document: a parameter list (fields, a structure, a table) and a collection of children.
function newDocument(number, title) {
    var doc = new ActiveXObject("QarnComDatatypes.QarnDocument");
    var list = new ActiveXObject("QarnComDatatypes.ParameterList");
    list.FieldCollection.SetValue("Number", number);
    list.FieldCollection.SetValue("Title", title);
    doc.ParameterList = list;
    return doc;
}

var root = newDocument("A-100", "Gear box");
var head = new ActiveXObject("QarnComDatatypes.Structure");
head.Name = "HEAD";
head.FieldCollection.SetValue("Plant", "1100");
root.ParameterList.StructureCollection.Add(head);
var items = new ActiveXObject("QarnComDatatypes.Table");
items.Name = "ITEMS";
var row = new ActiveXObject("QarnComDatatypes.FieldCollection");
row.SetValue("Pos", "10");
row.SetValue("Quantity", "4");
items.FieldCollectionTable.Add(row);
root.ParameterList.TableCollection.Add(items);
root.Children = new ActiveXObject("QarnComDatatypes.QarnDocumentCollection");
root.Children.Add(newDocument("P-1", "Shaft"));
root.Children.Add(newDocument("P-2", "Housing"));

util.WriteQarnDocumentToFile(root, file);
WScript.Echo("Written: " + util.GetNameByPath(file) + " (" + fso.GetFile(file).Size + " bytes)");

// Prints a document and its children, indented by level (a tree read from a file is finite).
function printTree(doc, indent) {
    WScript.Echo(indent + doc.ParameterList.FieldCollection.GetValue("Number") + " " +
                 doc.ParameterList.FieldCollection.GetValue("Title"));
    var children = doc.Children;
    if (children === null) return;
    for (var i = 1; i <= children.Count; i++) printTree(children.Item(i), indent + "  ");
}

var again = util.ReadQarnDocumentFromFile(file);
WScript.Echo("Read back:");
printTree(again, "  ");
WScript.Echo("  HEAD: " + again.ParameterList.GetStructure("HEAD").Text);
WScript.Echo("  ITEMS row 1 quantity: " + again.ParameterList.GetTableField("Quantity", "ITEMS", 1).Value);

// A document description (XML attributes, QarnDocumentCollection) is a second, hand-written layout.
var described = util.GetXmlQarnDocumentFromString(
    '<QarnDocument type="assembly"><Parameter><FieldCollection>' +
    '<Field><Name>Number</Name><Value>A-200</Value></Field></FieldCollection></Parameter>' +
    '<QarnDocumentCollection><QarnDocument number="P-7"/></QarnDocumentCollection></QarnDocument>', null);
WScript.Echo("Description: type " + described.Attributes.GetValue("type") + ", number " +
             described.ParameterList.FieldCollection.GetValue("Number") + ", first child " +
             described.Children.Item(1).Attributes.GetValue("number"));

fso.DeleteFolder(folder, true);
WScript.Echo("done");
