// XML: parse a file and a text with the MSXML engine, read the children of a node as fields and
// go on with XPath on the very document object.
var util = new ActiveXObject("QarnComConnector.CQarnUtilities");

// The first line of a text (an error description ends with "at" lines).
function firstLine(text) { return String(text).split("\n")[0]; }

// A file of the installation: the transactions it declares, by XPath.
var doc = util.DOMParse(util.GetRootDir() + "\\xml\\Parts.xml");
var nodes = doc.selectNodes("Qarn/Transaction/Aliasname");
WScript.Echo("Parts.xml declares " + nodes.length + " transactions:");
for (var i = 0; i < nodes.length; i++) {
    var node = nodes.item(i);
    WScript.Echo("  " + node.text + " (function " +
                 node.parentNode.selectSingleNode("Import/Parameter/@function").text + ")");
}

// The children of one node become fields, with the element's attributes as the field's attributes.
doc = util.DOMParse2('<Part id="7"><Name lang="en">Bolt</Name><Qty>12</Qty>' +
                     '<Stock><Bin>A1</Bin><Qty>40</Qty></Stock><Stock><Bin>B4</Bin><Qty>5</Qty></Stock></Part>');
var fields = util.DOMNodeGetChilds(doc, "Part");
WScript.Echo("Children of Part: " + fields.Count);
WScript.Echo("  Name = " + fields.GetValue("Name") + ", Qty = " + fields.GetValue("Qty"));
WScript.Echo("  Name's attribute lang = " + fields.Field("Name").Attributes.GetValue("lang"));

// One row per matching node, and a whole subtree under dotted names.
var rows = util.DOMNodeGetChilds_(doc, "Part/Stock");
for (var i = 1; i <= rows.Count; i++)
    WScript.Echo("Stock row: bin " + rows.Item(i).GetValue("Bin") + ", quantity " + rows.Item(i).GetValue("Qty"));
var flat = util.DOMNodeGetChilds2(doc.selectNodes("Part/Name"));
for (var i = 1; i <= flat.Count; i++) WScript.Echo("Flattened: " + flat.Item(i).Name + " = " + flat.Item(i).Value);
WScript.Echo("Attributes of Part: id = " + util.GetXMLAttributes(doc.selectSingleNode("Part")).GetValue("id"));

// A missing node gives nothing (null), or a readable error where a value is required.
WScript.Echo("DOMNodeGetChilds of a missing node is null: " + (util.DOMNodeGetChilds(doc, "Part/Price") === null));
try {
    util.GetXMLDOMNodeTypedValue(doc, "Part/Price");
} catch (e) {
    WScript.Echo("GetXMLDOMNodeTypedValue: " + firstLine(e.description));
}
WScript.Echo("done");
