// SAP logon data from xml\QarnSAPLogonParameter.xml of the installation: the entry for this
// computer and user, else the default entry. JScript cannot receive values through [out]
// arguments, so it uses the methods that return fields or single values.
var util = new ActiveXObject("QarnComConnector.CQarnUtilities");
WScript.Echo("This workstation: " + util.GetSystemComputerName() + " / " + util.GetSystemUserName());

// The entry used here, as fields (the password is left out of the output).
var fields = util.GetSAPLogonParameter5();
WScript.Echo("Entry used here:");
for (var i = 1; i <= fields.Count; i++) {
    var field = fields.Item(i);
    if (field.Name !== "password") WScript.Echo("  " + field.Name + " = " + field.Value);
}

// Single values of the same entry.
WScript.Echo("Client " + util.GetSAPLogonClient() + ", user " + util.GetSAPLogonUser() + ", language " +
             util.GetSAPLogonLanguage() + ", host " + util.GetSAPLogonHostname() +
             ", system " + util.GetSAPLogonSystemnumber());

// Every fitting entry as rows of a table.
var rows = util.GetSAPLoginParameter().GetTable("SAPLogonParameter").FieldCollectionTable;
for (var i = 1; i <= rows.Count; i++) {
    var row = rows.Item(i);
    WScript.Echo("Login row: " + row.GetValue("computername") + " / " + row.GetValue("computeruser") +
                 " -> " + row.GetValue("user"));
}

// Another logon file of the xml folder, here the web application server's, read as fields.
var web = util.GetSAPLogonParameter6("QarnSAPWebApplicationServerLogonParameter.xml");
WScript.Echo("Web application server: " + web.GetValue("providerUrl") + " as " + web.GetValue("securityPrincipal"));
WScript.Echo("done");
