' Text and CSV files: lines of a text file as fields, name/value pairs, and a table with a header.
Option Explicit
Dim util, fso, folder, lines, field, pairs, table, row

Set util = CreateObject("QarnComConnector.CQarnUtilities")
Set fso = CreateObject("Scripting.FileSystemObject")
folder = fso.GetSpecialFolder(2).Path & "\qarn-sample-text"
If Not fso.FolderExists(folder) Then fso.CreateFolder folder

' A text file: every line is a field named "1", "2", ...; the final line break gives an empty line.
util.FileWrite folder & "\checkin.log", "A-100 checked in" & vbLf & "P-1 checked in" & vbLf
Set lines = util.ReadTextFile(folder & "\checkin.log")
WScript.Echo "checkin.log has " & lines.Count & " lines:"
For Each field In lines
    WScript.Echo "  " & field.Name & ": [" & field.Value & "]"
Next

' Name/value pairs: every separator character splits, empty tokens do not count.
util.FileWrite folder & "\site.txt", "Plant=1100;CompanyCode=1000" & vbLf & "Unit=PC" & vbLf
Set pairs = util.ReadCSVFile(folder & "\site.txt", "=;")
WScript.Echo "Pairs: Plant = " & pairs.GetValue("Plant") & ", CompanyCode = " & pairs.GetValue("CompanyCode") & _
    ", Unit = " & pairs.GetValue("Unit")

' A table whose first line is the header; short rows get empty values.
util.FileWrite folder & "\bom.csv", "Pos;Material;Quantity" & vbLf & "10;P-1;2" & vbLf & "20;P-2" & vbLf
Set table = util.ReadCSVFile2(folder & "\bom.csv", ";")
WScript.Echo "bom.csv: " & table.Count & " rows"
For Each row In table
    WScript.Echo "  Pos " & row.GetValue("Pos") & ": " & row.GetValue("Material") & " x [" & row.GetValue("Quantity") & "]"
Next
WScript.Echo "Row with Material P-2: Pos " & table.FindRow("Material", "P-2").GetValue("Pos")

fso.DeleteFolder folder, True
WScript.Echo "done"
