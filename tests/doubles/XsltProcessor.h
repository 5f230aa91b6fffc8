// XsltProcessor: the XSLT component that CQarnUtilities::GetXmlParameterList creates when the
// property "XSLTProcessor" is "true". Stylesheets are files "<alias>.xsl" in the folder it is
// given; a transformation runs on the Xml of a parameter list with MSXML 6. Registered only in
// the test prefix ("QarnTest.XsltProcessor").
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include "QarnTestDoubles.h"

#include "ComObject.h"

class XsltProcessor : public qarn::ComObject<XsltProcessor, IXsltProcessor> {
public:
    STDMETHODIMP GetStylesheet(BSTR xslFolder, BSTR xmlFile, BSTR aliasname, BSTR* stylesheet) override;
    STDMETHODIMP Transform(BSTR stylesheet, VARIANT context, VARIANT parameters, BSTR* xml) override;
};
