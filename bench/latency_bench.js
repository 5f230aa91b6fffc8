// The latency a CAD user sees for one call, through IDispatch from a script host, against the
// sample installation (QarnRootDir names it). Each call is repeated in rounds of about 200 ms; the
// figure is the median of five rounds, in microseconds per call.
var factory = new ActiveXObject("QarnComConnector.CQarnClassFactory");
var util = new ActiveXObject("QarnComConnector.CQarnUtilities");
util.ReadXmlConfigurationFiles();

var part = new ActiveXObject("QarnComDatatypes.ParameterList");
part.FieldCollection.SetValue("PartNumber", "100-4711");
part.FieldCollection.SetValue("Title", "Drive shaft D40x320");
part.FieldCollection.SetValue("Mass", "3.9");
part.FieldCollection.SetValue("ChangeNumber", "500000000999");
var cad = new ActiveXObject("QarnComDatatypes.Structure");
cad.Name = "CadAttributes";
cad.FieldCollection.SetValue("DIAMETER", "40");
part.StructureCollection.Add(cad);

// Microseconds per call: the median of five rounds of about 200 ms each (at least 5 calls).
function perCall(call) {
    call();  // the first call loads what later ones find loaded
    var rounds = [];
    for (var r = 0; r < 5; r++) {
        var n = 0, start = new Date().getTime(), elapsed = 0;
        do {
            call();
            n++;
            elapsed = new Date().getTime() - start;
        } while (elapsed < 200 || n < 5);
        rounds.push(elapsed * 1000 / n);
    }
    rounds.sort(function (a, b) { return a - b; });
    return rounds[2];
}

function check(condition, what) {
    if (!condition) throw new Error(what);
}

var cases = [
    ["`Create` + `Destroy`", function () { check(factory.Create() != null, "Create"); factory.Destroy(); }],
    ["`GetXmlParameterList` of `CreatePart`", function () {
        check(util.GetXmlParameterList("Parts.xml", "CreatePart", part).FieldCollection.Count > 0, "CreatePart");
    }],
    ["`GetXmlParameterList` of `ChangePart` (customer file)", function () {
        check(util.GetXmlParameterList("Parts.xml", "ChangePart", part).FieldCollection.Count > 0, "ChangePart");
    }],
    ["`Encrypt`", function () { check(util.Encrypt("username", "Sommer2026!!") != null, "Encrypt"); }],
    ["`GetSAPLogonClient`", function () { check(util.GetSAPLogonClient() != "", "GetSAPLogonClient"); }]
];

WScript.Echo("Calls from JScript (`cscript`) through `IDispatch`, sample installation; medians of five rounds of about 200 ms.");
WScript.Echo("");
WScript.Echo("| call | microseconds per call |");
WScript.Echo("|---|---:|");
for (var i = 0; i < cases.length; i++) {
    var us = perCall(cases[i][1]);
    WScript.Echo("| " + cases[i][0] + " | " + (us < 100 ? us.toFixed(1) : Math.round(us)) + " |");
}
WScript.Echo("");
WScript.Echo("Every call measured.");
