// The MSXML 6 DOM as the server uses it: the document class and the interface ids for ComPtr (the
// reading steps every XML reader shares are in dom/DomRead.h).
#pragma once

#include <windows.h>
#include <msxml2.h>
#include <wrl/client.h>

#include "dom/MsxmlIds.h"

namespace qarn::dom {

// The MSXML 6 document class ("Msxml2.DOMDocument.6.0").
inline constexpr CLSID kDomDocument60 = {0x88d96a05, 0xf192, 0x11d4, {0xa6, 0x5f, 0x00, 0x40, 0x96, 0x32, 0x51, 0xe5}};

}  // namespace qarn::dom
