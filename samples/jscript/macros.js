// Script macros: a macro written in JScript runs on a parameter list. The engine is a Windows
// Script Component (a .wsc file run by the system's script engines through scrobj.dll), registered
// for the time of this sample under its own ProgID. Registering writes to HKEY_CLASSES_ROOT: on
// Windows run this sample from an administrator prompt.
var progId = "QarnSample.JsMacros";
var util = new ActiveXObject("QarnComConnector.CQarnUtilities");
var fso = new ActiveXObject("Scripting.FileSystemObject");
var shell = new ActiveXObject("WScript.Shell");
var folder = fso.GetSpecialFolder(2).Path + "\\qarn-sample-macros-js";
if (!fso.FolderExists(folder)) fso.CreateFolder(folder);
var wsc = folder + "\\macros.wsc";

// The engine: RunMacro(macro name, input list, output list) and Destroy are the members the
// connector calls. The lists arrive by reference (VT_BYREF | VT_DISPATCH), which JScript cannot
// use directly: a Scripting.Dictionary hands back the objects themselves.
var stream = fso.CreateTextFile(wsc, true);
stream.Write([
    '<?xml version="1.0"?>',
    '<component>',
    '<registration progid="' + progId + '" classid="{6B0D4C1E-2F6A-4C55-9A39-0E7C2D1B5A13}" version="1.0"></registration>',
    '<public>',
    '  <method name="RunMacro"><parameter name="macroName"/><parameter name="inRef"/><parameter name="outRef"/></method>',
    '  <method name="Destroy"/>',
    '</public>',
    '<script language="JScript"><![CDATA[',
    'function RunMacro(macroName, inRef, outRef) {',
    '    if (macroName != "CheckOrder") throw new Error("No macro " + macroName);',
    '    var objects = new ActiveXObject("Scripting.Dictionary");',
    '    objects.Add("in", inRef);',
    '    objects.Add("out", outRef);',
    '    var inList = objects.Item("in"), outList = objects.Item("out");',
    '    var quantity = parseInt(inList.FieldCollection.GetValue("Quantity"), 10);',
    '    outList.FieldCollection.SetValue("Order", inList.FieldCollection.GetValue("Order"));',
    '    outList.FieldCollection.SetValue("Approved", String(quantity <= 100));',
    '    outList.FieldCollection.SetValue("CheckedBy", "macros.wsc (" + ScriptEngine() + ")");',
    '}',
    'function Destroy() {}',
    ']]></script>',
    '</component>', ''].join("\r\n"));
stream.Close();
if (shell.Run('regsvr32 /s /n /i:"' + wsc + '" scrobj.dll', 0, true) !== 0)
    throw new Error("The script component could not be registered (administrator rights?).");

// Run the macro on an order: the engine fills the output list.
var order = new ActiveXObject("QarnComDatatypes.ParameterList");
order.FieldCollection.SetValue("Order", "4500012345");
order.FieldCollection.SetValue("Quantity", "40");
var result = new ActiveXObject("QarnComDatatypes.ParameterList");
util.RunMacro(progId, "CheckOrder", order, result);
WScript.Echo("CheckOrder filled the output list:");
var fields = result.FieldCollection;
for (var i = 1; i <= fields.Count; i++) WScript.Echo("  " + fields.Item(i).Name + " = " + fields.Item(i).Value);

// A failing macro fails the call with a description and the "at" lines (the macro's own text
// when the script host hands it on, else "Error invoking method RunMacro.").
try {
    util.RunMacro(progId, "Unknown", order, result);
} catch (e) {
    WScript.Echo("Unknown macro: " + e.description.split("\n").join(" | "));
}

// The engine stays until DestroyScriptEngine calls its Destroy; then unregister and clean up.
util.DestroyScriptEngine(progId);
shell.Run('regsvr32 /s /u /n /i:"' + wsc + '" scrobj.dll', 0, true);
fso.DeleteFolder(folder, true);
WScript.Echo("ProgID still registered: " + (util.GetCLSIDFromProgID(progId).length > 0));
WScript.Echo("done");
