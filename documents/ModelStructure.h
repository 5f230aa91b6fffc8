// Structure information and modification state of models: a model is a QarnDocument whose
// parameter list describes the model file and whose children are its components.
#pragma once

#include "base/DataObjects.h"

namespace qarn::dom {

class ModelStructure {
public:
    explicit ModelStructure(DataObjects& objects) : objects_(objects) {}

    // A parameter list to be written to `file`; no list: nothing to write.
    struct Made {
        ComPtr<IParameterList> list;
        Bstr file;
    };
    // The structure information of a model (one row per child) and the file its model names for
    // it; its children's fields join each row with AddFieldCollection when `addFieldCollection`,
    // else with Append.
    Made Information(IQarnDocument* pDocument, bool addFieldCollection);
    // The model's own list with its `Children` table refilled from the children and the field
    // `ModelStructureFile` added, to be written to "<ModelFullName>.STR".
    Made ModelWithChildren(IQarnDocument* pDocument);
    // Removes the fields without text from the list's field collection, structures and table rows.
    void RemoveEmptyFields(IParameterList* pInput);
    // Whether the model counts as modified: unless its stamp equals the recorded one and the
    // traverse flag is not "1".
    bool IsModified(IQarnDocument* pDocument);

private:
    DataObjects& objects_;
};

}  // namespace qarn::dom
