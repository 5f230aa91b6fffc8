// A script that keeps a password in a parameter list: encrypt the marked list, store the texts,
// decrypt them again.

var u = new ActiveXObject("QarnComConnector.CQarnUtilities");

var text = u.Encrypt3("Sommer2026!");
// The value key name (38 characters) and 11 characters of value fill 128 words: 512 digits.
check(text.length === 512 && /^[0-9a-f]+$/.test(text), "an encrypted value is 512 lower-case hex digits (" + text + ")");
check(same(u.Decrypt3(text), "Sommer2026!"), "and decrypts back");

var field = u.Encrypt("password", "Sommer2026!");
check(same(field.Name, "password") && same(field.Attributes.GetValue("x3nc"), "true"), "Encrypt marks its field");
check(same(u.Decrypt("password", field.Value).Value, "Sommer2026!"), "Decrypt under the same name");

var list = new ActiveXObject("QarnComDatatypes.ParameterList");
var marker = new ActiveXObject("QarnComDatatypes.FieldCollection");
marker.SetValue("x3nc", "true");
list.Attributes = marker;
list.FieldCollection.SetValue("user", "jdoe");
list.FieldCollection.SetValue("password", "Sommer2026!");
u.EncryptData(list);
var stored = list.FieldCollection.GetValue("password");
check(stored.length === 512 && /^[0-9a-f]+$/.test(stored), "EncryptData encrypts the marked list's values");
u.DecryptData(list);
check(same(list.FieldCollection.GetValue("password"), "Sommer2026!") && same(list.FieldCollection.GetValue("user"), "jdoe"),
      "DecryptData restores them");

WScript.Echo(passed + " passed, " + failed + " failed");
