// Files and folders in a temporary folder: create, write, copy, move, list, remove.
var util = new ActiveXObject("QarnComConnector.CQarnUtilities");

// The first line of a text (an error description ends with "at" lines).
function firstLine(text) { return String(text).split("\n")[0]; }

var folder = util.GetEnv("TEMP") + "\\qarn-sample-files-js";
var sub = folder + "\\checkin\\A-100";

util.Mkdir(sub);                                          // creates every missing level
util.FileWrite(sub + "\\notes.txt", "first line\n");      // appends UTF-8; LF becomes CR LF
util.FileWrite(sub + "\\notes.txt", "second line\n");
WScript.Echo("notes.txt exists: " + util.FileExist2(sub + "\\notes.txt"));

util.FileCopy(sub + "\\notes.txt", sub + "\\copy.txt");
util.FileMove(sub + "\\copy.txt", folder + "\\moved.txt");
WScript.Echo("copy.txt after the move: " + util.FileExist2(sub + "\\copy.txt") +
             ", moved.txt: " + util.FileExist2(folder + "\\moved.txt"));

// Listing: full paths as names, the query in the collection's attributes.
var files = util.GetFilesInDirectory(sub, "*.txt");
WScript.Echo("Files in " + util.GetNameByPath(files.Attributes.GetValue("directory")) +
             " matching " + files.Attributes.GetValue("filter") + ":");
for (var i = 1; i <= files.Count; i++) WScript.Echo("  " + util.GetNameByPath(files.Item(i).Name));
var stamp = util.GetFileStamp(folder + "\\moved.txt");
WScript.Echo("moved.txt modified " + stamp + " s after 1970 (UTC): " + (stamp > 1500000000));

// A missing file: FileExist2 answers false, FileExist fails with message M0001.
WScript.Echo("FileExist2 of a missing file: " + util.FileExist2(folder + "\\missing.txt"));
try {
    util.FileExist(folder + "\\missing.txt");
} catch (e) {
    WScript.Echo("FileExist of a missing file: " + firstLine(e.description));
}

// Clean up: files by pattern (the folder ends with "\", the pattern is joined to it as it
// stands), then the folders from the deepest up.
util.FilesRemove(sub + "\\", "*.txt");
util.FileRemove(folder + "\\moved.txt");
util.Rmdir(sub);
util.Rmdir(folder + "\\checkin");
util.Rmdir(folder);
WScript.Echo("Folder left: " + new ActiveXObject("Scripting.FileSystemObject").FolderExists(folder));
WScript.Echo("done");
