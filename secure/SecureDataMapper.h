// The walk behind EncryptData and DecryptData: visits a data-type object tree and encrypts or
// decrypts the values of the marked fields in place.
#pragma once

#include "base/ConnectorInterfaces.h"

#include <map>
#include <utility>
#include <vector>

class QarnSecureDataMapper {
public:
    // `utilities` is the calling object (not owned); it does the encryption of each value.
    QarnSecureDataMapper(IQarnUtilities* utilities, bool encrypt) : utilities_(utilities), encrypt_(encrypt) {}

    // Walks `object`: S_FALSE when it is none of the data types (left alone), S_OK after the walk.
    // A failing call on a data-type object is raised (the walk stops; changed values stay changed).
    HRESULT Process(IDispatch* object);
    // Decides whether the attributes `attributes` mark their object ("x3nc" or "xdn1" is "true" in
    // any letter case) or `force` holds; if so, every attribute is queued as a field with force on.
    HRESULT CheckAttributes(IFieldCollection* attributes, bool force, bool* marked);

    enum class Kind {
        Document,
        ParameterList,
        FieldCollection,
        StructureCollection,
        TableCollection,
        Structure,
        Table,
        Field,
        FieldCollectionTable,
        DocumentCollection,
        FieldValue,  // the value of a field whose own attributes have been walked
        None,
    };

private:
    struct Item {
        qarn::ComPtr<IUnknown> object;
        Kind kind;
        bool force;
    };

    struct Part {
        qarn::ComPtr<IUnknown> object;
        Kind kind;
    };

    void Visit(const Item& item);
    void Push(IUnknown* object, Kind kind, bool force);
    // The attribute collection of an object of `kind`.
    static qarn::ComPtr<IFieldCollection> Attributes(Kind kind, IUnknown* object);
    // The parts of an object of `kind` in the order in which they are walked.
    static std::vector<Part> Parts(Kind kind, IUnknown* object);
    // Appends the members of a collection, positions 1 … count.
    template <class Member, class Collection>
    static void AddItems(Collection* collection, Kind kind, std::vector<Part>& parts);
    void ProcessValue(IField* field);

    IQarnUtilities* utilities_;
    bool encrypt_;
    std::vector<Item> work_;
    // Every object is visited at most once per force state: shared objects are not encrypted
    // twice and a cycle of objects cannot keep the walk going.
    // (The references are kept, so that no address of the map is reused during the walk.)
    std::map<std::pair<IUnknown*, int>, qarn::ComPtr<IUnknown>> seen_;
    std::vector<Part> pendingAttributes_;              // the attributes CheckAttributes found marked
};
