// Late binding to the real classes from JScript: the timer, the number generator and the data
// types (default members called as functions, Item, Enumerator, null object properties).
// Busy-waits (WScript.Sleep does not wait under Wine).
function pause(ms) {
    var started = new Date().getTime();
    while (new Date().getTime() - started < ms) {}
}

var stopwatch = new ActiveXObject("QarnComConnector.CQarnTimer");
check(stopwatch.IsRunning() === false, "a new timer is not running");
stopwatch.start();
check(stopwatch.IsRunning() === true, "start runs the timer");
pause(150);
var elapsed = stopwatch.GetTimeDiff();
check(elapsed >= 0.1 && elapsed < 10, "the running timer measures the time (" + elapsed + ")");
stopwatch.Stop();
check(stopwatch.IsRunning() === false, "Stop stops the timer");
var frozen = stopwatch.GetTimeDiff();
pause(50);
check(stopwatch.GetTimeDiff() === frozen && frozen >= elapsed, "a stopped timer keeps its reading (" + frozen + ")");

var generator = new ActiveXObject("QarnComConnector.CQarnNumberGenerator");
var numbers = generator.Get1("N-", 9, 11);
check(numbers.Count === 3, "Get1 gives one field per number (" + numbers.Count + ")");
check(same(numbers.Item(1).Name, "N-9") && same(numbers(3).Name, "N-11"), "the fields are named prefix and number");
var names = "";
for (var e = new Enumerator(numbers); !e.atEnd(); e.moveNext()) names += e.item().Name + ";";
check(same(names, "N-9;N-10;N-11;"), "Enumerator visits the numbers in order (" + names + ")");

var field = new ActiveXObject("QarnComDatatypes.Field");
field.Name = "weight";
field.Value = 12;
check(same(field.Name, "weight") && field.Value === 12, "Name and Value");
check(same(field.StringValue, "12"), "StringValue is the value as text");
check(field.Attributes === null, "a new Field has no attributes (null)");
field.Value = null;
check(field.Value === null && same(field.StringValue, ""), "a Field holds null; its text is empty");

var fields = new ActiveXObject("QarnComDatatypes.FieldCollection");
fields.Add(field);
fields.SetValue("twice", "a");
fields.SetValue("twice", "b");
check(fields.Count === 3, "Add and SetValue append (" + fields.Count + ")");
check(same(fields(1).Name, "weight") && same(fields.Item(3).Value, "b"), "Item, also called as the default member");
check(same(fields.Field("twice").Value, "b"), "Field(name) finds the last field of that name");
check(same(fields.GetValue("missing"), ""), "GetValue of a missing name is empty");
names = "";
for (e = new Enumerator(fields); !e.atEnd(); e.moveNext()) names += e.item().Name + ";";
check(same(names, "weight;twice;twice;"), "Enumerator over a FieldCollection (" + names + ")");

var list = new ActiveXObject("QarnComDatatypes.ParameterList");
check(list.FieldCollection.Count === 0, "a new ParameterList has an empty FieldCollection");
check(list.Attributes === null, "a new ParameterList has no attributes (null)");
list.Attributes = fields;
check(list.Attributes.Count === 3, "Attributes holds the collection put into it");

WScript.Echo(passed + " passed, " + failed + " failed");
