// The class table of QarnComDatatypes.dll.
#include "Datatypes.h"
#include "resource.h"

using qarn::Entry;

namespace {

const qarn::ClassEntry kClasses[] = {
    Entry<CField>(CLSID_Field, IDR_FIELD),
    Entry<CFieldCollection>(CLSID_FieldCollection, IDR_FIELDCOLLECTION),
    Entry<CParameterList>(CLSID_ParameterList, IDR_PARAMETERLIST),
    Entry<CStructure>(CLSID_Structure, IDR_STRUCTURE),
    Entry<CStructureCollection>(CLSID_StructureCollection, IDR_STRUCTURECOLLECTION),
    Entry<CTable>(CLSID_Table, IDR_TABLE),
    Entry<CTableCollection>(CLSID_TableCollection, IDR_TABLECOLLECTION),
    Entry<CFieldCollectionTable>(CLSID_FieldCollectionTable, IDR_FIELDCOLLECTIONTABLE),
    Entry<CQarnDocument>(CLSID_QarnDocument, IDR_QARNDOCUMENT),
    Entry<CQarnDocumentCollection>(CLSID_QarnDocumentCollection, IDR_QARNDOCUMENTCOLLECTION),
};

}  // namespace

const qarn::module::Definition& qarn::module::ThisModule() {
    static const Definition definition{kClasses};
    return definition;
}
