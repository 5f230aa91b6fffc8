' What a script author does with the utilities: make a work folder, write and copy a CSV export,
' list the folder, read the export back as a table and as lines, clean up document numbers.

Dim u, fso, work, export, backup
Set u = CreateObject("QarnComConnector.CQarnUtilities")
Set fso = CreateObject("Scripting.FileSystemObject")
work = fso.GetSpecialFolder(2).Path & "\qarn-script-" & u.CreateGuid() & "\exports\today"

' A work folder, every level at once.
u.Mkdir work
Check u.FileExist2(work), "Mkdir creates the nested work folder"

' Write an export in two steps; FileWrite appends.
export = work & "\parts.csv"
u.FileWrite export, "Number;Description;Plant" & vbLf
u.FileWrite export, "  4711  ;Bracket;1000" & vbLf & "A-17;Cover;2000" & vbLf & "815;Screw" & vbLf
backup = work & "\parts.bak"
u.FileCopy export, backup
Check u.FileExist(backup), "the backup exists"

' List the folder: one field per file, name and value the full path.
Dim files, f, names
Set files = u.GetFilesInDirectory(work, "*.*")
names = ""
For Each f In files
    names = names & "|" & u.GetNameByPath(f.Value)
Next
Check files.Count = 2, "two files are listed (" & names & ")"
Check InStr(names, "|parts.csv") > 0 And InStr(names, "|parts.bak") > 0, "by their names (" & names & ")"
Check files.Attributes.GetValue("filter") = "*.*", "the listing remembers its filter"
Check u.GetExtension(backup) = "BAK" And u.RemoveExtension(u.GetNameByPath(backup)) = "parts", "name parts of the backup"

' Read the export as a table and normalise the document numbers.
Dim table, row, numbers
Set table = u.ReadCSVFile2(export, ";")
Check table.Count = 3, "three data rows (" & table.Count & ")"
numbers = ""
For Each row In table
    numbers = numbers & "|" & u.TrimSAPDocumentNumber(row.GetValue("Number"), " ")
Next
Check numbers = "|0000000000000000000004711|A-17|0000000000000000000000815", "document numbers (" & numbers & ")"
Check table.Item(3).GetValue("Plant") = "", "a short row gets an empty value"

' The same file as lines: a final line break gives a last, empty line.
Dim lines
Set lines = u.ReadTextFile(export)
Check lines.Count = 5, "five lines (" & lines.Count & ")"
Check lines.Item(2).Value = "  4711  ;Bracket;1000" And lines.Item(5).Value = "", "line texts"
Check u.sprintf1("Exported %s lines", CStr(lines.Count - 1)) = "Exported 4 lines", "sprintf1"

' Errors are readable texts.
Dim description
On Error Resume Next
u.FileCopy work & "\nothing.csv", backup
description = Err.Description
On Error GoTo 0
Check InStr(description, "Error copying file " & work & "\nothing.csv to " & backup & ".") = 1, "copy failure: " & description

' Clean up: remove the files, then every folder level from the inside out.
u.FilesRemove work & "\", "parts.*"
Check u.GetFilesInDirectory(work, "*.*") Is Nothing, "the folder is empty"
u.Rmdir work
u.Rmdir u.GetPathByFullname(work)
u.Rmdir u.GetPathByFullname(u.GetPathByFullname(work))
Check Not u.FileExist2(u.GetPathByFullname(u.GetPathByFullname(work))), "the work folders are gone"

WScript.Echo passed & " passed, " & failed & " failed"
