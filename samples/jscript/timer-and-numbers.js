// The stopwatch and the number generator.
var timer = new ActiveXObject("QarnComConnector.CQarnTimer");
var util = new ActiveXObject("QarnComConnector.CQarnUtilities");

// The first line of a text (an error description ends with "at" lines).
function firstLine(text) { return String(text).split("\n")[0]; }

timer.start();
WScript.Echo("Running after start: " + timer.IsRunning());
util.Sleep(150);                            // WScript.Sleep would do, where the host supports it
timer.Stop();
WScript.Echo("Running after Stop: " + timer.IsRunning());
var seconds = timer.GetTimeDiff();
WScript.Echo("Measured at least 0.15 s: " + (seconds >= 0.15) + " (" + seconds.toFixed(3) + " s)");

// Numbered names: one field per number, name and value alike.
var generator = new ActiveXObject("QarnComConnector.CQarnNumberGenerator");
var numbers = generator.Get1("DRW-", 98, 102);
WScript.Echo('Get1("DRW-", 98, 102) gives ' + numbers.Count + " numbers:");
for (var i = 1; i <= numbers.Count; i++) WScript.Echo("  " + numbers.Item(i).Name);

// More than 1,000,000 numbers at once are refused.
try {
    generator.Get1("X", 1, 2000000);
} catch (e) {
    WScript.Echo("Two million numbers: " + firstLine(e.description));
}
WScript.Echo("done");
