// A script that reads a parts list: parse the file, pick nodes by XPath, read them into fields,
// tables and dotted names, write a parameter list back as a file.

var u = new ActiveXObject("QarnComConnector.CQarnUtilities");
var fso = new ActiveXObject("Scripting.FileSystemObject");
var folder = fso.GetSpecialFolder(2).Path + "\\qarn-dom-js";
if (!fso.FolderExists(folder)) fso.CreateFolder(folder);
var file = folder + "\\parts.xml";
var out = fso.CreateTextFile(file, true);
out.Write('<?xml version="1.0"?>\r\n<Parts plant="1000">\r\n' +
          '  <Header><Owner>jdoe</Owner><Status>released</Status></Header>\r\n' +
          '  <Part id="7"><Name>Bolt</Name><Qty>12</Qty></Part>\r\n' +
          '  <Part id="8"><Name>Nut</Name><Qty>40</Qty></Part>\r\n' +
          '</Parts>\r\n');
out.Close();

var doc = u.DOMParse(file);
check(doc.selectNodes("//Part").length === 2, "the document answers XPath");

var header = u.DOMNodeGetChilds(doc, "Parts/Header");
check(header.Count === 2 && same(header.GetValue("Owner"), "jdoe") && same(header.Item(2).Name, "Status"),
      "child elements of a node become fields");

var rows = u.DOMNodeGetChilds_(doc, "Parts/Part");
check(rows.Count === 2 && same(rows.Item(2).GetValue("Name"), "Nut") && same(rows.FindRow("Qty", "12").GetValue("Name"), "Bolt"),
      "every matching node becomes a row");

var flat = u.DOMNodeGetChilds2(doc.selectNodes("Parts/Part[@id='7']"));
var names = [];
for (var i = 1; i <= flat.Count; i++) names.push(flat.Item(i).Name + "=" + flat.Item(i).Value);
check(same(names.join(";"), "Part@id=7;Part=Bolt12;Part.Name=Bolt;Part.Qty=12"),
      "a node list with its descendants under dotted names (" + names.join(";") + ")");

var plant = u.GetXMLAttributes(doc.selectSingleNode("Parts"));
check(plant.Count === 1 && same(plant.GetValue("plant"), "1000"), "attributes of a node");
check(same(u.GetXMLDOMNodeTypedValue(doc, "Parts/Part/Qty").Value, "12"), "one node's value");

var list = new ActiveXObject("QarnComDatatypes.ParameterList");
list.FieldCollection.SetValue("Owner", header.GetValue("Owner"));
list.FieldCollection.SetValue("Discount", "5%");
u.WriteXmlFile(folder + "\\list.xml", list);
var written = u.DOMParse(folder + "\\list.xml");
check(same(written.documentElement.nodeName, "Parameter") && contains(written.xml, "5%"),
      "a parameter list written as a file parses again");

fso.DeleteFolder(folder, true);
WScript.Echo(passed + " passed, " + failed + " failed");
