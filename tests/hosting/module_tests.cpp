// Vavizav.dll as its clients meet it, loaded by path into this process: the
// image (exports, imports, resources), the embedded type library and its member
// table, the class object and module lifetime, and the dispatch layer against
// the function table; also a failing registration. Needs the local unbound for
// the lookups.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>
#include <dispex.h>
#include <ocidl.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "handles.h"
#include "paths.h"
#include "vavizav.h"

namespace {

using vavizav::BstrView;
using vavizav::com_ptr;
using vavizav::MakeBstr;
using vavizav::unique_bstr;
using vavizav::unique_variant;

// The local unbound serving tests/e2e/*.zone, and a loopback address where
// nothing answers.
const wchar_t* const SERVER = VAVIZAV_TEST_DNS_SERVER;
const wchar_t* const SILENT_SERVER = L"127.0.0.99";

class ComApartment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
  void TearDown() override { CoUninitialize(); }
};
const auto* const apartment = ::testing::AddGlobalTestEnvironment(new ComApartment);

// The module and its four exports, loaded once for the whole program.
struct Module {
  HMODULE Handle = nullptr;
  HRESULT(STDAPICALLTYPE* GetClassObject)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT(STDAPICALLTYPE* CanUnloadNow)() = nullptr;
  HRESULT(STDAPICALLTYPE* RegisterServer)() = nullptr;
  HRESULT(STDAPICALLTYPE* UnregisterServer)() = nullptr;

  static const Module& Get() {
    static const Module module = Load();
    return module;
  }

 private:
  static Module Load() {
    Module module;
    module.Handle = LoadLibraryW(VAVIZAV_DLL_PATH);
    if (module.Handle == nullptr) return module;
    module.GetClassObject = reinterpret_cast<decltype(module.GetClassObject)>(
        reinterpret_cast<void*>(GetProcAddress(module.Handle, "DllGetClassObject")));
    module.CanUnloadNow = reinterpret_cast<decltype(module.CanUnloadNow)>(
        reinterpret_cast<void*>(GetProcAddress(module.Handle, "DllCanUnloadNow")));
    module.RegisterServer = reinterpret_cast<decltype(module.RegisterServer)>(
        reinterpret_cast<void*>(GetProcAddress(module.Handle, "DllRegisterServer")));
    module.UnregisterServer = reinterpret_cast<decltype(module.UnregisterServer)>(
        reinterpret_cast<void*>(GetProcAddress(module.Handle, "DllUnregisterServer")));
    return module;
  }
};

com_ptr<IClassFactory> Factory() {
  com_ptr<IClassFactory> factory;
  const Module& module = Module::Get();
  if (module.GetClassObject != nullptr) {
    EXPECT_EQ(module.GetClassObject(CLSID_VeviVORIdezaz, IID_IClassFactory, factory.put_void()), S_OK);
  }
  return factory;
}

com_ptr<_VeviVORIdezaz> NewObject() {
  com_ptr<_VeviVORIdezaz> object;
  if (com_ptr<IClassFactory> factory = Factory()) {
    EXPECT_EQ(factory->CreateInstance(nullptr, IID__VeviVORIdezaz, object.put_void()), S_OK);
  }
  return object;
}

HRESULT CanUnloadNow() { return Module::Get().CanUnloadNow(); }

unique_variant Text(const wchar_t* text) {
  unique_variant value;
  V_VT(value.get()) = VT_BSTR;
  V_BSTR(value.get()) = MakeBstr(text).release();
  return value;
}

std::wstring LastError(_VeviVORIdezaz* object) {
  unique_bstr text;
  EXPECT_EQ(object->get_LastError(text.put()), S_OK);
  return std::wstring(BstrView(text.get()));
}

// What a lookup through the function table gives: result and LastError.
struct Outcome {
  std::wstring Result;
  std::wstring LastError;
  friend bool operator==(const Outcome&, const Outcome&) = default;
  friend std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    return out << ::testing::PrintToString(o.Result) << " / " << ::testing::PrintToString(o.LastError);
  }
};

Outcome EarlyLookup(_VeviVORIdezaz* object, DISPID member, const wchar_t* argument) {
  unique_variant value = Text(argument);
  unique_bstr result;
  const HRESULT hr = member == 0x60030003 ? object->GetIPFromName(value.get(), result.put())
                                          : object->GetNameFromIP(value.get(), result.put());
  EXPECT_EQ(hr, S_OK);
  return {std::wstring(BstrView(result.get())), LastError(object)};
}

// IDispatch::Invoke with the arguments in call order (Invoke takes them reversed).
HRESULT Invoke(IDispatch* object, DISPID member, WORD flags, std::vector<VARIANT> arguments, VARIANT* result,
               UINT* argumentError = nullptr) {
  std::reverse(arguments.begin(), arguments.end());
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{arguments.data(), nullptr, static_cast<UINT>(arguments.size()), 0};
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.rgdispidNamedArgs = &put;
    params.cNamedArgs = 1;
  }
  EXCEPINFO exception{};
  UINT error = 0;
  const HRESULT hr = object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, &exception,
                                    argumentError ? argumentError : &error);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  return hr;
}

Outcome LateLookup(IDispatch* object, DISPID member, const wchar_t* argument) {
  unique_variant value = Text(argument);
  unique_variant result;
  EXPECT_EQ(Invoke(object, member, DISPATCH_METHOD, {*value}, result.get()), S_OK);
  EXPECT_EQ(V_VT(result.get()), VT_BSTR);
  unique_variant lastError;
  EXPECT_EQ(Invoke(object, 0x68030002, DISPATCH_PROPERTYGET, {}, lastError.get()), S_OK);
  return {std::wstring(BstrView(V_BSTR(result.get()))), std::wstring(BstrView(V_BSTR(lastError.get())))};
}

// ---------------------------------------------------------------------------
// The image

const IMAGE_DATA_DIRECTORY& Directory(HMODULE module, int index) {
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  return nt->OptionalHeader.DataDirectory[index];
}

TEST(ModuleImage, ExportsTheFourEntryPointsAndDllInstallByUndecoratedName) {
  const HMODULE module = Module::Get().Handle;
  ASSERT_NE(module, nullptr) << "LoadLibrary failed: " << GetLastError();
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
      base + Directory(module, IMAGE_DIRECTORY_ENTRY_EXPORT).VirtualAddress);
  const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  std::set<std::string> exported;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) exported.insert(reinterpret_cast<const char*>(base + names[i]));
  EXPECT_EQ(exports->NumberOfFunctions, 5u);
  EXPECT_EQ(exported, (std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllInstall", "DllRegisterServer",
                                             "DllUnregisterServer"}));
}

TEST(ModuleImage, ImportsNoMinGWRuntimeLibrary) {
  const HMODULE module = Module::Get().Handle;
  ASSERT_NE(module, nullptr);
  const auto* base = reinterpret_cast<const BYTE*>(module);
  const auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(
      base + Directory(module, IMAGE_DIRECTORY_ENTRY_IMPORT).VirtualAddress);
  std::vector<std::string> imported;
  for (; import->Name != 0; ++import) {
    std::string name = reinterpret_cast<const char*>(base + import->Name);
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    imported.push_back(name);
  }
  EXPECT_FALSE(imported.empty());
  for (const std::string& name : imported) {
    for (const char* runtime : {"libgcc", "libstdc++", "libwinpthread", "mingwm"}) {
      EXPECT_EQ(name.find(runtime), std::string::npos) << name;
    }
  }
}

TEST(ModuleImage, VersionResource) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(VAVIZAV_DLL_PATH, &ignored);
  ASSERT_NE(size, 0u);
  std::vector<BYTE> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(VAVIZAV_DLL_PATH, 0, size, data.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, VS_FFI_SIGNATURE);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00000005u);  // 0.5
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000001u);  // .0.1
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00000005u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000001u);
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u);
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                             &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(translation[0], 0x0409);
  EXPECT_EQ(translation[1], 1200);
  EXPECT_NE(FindResourceExW(Module::Get().Handle, RT_VERSION, MAKEINTRESOURCEW(VS_VERSION_INFO),
                            MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US)),
            nullptr);

  const std::pair<const wchar_t*, const wchar_t*> strings[] = {
      {L"Comments", L"Vavizav Resolving Component"},
      {L"ProductName", L"Vavizav Resolver"},
      {L"FileVersion", L"0.05.0001"},
      {L"ProductVersion", L"0.05.0001"},
      {L"InternalName", L"Vavizav"},
      {L"OriginalFilename", L"Vavizav.dll"},
      {L"OLESelfRegister", L""},
  };
  for (const auto& [field, expected] : strings) {
    const std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + field;
    wchar_t* value = nullptr;
    length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), path.c_str(), reinterpret_cast<void**>(&value), &length))
        << ::testing::PrintToString(std::wstring(field)) << " missing";
    EXPECT_EQ(std::wstring(value != nullptr && length != 0 ? value : L""), expected);
  }
}

// ---------------------------------------------------------------------------
// The embedded type library

class TypeLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(LoadTypeLibEx(VAVIZAV_DLL_PATH, REGKIND_NONE, library_.put()));
  }
  com_ptr<ITypeInfo> Type(REFGUID guid) {
    com_ptr<ITypeInfo> info;
    EXPECT_HRESULT_SUCCEEDED(library_->GetTypeInfoOfGuid(guid, info.put()));
    return info;
  }
  static TYPEATTR Attributes(ITypeInfo* info) {
    TYPEATTR* attributes = nullptr;
    EXPECT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attributes));
    const TYPEATTR copy = *attributes;
    info->ReleaseTypeAttr(attributes);
    return copy;
  }
  static std::wstring Name(ITypeInfo* info, MEMBERID member = MEMBERID_NIL) {
    unique_bstr name;
    EXPECT_HRESULT_SUCCEEDED(info->GetDocumentation(member, name.put(), nullptr, nullptr, nullptr));
    return std::wstring(BstrView(name.get()));
  }
  // The function-table side of the dual interface.
  com_ptr<ITypeInfo> VtableSide() {
    com_ptr<ITypeInfo> dispatchSide = Type(IID__VeviVORIdezaz);
    HREFTYPE ref = 0;
    com_ptr<ITypeInfo> side;
    EXPECT_HRESULT_SUCCEEDED(dispatchSide->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));
    EXPECT_HRESULT_SUCCEEDED(dispatchSide->GetRefTypeInfo(ref, side.put()));
    return side;
  }

  com_ptr<ITypeLib> library_;
};

// The type library is made for the module's bitness (SYS_WIN64 in the 64-bit one).
TEST_F(TypeLibrary, IsVavizavVersion2LocaleNeutralForItsBitnessWithoutHelp) {
  TLIBATTR* attributes = nullptr;
  ASSERT_HRESULT_SUCCEEDED(library_->GetLibAttr(&attributes));
  EXPECT_TRUE(IsEqualGUID(attributes->guid, LIBID_Vavizav));
  EXPECT_EQ(attributes->wMajorVerNum, 2);
  EXPECT_EQ(attributes->wMinorVerNum, 0);
  EXPECT_EQ(attributes->lcid, 0u);
  EXPECT_EQ(attributes->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
  EXPECT_EQ(attributes->wLibFlags & (LIBFLAG_FRESTRICTED | LIBFLAG_FCONTROL | LIBFLAG_FHIDDEN), 0);
  library_->ReleaseTLibAttr(attributes);

  unique_bstr name, doc, helpFile;
  DWORD helpContext = 1;
  ASSERT_HRESULT_SUCCEEDED(library_->GetDocumentation(-1, name.put(), doc.put(), &helpContext, helpFile.put()));
  EXPECT_EQ(BstrView(name.get()), L"Vavizav");
  EXPECT_EQ(BstrView(doc.get()), L"");
  EXPECT_EQ(BstrView(helpFile.get()), L"");
  EXPECT_EQ(helpContext, 0u);
  EXPECT_EQ(library_->GetTypeInfoCount(), 2u);  // the interface and the class
}

TEST_F(TypeLibrary, ClassIsCreatableNotAggregatableWithOnlyTheDefaultInterface) {
  com_ptr<ITypeInfo> coclass = Type(CLSID_VeviVORIdezaz);
  ASSERT_TRUE(coclass);
  const TYPEATTR attributes = Attributes(coclass.get());
  EXPECT_EQ(attributes.typekind, TKIND_COCLASS);
  EXPECT_EQ(Name(coclass.get()), L"VeviVORIdezaz");
  EXPECT_EQ(attributes.wMajorVerNum, 1);
  EXPECT_EQ(attributes.wMinorVerNum, 0);
  EXPECT_TRUE(attributes.wTypeFlags & TYPEFLAG_FCANCREATE);
  EXPECT_FALSE(attributes.wTypeFlags & (TYPEFLAG_FAPPOBJECT | TYPEFLAG_FAGGREGATABLE | TYPEFLAG_FCONTROL));
  ASSERT_EQ(attributes.cImplTypes, 1);
  INT implFlags = 0;
  ASSERT_HRESULT_SUCCEEDED(coclass->GetImplTypeFlags(0, &implFlags));
  EXPECT_EQ(implFlags, IMPLTYPEFLAG_FDEFAULT);  // no source (event) interface
  HREFTYPE ref = 0;
  com_ptr<ITypeInfo> implemented;
  ASSERT_HRESULT_SUCCEEDED(coclass->GetRefTypeOfImplType(0, &ref));
  ASSERT_HRESULT_SUCCEEDED(coclass->GetRefTypeInfo(ref, implemented.put()));
  EXPECT_TRUE(IsEqualGUID(Attributes(implemented.get()).guid, IID__VeviVORIdezaz));
}

TEST_F(TypeLibrary, InterfaceIsDualHiddenNonextensibleAutomationVersion1) {
  com_ptr<ITypeInfo> dispatchSide = Type(IID__VeviVORIdezaz);
  ASSERT_TRUE(dispatchSide);
  EXPECT_EQ(Name(dispatchSide.get()), L"_VeviVORIdezaz");
  const TYPEATTR attributes = Attributes(dispatchSide.get());
  EXPECT_EQ(attributes.typekind, TKIND_DISPATCH);
  const WORD both = TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE;
  EXPECT_EQ(attributes.wTypeFlags & (both | TYPEFLAG_FDISPATCHABLE), both | TYPEFLAG_FDISPATCHABLE);
  EXPECT_EQ(attributes.wMajorVerNum, 1);
  EXPECT_EQ(attributes.wMinorVerNum, 0);

  com_ptr<ITypeInfo> vtableSide = VtableSide();
  ASSERT_TRUE(vtableSide);
  const TYPEATTR vtable = Attributes(vtableSide.get());
  EXPECT_EQ(vtable.typekind, TKIND_INTERFACE);
  EXPECT_EQ(vtable.wTypeFlags & (both | TYPEFLAG_FOLEAUTOMATION), both | TYPEFLAG_FOLEAUTOMATION);
  EXPECT_EQ(vtable.cbSizeVft, 14 * sizeof(void*));  // IUnknown 3, IDispatch 4, own 7
  EXPECT_EQ(vtable.cFuncs, 7);
  HREFTYPE base = 0;
  com_ptr<ITypeInfo> baseInfo;
  ASSERT_HRESULT_SUCCEEDED(vtableSide->GetRefTypeOfImplType(0, &base));
  ASSERT_HRESULT_SUCCEEDED(vtableSide->GetRefTypeInfo(base, baseInfo.put()));
  EXPECT_TRUE(IsEqualGUID(Attributes(baseInfo.get()).guid, IID_IDispatch));
}

struct Member {
  int Slot;
  const wchar_t* Name;
  MEMBERID Id;
  INVOKEKIND Kind;
  VARTYPE Argument;  // VT_EMPTY: none
  VARTYPE Value;     // pointed-to type of the [out, retval] parameter; VT_EMPTY: none
};

const Member MEMBERS[] = {
    {7, L"LastError", 0x68030002, INVOKE_PROPERTYGET, VT_EMPTY, VT_BSTR},
    {8, L"DNSServer", 0x68030001, INVOKE_PROPERTYGET, VT_EMPTY, VT_VARIANT},
    {9, L"DNSServer", 0x68030001, INVOKE_PROPERTYPUT, VT_VARIANT, VT_EMPTY},
    {10, L"TimeOut", 0x68030000, INVOKE_PROPERTYGET, VT_EMPTY, VT_I4},
    {11, L"TimeOut", 0x68030000, INVOKE_PROPERTYPUT, VT_I4, VT_EMPTY},
    {12, L"GetIPFromName", 0x60030003, INVOKE_FUNC, VT_VARIANT, VT_BSTR},
    {13, L"GetNameFromIP", 0x60030004, INVOKE_FUNC, VT_VARIANT, VT_BSTR},
};

TEST_F(TypeLibrary, MemberTableInSlotOrder) {
  com_ptr<ITypeInfo> vtableSide = VtableSide();
  ASSERT_TRUE(vtableSide);
  for (UINT index = 0; index < std::size(MEMBERS); ++index) {
    const Member& member = MEMBERS[index];
    SCOPED_TRACE(::testing::Message() << "slot " << member.Slot);
    FUNCDESC* function = nullptr;
    ASSERT_HRESULT_SUCCEEDED(vtableSide->GetFuncDesc(index, &function));
    EXPECT_EQ(function->oVft, member.Slot * static_cast<int>(sizeof(void*)));
    EXPECT_EQ(function->memid, member.Id);
    EXPECT_EQ(function->invkind, member.Kind);
    EXPECT_EQ(function->callconv, CC_STDCALL);
    EXPECT_EQ(function->elemdescFunc.tdesc.vt, VT_HRESULT);
    EXPECT_EQ(function->wFuncFlags, 0);  // not hidden, restricted or default
    EXPECT_EQ(function->cParamsOpt, 0);
    EXPECT_EQ(Name(vtableSide.get(), function->memid), member.Name);

    std::vector<std::pair<VARTYPE, USHORT>> parameters;  // pointed-to type, flags
    for (SHORT i = 0; i < function->cParams; ++i) {
      const ELEMDESC& parameter = function->lprgelemdescParam[i];
      EXPECT_EQ(parameter.tdesc.vt, VT_PTR);  // every parameter is by reference
      parameters.emplace_back(parameter.tdesc.vt == VT_PTR ? parameter.tdesc.lptdesc->vt : VARTYPE{VT_EMPTY},
                              parameter.paramdesc.wParamFlags);
    }
    std::vector<std::pair<VARTYPE, USHORT>> expected;
    if (member.Argument != VT_EMPTY) expected.emplace_back(member.Argument, PARAMFLAG_FIN | PARAMFLAG_FOUT);
    if (member.Value != VT_EMPTY) expected.emplace_back(member.Value, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    EXPECT_EQ(parameters, expected);
    vtableSide->ReleaseFuncDesc(function);
  }
}

TEST_F(TypeLibrary, MethodsNameTheirParameterAndPutsLeaveItUnnamed) {
  com_ptr<ITypeInfo> vtableSide = VtableSide();
  ASSERT_TRUE(vtableSide);
  for (const wchar_t* method : {L"GetIPFromName", L"GetNameFromIP"}) {
    LPOLESTR names[] = {const_cast<LPOLESTR>(method), const_cast<LPOLESTR>(L"vIPAddr")};
    MEMBERID ids[2] = {};
    EXPECT_EQ(vtableSide->GetIDsOfNames(names, 2, ids), S_OK) << ::testing::PrintToString(std::wstring(method));
    EXPECT_EQ(ids[1], 0);
  }
  // GetNames answers for the first function of an identifier, the get, so the
  // puts' parameter is checked through the library's name table: parameter
  // names are in it (vIPAddr), the puts' parameter name is not.
  auto isName = [&](std::wstring name) {
    BOOL found = FALSE;
    EXPECT_HRESULT_SUCCEEDED(library_->IsName(name.data(), 0, &found));
    return found != FALSE;
  };
  EXPECT_TRUE(isName(L"vIPAddr"));
  EXPECT_FALSE(isName(L"vData"));
}

// ---------------------------------------------------------------------------
// Class object, objects and module lifetime

TEST(ClassObject, ServesOnlyItsClassAndRefusesAggregation) {
  const Module& module = Module::Get();
  ASSERT_NE(module.GetClassObject, nullptr);
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(module.GetClassObject(IID__VeviVORIdezaz, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);

  com_ptr<IClassFactory> factory = Factory();
  ASSERT_TRUE(factory);
  com_ptr<IUnknown> outer = NewObject().query<IUnknown>();
  object = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(outer.get(), IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  object = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
}

TEST(ClassObject, ObjectsAnswerOnlyIUnknownIDispatchAndTheirInterface) {
  com_ptr<_VeviVORIdezaz> object = NewObject();
  ASSERT_TRUE(object);
  com_ptr<IUnknown> identity = object.query<IUnknown>();
  com_ptr<IDispatch> dispatch = object.query<IDispatch>();
  ASSERT_TRUE(identity);
  ASSERT_TRUE(dispatch);
  EXPECT_EQ(dispatch.query<IUnknown>().get(), identity.get());
  EXPECT_EQ(dispatch.query<_VeviVORIdezaz>().get(), object.get());

  for (REFIID other : {__uuidof(IDispatchEx), IID_IMarshal, IID_IPersist, IID_IProvideClassInfo, IID_ISupportErrorInfo,
                       IID_IConnectionPointContainer, IID_IClassFactory}) {
    void* answer = reinterpret_cast<void*>(1);
    EXPECT_EQ(object->QueryInterface(other, &answer), E_NOINTERFACE);
    EXPECT_EQ(answer, nullptr);
  }
}

TEST(ModuleLifetime, UnloadableOnlyWithoutObjectsAndLocks) {
  ASSERT_NE(Module::Get().CanUnloadNow, nullptr);
  EXPECT_EQ(CanUnloadNow(), S_OK);
  com_ptr<_VeviVORIdezaz> object = NewObject();
  ASSERT_TRUE(object);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  com_ptr<IDispatch> second = object.query<IDispatch>();
  object.reset();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);  // one reference is still out
  second.reset();
  EXPECT_EQ(CanUnloadNow(), S_OK);

  com_ptr<IClassFactory> factory = Factory();
  ASSERT_TRUE(factory);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

// A client may drop its last reference from a window message that the lookup
// dispatches while it waits; the lookup keeps the object alive until it returns.
// The server is silent, so the lookup surely waits and pumps.
struct ReleaseOnMessage {
  IUnknown* Object = nullptr;
  bool Ran = false;
  HRESULT UnloadableInside = E_FAIL;
};

LRESULT CALLBACK ReleasingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP) {
    auto* job = reinterpret_cast<ReleaseOnMessage*>(lParam);
    job->Object->Release();
    job->Ran = true;
    job->UnloadableInside = CanUnloadNow();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

TEST(ModuleLifetime, LastReleaseDuringALookupWaitsForTheLookup) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = ReleasingWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"VavizavReleaseDuringLookup";
  RegisterClassW(&windowClass);
  const HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      windowClass.hInstance, nullptr);
  ASSERT_NE(window, nullptr);

  com_ptr<_VeviVORIdezaz> object = NewObject();
  ASSERT_TRUE(object);
  unique_variant server = Text(SILENT_SERVER);
  ASSERT_EQ(object->put_DNSServer(server.get()), S_OK);
  LONG timeOut = 200;
  ASSERT_EQ(object->put_TimeOut(&timeOut), S_OK);
  _VeviVORIdezaz* raw = object.detach();  // the message handler owns the last reference now

  ReleaseOnMessage job{raw};
  ASSERT_TRUE(PostMessageW(window, WM_APP, 0, reinterpret_cast<LPARAM>(&job)));
  unique_variant name = Text(L"one.vavizav.test");
  unique_bstr result;
  EXPECT_EQ(raw->GetIPFromName(name.get(), result.put()), S_OK);
  EXPECT_TRUE(job.Ran);
  EXPECT_EQ(job.UnloadableInside, S_FALSE) << "the object went away under its own lookup";
  EXPECT_EQ(BstrView(result.get()), L"");
  EXPECT_EQ(CanUnloadNow(), S_OK);
  DestroyWindow(window);
}

// A registration that cannot be written is reported through the result and
// leaves nothing behind. The registry refuses a lasting subkey below a
// volatile key, so a volatile class key makes the InprocServer32 entry fail
// after the class-name entries were written. (The prefix ends up unregistered;
// the client tests register again.)
TEST(Registration, AFailedRegistrationIsReportedAndUndone) {
  const Module& module = Module::Get();
  ASSERT_NE(module.RegisterServer, nullptr);
  ASSERT_NE(module.UnregisterServer, nullptr);
  ASSERT_EQ(module.UnregisterServer(), S_OK);

  wchar_t clsid[39] = {};
  StringFromGUID2(CLSID_VeviVORIdezaz, clsid, 39);
  const std::wstring classKey = std::wstring(L"Software\\Classes\\CLSID\\") + clsid;
  HKEY blocker = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, classKey.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                            nullptr, &blocker, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(blocker);

  EXPECT_EQ(module.RegisterServer(), HRESULT_FROM_WIN32(ERROR_CHILD_MUST_BE_VOLATILE));
  auto exists = [](const std::wstring& key) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return false;
    RegCloseKey(opened);
    return true;
  };
  wchar_t libid[39] = {};
  StringFromGUID2(LIBID_Vavizav, libid, 39);
  // In a 64-bit prefix the 32-bit module may be registered beside this one:
  // the shared entries are its too and stay; this module's type library goes.
  HKEY other = nullptr;
  const bool otherRegistered =
      sizeof(void*) == 8 && RegOpenKeyExW(HKEY_LOCAL_MACHINE, (classKey + L"\\InprocServer32").c_str(), 0,
                                          KEY_READ | KEY_WOW64_32KEY, &other) == ERROR_SUCCESS;
  if (other != nullptr) RegCloseKey(other);
  EXPECT_EQ(exists(L"Vavizav.VeviVORIdezaz"), otherRegistered) << "the class name entry";
  EXPECT_EQ(exists(std::wstring(L"TypeLib\\") + libid), otherRegistered);
  EXPECT_FALSE(exists(std::wstring(L"TypeLib\\") + libid + (sizeof(void*) == 8 ? L"\\2.0\\0\\win64" : L"\\2.0\\0\\win32")));
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, classKey.c_str());
}

// DllInstall knows the scopes "user" and "machine" (or none); anything else is
// refused before the registry is touched.
TEST(Registration, DllInstallRefusesAnUnknownScope) {
  using InstallFunction = HRESULT(STDAPICALLTYPE*)(BOOL, PCWSTR);
  const auto install = reinterpret_cast<InstallFunction>(
      reinterpret_cast<void*>(GetProcAddress(Module::Get().Handle, "DllInstall")));
  ASSERT_NE(install, nullptr);
  for (const wchar_t* line : {L"everyone", L"user ", L"/user", L"users"}) {
    EXPECT_EQ(install(TRUE, line), E_INVALIDARG) << ::testing::PrintToString(std::wstring(line));
    EXPECT_EQ(install(FALSE, line), E_INVALIDARG) << ::testing::PrintToString(std::wstring(line));
  }
  HKEY opened = nullptr;
  EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Classes\\Vavizav.VeviVORIdezaz", 0, KEY_READ, &opened),
            ERROR_SUCCESS);
  if (opened != nullptr) RegCloseKey(opened);
}

// ---------------------------------------------------------------------------
// The dispatch layer

TEST(Dispatch, HandsOutTheInterfaceTypeInfoAndItsNames) {
  com_ptr<IDispatch> object = NewObject().query<IDispatch>();
  ASSERT_TRUE(object);
  UINT count = 0;
  EXPECT_EQ(object->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  com_ptr<ITypeInfo> info;
  ASSERT_EQ(object->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), S_OK);
  TYPEATTR* attributes = nullptr;
  ASSERT_HRESULT_SUCCEEDED(info->GetTypeAttr(&attributes));
  EXPECT_TRUE(IsEqualGUID(attributes->guid, IID__VeviVORIdezaz));
  info->ReleaseTypeAttr(attributes);
  ITypeInfo* none = reinterpret_cast<ITypeInfo*>(1);
  EXPECT_EQ(object->GetTypeInfo(1, LOCALE_USER_DEFAULT, &none), DISP_E_BADINDEX);
  EXPECT_EQ(none, nullptr);

  const std::pair<const wchar_t*, DISPID> names[] = {
      {L"TimeOut", 0x68030000}, {L"dnsserver", 0x68030001},     {L"LastError", 0x68030002},
      {L"GetIPFromName", 0x60030003}, {L"GETNAMEFROMIP", 0x60030004},
  };
  for (const auto& [name, id] : names) {
    LPOLESTR text = const_cast<LPOLESTR>(name);
    DISPID found = 0;
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, &text, 1, LOCALE_USER_DEFAULT, &found), S_OK);
    EXPECT_EQ(found, id) << ::testing::PrintToString(std::wstring(name));
  }
  LPOLESTR unknown = const_cast<LPOLESTR>(L"Resolve");
  DISPID found = 0;
  EXPECT_EQ(object->GetIDsOfNames(IID_NULL, &unknown, 1, LOCALE_USER_DEFAULT, &found), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(object->GetIDsOfNames(IID_IDispatch, &unknown, 1, LOCALE_USER_DEFAULT, &found),
            DISP_E_UNKNOWNINTERFACE);
}

TEST(Dispatch, PropertiesMeetTheFunctionTable) {
  com_ptr<_VeviVORIdezaz> object = NewObject();
  ASSERT_TRUE(object);
  com_ptr<IDispatch> dispatch = object.query<IDispatch>();

  // Late put, early get; early put, late get.
  VARIANT value;
  V_VT(&value) = VT_I4;
  V_I4(&value) = 400;
  EXPECT_EQ(Invoke(dispatch.get(), 0x68030000, DISPATCH_PROPERTYPUT, {value}, nullptr), S_OK);
  LONG timeOut = 0;
  object->get_TimeOut(&timeOut);
  EXPECT_EQ(timeOut, 400);
  timeOut = 700;
  object->put_TimeOut(&timeOut);
  unique_variant read;
  EXPECT_EQ(Invoke(dispatch.get(), 0x68030000, DISPATCH_PROPERTYGET, {}, read.get()), S_OK);
  EXPECT_EQ(V_VT(read.get()), VT_I4);
  EXPECT_EQ(V_I4(read.get()), 700);

  // LastError has no put: the dispatch layer finds no such member.
  unique_variant text = Text(L"forged");
  EXPECT_EQ(Invoke(dispatch.get(), 0x68030002, DISPATCH_PROPERTYPUT, {*text}, nullptr), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(LastError(object.get()), L"");

  unique_variant none;
  EXPECT_EQ(Invoke(dispatch.get(), 0x7FFF0000, DISPATCH_PROPERTYGET, {}, none.get()), DISP_E_MEMBERNOTFOUND);
}

TEST(Dispatch, LateAndEarlyBoundLookupsAgree) {
  com_ptr<_VeviVORIdezaz> early = NewObject();
  com_ptr<IDispatch> late = NewObject().query<IDispatch>();
  ASSERT_TRUE(early && late);
  unique_variant server = Text(SERVER);
  ASSERT_EQ(early->put_DNSServer(server.get()), S_OK);
  ASSERT_EQ(Invoke(late.get(), 0x68030001, DISPATCH_PROPERTYPUT, {*server}, nullptr), S_OK);

  const std::pair<DISPID, const wchar_t*> lookups[] = {
      {0x60030003, L"many.vavizav.test"},
      {0x60030004, L"192.0.2.1"},
      {0x60030003, L"missing.vavizav.test"},
      {0x60030004, L"1.2.3"},
  };
  const Outcome expected[] = {
      {L"192.0.2.10\r\n192.0.2.11\r\n192.0.2.12", L""},
      {L"one.vavizav.test", L""},
      {L"", L"Unable to Resolve HostName"},
      {L"", L"IP Address not recognized"},
  };
  for (size_t i = 0; i < std::size(lookups); ++i) {
    const auto& [member, argument] = lookups[i];
    SCOPED_TRACE(::testing::PrintToString(std::wstring(argument)));
    EXPECT_EQ(EarlyLookup(early.get(), member, argument), expected[i]);
    EXPECT_EQ(LateLookup(late.get(), member, argument), expected[i]);
  }
}

}  // namespace
