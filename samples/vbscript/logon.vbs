' SAP logon data from xml\QarnSAPLogonParameter.xml of the installation: the entry for this
' computer and user, else the default entry; other computers and users can be asked for by name.
Option Explicit
Dim util, client, user, password, language, host, sysnr, fields, field, login, row
Dim factoryContext, providerUrl, principal, credentials

Set util = CreateObject("QarnComConnector.CQarnUtilities")
WScript.Echo "This workstation: " & util.GetSystemComputerName() & " / " & util.GetSystemUserName()

' All values at once, through variables.
util.GetSAPLogonParameter client, user, password, language, host, sysnr
WScript.Echo "Entry used here: client " & client & ", user " & user & ", language " & language & _
    ", host " & host & ", system " & sysnr

' The same entry as fields, and single values.
Set fields = util.GetSAPLogonParameter5()
For Each field In fields
    If field.Name <> "password" Then WScript.Echo "  " & field.Name & " = " & field.Value
Next
WScript.Echo "  GetSAPLogonUser: " & util.GetSAPLogonUser()

' The entry of another computer and user (names in capitals, as Windows reports them).
util.GetSAPLogonParameter_ "CADWS042", "MKRAUSE", client, user, password, language, host, sysnr
WScript.Echo "CADWS042 / MKRAUSE: user " & user & ", language " & language
util.GetSAPLogonParameter_ "cadws042", "mkrause", client, user, password, language, host, sysnr
WScript.Echo "cadws042 / mkrause (lower case): user " & user & " (the default entry)"

' Every fitting entry as rows of a table.
Set login = util.GetSAPLoginParameter()
For Each row In login.GetTable("SAPLogonParameter").FieldCollectionTable
    WScript.Echo "Login row: " & row.GetValue("computername") & " / " & row.GetValue("computeruser") & _
        " -> " & row.GetValue("user")
Next

' The web application server file has the same selectors.
util.GetSAPWebApplicationServerLogonParameter factoryContext, providerUrl, principal, credentials
WScript.Echo "Web application server: " & providerUrl & " as " & principal
WScript.Echo "done"
