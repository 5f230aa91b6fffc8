// Strings: trimming, document numbers, parts of paths, formatting and XML escaping.
var util = new ActiveXObject("QarnComConnector.CQarnUtilities");

// The first line of a text (an error description ends with "at" lines).
function firstLine(text) { return String(text).split("\n")[0]; }

// Trim methods use the first character of their second argument.
WScript.Echo("TrimLeft:          [" + util.TrimLeft("xxA-100xx", "x") + "]");
WScript.Echo("TrimRight:         [" + util.TrimRight("xxA-100xx", "x") + "]");
WScript.Echo("TrimLeftAndRight:  [" + util.TrimLeftAndRight("  A-100  ", " ") + "]");
// SAP document numbers: trimmed, then numeric ones padded with zeros to 25 characters.
WScript.Echo("TrimSAPDocumentNumber: " + util.TrimSAPDocumentNumber(" 4711 ", " ") + ", " +
             util.TrimSAPDocumentNumber(" DRW-4711 ", " "));
WScript.Echo('IsDigit("0815"): ' + util.IsDigit("0815") + ', IsDigit("08a15"): ' + util.IsDigit("08a15"));
// SubStr counts from 0 and clamps both ends.
WScript.Echo('SubStr("Gear box", 5, 99): ' + util.SubStr("Gear box", 5, 99));

// Paths: only "\" separates folders; the last "." starts the extension.
var model = "C:\\Models\\gear box.v2\\housing.sasm";
WScript.Echo("GetNameByPath:     " + util.GetNameByPath(model));
WScript.Echo("GetPathByFullname: " + util.GetPathByFullname(model));
WScript.Echo("GetExtension:      " + util.GetExtension(model));
WScript.Echo("RemoveExtension:   " + util.RemoveExtension(model));

// One "%s" per format; anything else is refused instead of read from nowhere.
WScript.Echo(util.sprintf1("Material [%-10s] created.", "A-100"));
try {
    util.sprintf1("%s has %d parts", "A-100");
} catch (e) {
    WScript.Echo("sprintf1 with %d is refused: " + firstLine(e.description));
}

WScript.Echo("ConvertBSTRToXMLString: " + util.ConvertBSTRToXMLString('Bolt <M8> & "nut"'));
var guid = util.CreateGuid();
WScript.Echo("CreateGuid: " + guid.length + " characters, starts with " + guid.charAt(0));
WScript.Echo("done");
