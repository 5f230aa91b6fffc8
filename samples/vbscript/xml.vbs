' XML: parse a file and a text with the MSXML engine, read the children of a node as fields and
' go on with XPath on the very document object.
Option Explicit
Dim util, doc, nodes, node, fields, field, rows, row, flat

Set util = CreateObject("QarnComConnector.CQarnUtilities")

' A file of the installation: the transactions it declares, by XPath.
Set doc = util.DOMParse(util.GetRootDir() & "\xml\Parts.xml")
Set nodes = doc.selectNodes("Qarn/Transaction/Aliasname")
WScript.Echo "Parts.xml declares " & nodes.length & " transactions:"
For Each node In nodes
    WScript.Echo "  " & node.text & " (function " & _
        node.parentNode.selectSingleNode("Import/Parameter/@function").text & ")"
Next

' The children of one node become fields, with the element's attributes as the field's attributes.
Set doc = util.DOMParse2("<Part id=""7""><Name lang=""en"">Bolt</Name><Qty>12</Qty>" & _
    "<Stock><Bin>A1</Bin><Qty>40</Qty></Stock><Stock><Bin>B4</Bin><Qty>5</Qty></Stock></Part>")
Set fields = util.DOMNodeGetChilds(doc, "Part")
WScript.Echo "Children of Part: " & fields.Count
For Each field In fields
    If field.Name <> "Stock" Then WScript.Echo "  " & field.Name & " = " & field.Value
Next
WScript.Echo "  Name's attribute lang = " & fields.Field("Name").Attributes.GetValue("lang")

' One row per matching node, and a whole subtree under dotted names.
Set rows = util.DOMNodeGetChilds_(doc, "Part/Stock")
For Each row In rows
    WScript.Echo "Stock row: bin " & row.GetValue("Bin") & ", quantity " & row.GetValue("Qty")
Next
Set flat = util.DOMNodeGetChilds2(doc.selectNodes("Part/Name"))
For Each field In flat
    WScript.Echo "Flattened: " & field.Name & " = " & field.Value
Next
WScript.Echo "Attributes of Part: id = " & util.GetXMLAttributes(doc.selectSingleNode("Part")).GetValue("id")

' A missing node gives nothing, or a readable error where a value is required.
WScript.Echo "DOMNodeGetChilds of a missing node is Nothing: " & (util.DOMNodeGetChilds(doc, "Part/Price") Is Nothing)
On Error Resume Next
Set field = util.GetXMLDOMNodeTypedValue(doc, "Part/Price")
WScript.Echo "GetXMLDOMNodeTypedValue: " & FirstLine(Err.Description)
Err.Clear
On Error GoTo 0
WScript.Echo "done"

' The first line of a text (an error description ends with "at" lines).
Function FirstLine(text)
    Dim lines
    lines = Split(text, vbLf)
    If UBound(lines) >= 0 Then FirstLine = lines(0)
End Function
