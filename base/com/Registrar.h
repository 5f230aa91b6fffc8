// Runs a module's registry scripts against the registry.
#pragma once

#include <windows.h>

#include <string>

namespace qarn {

// Runs the "REGISTRY" resource `id` of `module` with %MODULE% = `modulePath`: writes its keys
// when `registering`, removes them otherwise.
HRESULT RunRegistryScript(HMODULE module, UINT id, const std::wstring& modulePath, bool registering);

// The same for a script given as text.
HRESULT RunRegistryScriptText(const std::wstring& script, const std::wstring& modulePath, bool registering);

}  // namespace qarn
