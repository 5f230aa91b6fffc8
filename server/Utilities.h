// CQarnUtilities: the scripting toolbox. Its members are grouped in the files of this folder
// (strings.cpp, files.cpp, dom.cpp ...); the state and logic of the subsystems
// live in their own classes (config::ConfigStore, ConfigurationReader and SharedApplication,
// paramlist::Engine, dom::NodeFields, DocumentReader, DocumentFileWriter and ModelStructure,
// logon::LogonLookup, secure::PairCodec, ScriptEngines), which this object holds or makes and calls.
#pragma once

#include "base/ConnectorInterfaces.h"
#include "base/OwnAccess.h"
#include "base/DataObjects.h"
#include "config/ConfigStore.h"
#include "config/ConfigurationReader.h"
#include "config/SharedApplication.h"
#include "dom/Dom.h"
#include "documents/DocumentReader.h"
#include "dom/NodeFields.h"
#include "logon/LogonLookup.h"
#include "paramlist/Engine.h"
#include "base/LogonDecryption.h"
#include "secure/PairCodec.h"
#include "components/ScriptEngines.h"
#include "TextRules.h"

#include <string>
#include <utility>
#include <vector>

class CQarnUtilities : public qarn::ComObject<CQarnUtilities, IQarnUtilities, IQarnLogonDecryption>,
                       public qarn::config::StoreMessages {
public:
    // Logon decryption for the XML readers (IQarnLogonDecryption).
    STDMETHODIMP DecryptLogon(BSTR value, BSTR* result) override;
    STDMETHODIMP DecryptLogon2(BSTR fieldName, BSTR fieldValue, BSTR* result) override;
    STDMETHODIMP DecryptLogonValue(BSTR fieldName, BSTR fieldValue, BSTR* result) override;

    HRESULT FinalConstruct();

    // Writes one line to the log file when logging is on (not on the dispatch interface).
    HRESULT WriteLogMessage(long logLevel, BSTR msg);

    // Property and message store (properties.cpp)
    STDMETHODIMP get_Properties(IFieldCollection **pVal) override;
    STDMETHODIMP put_Properties(IFieldCollection *newVal) override;
    STDMETHODIMP get_Messages(IFieldCollection **pVal) override;
    STDMETHODIMP put_Messages(IFieldCollection *newVal) override;
    STDMETHODIMP get_JNIOptions(IFieldCollection **pVal) override;
    STDMETHODIMP put_JNIOptions(IFieldCollection *newVal) override;
    STDMETHODIMP GetProperty(BSTR name, BSTR *value) override;
    STDMETHODIMP SetProperty(BSTR name, BSTR value) override;
    STDMETHODIMP GetMessage(BSTR name, BSTR *value) override;
    STDMETHODIMP GetPropertiesByName(BSTR name, IFieldCollection **ppFieldCollection) override;
    // Reading the configuration files (configuration.cpp)
    STDMETHODIMP ReadXmlConfigurationFiles() override;
    STDMETHODIMP ReadXmlConfigurationFiles2(BSTR language) override;
    // Transaction lookup and entry points (parameterlists.cpp; the engine in paramlist/)
    STDMETHODIMP GetXmlParameterList(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, IParameterList **pResult) override;
    STDMETHODIMP GetXmlParameterList2(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) override;
    STDMETHODIMP GetXmlParameterList3(BSTR xmlFile, BSTR nodeName, IDispatch *pDisp, IParameterList **ppResult) override;
    STDMETHODIMP GetXmlParameterListFromXMLString(BSTR xmlString, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) override;
    STDMETHODIMP GetXmlParameterListFromXMLString2(BSTR xmlString, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) override;
    STDMETHODIMP GetXmlParameterListFromXMLString3(BSTR xmlString, BSTR nodeName, IDispatch *pDisp, IParameterList **ppResult) override;
    STDMETHODIMP GetXmlParameterList1(IDispatch *pDom, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) override;
    STDMETHODIMP GetXmlParameterList2_(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, IParameterList **ppResult) override;
    STDMETHODIMP GetXmlParameterList4(BSTR xmlFile, BSTR aliasname, IDispatch *pDisp, BSTR filePathWithoutBackslash, IParameterList **ppResult) override;
    // Parameter-list builder (parameterlists.cpp)
    STDMETHODIMP DOMCreateParameterListEntry(IDispatch *pDOMNode, IDispatch *pDisp, IParameterList **ppParameterList) override;
    // Field evaluation (parameterlists.cpp)
    STDMETHODIMP DOMCreateFieldEntry(IDispatch *pDOMNode, IDispatch *pDisp, IField **ppField) override;
    // Collections, tables and mappings (parameterlists.cpp)
    STDMETHODIMP DOMCreateFieldCollectionEntry(IDispatch *pDOMNode, IDispatch *pDisp, IFieldCollection **ppFieldCollection) override;
    STDMETHODIMP DOMCreateStructureCollectionEntry(IDispatch *pDOMNode, IDispatch *pDisp, IStructureCollection **ppStructureCollection) override;
    STDMETHODIMP DOMCreateStructureEntry(IDispatch *pDOMNode, IDispatch *pDisp, IStructure **ppStructure) override;
    STDMETHODIMP DOMCreateTableCollectionEntry(IDispatch *pDOMNode, IDispatch *pDisp, ITableCollection **ppTableCollection) override;
    STDMETHODIMP DOMCreateTableEntry(IDispatch *pDOMNode, IDispatch *pDisp, ITable **ppTable) override;
    STDMETHODIMP DOMCreateFieldCollectionTableEntry(IDispatch *pDOMNode, IDispatch *pDisp, IFieldCollectionTable **ppFieldCollectionTable) override;
    // QarnDocument XML files (documentxml.cpp)
    STDMETHODIMP WriteQarnDocumentToFile(IQarnDocument *pDocument, BSTR fileName) override;
    STDMETHODIMP ReadQarnDocumentFromFile(BSTR fileName, IQarnDocument **ppResult) override;
    STDMETHODIMP GetXmlQarnDocumentFromFile(BSTR file, IDispatch *pDisp, IQarnDocument **ppRes) override;
    STDMETHODIMP GetXmlQarnDocumentFromString(BSTR xmlString, IDispatch *pDisp, IQarnDocument **ppRes) override;
public:
    // DOM helper methods (dom.cpp)
    STDMETHODIMP GetXMLDOMParseErrorDescription(IDispatch *pDisp, BSTR *result) override;
    STDMETHODIMP GetXMLDOMNodeTypedValue(IDispatch *pDisp, BSTR node, IField **ppField) override;
    STDMETHODIMP DOMParse(VARIANT xmlFile, IDispatch **ppDisp) override;
    STDMETHODIMP DOMNodeGetChilds(IDispatch *pDisp, BSTR nodeName, IFieldCollection **ppFieldCollection) override;
    STDMETHODIMP WriteXmlFile(BSTR xmlFile, IParameterList *pParameterList) override;
    STDMETHODIMP DOMParse2(BSTR xmlString, IDispatch **ppDisp) override;
    STDMETHODIMP DOMNodeGetChilds2(IDispatch *pDisp, IFieldCollection **ppFieldCollection) override;
    STDMETHODIMP DOMNodeGetChilds_(IDispatch *pDisp, BSTR nodeName, IFieldCollectionTable **ppFieldCollectionTable) override;
    STDMETHODIMP GetXMLAttributes(IDispatch *pNode, IFieldCollection **ppAttributes) override;
    STDMETHODIMP DOMNodeGetChilds3(IDispatch *pDisp, IFieldCollection **ppFieldCollection) override;
    // Structure information and modification state (structureinfo.cpp)
    STDMETHODIMP CreateStructureInformation(IQarnDocument *pDocument) override;
    STDMETHODIMP CreateStructureInformation2(IQarnDocument *pDocument) override;
    STDMETHODIMP CreateStructureInformation3(IQarnDocument *pDocument) override;
    STDMETHODIMP RemoveEmptyFields(IParameterList *pInput) override;
    STDMETHODIMP CheckModificationState(IQarnDocument *pDocument, VARIANT_BOOL *isModified) override;
    // File-system operations (files.cpp)
    STDMETHODIMP FileExist(BSTR fileName, VARIANT_BOOL *result) override;
    STDMETHODIMP GetFileStamp(BSTR fileName, LONG *fileStamp) override;
    STDMETHODIMP FileCopy(BSTR source, BSTR destination) override;
    STDMETHODIMP FileRemove(BSTR fileName) override;
    STDMETHODIMP GetFileStamp2(BSTR fileName, BSTR *fileStamp) override;
    STDMETHODIMP FilesRemove(BSTR directory, BSTR selection) override;
    STDMETHODIMP GetFilesInDirectory(BSTR directory, BSTR filter, IFieldCollection **ppResult) override;
    STDMETHODIMP Mkdir(BSTR directory) override;
    STDMETHODIMP Rmdir(BSTR directory) override;
    STDMETHODIMP FileMove(BSTR source, BSTR destination) override;
    STDMETHODIMP FileExist2(BSTR fileName, VARIANT_BOOL *result) override;
    STDMETHODIMP FileAccess(BSTR file, int mode, VARIANT_BOOL *access) override;
    STDMETHODIMP FileWrite(BSTR fileName, BSTR s) override;
    STDMETHODIMP Chmod(BSTR fileName, LONG mode) override;
    // String operations (strings.cpp)
    STDMETHODIMP GetExtension(BSTR name, BSTR *extension) override;
    STDMETHODIMP GetNameByPath(BSTR path, BSTR *name) override;
    STDMETHODIMP GetPathByFullname(BSTR fullname, BSTR *path) override;
    STDMETHODIMP RemoveExtension(BSTR fileName, BSTR *extension) override;
    STDMETHODIMP TrimLeft(BSTR s, BSTR c, BSTR *pVal) override;
    STDMETHODIMP TrimRight(BSTR s, BSTR c, BSTR *pVal) override;
    STDMETHODIMP SubStr(BSTR str, LONG start, LONG length, BSTR *result) override;
    STDMETHODIMP TrimLeftAndRight(BSTR s, BSTR c, BSTR *pVal) override;
    STDMETHODIMP IsDigit(BSTR s, VARIANT_BOOL *pVal) override;
    STDMETHODIMP TrimSAPDocumentNumber(BSTR s, BSTR c, BSTR *pVal) override;
    STDMETHODIMP CreateGuid(BSTR *s) override;
    STDMETHODIMP ConvertBSTRToXMLString(BSTR in, BSTR *out) override;
    STDMETHODIMP sprintf1(BSTR formatString, BSTR s, BSTR *result) override;
    STDMETHODIMP GetExtension2(BSTR name, BSTR *extension) override;
    STDMETHODIMP ConvertBSTRToFileStream(BSTR in, BSTR *out) override;
    // Text and CSV files (textfiles.cpp)
    STDMETHODIMP ReadTextFile(BSTR fileName, IFieldCollection **ppFieldCollection) override;
    STDMETHODIMP ReadCSVFile(BSTR fileName, BSTR separator, IFieldCollection **ppFieldCollection) override;
    STDMETHODIMP ReadCSVFile2(BSTR fileName, BSTR separator, IFieldCollectionTable **ppFieldCollectionTable) override;
    // Encryption entry points (encryption.cpp)
    STDMETHODIMP Encrypt(BSTR fieldName, BSTR fieldValue, IField **ppField) override;
    STDMETHODIMP Encrypt2(IField *pField, IField **ppField) override;
    STDMETHODIMP Encrypt3(BSTR value, BSTR *result) override;
    STDMETHODIMP Decrypt(BSTR fieldName, BSTR fieldValue, IField **ppField) override;
    STDMETHODIMP Decrypt2(IField *pField, IField **ppField) override;
    STDMETHODIMP Decrypt3(BSTR value, BSTR *result) override;
    STDMETHODIMP EncryptLogon(BSTR value, BSTR *result) override;
    STDMETHODIMP EncryptLogon2(BSTR fieldName, BSTR fieldValue, BSTR *result) override;
    STDMETHODIMP EncryptData(IDispatch *pDisp) override;
    STDMETHODIMP DecryptData(IDispatch *pDisp) override;
    // SAP and Teamcenter logon parameters (logon.cpp)
    STDMETHODIMP GetSAPLogonParameter(BSTR *client, BSTR *userid, BSTR *password, BSTR *language, BSTR *hostname, BSTR *systemNumber) override;
    STDMETHODIMP GetSAPWebApplicationServerLogonParameter(BSTR *factoryContext, BSTR *providerUrl, BSTR *securityPrincipal, BSTR *securityCredentials) override;
    STDMETHODIMP GetSAPLogonParameter2(BSTR xmlFile, BSTR *client, BSTR *userid, BSTR *password, BSTR *language, BSTR *hostname, BSTR *systemNumber) override;
    STDMETHODIMP GetSAPLogonParameter3(BSTR *client, BSTR *userid, BSTR *password, BSTR *language, BSTR *hostname, BSTR *systemNumber) override;
    STDMETHODIMP GetSAPLogonParameter4(BSTR xmlFile, BSTR *client, BSTR *userid, BSTR *password, BSTR *language, BSTR *hostname, BSTR *systemNumber) override;
    STDMETHODIMP GetSAPLogonClient(BSTR *client) override;
    STDMETHODIMP GetSAPLogonUser(BSTR *userid) override;
    STDMETHODIMP GetSAPLogonPassword(BSTR *password) override;
    STDMETHODIMP GetSAPLogonLanguage(BSTR *language) override;
    STDMETHODIMP GetSAPLogonHostname(BSTR *hostname) override;
    STDMETHODIMP GetSAPLogonSystemnumber(BSTR *systemNumber) override;
    STDMETHODIMP GetSAPLogonParameter_(BSTR searchComputerName, BSTR searchComputerUser, BSTR *client, BSTR *userid, BSTR *password, BSTR *language, BSTR *hostname, BSTR *systemNumber) override;
    STDMETHODIMP GetSAPLogonParameter2_(BSTR xmlFile, BSTR searchComputerName, BSTR searchComputerUser, BSTR *client, BSTR *userid, BSTR *password, BSTR *language, BSTR *hostname, BSTR *systemNumber) override;
    STDMETHODIMP GetSAPLogonParameter5(IFieldCollection **ppFieldCollection) override;
    STDMETHODIMP GetSAPLogonParameter6(BSTR xmlFile, IFieldCollection **ppFieldCollection) override;
    STDMETHODIMP GetSAPLoginParameter(IParameterList **ppOutput) override;
    STDMETHODIMP GetTeamcenterLoginParameter(IParameterList **ppOutput) override;
public:
    // System and network information (system.cpp)
    STDMETHODIMP GetEnv(BSTR variable, BSTR *value) override;
    STDMETHODIMP GetSystemUserName(BSTR *userName) override;
    STDMETHODIMP GetSystemComputerName(BSTR *computerName) override;
    STDMETHODIMP ShowWindow(BSTR className, BSTR windowName, int windowStyle) override;
    STDMETHODIMP ShowSAPWindow(int windowStyle) override;
    STDMETHODIMP Sleep(LONG milliseconds) override;
    STDMETHODIMP GetRootDir(BSTR *rootDir) override;
    STDMETHODIMP Exec(BSTR cmdLine, LONG cmdShow) override;
    STDMETHODIMP GetDomain(BSTR *domain) override;
    STDMETHODIMP GetMAC(VARIANT_BOOL details, IStructureCollection **pData) override;
    STDMETHODIMP GetHostByName(BSTR hostname, IFieldCollection **ppHostIPs) override;
    STDMETHODIMP SendNetworkData(BSTR request, BSTR hostIp, int port, BSTR *ppResponse) override;
    // Script macros and method invocation (macros.cpp)
    STDMETHODIMP RunMacro(BSTR progID, BSTR methodName, IParameterList **ppInput, IParameterList **ppOutput) override;
    STDMETHODIMP DestroyScriptEngine(BSTR progID) override;
    STDMETHODIMP RunMacro2(BSTR progID, BSTR methodName, IQarnDocument **ppInput, IQarnDocument **ppOutput) override;
    STDMETHODIMP InvokeMethod(IParameterList **ppInput, IParameterList **ppOutput) override;
    STDMETHODIMP InvokeMethod2(IQarnDocument **ppInput, IQarnDocument **ppOutput) override;
    // Type information queries (typeinfo.cpp)
    STDMETHODIMP GetInterfaceInfo1(IDispatch *pDispatch, IFieldCollection **ppInfo) override;
    STDMETHODIMP GetInterfaceInfo2(GUID guid, unsigned short wVerMajor, unsigned short wVerMinor, ULONG wLcid, IFieldCollection **ppInfo) override;
    STDMETHODIMP GetInterfaceInfos(IFieldCollectionTable **ppInfo) override;
    STDMETHODIMP GetCLSIDFromProgID(BSTR progID, BSTR *clsid) override;
private:
    // The message store's lookup behind THROW_STORE_MESSAGE: this object's GetMessage.
    HRESULT LookupMessage(BSTR id, BSTR* text) override { return GetMessage(id, text); }

    // Script engines created by RunMacro and RunMacro2.
    qarn::ScriptEngines scriptEngines_;
    // The built-in self-test behind InvokeMethod's "RunTestCases" (selftest.cpp): variant 1 checks
    // the text methods and encryption, variant 2 also the file methods. Writes only to the log.
    void RunSelfTest(int variant);

    // The data-type objects this object creates.
    qarn::DataObjects objects_;
    // Fields read from DOM nodes; values marked as encrypted are decrypted through this object.
    qarn::dom::NodeFields nodeFields_{objects_, this};

    // Encryption and decryption of one pair; failures are reported with the code texts and this
    // class as their source.
    qarn::secure::PairCodec pairs_{CLSID_CQarnUtilities};
    // A field collection of the data-type server that makes the fields Encrypt hands out.
    qarn::ComPtr<IQarnFieldMaker> fieldMaker_;

    qarn::LogSettings log_;
    // Configuration collections (properties, messages, JNI options); empty until read or put.
    qarn::config::ConfigStore config_;

    // The process's application, asked when this object has no configuration of its own.
    qarn::config::SharedApplication sharedApp_;

    // What the subsystems take from this object: each answer is this object's member of the
    // same purpose (Utilities.cpp).
    struct Services final : qarn::UtilityServices {
        explicit Services(CQarnUtilities& owner) : self(owner) {}
        HRESULT RootFolder(BSTR* root) override;
        HRESULT UserName(BSTR* name) override;
        HRESULT FileExists(BSTR path, VARIANT_BOOL* exists, bool strict) override;
        HRESULT ParseFile(VARIANT xmlFile, IDispatch** document) override;
        HRESULT NodeFields(IDispatch* document, BSTR path, IFieldCollection** fields) override;
        HRESULT ParameterList(BSTR xmlFile, BSTR nodeName, IDispatch* context, IParameterList** list) override;
        void Log(long level, BSTR text) override;
        HRESULT Property(BSTR name, BSTR* value) override;
        HRESULT Message(BSTR name, BSTR* value) override;
        HRESULT Variable(BSTR variable, BSTR* value) override;
        HRESULT Computer(BSTR* name) override;
        HRESULT Parse(BSTR xmlString, IDispatch** document) override;
        HRESULT Rows(IDispatch* document, BSTR path, IFieldCollectionTable** rows) override;
        HRESULT Macro(BSTR progId, BSTR methodName, IParameterList** input, IParameterList** output) override;
        HRESULT Decrypted(BSTR name, BSTR text, BSTR* value) override;
        CQarnUtilities& self;
    };
    Services services_{*this};
    // The subsystems this object holds (declared after the state they refer to).
    qarn::config::ConfigurationReader configReader_{services_, objects_};
    qarn::logon::LogonLookup logon_{services_};
    // The parameter-list engine with its XSLT processor and the templates being built.
    qarn::paramlist::Engine paramlist_{services_, objects_, nodeFields_};
    // The readers of QarnDocument XML.
    qarn::dom::DocumentReader reader_{objects_, nodeFields_, paramlist_};
};
