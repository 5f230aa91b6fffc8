// Reads the installation's configuration files into a configuration store: the properties and JNI
// options of <root>\xml\QarnConnector.xml, the properties of the property files it names and the
// messages of one language from the resource files it names.
#pragma once

#include "config/ConfigStore.h"
#include "dom/DomRead.h"
#include "base/UtilityServices.h"

#include <string>
#include <vector>

namespace qarn::config {

struct ConfigurationSnapshot;

class ConfigurationReader {
public:
    ConfigurationReader(UtilityServices& sources, DataObjects& objects) : sources_(sources), objects_(objects) {}

    // Replaces the store's collections with what the files give; `language` (null: the file's,
    // else English) chooses the messages. Nothing of an earlier read survives, not even when this
    // one fails. A read of files that have not changed since an earlier read of the process (same
    // root and language) takes what that read gave, without parsing them again (see
    // ConfigurationCache.h). `context` is the text the caller's frame puts before a failure: it names the
    // file being read while a property or resource file is read.
    void Read(BSTR language, ConfigStore& store, std::wstring& context);

private:
    // The steps of Read: the main file's properties and JNI options (giving the path of the chosen
    // language's messages), the property files' properties, the resource files' messages.
    Bstr ReadMainFile(const std::wstring& xmlFolder, BSTR language, ConfigStore& store, ConfigurationSnapshot* snapshot);
    void ReadPropertyFiles(const std::wstring& xmlFolder, IFieldCollection* properties, ConfigurationSnapshot* snapshot,
                           std::wstring& context);
    void ReadResourceFiles(const std::wstring& xmlFolder, const Bstr& resourcePath, ConfigStore& store,
                           ConfigurationSnapshot* snapshot, std::wstring& context);
    // Writes a trace line to the owner's log and, for a read that may be kept, keeps it.
    void Log(const std::wstring& line, std::vector<std::wstring>* kept);
    void Replay(const ConfigurationSnapshot& kept, ConfigStore& store);

    UtilityServices& sources_;
    DataObjects& objects_;
};

}  // namespace qarn::config
