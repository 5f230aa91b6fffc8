// Type information: which type library describes an object, where it is registered, and the
// class id of a ProgID.
var util = new ActiveXObject("QarnComConnector.CQarnUtilities");
WScript.Echo("CLSID of QarnComConnector.CQarnUtilities: " + util.GetCLSIDFromProgID("QarnComConnector.CQarnUtilities"));
WScript.Echo("CLSID of an unknown ProgID: [" + util.GetCLSIDFromProgID("Qarn.NotInstalled") + "]");

// The type library of an automation object: file, library GUID and dispatch interface GUID.
var info = util.GetInterfaceInfo1(new ActiveXObject("QarnComDatatypes.ParameterList"));
WScript.Echo("  PathName = ..." + util.GetNameByPath(info.GetValue("PathName")));
WScript.Echo("  TLIB_GUID = " + info.GetValue("TLIB_GUID"));
WScript.Echo("  TYPE_GUID = " + info.GetValue("TYPE_GUID"));

// A registered library by GUID, version and locale: ours is registered for German (1031).
var library = util.GetInterfaceInfo1(util).GetValue("TLIB_GUID");
info = util.GetInterfaceInfo2(library, 1, 0, 1031);
WScript.Echo("QarnComConnector library " + library + ": file version " + info.GetValue("FILE_VERSION") +
             ", file " + util.GetNameByPath(info.GetValue("PathName")));
// A library that is not registered gives null.
WScript.Echo("Version 9.0 is registered: " + (util.GetInterfaceInfo2(library, 9, 0, 1031) !== null));

// The installation's known libraries that are registered for locale 0 (in version 1.0 or 2.0).
var rows = util.GetInterfaceInfos();
WScript.Echo("Registered known libraries: " + rows.Count);
for (var i = 1; i <= rows.Count; i++)
    WScript.Echo("  " + rows.Item(i).GetValue("TLIB_GUID") + " " + util.GetNameByPath(rows.Item(i).GetValue("PathName")));
WScript.Echo("done");
