' A working day of a CAD add-in, from start to end, against the sample installation:
' the shared application and its configuration in English and German, the parameter list of a
' material change with the plant's customer file merged into the add-in's data, a logon password
' encrypted and decrypted, the SAP logon entry of this workstation, and a document tree written
' to a file and read back.
' Run it with QarnRootDir set to the installation root (samples\installation):
'   cscript //nologo scenario.vbs
Option Explicit

Dim factory, app, util, shell, part, list, field, structure, table, row, i
Dim encrypted, again, sealed, opened, client, user, password, language, host, sysnr
Dim folder, file, assembly, back

Sub Heading(text)
    WScript.Echo ""
    WScript.Echo "== " & text
End Sub

Sub Show(label, value)
    WScript.Echo "   " & Left(label & String(28, " "), 28) & FirstLine(value)
End Sub

' Shows a parameter list the way a connector receives it.
Sub ShowList(list)
    Dim field, structure, table, row, n, attribute
    For Each attribute In list.Attributes
        Show "[" & attribute.Name & "]", attribute.Value
    Next
    For Each field In list.FieldCollection
        Show field.Name, field.Value
    Next
    For Each structure In list.StructureCollection
        WScript.Echo "   structure " & structure.Name & ": " & structure.Text
    Next
    For Each table In list.TableCollection
        n = 0
        For Each row In table.FieldCollectionTable
            n = n + 1
            WScript.Echo "   table " & table.Name & " row " & n & ": " & RowText(row)
        Next
    Next
End Sub

' Long error texts carry their "at" lines; the first line says what happened.
Function FirstLine(value)
    Dim text
    text = CStr(value)
    If InStr(text, vbLf) > 0 Then text = Left(text, InStr(text, vbLf) - 1) & " ..."
    FirstLine = text
End Function

' An encrypted text is long: its start and its length are enough to see.
Function Shortened(text)
    Shortened = Left(text, 32) & "... (" & Len(text) & " hex digits)"
End Function

Function RowText(row)
    Dim field, text
    For Each field In row
        If text <> "" Then text = text & "; "
        text = text & field.Name & "=" & field.Value
    Next
    RowText = text
End Function

' Builds one node of a product structure: a document with a parameter list of name/value pairs.
Function NewDocument(pairs)
    Dim doc, k
    Set doc = CreateObject("QarnComDatatypes.QarnDocument")
    Set doc.ParameterList = CreateObject("QarnComDatatypes.ParameterList")
    For k = 0 To UBound(pairs) Step 2
        doc.ParameterList.FieldCollection.SetValue pairs(k), pairs(k + 1)
    Next
    Set NewDocument = doc
End Function

Sub ShowTree(doc, indent)
    Dim child
    WScript.Echo indent & doc.ParameterList.FieldCollection.GetValue("DocumentNumber") & "  " & _
                 doc.ParameterList.FieldCollection.GetValue("Title") & "  (" & _
                 doc.ParameterList.FieldCollection.GetValue("ModelFullName") & ")"
    If Not doc.Children Is Nothing Then
        For Each child In doc.Children
            ShowTree child, indent & "    "
        Next
    End If
End Sub

Set util = CreateObject("QarnComConnector.CQarnUtilities")
Set shell = CreateObject("WScript.Shell")

Heading "Application and configuration"
Set factory = CreateObject("QarnComConnector.CQarnClassFactory")
Set app = factory.Create()   ' reads xml\QarnConnector.xml and every file it names
Show "installation root", util.GetRootDir()
Show "site", app.GetProperty("SiteName")
Show "plant", app.GetProperty("Plant")
Show "SAP system", app.GetProperty("SAPSystem")
Show "CAD system", app.GetProperty("CadSystem")
Show "check-in folder", app.GetProperty("RemoteCheckinDir")
Show "properties / messages", app.Properties.Count & " / " & app.Messages.Count
Show "M0011 in English", util.GetMessage("M0011")
util.ReadXmlConfigurationFiles2 "DE"   ' this utilities object now has its own, German store
Show "M0011 in German", util.GetMessage("M0011")
Set again = CreateObject("QarnComConnector.CQarnClassFactory").Create()
Show "one application", CStr(again Is app)

Heading "Parameter list: ChangePart with the plant's customer file"
Set part = CreateObject("QarnComDatatypes.ParameterList")
part.FieldCollection.SetValue "PartNumber", "100-4711"
part.FieldCollection.SetValue "Title", "Drive shaft D40x320"
part.FieldCollection.SetValue "Mass", "3.92"
WScript.Echo "   the add-in sends: " & RowText(part.FieldCollection)
Set list = util.GetXmlParameterList("Parts.xml", "ChangePart", part)
ShowList list
WScript.Echo "   (the add-in's values stay; the customer file's defaults fill what it left out)"

Heading "Parameter list: CreatePart from the regular file"
Set part = CreateObject("QarnComDatatypes.ParameterList")
part.FieldCollection.SetValue "PartNumber", "100-4712"
part.FieldCollection.SetValue "Title", "Flange DN50"
part.FieldCollection.SetValue "TitleDE", "Flansch DN50"
part.FieldCollection.SetValue "Mass", "1.25"
Set list = util.GetXmlParameterList("Parts.xml", "CreatePart", part)
ShowList list

Heading "Logon password"
encrypted = util.EncryptLogon2("password", "Kiel-Cad-2024")
Show "EncryptLogon2", Shortened(encrypted)
Show "for the logon file", "<password x3nc=""true"">" & Left(encrypted, 16) & "...</password>"
Set sealed = util.Encrypt("password", "Kiel-Cad-2024")
Show "Encrypt (field)", Shortened(sealed.Value) & ", x3nc=" & sealed.Attributes.GetValue("x3nc")
Set opened = util.Decrypt2(sealed)
Show "Decrypt2 (field)", opened.Value

Heading "SAP logon entry of " & util.GetSystemComputerName() & " / " & util.GetSystemUserName()
util.GetSAPLogonParameter client, user, password, language, host, sysnr
Show "client", client
Show "user", user
Show "password", String(Len(password), "*") & " (" & Len(password) & " characters, decrypted from the file)"
Show "language", language
Show "host / system number", host & " / " & sysnr

Heading "Document tree written to a file and read back"
Set assembly = NewDocument(Array("DocumentNumber", "DRW-1000", "Title", "Gear unit GU-40", "ModelFullName", "C:\QarnWork\GU-40.asm"))
Set assembly.Children = CreateObject("QarnComDatatypes.QarnDocumentCollection")
assembly.Children.Add NewDocument(Array("DocumentNumber", "DRW-1001", "Title", "Drive shaft D40x320", "ModelFullName", "C:\QarnWork\shaft.prt"))
assembly.Children.Add NewDocument(Array("DocumentNumber", "DRW-1002", "Title", "Flange DN50", "ModelFullName", "C:\QarnWork\flange.prt"))
Set assembly.Children.Item(2).Children = CreateObject("QarnComDatatypes.QarnDocumentCollection")
assembly.Children.Item(2).Children.Add NewDocument(Array("DocumentNumber", "DRW-1003", "Title", "Gasket 50x2", "ModelFullName", "C:\QarnWork\gasket.prt"))
folder = shell.ExpandEnvironmentStrings("%TEMP%")
If InStr(folder, Chr(0)) > 0 Then folder = Left(folder, InStr(folder, Chr(0)) - 1)
file = folder & "\qarn-scenario-" & util.CreateGuid() & ".xml"
util.WriteQarnDocumentToFile assembly, file
Show "written", file
Set back = util.ReadQarnDocumentFromFile(file)
ShowTree back, "   "
util.FileRemove file

Heading "Shut-down"
factory.Destroy
Show "application released", "yes"
WScript.Echo ""
WScript.Echo "done"
