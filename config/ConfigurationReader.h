// Reads the installation's configuration files into a configuration store: the properties and JNI
// options of <root>\xml\QarnConnector.xml, the properties of the property files it names and the
// messages of one language from the resource files it names.
#pragma once

#include "config/ConfigStore.h"
#include "documents/DomRead.h"
#include "server/UtilityServices.h"

#include <string>

namespace qarn::config {

class ConfigurationReader {
public:
    ConfigurationReader(UtilityServices& sources, DataObjects& objects) : sources_(sources), objects_(objects) {}

    // Replaces the store's collections with what the files give; `language` (null: the file's,
    // else English) chooses the messages. Nothing of an earlier read survives, not even when this
    // one fails. `context` is the text the caller's frame puts before a failure: it names the
    // file being read while a property or resource file is read.
    void Read(BSTR language, ConfigStore& store, std::wstring& context);

private:
    UtilityServices& sources_;
    DataObjects& objects_;
};

}  // namespace qarn::config
