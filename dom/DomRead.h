// Reading steps over MSXML nodes that every XML reader of the server repeats. Each raises through
// the method error frame of the calling member when MSXML fails.
#pragma once

#include "dom/Dom.h"
#include "Errors.h"

#include <optional>
#include <string>

namespace qarn::dom {

// A new, empty MSXML 6 document that refuses document type declarations and never reads what a
// document refers to (ProhibitDTD, ResolveExternals off: the engine's defaults).
ComPtr<IXMLDOMDocument2> NewDocument();

// Every document is checked before the engine sees it: a file name that names a device (the
// console, a port: reading would wait forever; "\\.\..." devices) fails as ReadsAsEmptyDevice
// says; NUL reads as an empty document; a document with a document type declaration fails
// with a text naming the file or the given text. Only the prolog is read for the check.

// Loads a file's bytes from memory; MSXML detects the encoding as it does for a file, but the
// document has no url. For readers that hand out no document and have read the bytes anyway (the
// prolog check reads them); the caller has checked them (they come from LoadableBytes).
VARIANT_BOOL LoadBytes(IXMLDOMDocument2* dom, const std::string& bytes);

// A file's bytes for LoadBytes, checked as above; nullopt when the file cannot be read (a folder,
// no access) or is too large for one array.
std::optional<std::string> LoadableBytes(BSTR fileName);

// Loads a file by its name after reading and checking its prolog. A file whose prolog cannot be
// read here (a folder, no access) gets the engine's own answer.
VARIANT_BOOL LoadByName(IXMLDOMDocument2* dom, BSTR fileName);

// The document's url: the file it was loaded from by name; empty for a text or bytes.
Bstr Url(IXMLDOMDocument2* dom);

// loadXML of a caller's text after checking it.
VARIANT_BOOL LoadText(IXMLDOMDocument2* dom, BSTR text);

// Whether a text holds a document type declaration (loadXML of it would be refused).
bool TextHasDoctype(BSTR text);

Bstr NodeName(IXMLDOMNode* node);
DOMNodeType NodeType(IXMLDOMNode* node);
ComPtr<IXMLDOMNode> FirstChild(IXMLDOMNode* node);
ComPtr<IXMLDOMNode> NextSibling(IXMLDOMNode* node);

// The node's typed value; for an element, the text of all its descendants. An element with
// descendants nested deeper than 1000 levels fails instead: reading such a text would exhaust the
// stack of the XML engine (a parse never yields one, a tree built node by node can).
Variant TypedValue(IXMLDOMNode* node);

// The same for a node known to be an element.
Variant ElementValue(IXMLDOMNode* element);

// A typed value as text: a BSTR value as it is, any other value converted; null for a value
// without a text form.
Bstr AsText(Variant value);
Bstr ElementText(IXMLDOMNode* element);

// selectSingleNode with a clear failure: the engine's own description, or, without one, "The XPath
// expression %s cannot be evaluated.".
ComPtr<IXMLDOMNode> SelectSingle(IXMLDOMNode* from, BSTR path);
void CheckSelection(HRESULT hr, BSTR path);

// A caller's object as the DOM interface a method needs; `what` names it in the failure ("The
// object is not <what>.").
template <class I>
ComPtr<I> AsDom(IDispatch* object, const wchar_t* what) {
    ComPtr<I> typed;
    if (!object || FAILED(object->QueryInterface(IID_PPV_ARGS(&typed))) || !typed)
        THROW_MESSAGE(std::wstring(L"The object is not ") + what + L".");
    return typed;
}

// `object` as a DOM node: a document, an element or any other node.
inline ComPtr<IXMLDOMNode> AsNode(IDispatch* object) { return AsDom<IXMLDOMNode>(object, L"an XML node"); }

}  // namespace qarn::dom
