// The installation's configuration through the class factory: the shared application object with
// its properties, messages and JNI options. QarnRootDir names the installation root.
var factory = new ActiveXObject("QarnComConnector.CQarnClassFactory");
var app = factory.Create();   // reads xml\QarnConnector.xml and the files it names, once per process
var util = new ActiveXObject("QarnComConnector.CQarnUtilities");
WScript.Echo("Installation root: " + util.GetRootDir());
var names = ["SiteName", "Plant", "CadSystem", "RemoteCheckinDir", "CheckoutDir"];
for (var i = 0; i < names.length; i++) WScript.Echo("  " + names[i] + " = " + app.GetProperty(names[i]));

// A utilities object without a configuration of its own answers from the shared application ...
WScript.Echo("M0011 (EN): " + util.GetMessage("M0011"));
// ... until it reads the configuration itself, here with the German messages.
util.ReadXmlConfigurationFiles2("DE");
WScript.Echo("M0011 (DE): " + util.GetMessage("M0011"));
// Its own properties hold every property of the name, found without regard to letter case.
WScript.Echo("Properties named 'plant': " + util.GetPropertiesByName("plant").Count);

WScript.Echo("JNI options:");
var options = app.JNIOptions;
for (var i = 1; i <= options.Count; i++) WScript.Echo("  " + options.Item(i).Name + " = " + options.Item(i).Value);

// Every factory of the process hands out the same application until Destroy.
var again = new ActiveXObject("QarnComConnector.CQarnClassFactory").Create();
WScript.Echo("Second factory, same application: " + (again === app));
// Destroy releases the application: the next Create reads the configuration again.
factory.Destroy();
WScript.Echo("done");
