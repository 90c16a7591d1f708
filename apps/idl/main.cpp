// Writes what the Windows component is built from, out of the one member
// table and type library: the IDL (for widl's type library and header) and
// the dual interface's vtable methods, each of which hands its arguments to
// the same dispatch as a call by name.
//
//   quorvel-idl DIR            write DIR/Tavlor_QuorvelUnit.idl and DIR/DualMethods.inc
//   quorvel-idl --check DIR    status 1 when the files in DIR differ from the table
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "com/ComTypes.h"
#include "com/Identity.h"
#include "com/TypeLib.h"

namespace {

std::string Uuid(const GUID& g) {
  const std::string braced = com::ToString(g);
  return braced.substr(1, braced.size() - 2);
}

std::vector<const TYPEDESC*> Types() {
  ITypeLib* lib = com::TypeLibrary();
  std::vector<const TYPEDESC*> out;
  for (uint32_t i = 0; i < lib->lpVtbl->GetTypeInfoCount(lib); ++i) {
    ITypeInfo* info = nullptr;
    const TYPEDESC* desc = nullptr;
    if (lib->lpVtbl->GetTypeInfo(lib, i, &info) == S_OK && info->lpVtbl->GetTypeDesc(info, &desc) == S_OK)
      out.push_back(desc);
    if (info) info->lpVtbl->Release(info);
  }
  lib->lpVtbl->Release(lib);
  return out;
}

// The IDL's name of a type; `c` gives the C header's spelling instead.
std::string TypeName(uint16_t vt, const char* typeName, bool c) {
  if (vt & VT_ARRAY) {
    const std::string element = TypeName(vt & ~VT_ARRAY, nullptr, false);
    return c ? "SAFEARRAY*" : "SAFEARRAY(" + element + ")";
  }
  switch (vt) {
    case VT_I4: return typeName ? typeName : c ? "LONG" : "long";
    case VT_R8: return "double";
    case VT_BOOL: return "VARIANT_BOOL";
    case VT_BSTR: return "BSTR";
    case VT_DISPATCH: return "IDispatch*";
    case VT_RECORD: return typeName;
  }
  throw std::runtime_error("no IDL type for variant type " + std::to_string(vt));
}

// Records and arrays travel by reference as VB passes them; so do
// parameters the member writes back.
bool ByReference(const ELEMDESC& p) {
  return (p.flags & PARAMFLAG_FOUT) || p.vt == VT_RECORD || (p.vt & VT_ARRAY);
}

// An enumeration's default by its member's name, so that widl's C++
// header has a default of the enumeration's type.
std::string DefaultValue(const ELEMDESC& p, const std::vector<const TYPEDESC*>& types) {
  const std::string text = p.defaultValue;
  if (p.vt == VT_BOOL) return text == "True" ? "-1" : "0";
  for (const TYPEDESC* t : types)
    if (p.typeName && t->typekind == TKIND_ENUM && std::string(t->name) == p.typeName)
      for (uint32_t i = 0; i < t->cVars; ++i)
        if (std::to_string(t->vars[i].value) == text) return t->vars[i].name;
  return text;
}

std::string MethodName(const FUNCDESC& f) {
  if (f.invkind == DISPATCH_PROPERTYGET) return std::string("get_") + f.name;
  if (f.invkind == DISPATCH_PROPERTYPUT) return std::string("put_") + f.name;
  return f.name;
}

void Enumeration(std::ostream& o, const TYPEDESC& t) {
  o << "  typedef [uuid(" << Uuid(t.guid) << ")] enum " << t.name << " {\n";
  for (uint32_t i = 0; i < t.cVars; ++i)
    o << "    " << t.vars[i].name << " = " << t.vars[i].value << (i + 1 < t.cVars ? ",\n" : "\n");
  o << "  } " << t.name << ";\n\n";
}

void Record(std::ostream& o, const TYPEDESC& t) {
  o << "  typedef [uuid(" << Uuid(t.guid) << ")] struct " << t.name << " {\n";
  for (uint32_t i = 0; i < t.cVars; ++i)
    o << "    " << TypeName(t.vars[i].vt, t.vars[i].typeName, false) << " " << t.vars[i].name << ";\n";
  o << "  } " << t.name << ";\n\n";
}

void Interface(std::ostream& o, const TYPEDESC& t, const std::vector<const TYPEDESC*>& types) {
  o << "  [\n    odl,\n    uuid(" << Uuid(t.guid) << "),\n    version(" << com::kLibMajor << "." << com::kLibMinor
    << "),\n    hidden,\n    dual,\n    nonextensible,\n    oleautomation\n  ]\n";
  o << "  interface " << t.name << " : IDispatch {\n";
  for (uint32_t i = 0; i < t.cFuncs; ++i) {
    const FUNCDESC& f = t.funcs[i];
    o << "    [id(" << f.memid << ")"
      << (f.invkind == DISPATCH_PROPERTYGET ? ", propget" : f.invkind == DISPATCH_PROPERTYPUT ? ", propput" : "")
      << "]\n    HRESULT " << f.name << "(";
    std::vector<std::string> params;
    for (uint32_t k = 0; k < f.cParams; ++k) {
      const ELEMDESC& p = f.params[k];
      std::string attributes = ByReference(p) ? "in, out" : "in";
      if (p.flags & PARAMFLAG_FOPT) {
        attributes += ", optional";
        // A string's default stays out: widl takes none by reference, and its
        // C++ header would make one a string literal as a BSTR.  Left out,
        // it is the empty string all the same.
        if (p.vt != VT_BSTR) attributes += ", defaultvalue(" + DefaultValue(p, types) + ")";
      }
      params.push_back("[" + attributes + "] " + TypeName(p.vt, p.typeName, false) + (ByReference(p) ? "* " : " ") +
                       p.name);
    }
    if (f.vtResult != VT_EMPTY) params.push_back("[out, retval] " + TypeName(f.vtResult, f.resultTypeName && f.vtResult == VT_RECORD ? f.resultTypeName : nullptr, false) + "* pRet");
    for (std::size_t k = 0; k < params.size(); ++k) o << (k ? ",\n        " : "") << params[k];
    o << ");\n";
  }
  o << "  };\n\n";
}

std::string Idl(const std::vector<const TYPEDESC*>& types) {
  std::ostringstream o;
  o << "// The component's type library, written by quorvel-idl from the member table: do not edit.\n"
       "import \"oaidl.idl\";\n\n"
       "[\n  uuid(" << Uuid(com::kLibid) << "),\n  version(" << com::kLibMajor << "." << com::kLibMinor
    << "),\n  helpstring(\"" << com::kLibName << "\")\n]\n"
    << "library " << com::kLibName << "\n{\n  importlib(\"stdole2.tlb\");\n\n";
  // Records after the records they hold: the table lists them in that order but for the nested unit record.
  std::vector<const TYPEDESC*> records;
  for (const TYPEDESC* t : types)
    if (t->typekind == TKIND_ENUM) Enumeration(o, *t);
    else if (t->typekind == TKIND_RECORD) records.push_back(t);
  std::vector<bool> written(records.size());
  for (std::size_t done = 0; done < records.size();) {
    for (std::size_t i = 0; i < records.size(); ++i) {
      if (written[i]) continue;
      bool ready = true;
      for (uint32_t k = 0; k < records[i]->cVars; ++k)
        if (records[i]->vars[k].vt == VT_RECORD)
          for (std::size_t j = 0; j < records.size(); ++j)
            if (!written[j] && std::string(records[j]->name) == records[i]->vars[k].typeName) ready = false;
      if (ready) {
        Record(o, *records[i]);
        written[i] = true;
        ++done;
      }
    }
  }
  for (const TYPEDESC* t : types)
    if (t->typekind == TKIND_DISPATCH) Interface(o, *t, types);
  for (const TYPEDESC* t : types)
    if (t->typekind == TKIND_COCLASS)
      o << "  [\n    uuid(" << Uuid(t->guid) << "),\n    version(" << com::kLibMajor << "." << com::kLibMinor
        << ")\n  ]\n  coclass " << t->name << " {\n    [default] interface " << com::kInterfaceName << ";\n  };\n";
  o << "};\n";
  return o.str();
}

// The vtable's methods, each a call of the same dispatch as by name.
std::string Methods(const std::vector<const TYPEDESC*>& types) {
  std::ostringstream o;
  o << "// The dual interface's vtable methods, written by quorvel-idl from the member table: do not edit.\n"
       "// Each packs its arguments as a by-name call packs them and dispatches by id.\n";
  for (const TYPEDESC* t : types) {
    if (t->typekind != TKIND_DISPATCH) continue;
    for (uint32_t i = 0; i < t->cFuncs; ++i) {
      const FUNCDESC& f = t->funcs[i];
      std::vector<std::string> params, args;
      for (uint32_t k = 0; k < f.cParams; ++k) {
        const ELEMDESC& p = f.params[k];
        const std::string type = TypeName(p.vt, p.typeName, true);
        params.push_back(type + (ByReference(p) ? "* " : " ") + p.name);
        if (p.vt == VT_RECORD) args.push_back(std::string("Rec(") + p.name + ", L\"" + p.typeName + "\")");
        else if (p.vt & VT_ARRAY) args.push_back(std::string("Ref(") + p.name + (p.vt == (VT_ARRAY | VT_R8) ? ", VT_R8)" : ", VT_I4)"));
        else if (ByReference(p)) args.push_back(std::string("Ref(") + p.name + ")");
        else args.push_back(std::string("In(") + p.name + ")");
      }
      std::string result = "NoResult()";
      if (f.vtResult != VT_EMPTY) {
        const bool record = f.vtResult == VT_RECORD;
        params.push_back(TypeName(f.vtResult, record ? f.resultTypeName : nullptr, true) + "* pRet");
        result = record ? "OutRec(pRet)" : "Out(pRet)";  // the record's type comes with the result
      }
      o << "STDMETHODIMP " << MethodName(f) << "(";
      for (std::size_t k = 0; k < params.size(); ++k) o << (k ? ", " : "") << params[k];
      o << ") override {\n  return Early(" << f.memid << ", "
        << (f.invkind == DISPATCH_PROPERTYGET   ? "DISPATCH_PROPERTYGET"
            : f.invkind == DISPATCH_PROPERTYPUT ? "DISPATCH_PROPERTYPUT"
                                                : "DISPATCH_METHOD")
        << ", {";
      for (std::size_t k = 0; k < args.size(); ++k) o << (k ? ", " : "") << args[k];
      o << "}, " << result << ");\n}\n";
    }
  }
  return o.str();
}

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

int main(int argc, char** argv) {
  const bool check = argc == 3 && std::string(argv[1]) == "--check";
  if (argc != 2 && !check) {
    std::cerr << "usage: quorvel-idl [--check] DIR\n";
    return 2;
  }
  const std::string dir = argv[argc - 1];
  const auto types = Types();
  const std::pair<std::string, std::string> files[] = {{dir + "/Tavlor_QuorvelUnit.idl", Idl(types)},
                                                       {dir + "/DualMethods.inc", Methods(types)}};
  int status = 0;
  for (const auto& [path, text] : files) {
    if (check) {
      if (Read(path) != text) {
        std::cerr << path << " differs from the member table: run quorvel-idl " << dir << "\n";
        status = 1;
      }
      continue;
    }
    std::ofstream out(path, std::ios::binary);
    out << text;
    if (!out) {
      std::cerr << "cannot write " << path << "\n";
      return 1;
    }
  }
  return status;
}
