// Reads the installation's configuration files into a configuration store: the properties and JNI
// options of <root>\xml\QarnConnector.xml, the properties of the property files it names and the
// messages of one language from the resource files it names.
#pragma once

#include "config/ConfigStore.h"
#include "documents/DomRead.h"

#include <string>

namespace qarn::config {

// What the reading takes from its owner; each answers as the owner's method of the same purpose.
class ConfigurationSources {
public:
    virtual HRESULT RootFolder(BSTR* root) = 0;                                                 // GetRootDir
    virtual HRESULT ParseFile(VARIANT xmlFile, IDispatch** document) = 0;                       // DOMParse
    virtual HRESULT NodeFields(IDispatch* document, BSTR path, IFieldCollection** fields) = 0;  // DOMNodeGetChilds
    // FileExist when `strict` (a missing file fails), else FileExist2.
    virtual HRESULT FileExists(BSTR path, VARIANT_BOOL* exists, bool strict) = 0;
    virtual HRESULT ParameterList(BSTR xmlFile, BSTR nodeName, IDispatch* context,
                                  IParameterList** list) = 0;                                   // GetXmlParameterList3
    virtual HRESULT UserName(BSTR* name) = 0;                                                   // GetSystemUserName
    // A line of the owner's log (when its logging is on).
    virtual void Log(long level, BSTR text) = 0;

protected:
    ~ConfigurationSources() = default;
};

class ConfigurationReader {
public:
    ConfigurationReader(ConfigurationSources& sources, DataObjects& objects) : sources_(sources), objects_(objects) {}

    // Replaces the store's collections with what the files give; `language` (null: the file's,
    // else English) chooses the messages. Nothing of an earlier read survives, not even when this
    // one fails. `context` is the text the caller's frame puts before a failure: it names the
    // file being read while a property or resource file is read.
    void Read(BSTR language, ConfigStore& store, std::wstring& context);

private:
    ConfigurationSources& sources_;
    DataObjects& objects_;
};

}  // namespace qarn::config
