// The interfaces of the data-type library, for the C++ code of QarnComDatatypes.dll.
#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include "QarnComDatatypes.h"

#include "ComObject.h"
#include "Dispatch.h"
#include "Errors.h"
#include "Text.h"
