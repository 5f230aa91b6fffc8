// The interfaces of our type libraries, for C++ code of the server.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

// windows.h maps GetMessage to GetMessageW; our interfaces have a member of that name.
// Code that needs the Win32 call writes GetMessageW.
#undef GetMessage

#include "QarnComDatatypes.h"
#include "QarnComConnector.h"

#include "ComObject.h"
#include "Errors.h"
#include "Log.h"
#include "Text.h"
