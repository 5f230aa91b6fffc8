// Encryption: credentials and other marked values as encrypted texts. A text made under a name
// decrypts only under the same name.
var util = new ActiveXObject("QarnComConnector.CQarnUtilities");

// A field: Encrypt marks it with the attribute x3nc = true, Decrypt gives the plain value back.
var field = util.Encrypt("password", "Kiel-Cad-2024");
WScript.Echo("Encrypted field " + field.Name + ": " + String(field.Value).length + " hex digits, x3nc = " +
             field.Attributes.GetValue("x3nc"));
WScript.Echo("Decrypted: " + util.Decrypt2(field).Value);

// Under another name the text does not decrypt: the error code is the description.
try {
    util.Decrypt("user", field.Value);
} catch (e) {
    WScript.Echo("Decrypt as 'user' fails: " + e.description);
}

// A bare value under the fixed value key.
var text = util.Encrypt3("4711-secret");
WScript.Echo("Encrypt3: " + text.substr(0, 16) + "... -> " + util.Decrypt3(text));

// Marked objects: every value below a list marked x3nc = true is encrypted in place, and back.
var list = new ActiveXObject("QarnComDatatypes.ParameterList");
list.FieldCollection.SetValue("user", "QARN_CAD");
list.FieldCollection.SetValue("password", "Kiel-Cad-2024");
var marks = new ActiveXObject("QarnComDatatypes.FieldCollection");
marks.SetValue("x3nc", "true");
list.Attributes = marks;
util.EncryptData(list);
WScript.Echo("EncryptData: user is now " + list.FieldCollection.GetValue("user").length + " hex digits");
util.DecryptData(list);
WScript.Echo("DecryptData: user = " + list.FieldCollection.GetValue("user") +
             ", password = " + list.FieldCollection.GetValue("password"));

// Texts for the logon files, bound to the element they go into (see logon.js).
var logon = util.EncryptLogon2("password", "Kiel-Cad-2024");
WScript.Echo('For <password x3nc="true">: ' + logon.substr(0, 24) + "... (" + logon.length + " digits)");
WScript.Echo("done");
