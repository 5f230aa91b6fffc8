// QarnDocument (a parameter list with child documents) and QarnDocumentCollection.
#include "Datatypes.h"

using namespace qarn;
using namespace qarn::dt;

CQarnDocument::~CQarnDocument() {
    ReleaseLater(parameters_);
    ReleaseLater(children_);
}

STDMETHODIMP CQarnDocument::get_ParameterList(IParameterList** result) {
    return MethodFrame(L"QarnDocument::get_ParameterList", [&] {
        OutParam(result) = parameters_.Get();
        if (*result) (*result)->AddRef();
    });
}

STDMETHODIMP CQarnDocument::put_ParameterList(IParameterList* value) {
    return MethodFrame(L"QarnDocument::put_ParameterList", [&] {
        ComPtr<IParameterList> old = std::exchange(parameters_, ComPtr<IParameterList>(value));
        ReleaseLater(old);
    });
}

STDMETHODIMP CQarnDocument::get_Children(IQarnDocumentCollection** result) {
    return MethodFrame(L"QarnDocument::get_Children", [&] {
        OutParam(result) = children_.Get();
        if (*result) (*result)->AddRef();
    });
}

STDMETHODIMP CQarnDocument::put_Children(IQarnDocumentCollection* value) {
    return MethodFrame(L"QarnDocument::put_Children", [&] {
        ComPtr<IQarnDocumentCollection> old = std::exchange(children_, ComPtr<IQarnDocumentCollection>(value));
        ReleaseLater(old);
    });
}

STDMETHODIMP CQarnDocumentCollection::Add(IQarnDocument* document) {
    return MethodFrame(L"QarnDocumentCollection::Add", [&] {
        if (!document) THROW_MESSAGE(L"The document to add is nothing.");
        items_.Append(document);
    });
}
