// The registry-script text form of our "REGISTRY" resources, parsed into a tree of keys.
// Plain C++: no Windows API, so it also builds natively (fuzzing, host tests).
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {GUID} = s 'Description'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'Apartment'
//               }
//           }
//       }
//   }
#pragma once

#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qarn::regscript {

enum class KeyFlag { Normal, NoRemove, ForceRemove, Delete };

struct Value {
    std::wstring name;        // empty: the key's default value
    wchar_t type = L's';      // 's' text, 'd' number
    std::wstring data;
};

struct Key {
    std::wstring name;
    KeyFlag flag = KeyFlag::Normal;
    bool hasDefault = false;
    Value defaultValue;
    std::vector<Value> values;
    std::vector<Key> children;
};

struct Root {
    std::wstring hive;        // as written: HKCR, HKEY_CLASSES_ROOT, HKLM ...
    std::vector<Key> keys;
};

class ParseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Parses a script; %NAME% is replaced from `variables` ("%%" is a percent sign). Nesting deeper
// than 32 levels, unknown variables and malformed text raise ParseError.
std::vector<Root> Parse(std::wstring_view text, const std::map<std::wstring, std::wstring>& variables);

}  // namespace qarn::regscript
