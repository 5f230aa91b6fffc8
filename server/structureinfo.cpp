// Structure information and modification state: members of CQarnUtilities. The reading is
// documents/ModelStructure's; the members write its results.
#include "server/Utilities.h"

#include "documents/ModelStructure.h"

using namespace qarn;

STDMETHODIMP CQarnUtilities::CreateStructureInformation(IQarnDocument *pDocument) {
    return MethodFrame(L"CQarnUtilities::CreateStructureInformation", [&] {
        const auto made = dom::ModelStructure(objects_).Information(pDocument, false);
        if (made.list) CHECK_HR(WriteXmlFile(made.file, made.list.Get()));
    });
}

STDMETHODIMP CQarnUtilities::CreateStructureInformation2(IQarnDocument *pDocument) {
    return MethodFrame(L"CQarnUtilities::CreateStructureInformation2", [&] {
        const auto made = dom::ModelStructure(objects_).Information(pDocument, true);
        if (made.list) CHECK_HR(WriteXmlFile(made.file, made.list.Get()));
    });
}

STDMETHODIMP CQarnUtilities::CreateStructureInformation3(IQarnDocument *pDocument) {
    return MethodFrame(L"CQarnUtilities::CreateStructureInformation3", [&] {
        const auto made = dom::ModelStructure(objects_).ModelWithChildren(pDocument);
        if (made.list) CHECK_HR(WriteXmlFile(made.file, made.list.Get()));
    });
}

STDMETHODIMP CQarnUtilities::RemoveEmptyFields(IParameterList *pInput) {
    return MethodFrame(L"CQarnUtilities::RemoveEmptyFields", [&] { dom::ModelStructure(objects_).RemoveEmptyFields(pInput); });
}

STDMETHODIMP CQarnUtilities::CheckModificationState(IQarnDocument *pDocument, VARIANT_BOOL *isModified) {
    // Anything unexpected is reported with the method's own text and this class as the source.
    const auto unexpected = [] {
        return ReportErrorWithSource(CLSID_CQarnUtilities,
                                     "unknown error in module CSolidWorks::CheckModificationState(ISwDMDocument* "
                                     "pSwDocument, IQarnDocument* pDocument, VARIANT_BOOL* isModified)",
                                     GUID_NULL, 0);
    };
    return MethodFrame(L"CQarnUtilities::CheckModificationState", [&] {
        OutParam(isModified) = VARIANT_TRUE;
        if (!dom::ModelStructure(objects_).IsModified(pDocument)) *isModified = VARIANT_FALSE;
    }, frame::WithFallback{unexpected});
}
