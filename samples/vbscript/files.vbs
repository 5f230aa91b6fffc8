' Files and folders in a temporary folder: create, write, copy, move, list, remove.
Option Explicit
Dim util, folder, sub1, files, field, stamp

Set util = CreateObject("QarnComConnector.CQarnUtilities")
folder = util.GetEnv("TEMP") & "\qarn-sample-files"
sub1 = folder & "\checkin\A-100"

util.Mkdir sub1                                  ' creates every missing level
util.FileWrite sub1 & "\notes.txt", "first line" & vbLf   ' appends UTF-8; LF becomes CR LF
util.FileWrite sub1 & "\notes.txt", "second line" & vbLf
WScript.Echo "notes.txt exists: " & util.FileExist2(sub1 & "\notes.txt")

util.FileCopy sub1 & "\notes.txt", sub1 & "\copy.txt"
util.FileMove sub1 & "\copy.txt", folder & "\moved.txt"
WScript.Echo "copy.txt after the move: " & util.FileExist2(sub1 & "\copy.txt") & _
    ", moved.txt: " & util.FileExist2(folder & "\moved.txt")

' Listing: full paths as names, the query in the collection's attributes.
Set files = util.GetFilesInDirectory(sub1, "*.txt")
WScript.Echo "Files in " & util.GetNameByPath(files.Attributes.GetValue("directory")) & _
    " matching " & files.Attributes.GetValue("filter") & ":"
For Each field In files
    WScript.Echo "  " & util.GetNameByPath(field.Name)
Next
stamp = util.GetFileStamp(folder & "\moved.txt")
WScript.Echo "moved.txt modified " & stamp & " s after 1970 (UTC): " & (stamp > 1500000000)

' A missing file: FileExist2 answers False, FileExist fails with message M0001.
WScript.Echo "FileExist2 of a missing file: " & util.FileExist2(folder & "\missing.txt")
On Error Resume Next
util.FileExist folder & "\missing.txt"
WScript.Echo "FileExist of a missing file: " & FirstLine(Err.Description)
Err.Clear
On Error GoTo 0

' Clean up: files by pattern (the folder ends with "\", the pattern is joined to it as it
' stands), then the folders from the deepest up.
util.FilesRemove sub1 & "\", "*.txt"
util.FileRemove folder & "\moved.txt"
util.Rmdir sub1
util.Rmdir folder & "\checkin"
util.Rmdir folder
WScript.Echo "Folder left: " & CreateObject("Scripting.FileSystemObject").FolderExists(folder)
WScript.Echo "done"

' The first line of a text (an error description ends with "at" lines).
Function FirstLine(text)
    Dim lines
    lines = Split(text, vbLf)
    If UBound(lines) >= 0 Then FirstLine = lines(0)
End Function
