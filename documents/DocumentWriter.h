// The text of a QarnDocument file: a `QarnDocuments` root with one `QarnDocument` element per
// document, its parameter list's `Parameter` element and its children below a `Children` element.
// Trees of any depth and width are walked with an explicit stack, never by recursion.
#pragma once

#include "dom/DomRead.h"
#include "base/Wipe.h"
#include "base/ConnectorInterfaces.h"

#include <string>
#include <unordered_set>
#include <vector>

namespace qarn::dom {

// The `Parameter` element of each list is taken from its XML text as the XML engine reads it; a
// text that does not parse is left out. The lists of the data-type server write their text
// well-formed (IQarnOwnParameterList): it is taken as it is when all its names are ASCII. A tree
// that holds a document among its own descendants cannot be written.
class DocumentFileWriter {
public:
    // The file's bytes (UTF-8). Values may be clear text: the buffers are zeroed when released.
    secure::BasicSecretString<char> Write(IQarnDocument* root);

private:
    struct Frame {
        ComPtr<IQarnDocumentCollection> children;
        ComPtr<IUnknown> identity;
        long next;
        long count;
    };

    // Writes the start of a document and its parameter list; a document with children stays open.
    void Open(IQarnDocument* document);
    void AppendParameterElement(IParameterList* list);
    void Append(std::wstring_view text);

    secure::BasicSecretString<char> out_;
    std::vector<Frame> open_;
    // The documents whose `Children` element is open: a document met again among them is a cycle.
    std::unordered_set<IUnknown*> onPath_;
    ComPtr<IXMLDOMDocument2> parser_;
};

}  // namespace qarn::dom
