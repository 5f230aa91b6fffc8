// Collections, tables and mappings: members of CQarnUtilities.
#include "util/Utilities.h"

using namespace qarn;

STDMETHODIMP CQarnUtilities::DOMCreateFieldCollectionEntry(IDispatch *pDOMNode, IDispatch *pDisp, IFieldCollection **ppFieldCollection) {
    return MethodFrame(L"CQarnUtilities::DOMCreateFieldCollectionEntry", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::DOMCreateStructureCollectionEntry(IDispatch *pDOMNode, IDispatch *pDisp, IStructureCollection **ppStructureCollection) {
    return MethodFrame(L"CQarnUtilities::DOMCreateStructureCollectionEntry", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::DOMCreateStructureEntry(IDispatch *pDOMNode, IDispatch *pDisp, IStructure **ppStructure) {
    return MethodFrame(L"CQarnUtilities::DOMCreateStructureEntry", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::DOMCreateTableCollectionEntry(IDispatch *pDOMNode, IDispatch *pDisp, ITableCollection **ppTableCollection) {
    return MethodFrame(L"CQarnUtilities::DOMCreateTableCollectionEntry", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::DOMCreateTableEntry(IDispatch *pDOMNode, IDispatch *pDisp, ITable **ppTable) {
    return MethodFrame(L"CQarnUtilities::DOMCreateTableEntry", [&] { ThrowNotImplemented(); });
}

STDMETHODIMP CQarnUtilities::DOMCreateFieldCollectionTableEntry(IDispatch *pDOMNode, IDispatch *pDisp, IFieldCollectionTable **ppFieldCollectionTable) {
    return MethodFrame(L"CQarnUtilities::DOMCreateFieldCollectionTableEntry", [&] { ThrowNotImplemented(); });
}
