// What the subsystem classes (the parameter-list engine, the logon lookup, the configuration
// reading) take from the utilities object that holds them. Each answers as the utilities member
// named beside it: an HRESULT, with the thread's error object set on failure.
#pragma once

#include "base/ConnectorInterfaces.h"

namespace qarn {

class UtilityServices {
public:
    virtual HRESULT LookupProperty(BSTR name, BSTR* value) = 0;                                   // GetProperty
    virtual HRESULT LookupMessage(BSTR name, BSTR* value) = 0;                                    // GetMessage
    virtual HRESULT EnvironmentValue(BSTR variable, BSTR* value) = 0;                             // GetEnv
    virtual HRESULT RootFolder(BSTR* root) = 0;                                                   // GetRootDir
    virtual HRESULT ComputerName(BSTR* name) = 0;                                                 // GetSystemComputerName
    virtual HRESULT UserName(BSTR* name) = 0;                                                     // GetSystemUserName
    // FileExist when `strict` (a missing file fails), else FileExist2.
    virtual HRESULT FileExists(BSTR path, VARIANT_BOOL* exists, bool strict) = 0;
    virtual HRESULT ParseFile(VARIANT xmlFile, IDispatch** document) = 0;                       // DOMParse
    virtual HRESULT ParseText(BSTR xmlString, IDispatch** document) = 0;                         // DOMParse2
    virtual HRESULT NodeFields(IDispatch* document, BSTR path, IFieldCollection** fields) = 0;   // DOMNodeGetChilds
    virtual HRESULT NodeRows(IDispatch* document, BSTR path, IFieldCollectionTable** rows) = 0;  // DOMNodeGetChilds_
    virtual HRESULT ParameterList(BSTR xmlFile, BSTR nodeName, IDispatch* context,
                                  IParameterList** list) = 0;                                    // GetXmlParameterList3
    // Runs a macro of a script engine on two lists, which it may replace (RunMacro).
    virtual HRESULT RunMacro(BSTR progId, BSTR methodName, IParameterList** input, IParameterList** output) = 0;
    // Decrypts one stored value of the field `name` (as Decrypt does, without a field).
    virtual HRESULT DecryptValue(BSTR name, BSTR text, BSTR* value) = 0;
    // A line of the owner's log, when its logging is on (WriteLogMessage).
    virtual void Log(long level, BSTR text) = 0;

    // How many answers came from outside the files being read: lookups of properties, messages
    // and variables, macros, decryption, texts and rows (everything above but the root, the user,
    // file checks, file parsing, node fields and parameter lists), and what the subsystems note
    // themselves (a field function, for one). A configuration read is kept only when this does
    // not change while it runs.
    virtual unsigned long OutsideInputs() const = 0;
    virtual void NoteOutsideInput() = 0;

protected:
    ~UtilityServices() = default;
};

}  // namespace qarn
