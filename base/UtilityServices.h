// What the subsystem classes (the parameter-list engine, the logon lookup, the configuration
// reading) take from the utilities object that holds them. Each answers as the utilities member
// named beside it: an HRESULT, with the thread's error object set on failure.
#pragma once

#include "base/ConnectorInterfaces.h"

namespace qarn {

// What a read took from outside the files it reads. While a record lives, it notes every outside
// input on its thread (in the records opened around it too): a configuration read is kept only
// when its record noted none.
class InputRecord {
public:
    InputRecord() noexcept : outer_(innermost_) { innermost_ = this; }
    ~InputRecord() { innermost_ = outer_; }
    InputRecord(const InputRecord&) = delete;
    InputRecord& operator=(const InputRecord&) = delete;

    // Notes an outside input in every record open on the calling thread.
    static void NoteOutside() noexcept {
        for (InputRecord* record = innermost_; record; record = record->outer_) record->outside_ = true;
    }
    // Whether only the files went into the read so far.
    bool FilesOnly() const noexcept { return !outside_; }

private:
    static inline thread_local InputRecord* innermost_ = nullptr;
    InputRecord* outer_;
    bool outside_ = false;
};

class UtilityServices {
public:
    // The answers from outside the files being read, noted in the open records: GetProperty,
    // GetMessage, GetEnv, GetSystemComputerName, DOMParse2 (a text), DOMNodeGetChilds_ (rows),
    // RunMacro (a macro of a script engine on two lists, which it may replace) and Decrypt (one
    // stored value of the field `name`, without a field).
    HRESULT LookupProperty(BSTR name, BSTR* value) { Outside(); return Property(name, value); }
    HRESULT LookupMessage(BSTR name, BSTR* value) { Outside(); return Message(name, value); }
    HRESULT EnvironmentValue(BSTR variable, BSTR* value) { Outside(); return Variable(variable, value); }
    HRESULT ComputerName(BSTR* name) { Outside(); return Computer(name); }
    HRESULT ParseText(BSTR xmlString, IDispatch** document) { Outside(); return Parse(xmlString, document); }
    HRESULT NodeRows(IDispatch* document, BSTR path, IFieldCollectionTable** rows) { Outside(); return Rows(document, path, rows); }
    HRESULT RunMacro(BSTR progId, BSTR methodName, IParameterList** input, IParameterList** output) { Outside(); return Macro(progId, methodName, input, output); }
    HRESULT DecryptValue(BSTR name, BSTR text, BSTR* value) { Outside(); return Decrypted(name, text, value); }

    // The answers the files alone decide.
    virtual HRESULT RootFolder(BSTR* root) = 0;                                                   // GetRootDir
    virtual HRESULT UserName(BSTR* name) = 0;                                                     // GetSystemUserName
    // FileExist when `strict` (a missing file fails), else FileExist2.
    virtual HRESULT FileExists(BSTR path, VARIANT_BOOL* exists, bool strict) = 0;
    virtual HRESULT ParseFile(VARIANT xmlFile, IDispatch** document) = 0;                       // DOMParse
    virtual HRESULT NodeFields(IDispatch* document, BSTR path, IFieldCollection** fields) = 0;   // DOMNodeGetChilds
    virtual HRESULT ParameterList(BSTR xmlFile, BSTR nodeName, IDispatch* context,
                                  IParameterList** list) = 0;                                    // GetXmlParameterList3
    // A line of the owner's log, when its logging is on (WriteLogMessage).
    virtual void Log(long level, BSTR text) = 0;

protected:
    ~UtilityServices() = default;

private:
    static void Outside() noexcept { InputRecord::NoteOutside(); }
    virtual HRESULT Property(BSTR name, BSTR* value) = 0;
    virtual HRESULT Message(BSTR name, BSTR* value) = 0;
    virtual HRESULT Variable(BSTR variable, BSTR* value) = 0;
    virtual HRESULT Computer(BSTR* name) = 0;
    virtual HRESULT Parse(BSTR xmlString, IDispatch** document) = 0;
    virtual HRESULT Rows(IDispatch* document, BSTR path, IFieldCollectionTable** rows) = 0;
    virtual HRESULT Macro(BSTR progId, BSTR methodName, IParameterList** input, IParameterList** output) = 0;
    virtual HRESULT Decrypted(BSTR name, BSTR text, BSTR* value) = 0;
};

}  // namespace qarn
