// System: installation root, Windows user and computer, environment variables, and the network
// helpers on this computer only (loopback: nothing leaves the machine).
var util = new ActiveXObject("QarnComConnector.CQarnUtilities");

// The first line of a text (an error description ends with "at" lines).
function firstLine(text) { return String(text).split("\n")[0]; }

WScript.Echo("Installation root (QarnRootDir): " + util.GetRootDir());
WScript.Echo("Configuration folder: " + util.GetRootDir() + "\\xml");     // no backslash is appended
WScript.Echo("User: " + util.GetSystemUserName() + ", computer: " + util.GetSystemComputerName());
WScript.Echo('GetEnv("QarnRootDir") = ' + util.GetEnv("QarnRootDir"));
WScript.Echo("GetEnv of an unset variable = [" + util.GetEnv("QARN_SAMPLE_NOT_SET") + "]");

// The DNS domain, or USERDNSDOMAIN; a workstation without either gets a readable error.
try {
    WScript.Echo("Domain: " + util.GetDomain());
} catch (e) {
    WScript.Echo("No domain: " + firstLine(e.description));
}

// Name resolution of this computer's loopback name.
var host = util.GetHostByName("localhost");
WScript.Echo("localhost: address family " + host.GetValue("IntType") + ", address length " + host.GetValue("Length"));
for (var i = 1; i <= host.Count; i++)
    if (host.Item(i).Name === "IP") WScript.Echo("  IP " + host.Item(i).Value);

// Port 0 never accepts a connection, so the call fails at once (a listening port that never
// answers would block it: SendNetworkData has no time-out). A network failure is an empty answer.
var answer = util.SendNetworkData("PING", "127.0.0.1", 0);
WScript.Echo("SendNetworkData to 127.0.0.1:0 answered [" + answer + "]");

// Sleep blocks the caller for at least that many milliseconds.
var timer = new ActiveXObject("QarnComConnector.CQarnTimer");
timer.start();
util.Sleep(200);
timer.Stop();
WScript.Echo("Sleep 200 ms took at least 0.2 s: " + (timer.GetTimeDiff() >= 0.2));
WScript.Echo("done");
