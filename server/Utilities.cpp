// Construction and logging of CQarnUtilities, and what it answers to the subsystems it holds.
#include "server/Utilities.h"

using namespace qarn;

HRESULT CQarnUtilities::FinalConstruct() {
    return MethodFrame(L"CQarnUtilities::FinalConstruct", [&] { log_.InitFromEnvironment(); });
}

HRESULT CQarnUtilities::WriteLogMessage(long logLevel, BSTR msg) {
    return MethodFrame(L"CQarnUtilities::WriteLogMessage", [&] { CHECK_HR(log_.Write(logLevel, msg)); });
}

HRESULT CQarnUtilities::Services::Property(BSTR name, BSTR* value) { return self.GetProperty(name, value); }
HRESULT CQarnUtilities::Services::Message(BSTR name, BSTR* value) { return self.GetMessage(name, value); }
HRESULT CQarnUtilities::Services::Variable(BSTR variable, BSTR* value) { return self.GetEnv(variable, value); }
HRESULT CQarnUtilities::Services::RootFolder(BSTR* root) { return self.GetRootDir(root); }
HRESULT CQarnUtilities::Services::Computer(BSTR* name) { return self.GetSystemComputerName(name); }
HRESULT CQarnUtilities::Services::UserName(BSTR* name) { return self.GetSystemUserName(name); }

HRESULT CQarnUtilities::Services::FileExists(BSTR path, VARIANT_BOOL* exists, bool strict) {
    return strict ? self.FileExist(path, exists) : self.FileExist2(path, exists);
}

HRESULT CQarnUtilities::Services::ParseFile(VARIANT xmlFile, IDispatch** document) {
    return self.DOMParse(xmlFile, document);
}

HRESULT CQarnUtilities::Services::Parse(BSTR xmlString, IDispatch** document) { return self.DOMParse2(xmlString, document); }

HRESULT CQarnUtilities::Services::NodeFields(IDispatch* document, BSTR path, IFieldCollection** fields) {
    return self.DOMNodeGetChilds(document, path, fields);
}

HRESULT CQarnUtilities::Services::Rows(IDispatch* document, BSTR path, IFieldCollectionTable** rows) {
    return self.DOMNodeGetChilds_(document, path, rows);
}

HRESULT CQarnUtilities::Services::ParameterList(BSTR xmlFile, BSTR nodeName, IDispatch* context,
                                                IParameterList** list) {
    return self.GetXmlParameterList3(xmlFile, nodeName, context, list);
}

HRESULT CQarnUtilities::Services::Macro(BSTR progId, BSTR methodName, IParameterList** input,
                                        IParameterList** output) {
    return self.RunMacro(progId, methodName, input, output);
}

HRESULT CQarnUtilities::Services::Decrypted(BSTR name, BSTR text, BSTR* value) { return self.pairs_.Decrypt(name, text, value); }

void CQarnUtilities::Services::Log(long level, BSTR text) { self.WriteLogMessage(level, text); }
