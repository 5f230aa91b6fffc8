// Text and CSV files: lines of a text file as fields, name/value pairs, and a table with a header.
var util = new ActiveXObject("QarnComConnector.CQarnUtilities");
var fso = new ActiveXObject("Scripting.FileSystemObject");
var folder = fso.GetSpecialFolder(2).Path + "\\qarn-sample-text-js";
if (!fso.FolderExists(folder)) fso.CreateFolder(folder);

// A text file: every line is a field named "1", "2", ...; the final line break gives an empty line.
util.FileWrite(folder + "\\checkin.log", "A-100 checked in\nP-1 checked in\n");
var lines = util.ReadTextFile(folder + "\\checkin.log");
WScript.Echo("checkin.log has " + lines.Count + " lines:");
for (var i = 1; i <= lines.Count; i++) WScript.Echo("  " + lines.Item(i).Name + ": [" + lines.Item(i).Value + "]");

// Name/value pairs: every separator character splits, empty tokens do not count.
util.FileWrite(folder + "\\site.txt", "Plant=1100;CompanyCode=1000\nUnit=PC\n");
var pairs = util.ReadCSVFile(folder + "\\site.txt", "=;");
WScript.Echo("Pairs: Plant = " + pairs.GetValue("Plant") + ", CompanyCode = " + pairs.GetValue("CompanyCode") +
             ", Unit = " + pairs.GetValue("Unit"));

// A table whose first line is the header; short rows get empty values.
util.FileWrite(folder + "\\bom.csv", "Pos;Material;Quantity\n10;P-1;2\n20;P-2\n");
var table = util.ReadCSVFile2(folder + "\\bom.csv", ";");
WScript.Echo("bom.csv: " + table.Count + " rows");
for (var i = 1; i <= table.Count; i++) {
    var row = table.Item(i);
    WScript.Echo("  Pos " + row.GetValue("Pos") + ": " + row.GetValue("Material") + " x [" + row.GetValue("Quantity") + "]");
}
WScript.Echo("Row with Material P-2: Pos " + table.FindRow("Material", "P-2").GetValue("Pos"));

fso.DeleteFolder(folder, true);
WScript.Echo("done");
