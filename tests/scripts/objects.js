// What JScript does differently with the real classes: properties called as functions, default
// members called as functions, Enumerator, null for "Nothing". The rest is in objects.vbs.
var stopwatch = new ActiveXObject("QarnComConnector.CQarnTimer");
stopwatch.start();
check(stopwatch.IsRunning() === true && stopwatch.GetTimeDiff() >= 0, "a property get called as a method");
stopwatch.Stop();

var numbers = new ActiveXObject("QarnComConnector.CQarnNumberGenerator").Get1("N-", 9, 11);
var names = "";
for (var e = new Enumerator(numbers); !e.atEnd(); e.moveNext()) names += e.item().Name + ";";
check(same(names, "N-9;N-10;N-11;"), "Enumerator visits the numbers in order (" + names + ")");

var field = new ActiveXObject("QarnComDatatypes.Field");
field.Name = "weight";
field.Value = 12;
check(field.Value === 12 && same(field.StringValue, "12"), "a number keeps its type; StringValue is its text");
check(field.Attributes === null, "a new Field has no attributes (null)");
field.Value = null;
check(field.Value === null && same(field.StringValue, ""), "a Field holds null; its text is empty");

var fields = new ActiveXObject("QarnComDatatypes.FieldCollection");
fields.Add(field);
fields.SetValue("twice", "b");
check(same(fields(1).Name, "weight") && same(fields.Item(2).Value, "b"), "Item, also called as the default member");
var list = new ActiveXObject("QarnComDatatypes.ParameterList");
list.Attributes = fields;
check(list.Attributes.Count === 2, "an object property put without Set");

WScript.Echo(passed + " passed, " + failed + " failed");
