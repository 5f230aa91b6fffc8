// Transactions: the CAD add-in sends its part as a parameter list and gets back the list that a
// transaction of the installation (xml\Parts.xml, xml\Customer_Parts.xml) builds from it.
var util = new ActiveXObject("QarnComConnector.CQarnUtilities");
util.ReadXmlConfigurationFiles();         // the properties (Plant, BaseUnit ...) the definitions use

// The first line of a text (an error description ends with "at" lines).
function firstLine(text) { return String(text).split("\n")[0]; }

// The caller's list: fields and a structure of CAD attributes.
var part = new ActiveXObject("QarnComDatatypes.ParameterList");
part.FieldCollection.SetValue("PartNumber", "100-4711");
part.FieldCollection.SetValue("Title", "Drive shaft D40x320");
part.FieldCollection.SetValue("TitleDE", "Antriebswelle D40x320");
part.FieldCollection.SetValue("Mass", "3.9");
var cad = new ActiveXObject("QarnComDatatypes.Structure");
cad.Name = "CadAttributes";
cad.FieldCollection.SetValue("DIAMETER", "40");
cad.FieldCollection.SetValue("LENGTH", "320");
part.StructureCollection.Add(cad);

// CreatePart exists only in Parts.xml: the customer file is tried first and says why it did not fit.
var list = util.GetXmlParameterList("Parts.xml", "CreatePart", part);
WScript.Echo("CreatePart from " + util.GetNameByPath(list.Attributes.GetValue("source")) +
             ", isCustomerFile = '" + list.Attributes.GetValue("isCustomerFile") + "'");
WScript.Echo("  customer warning: " + firstLine(list.Attributes.GetValue("customerWarning")));
WScript.Echo("  Material = " + list.FieldCollection.GetValue("Material") + ", Plant = " + list.FieldCollection.GetValue("Plant"));
WScript.Echo("  HEADER: " + list.GetStructure("HEADER").Text);
WScript.Echo("  CLASSIFICATION: " + list.GetStructure("CLASSIFICATION").Text);
var rows = list.GetTable("DESCRIPTIONS").FieldCollectionTable;
for (var i = 1; i <= rows.Count; i++)
    WScript.Echo("  description " + rows.Item(i).GetValue("LANGU") + ": " + rows.Item(i).GetValue("DESCRIPTION"));

// ChangePart comes from Customer_Parts.xml, which merges into a copy of the caller's list and keeps
// the caller's values: the change number sent here wins over the plant's default.
part.FieldCollection.SetValue("ChangeNumber", "500000000999");
var changed = util.GetXmlParameterList("Parts.xml", "ChangePart", part);
WScript.Echo("ChangePart from " + util.GetNameByPath(changed.Attributes.GetValue("source")) +
             ", isCustomerFile = '" + changed.Attributes.GetValue("isCustomerFile") + "'");
var fields = changed.FieldCollection;
for (var i = 1; i <= fields.Count; i++) WScript.Echo("  " + fields.Item(i).Name + " = " + fields.Item(i).Value);
WScript.Echo("  structures: " + changed.StructureCollection.Count + " (CadAttributes from the caller, PLANTDATA added)");
WScript.Echo("  PLANTDATA: " + changed.GetStructure("PLANTDATA").Text);
WScript.Echo("The caller's own list still has " + part.FieldCollection.Count + " fields.");

// A transaction that does not exist fails with a readable description.
try {
    util.GetXmlParameterList("Parts.xml", "DeletePart", part);
} catch (e) {
    WScript.Echo("DeletePart: " + firstLine(e.description));
}
WScript.Echo("done");
