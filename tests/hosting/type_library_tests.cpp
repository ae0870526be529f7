// The type library embedded in Vavizav.dll: library, class and interface
// attributes and the member table in slot order.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>

#include <string>
#include <utility>
#include <vector>

#include "module_fixture.h"

namespace vavizav::testing {

using runtime::BstrView;
using runtime::com_ptr;
using runtime::unique_bstr;

namespace {

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
  // VeviVORIdezaz and its interface, then Record, Records, Answer, Batch, Resolver: an interface and a
  // class each; and the Resolver's events.
  EXPECT_EQ(library_->GetTypeInfoCount(), 13u);
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
// The second class and the objects it hands out: classes and interfaces of
// the same kind as the first, and their member tables pinned as the first's is
// (slot order, dispatch identifiers, kinds), since early-bound clients compile
// against them.

struct NewMember {
  const wchar_t* Name;
  MEMBERID Id;
  INVOKEKIND Kind;
};

struct NewInterface {
  const IID* Iid;
  const wchar_t* Name;
  const CLSID* Clsid;
  const wchar_t* ClassName;
  bool Creatable;
  std::vector<NewMember> Members;  // in slot order from slot 7
};

const std::vector<NewInterface>& NewInterfaces() {
  static const std::vector<NewInterface> interfaces = {
      {&IID__Resolver, L"_Resolver", &CLSID_Resolver, L"Resolver", true,
       {{L"DNSServer", 1, INVOKE_PROPERTYGET}, {L"DNSServer", 1, INVOKE_PROPERTYPUT},
        {L"TimeOut", 2, INVOKE_PROPERTYGET}, {L"TimeOut", 2, INVOKE_PROPERTYPUT},
        {L"MaxInFlight", 3, INVOKE_PROPERTYGET}, {L"MaxInFlight", 3, INVOKE_PROPERTYPUT},
        {L"LastError", 4, INVOKE_PROPERTYGET}, {L"Resolve", 5, INVOKE_FUNC}, {L"ResolveMany", 6, INVOKE_FUNC},
        {L"SearchList", 7, INVOKE_PROPERTYGET}, {L"SearchList", 7, INVOKE_PROPERTYPUT},
        {L"DnssecOk", 20, INVOKE_PROPERTYGET}, {L"DnssecOk", 20, INVOKE_PROPERTYPUT},
        {L"Cache", 21, INVOKE_PROPERTYGET}, {L"Cache", 21, INVOKE_PROPERTYPUT},
        {L"CacheSize", 22, INVOKE_PROPERTYGET}, {L"CacheSize", 22, INVOKE_PROPERTYPUT},
        {L"FlushCache", 23, INVOKE_FUNC}, {L"Cancel", 8, INVOKE_FUNC}, {L"Listener", 9, INVOKE_PROPERTYGET},
        {L"Listener", 9, INVOKE_PROPERTYPUT}, {L"Listener", 9, INVOKE_PROPERTYPUTREF},
        {L"ResolveManyAsync", 10, INVOKE_FUNC}}},
      {&IID__Batch, L"_Batch", &CLSID_Batch, L"Batch", false,
       {{L"Total", 1, INVOKE_PROPERTYGET}, {L"Done", 2, INVOKE_PROPERTYGET}, {L"Finished", 3, INVOKE_PROPERTYGET},
        {L"Wait", 4, INVOKE_FUNC}, {L"Cancel", 5, INVOKE_FUNC}, {L"Answers", 6, INVOKE_PROPERTYGET}}},
      {&IID__Answer, L"_Answer", &CLSID_Answer, L"Answer", false,
       {{L"Text", DISPID_VALUE, INVOKE_PROPERTYGET}, {L"Name", 1, INVOKE_PROPERTYGET},
        {L"Type", 2, INVOKE_PROPERTYGET}, {L"Status", 3, INVOKE_PROPERTYGET}, {L"Records", 4, INVOKE_PROPERTYGET},
        {L"CanonicalName", 5, INVOKE_PROPERTYGET}, {L"Server", 6, INVOKE_PROPERTYGET},
        {L"Authoritative", 7, INVOKE_PROPERTYGET}, {L"RecursionAvailable", 8, INVOKE_PROPERTYGET},
        {L"Authority", 9, INVOKE_PROPERTYGET}, {L"Additional", 10, INVOKE_PROPERTYGET},
        {L"Transport", 11, INVOKE_PROPERTYGET}, {L"Elapsed", 12, INVOKE_PROPERTYGET},
        {L"Authenticated", 20, INVOKE_PROPERTYGET}, {L"ExtendedError", 21, INVOKE_PROPERTYGET},
        {L"FromCache", 22, INVOKE_PROPERTYGET}}},
      {&IID__Records, L"_Records", &CLSID_Records, L"Records", false,
       {{L"Item", DISPID_VALUE, INVOKE_FUNC}, {L"Count", 1, INVOKE_PROPERTYGET},
        {L"_NewEnum", DISPID_NEWENUM, INVOKE_PROPERTYGET}}},
      {&IID__Record, L"_Record", &CLSID_Record, L"Record", false,
       {{L"Data", DISPID_VALUE, INVOKE_PROPERTYGET}, {L"Name", 1, INVOKE_PROPERTYGET},
        {L"Type", 2, INVOKE_PROPERTYGET}, {L"TTL", 3, INVOKE_PROPERTYGET}, {L"Address", 4, INVOKE_PROPERTYGET},
        {L"Target", 5, INVOKE_PROPERTYGET}, {L"Preference", 6, INVOKE_PROPERTYGET},
        {L"Priority", 7, INVOKE_PROPERTYGET}, {L"Weight", 8, INVOKE_PROPERTYGET}, {L"Port", 9, INVOKE_PROPERTYGET},
        {L"Text", 10, INVOKE_PROPERTYGET}, {L"Strings", 11, INVOKE_PROPERTYGET},
        {L"PrimaryServer", 12, INVOKE_PROPERTYGET}, {L"ResponsibleMailbox", 13, INVOKE_PROPERTYGET},
        {L"Serial", 14, INVOKE_PROPERTYGET}, {L"Refresh", 15, INVOKE_PROPERTYGET},
        {L"Retry", 16, INVOKE_PROPERTYGET}, {L"Expire", 17, INVOKE_PROPERTYGET},
        {L"Minimum", 18, INVOKE_PROPERTYGET}, {L"Flags", 19, INVOKE_PROPERTYGET}, {L"Tag", 20, INVOKE_PROPERTYGET},
        {L"Value", 21, INVOKE_PROPERTYGET}, {L"KeyTag", 22, INVOKE_PROPERTYGET},
        {L"Algorithm", 23, INVOKE_PROPERTYGET}, {L"DigestType", 24, INVOKE_PROPERTYGET},
        {L"Digest", 25, INVOKE_PROPERTYGET}, {L"Usage", 26, INVOKE_PROPERTYGET},
        {L"Selector", 27, INVOKE_PROPERTYGET}, {L"MatchingType", 28, INVOKE_PROPERTYGET},
        {L"Protocol", 29, INVOKE_PROPERTYGET}, {L"PublicKey", 30, INVOKE_PROPERTYGET},
        {L"TypeCovered", 31, INVOKE_PROPERTYGET}, {L"Labels", 32, INVOKE_PROPERTYGET},
        {L"OriginalTTL", 33, INVOKE_PROPERTYGET}, {L"Expiration", 34, INVOKE_PROPERTYGET},
        {L"Inception", 35, INVOKE_PROPERTYGET}, {L"SignerName", 36, INVOKE_PROPERTYGET},
        {L"Signature", 37, INVOKE_PROPERTYGET}, {L"NextName", 38, INVOKE_PROPERTYGET},
        {L"Types", 39, INVOKE_PROPERTYGET}, {L"Iterations", 40, INVOKE_PROPERTYGET},
        {L"Salt", 41, INVOKE_PROPERTYGET}, {L"NextHashedOwner", 42, INVOKE_PROPERTYGET},
        {L"Params", 43, INVOKE_PROPERTYGET}, {L"Latitude", 44, INVOKE_PROPERTYGET},
        {L"Longitude", 45, INVOKE_PROPERTYGET}, {L"Altitude", 46, INVOKE_PROPERTYGET},
        {L"Size", 47, INVOKE_PROPERTYGET}, {L"HorizontalPrecision", 48, INVOKE_PROPERTYGET},
        {L"VerticalPrecision", 49, INVOKE_PROPERTYGET}}},
  };
  return interfaces;
}

TEST_F(TypeLibrary, SecondClassInterfacesAreDualHiddenNonextensibleWithPinnedMemberTables) {
  for (const NewInterface& expected : NewInterfaces()) {
    SCOPED_TRACE(::testing::Message() << ::testing::PrintToString(std::wstring(expected.Name)));
    com_ptr<ITypeInfo> dispatchSide = Type(*expected.Iid);
    ASSERT_TRUE(dispatchSide);
    EXPECT_EQ(Name(dispatchSide.get()), expected.Name);
    const WORD both = TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE;
    const TYPEATTR attributes = Attributes(dispatchSide.get());
    EXPECT_EQ(attributes.typekind, TKIND_DISPATCH);
    EXPECT_EQ(attributes.wTypeFlags & (both | TYPEFLAG_FDISPATCHABLE), both | TYPEFLAG_FDISPATCHABLE);

    HREFTYPE ref = 0;
    com_ptr<ITypeInfo> vtableSide;
    ASSERT_HRESULT_SUCCEEDED(dispatchSide->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));
    ASSERT_HRESULT_SUCCEEDED(dispatchSide->GetRefTypeInfo(ref, vtableSide.put()));
    const TYPEATTR vtable = Attributes(vtableSide.get());
    EXPECT_EQ(vtable.wTypeFlags & (both | TYPEFLAG_FOLEAUTOMATION), both | TYPEFLAG_FOLEAUTOMATION);
    ASSERT_EQ(vtable.cFuncs, static_cast<WORD>(expected.Members.size()));
    EXPECT_EQ(vtable.cbSizeVft, (7 + expected.Members.size()) * sizeof(void*));
    for (UINT index = 0; index < expected.Members.size(); ++index) {
      const NewMember& member = expected.Members[index];
      FUNCDESC* function = nullptr;
      ASSERT_HRESULT_SUCCEEDED(vtableSide->GetFuncDesc(index, &function));
      EXPECT_EQ(function->oVft, static_cast<SHORT>((7 + index) * sizeof(void*))) << "slot of " << index;
      EXPECT_EQ(function->memid, member.Id) << index;
      EXPECT_EQ(function->invkind, member.Kind) << index;
      // Record's Value reads "value": the library keeps the first spelling
      // of a name, and the first class's parameters wrote it first.
      const std::wstring name = Name(vtableSide.get(), function->memid);
      EXPECT_EQ(name, std::wstring(member.Name) == L"Value" ? L"value" : member.Name);
      // Only the enumerator is hidden from scripts' browsers.
      const bool enumerator = member.Id == DISPID_NEWENUM;
      EXPECT_EQ((function->wFuncFlags & (FUNCFLAG_FRESTRICTED | FUNCFLAG_FHIDDEN)) != 0, enumerator) << index;
      vtableSide->ReleaseFuncDesc(function);
    }

    com_ptr<ITypeInfo> coclass = Type(*expected.Clsid);
    ASSERT_TRUE(coclass);
    EXPECT_EQ(Name(coclass.get()), expected.ClassName);
    EXPECT_EQ((Attributes(coclass.get()).wTypeFlags & TYPEFLAG_FCANCREATE) != 0, expected.Creatable);
  }
  // Resolve's, ResolveMany's and ResolveManyAsync's Type may be left out.
  com_ptr<ITypeInfo> resolver = Type(IID__Resolver);
  HREFTYPE ref = 0;
  com_ptr<ITypeInfo> vtableSide;
  ASSERT_HRESULT_SUCCEEDED(resolver->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));
  ASSERT_HRESULT_SUCCEEDED(resolver->GetRefTypeInfo(ref, vtableSide.put()));
  for (const UINT index : {7u, 8u, 22u}) {
    FUNCDESC* function = nullptr;
    ASSERT_HRESULT_SUCCEEDED(vtableSide->GetFuncDesc(index, &function));
    ASSERT_EQ(function->cParams, 3);
    EXPECT_TRUE(function->lprgelemdescParam[1].paramdesc.wParamFlags & PARAMFLAG_FOPT);
    EXPECT_FALSE(function->lprgelemdescParam[0].paramdesc.wParamFlags & PARAMFLAG_FOPT);
    vtableSide->ReleaseFuncDesc(function);
  }
  // Batch's Wait may be called without its milliseconds.
  com_ptr<ITypeInfo> batch = Type(IID__Batch);
  com_ptr<ITypeInfo> batchTable;
  ASSERT_HRESULT_SUCCEEDED(batch->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));
  ASSERT_HRESULT_SUCCEEDED(batch->GetRefTypeInfo(ref, batchTable.put()));
  FUNCDESC* wait = nullptr;
  ASSERT_HRESULT_SUCCEEDED(batchTable->GetFuncDesc(3, &wait));
  EXPECT_EQ(wait->memid, 4);
  ASSERT_EQ(wait->cParams, 2);
  EXPECT_TRUE(wait->lprgelemdescParam[0].paramdesc.wParamFlags & PARAMFLAG_FOPT);
  EXPECT_EQ(wait->lprgelemdescParam[0].tdesc.vt, VT_VARIANT);
  batchTable->ReleaseFuncDesc(wait);
  // Record's Strings takes an optional index (rec.Strings(0)).
  com_ptr<ITypeInfo> record = Type(IID__Record);
  com_ptr<ITypeInfo> recordTable;
  ASSERT_HRESULT_SUCCEEDED(record->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref));
  ASSERT_HRESULT_SUCCEEDED(record->GetRefTypeInfo(ref, recordTable.put()));
  FUNCDESC* strings = nullptr;
  ASSERT_HRESULT_SUCCEEDED(recordTable->GetFuncDesc(11, &strings));
  EXPECT_EQ(strings->memid, 11);
  ASSERT_EQ(strings->cParams, 2);
  EXPECT_TRUE(strings->lprgelemdescParam[0].paramdesc.wParamFlags & PARAMFLAG_FOPT);
  EXPECT_EQ(strings->lprgelemdescParam[0].tdesc.vt, VT_VARIANT);
  recordTable->ReleaseFuncDesc(strings);
}

// The Resolver's events: a hidden dispinterface (no function table), its two
// methods with their dispatch identifiers and parameters, and the Resolver
// class naming it as its default source beside its default interface.
TEST_F(TypeLibrary, ResolverEventsAreTheClassDefaultSourceDispinterface) {
  com_ptr<ITypeInfo> events = Type(DIID__ResolverEvents);
  ASSERT_TRUE(events);
  EXPECT_EQ(Name(events.get()), L"_ResolverEvents");
  const TYPEATTR attributes = Attributes(events.get());
  EXPECT_EQ(attributes.typekind, TKIND_DISPATCH);
  EXPECT_TRUE(attributes.wTypeFlags & TYPEFLAG_FHIDDEN);
  EXPECT_FALSE(attributes.wTypeFlags & TYPEFLAG_FDUAL);
  EXPECT_EQ(attributes.cVars, 0);
  ASSERT_EQ(attributes.cFuncs, 2);
  HREFTYPE dual = 0;
  EXPECT_EQ(events->GetRefTypeOfImplType(static_cast<UINT>(-1), &dual), TYPE_E_ELEMENTNOTFOUND);

  struct Event {
    const wchar_t* Name;
    MEMBERID Id;
    std::vector<std::wstring> Parameters;
    VARTYPE Last;  // the second parameter's type (VT_PTR for the Answer)
  };
  const Event expected[] = {{L"Progress", 1, {L"Progress", L"Done", L"Total"}, VT_I4},
                            {L"Answered", 2, {L"Answered", L"Index", L"Answer"}, VT_PTR}};
  for (UINT index = 0; index < 2; ++index) {
    FUNCDESC* function = nullptr;
    ASSERT_HRESULT_SUCCEEDED(events->GetFuncDesc(index, &function));
    EXPECT_EQ(function->memid, expected[index].Id);
    EXPECT_EQ(function->invkind, INVOKE_FUNC);
    EXPECT_EQ(function->funckind, FUNC_DISPATCH);
    EXPECT_EQ(function->elemdescFunc.tdesc.vt, VT_VOID);
    ASSERT_EQ(function->cParams, 2);
    EXPECT_EQ(function->lprgelemdescParam[0].tdesc.vt, VT_I4);
    EXPECT_EQ(function->lprgelemdescParam[1].tdesc.vt, expected[index].Last);
    if (function->lprgelemdescParam[1].tdesc.vt == VT_PTR) {
      // Answered's Answer: a pointer to _Answer.
      const TYPEDESC* pointed = function->lprgelemdescParam[1].tdesc.lptdesc;
      ASSERT_EQ(pointed->vt, VT_USERDEFINED);
      com_ptr<ITypeInfo> answer;
      ASSERT_HRESULT_SUCCEEDED(events->GetRefTypeInfo(pointed->hreftype, answer.put()));
      EXPECT_TRUE(IsEqualGUID(Attributes(answer.get()).guid, IID__Answer));
    }
    BSTR names[3] = {};
    UINT count = 0;
    ASSERT_HRESULT_SUCCEEDED(events->GetNames(function->memid, names, 3, &count));
    std::vector<std::wstring> read;
    for (UINT i = 0; i < count; ++i) {
      read.emplace_back(BstrView(names[i]));
      SysFreeString(names[i]);
    }
    EXPECT_EQ(read, expected[index].Parameters);
    events->ReleaseFuncDesc(function);
  }

  com_ptr<ITypeInfo> coclass = Type(CLSID_Resolver);
  ASSERT_TRUE(coclass);
  ASSERT_EQ(Attributes(coclass.get()).cImplTypes, 2);
  const std::pair<const IID*, INT> implemented[] = {{&IID__Resolver, IMPLTYPEFLAG_FDEFAULT},
                                                    {&DIID__ResolverEvents, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE}};
  for (UINT i = 0; i < 2; ++i) {
    INT flags = 0;
    HREFTYPE ref = 0;
    com_ptr<ITypeInfo> type;
    ASSERT_HRESULT_SUCCEEDED(coclass->GetImplTypeFlags(i, &flags));
    ASSERT_HRESULT_SUCCEEDED(coclass->GetRefTypeOfImplType(i, &ref));
    ASSERT_HRESULT_SUCCEEDED(coclass->GetRefTypeInfo(ref, type.put()));
    EXPECT_TRUE(IsEqualGUID(Attributes(type.get()).guid, *implemented[i].first)) << i;
    EXPECT_EQ(flags, implemented[i].second) << i;
  }
  // Batch is handed out, never made by clients.
  com_ptr<ITypeInfo> batch = Type(CLSID_Batch);
  ASSERT_TRUE(batch);
  EXPECT_FALSE(Attributes(batch.get()).wTypeFlags & TYPEFLAG_FCANCREATE);
  EXPECT_EQ(Attributes(batch.get()).typekind, TKIND_COCLASS);
}

}  // namespace
}  // namespace vavizav::testing
