// GetXmlParameterList4 takes another installation root for its own call only: a second thread
// reading transactions at the same time keeps reading its own installation, and the process
// environment is the same afterwards.
#include "HostSafety.h"

namespace hostsafety {
namespace {

std::wstring ListXml(IQarnUtilities* utilities, const std::wstring* root) {
    ComPtr<IParameterList> context = Create<IParameterList>(CLSID_ParameterList), list;
    const Str file(L"Parts.xml"), alias(L"CreatePart");
    Check(root ? utilities->GetXmlParameterList4(file, alias, context.Get(), Str(*root), &list)
               : utilities->GetXmlParameterList(file, alias, context.Get(), &list),
          L"GetXmlParameterList(4)");
    Str xml;
    Check(list->get_Xml(xml.Out()), L"Xml");
    return std::wstring(xml.View());
}

void OtherRoot(Report& report) {
    // The other installation: the same files, its CreatePart calls another function and names
    // its root through the environment.
    const std::wstring other = ScratchFolder() + L"\\other-installation";
    CreateDirectoryW(other.c_str(), nullptr);
    CreateDirectoryW((other + L"\\xml").c_str(), nullptr);
    std::string parts = *ReadBytes(InstallationRoot() + L"\\xml\\Parts.xml");
    const size_t function = parts.find("QARN_MATERIAL_CREATE");
    Expect(function != std::string::npos, L"the sample's CreatePart has changed");
    parts.replace(function, std::strlen("QARN_MATERIAL_CREATE"), "QARN_OTHER_CREATE");
    const size_t fields = parts.find("<FieldCollection>", function) + std::strlen("<FieldCollection>");
    parts.insert(fields, "<Field><Name>Root</Name><Value>[%QarnRootDir%]</Value></Field>");
    Expect(WriteBytes(other + L"\\xml\\Parts.xml", parts.c_str()), L"cannot write the other installation");

    const std::optional<std::wstring> before = qarn::EnvironmentValue(L"QarnRootDir");
    std::atomic<long> own{0}, foreign{0};
    const Deadline deadline(4);
    RunThreads(report, 2, COINIT_APARTMENTTHREADED, [&](int index) {
        ComPtr<IQarnUtilities> utilities = Create<IQarnUtilities>(CLSID_CQarnUtilities);
        while (deadline.Running()) {
            if (index == 0) {
                const std::wstring xml = ListXml(utilities.Get(), &other);
                Expect(xml.find(L"QARN_OTHER_CREATE") != std::wstring::npos,
                       L"GetXmlParameterList4 did not read the other installation");
                Expect(xml.find(L"[" + other + L"]") != std::wstring::npos,
                       L"%QarnRootDir% in the other installation is not its root");
                ++foreign;
            } else {
                const std::wstring xml = ListXml(utilities.Get(), nullptr);
                Expect(xml.find(L"QARN_MATERIAL_CREATE") != std::wstring::npos,
                       L"a plain GetXmlParameterList read another installation");
                ++own;
            }
        }
    });
    report.Note(std::to_wstring(foreign.load()) + L" calls with the other root, " + std::to_wstring(own.load()) +
                L" plain calls beside them");
    Expect(qarn::EnvironmentValue(L"QarnRootDir") == before, L"QarnRootDir of the process has changed");
}

}  // namespace

HOST_SAFETY_SECTION(35, "GetXmlParameterList4 beside plain transactions in another thread", OtherRoot);

}  // namespace hostsafety
