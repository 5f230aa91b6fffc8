// Arguments that JScript passes through our IDispatch layer, against the DispatchProbe double.
// JScript has no by-reference arguments: it calls property gets (parametrised ones and _NewEnum)
// as methods, passes null/undefined for objects, and leaves [out] parameters away. What both
// languages pass alike (objects, GUIDs as text) is checked in dispatch.vbs.

var probe = new ActiveXObject("QarnTest.DispatchProbe");

// Property gets called as methods, with and without an argument.
check(same(probe.Word(1), "alpha") && same(probe.Word(3), "gamma"), "Word(index) called as a method");
check(probe.Count === 3, "Count is 3");

// _NewEnum called as a method by Enumerator.
var words = "";
for (var e = new Enumerator(probe); !e.atEnd(); e.moveNext()) words += e.item() + ";";
check(same(words, "alpha;beta;gamma;"), "Enumerator visits every word (" + words + ")");

// Object parameters: null and undefined arrive as a null pointer.
check(probe.IsNullField(null) === true, "null is a null object");
check(probe.IsNullField(undefined) === true, "undefined is a null object");

// [out] parameters left away; [in,out] parameters passed by value.
check(same(probe.Split("key:value"), "key"), "Split without its [out] argument returns the head");
check(thrown(function () { probe.Toggle(true); probe.Bracket("text"); }) === null,
      "[in,out] scalars and texts can be passed by value");
check(thrown(function () { probe.FillList("name", "value", null); }) === null,
      "[in,out] object passed as null");
var list = new ActiveXObject("QarnComDatatypes.ParameterList");
probe.FillList("first", "1", list);
probe.FillList("second", "2", list);
var fields = list.FieldCollection;
check(fields.Count === 2, "FillList fills a list passed by value (" + fields.Count + ")");
check(same(fields.GetValue("second"), "2"), "the filled list holds the value");

WScript.Echo(passed + " passed, " + failed + " failed");
