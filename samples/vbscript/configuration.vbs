' The installation's configuration through the class factory: the shared application object with
' its properties, messages and JNI options. QarnRootDir names the installation root; the demo
' command points it at samples\installation.
Option Explicit
Dim factory, app, util, name, opt, again

Set factory = CreateObject("QarnComConnector.CQarnClassFactory")
Set app = factory.Create()   ' reads xml\QarnConnector.xml and the files it names, once per process
Set util = CreateObject("QarnComConnector.CQarnUtilities")
WScript.Echo "Installation root: " & util.GetRootDir()
For Each name In Array("SiteName", "Plant", "CadSystem", "RemoteCheckinDir", "CheckoutDir")
    WScript.Echo "  " & name & " = " & app.GetProperty(name)
Next

' A utilities object without a configuration of its own answers from the shared application ...
WScript.Echo "M0011 (EN): " & util.GetMessage("M0011")
' ... until it reads the configuration itself, here with the German messages.
util.ReadXmlConfigurationFiles2 "DE"
WScript.Echo "M0011 (DE): " & util.GetMessage("M0011")
' Its own properties hold every property of the name, found without regard to letter case.
WScript.Echo "Properties named 'plant': " & util.GetPropertiesByName("plant").Count

WScript.Echo "JNI options:"
For Each opt In app.JNIOptions
    WScript.Echo "  " & opt.Name & " = " & opt.Value
Next

' Every factory of the process hands out the same application until Destroy.
Set again = CreateObject("QarnComConnector.CQarnClassFactory").Create()
WScript.Echo "Second factory, same application: " & CStr(again Is app)
' Destroy releases the application: the next Create reads the configuration again.
factory.Destroy
WScript.Echo "done"
