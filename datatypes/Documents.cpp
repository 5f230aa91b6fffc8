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

STDMETHODIMP CQarnDocument::get_Attributes(IFieldCollection** attributes) {
    return GetAttributes(L"QarnDocument::get_Attributes", attributes);
}

STDMETHODIMP CQarnDocument::put_Attributes(IFieldCollection* attributes) {
    return PutAttributes(L"QarnDocument::put_Attributes", attributes);
}

STDMETHODIMP CQarnDocumentCollection::Add(IQarnDocument* document) {
    return MethodFrame(L"QarnDocumentCollection::Add", [&] {
        if (!document) THROW_MESSAGE(L"The document to add is nothing.");
        documents_.Append(document);
    });
}

STDMETHODIMP CQarnDocumentCollection::get_Count(LONG* count) {
    return MethodFrame(L"QarnDocumentCollection::get_Count", [&] {
        OutParam(count) = static_cast<LONG>(documents_.Count());
    });
}

STDMETHODIMP CQarnDocumentCollection::get_Item(LONG index, IQarnDocument** result) {
    return MethodFrame(L"QarnDocumentCollection::get_Item", [&] {
        OutParam(result);
        *result = documents_.At(CHECK_INDEX(index, documents_.Count()));
        (*result)->AddRef();
    });
}

STDMETHODIMP CQarnDocumentCollection::get__NewEnum(IUnknown** result) {
    return MethodFrame(L"QarnDocumentCollection::get__NewEnum", [&] {
        OutParam(result);
        CHECK_HR(EnumerateMembers(documents_.Members(), result));
    });
}

STDMETHODIMP CQarnDocumentCollection::get_Attributes(IFieldCollection** attributes) {
    return GetAttributes(L"QarnDocumentCollection::get_Attributes", attributes);
}

STDMETHODIMP CQarnDocumentCollection::put_Attributes(IFieldCollection* attributes) {
    return PutAttributes(L"QarnDocumentCollection::put_Attributes", attributes);
}
