// What examples/excel/VavizavColumn.bas does inside Excel, done from C++ so
// that it runs without Excel: a range's values are a two-dimensional VARIANT
// array with bounds from 1 (Range.Value), handed to Vavizav.Resolver's
// ResolveMany late bound, as VBA does; the answers fill the next column (an
// answer's Text, or its Status when it has no records; blank cells stay
// blank).
//
//   range_client [SERVER]
//
// The sheets below hold names of the zone corp.test that the project's tests
// serve. Each sheet is checked: the answers have the values' dimensions and
// bounds, an Answer per cell, and the expected column. The last line reads
// "N passed, M failed"; exit status 0 when nothing failed.

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace {

int passed = 0;
int failed = 0;

void Check(bool ok, const std::wstring& what) {
  if (ok) {
    ++passed;
  } else {
    ++failed;
    std::wprintf(L"FAILED: %ls\n", what.c_str());
  }
}

// Owns one VARIANT.
class Variant {
 public:
  Variant() { VariantInit(&value_); }
  explicit Variant(const wchar_t* text) : Variant() {
    V_VT(&value_) = VT_BSTR;
    V_BSTR(&value_) = SysAllocString(text);
  }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(&value_); }
  VARIANT* Get() { return &value_; }
  const VARIANT& operator*() const { return value_; }

 private:
  VARIANT value_;
};

// Owns one interface pointer.
template <typename T>
class Ref {
 public:
  Ref() = default;
  explicit Ref(T* held) : held_(held) {}
  Ref(Ref&& other) noexcept : held_(std::exchange(other.held_, nullptr)) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() {
    if (held_ != nullptr) held_->Release();
  }
  T* Get() const { return held_; }
  T** Put() { return &held_; }

 private:
  T* held_ = nullptr;
};

// Owns one SAFEARRAY.
class SafeArray {
 public:
  explicit SafeArray(SAFEARRAY* held) : held_(held) {}
  SafeArray(const SafeArray&) = delete;
  SafeArray& operator=(const SafeArray&) = delete;
  ~SafeArray() {
    if (held_ != nullptr) SafeArrayDestroy(held_);
  }
  SAFEARRAY* Get() const { return held_; }

 private:
  SAFEARRAY* held_;
};

// Late-bound calls by member name, as VBA makes them on an Object variable.
HRESULT Call(IDispatch* object, const wchar_t* member, WORD kind, std::vector<VARIANT*> arguments, VARIANT* result) {
  DISPID id = 0;
  LPOLESTR name = const_cast<LPOLESTR>(member);
  HRESULT hr = object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  // DISPPARAMS hold the arguments last first.
  std::vector<VARIANT> reversed;
  for (auto it = arguments.rbegin(); it != arguments.rend(); ++it) reversed.push_back(**it);
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS parameters{reversed.data(), kind == DISPATCH_PROPERTYPUT ? &put : nullptr,
                        static_cast<UINT>(reversed.size()), kind == DISPATCH_PROPERTYPUT ? 1u : 0u};
  EXCEPINFO exception{};
  hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &parameters, result, &exception, nullptr);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
  return hr;
}

std::wstring TextOf(IDispatch* object, const wchar_t* member) {
  Variant value;
  if (FAILED(Call(object, member, DISPATCH_PROPERTYGET, {}, value.Get())) || V_VT(value.Get()) != VT_BSTR) {
    return L"(no " + std::wstring(member) + L")";
  }
  return V_BSTR(value.Get()) == nullptr ? std::wstring() : std::wstring(V_BSTR(value.Get()));
}

long CountOf(IDispatch* answer) {
  Variant records, count;
  if (FAILED(Call(answer, L"Records", DISPATCH_PROPERTYGET, {}, records.Get())) ||
      V_VT(records.Get()) != VT_DISPATCH ||
      FAILED(Call(V_DISPATCH(records.Get()), L"Count", DISPATCH_PROPERTYGET, {}, count.Get())) ||
      FAILED(VariantChangeType(count.Get(), count.Get(), 0, VT_I4))) {
    return -1;
  }
  return V_I4(count.Get());
}

// A cell of a sheet: what Range.Value holds for it.
struct Cell {
  VARTYPE Type;           // VT_BSTR, VT_EMPTY (a blank cell), VT_R8 (a number), VT_ERROR (#N/A)
  const wchar_t* Text;    // the name, for VT_BSTR
  const wchar_t* Expect;  // the next column's cell: "" blank, "*" any status but NOERROR
};

struct Sheet {
  const wchar_t* Title;
  const wchar_t* Type;
  LONG Rows, Columns;
  LONG RowBase, ColumnBase;  // Range.Value: 1 and 1
  std::vector<Cell> Cells;   // row by row
};

// The range's values as Excel hands them to VBA.
SAFEARRAY* RangeValue(const Sheet& sheet) {
  SAFEARRAYBOUND bounds[2] = {{static_cast<ULONG>(sheet.Rows), sheet.RowBase},
                              {static_cast<ULONG>(sheet.Columns), sheet.ColumnBase}};
  SAFEARRAY* values = SafeArrayCreate(VT_VARIANT, 2, bounds);
  if (values == nullptr) return nullptr;
  for (LONG r = 0; r < sheet.Rows; ++r) {
    for (LONG c = 0; c < sheet.Columns; ++c) {
      const Cell& cell = sheet.Cells[static_cast<std::size_t>(r * sheet.Columns + c)];
      VARIANT value;
      VariantInit(&value);
      V_VT(&value) = cell.Type;
      if (cell.Type == VT_BSTR) V_BSTR(&value) = SysAllocString(cell.Text);
      if (cell.Type == VT_R8) V_R8(&value) = 42;
      if (cell.Type == VT_ERROR) V_ERROR(&value) = static_cast<SCODE>(0x800A07FA);  // #N/A
      LONG at[2] = {sheet.RowBase + r, sheet.ColumnBase + c};
      SafeArrayPutElement(values, at, &value);
      VariantClear(&value);
    }
  }
  return values;
}

// The module's rule for the next column's cell.
std::wstring NextColumnCell(const Cell& cell, IDispatch* answer) {
  if (cell.Type == VT_EMPTY || cell.Type == VT_ERROR) return L"";
  if (CountOf(answer) > 0) return TextOf(answer, L"Text");
  return TextOf(answer, L"Status");
}

std::wstring CellText(const Cell& cell) {
  switch (cell.Type) {
    case VT_BSTR: return cell.Text;
    case VT_R8: return L"42";
    case VT_ERROR: return L"#N/A";
    default: return L"";
  }
}

std::wstring OneLine(std::wstring text) {
  for (std::size_t at; (at = text.find(L"\r\n")) != std::wstring::npos;) text.replace(at, 2, L" | ");
  return text;
}

void RunSheet(IDispatch* resolver, const Sheet& sheet) {
  std::wprintf(L"%ls: ResolveMany(values, \"%ls\"), values(%ld To %ld, %ld To %ld)\n", sheet.Title, sheet.Type,
               sheet.RowBase, sheet.RowBase + sheet.Rows - 1, sheet.ColumnBase, sheet.ColumnBase + sheet.Columns - 1);
  SafeArray values(RangeValue(sheet));
  Check(values.Get() != nullptr, std::wstring(sheet.Title) + L": the range's array");
  if (values.Get() == nullptr) return;

  // VBA passes its variables by reference: values (a Variant holding the
  // array) as VT_BYREF | VT_VARIANT, recordType (a String) as VT_BYREF | VT_BSTR.
  VARIANT valuesVariable;
  VariantInit(&valuesVariable);
  V_VT(&valuesVariable) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(&valuesVariable) = values.Get();  // still owned by `values`
  VARIANT valuesArgument;
  VariantInit(&valuesArgument);
  V_VT(&valuesArgument) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&valuesArgument) = &valuesVariable;
  Variant type(sheet.Type), answers;
  BSTR typeVariable = V_BSTR(type.Get());
  VARIANT typeArgument;
  VariantInit(&typeArgument);
  V_VT(&typeArgument) = VT_BYREF | VT_BSTR;
  V_BSTRREF(&typeArgument) = &typeVariable;
  const HRESULT hr = Call(resolver, L"ResolveMany", DISPATCH_METHOD, {&valuesArgument, &typeArgument}, answers.Get());
  Check(SUCCEEDED(hr), std::wstring(sheet.Title) + L": ResolveMany succeeds");
  Check(V_VT(&valuesVariable) == (VT_ARRAY | VT_VARIANT) && V_ARRAY(&valuesVariable) == values.Get() &&
            typeVariable == V_BSTR(type.Get()),
        std::wstring(sheet.Title) + L": the caller's variables are left as they were");
  if (FAILED(hr)) return;

  Check(V_VT(answers.Get()) == (VT_ARRAY | VT_VARIANT), std::wstring(sheet.Title) + L": an array of Variant");
  if (V_VT(answers.Get()) != (VT_ARRAY | VT_VARIANT)) return;
  SAFEARRAY* result = V_ARRAY(answers.Get());
  Check(SafeArrayGetDim(result) == 2, std::wstring(sheet.Title) + L": two dimensions");
  if (SafeArrayGetDim(result) != 2) return;
  LONG low = 0, high = 0;
  bool same = true;
  SafeArrayGetLBound(result, 1, &low);
  SafeArrayGetUBound(result, 1, &high);
  same = same && low == sheet.RowBase && high == sheet.RowBase + sheet.Rows - 1;
  SafeArrayGetLBound(result, 2, &low);
  SafeArrayGetUBound(result, 2, &high);
  same = same && low == sheet.ColumnBase && high == sheet.ColumnBase + sheet.Columns - 1;
  Check(same, std::wstring(sheet.Title) + L": the bounds of the values");
  if (!same) return;

  for (LONG r = 0; r < sheet.Rows; ++r) {
    for (LONG c = 0; c < sheet.Columns; ++c) {
      const Cell& cell = sheet.Cells[static_cast<std::size_t>(r * sheet.Columns + c)];
      LONG at[2] = {sheet.RowBase + r, sheet.ColumnBase + c};
      Variant element;
      SafeArrayGetElement(result, at, element.Get());
      const std::wstring where = std::wstring(sheet.Title) + L" (" + std::to_wstring(at[0]) + L", " +
                                 std::to_wstring(at[1]) + L") " + CellText(cell);
      const bool isAnswer = V_VT(element.Get()) == VT_DISPATCH && V_DISPATCH(element.Get()) != nullptr;
      Check(isAnswer, where + L": an Answer");
      if (!isAnswer) continue;
      IDispatch* answer = V_DISPATCH(element.Get());
      const std::wstring next = NextColumnCell(cell, answer);
      std::wprintf(L"  %-22ls %ls\n", CellText(cell).c_str(), OneLine(next).c_str());
      const std::wstring expected = cell.Expect;
      if (expected == L"*") {
        Check(!next.empty() && next != L"NOERROR" && TextOf(answer, L"Status") != L"NOERROR",
              where + L": a failure status, got '" + next + L"'");
      } else {
        Check(next == expected, where + L": got '" + OneLine(next) + L"', expected '" + OneLine(expected) + L"'");
      }
    }
  }
}

// COM in an apartment, as in Excel's main thread.
class Apartment {
 public:
  Apartment() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;
  ~Apartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  HRESULT Result() const { return hr_; }

 private:
  HRESULT hr_;
};

int Run(int argc, wchar_t** argv) {
  if (argc > 2) {
    std::fwprintf(stderr, L"Usage: range_client [SERVER]\n");
    return 2;
  }
  CLSID clsid{};
  if (FAILED(CLSIDFromProgID(L"Vavizav.Resolver", &clsid))) {
    std::wprintf(L"FAILED: Vavizav.Resolver is not registered\n0 passed, 1 failed\n");
    return 1;
  }
  Ref<IDispatch> resolver;
  if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                              reinterpret_cast<void**>(resolver.Put())))) {
    std::wprintf(L"FAILED: CreateObject(\"Vavizav.Resolver\")\n0 passed, 1 failed\n");
    return 1;
  }
  if (argc == 2) {
    Variant server(argv[1]);
    Check(SUCCEEDED(Call(resolver.Get(), L"DNSServer", DISPATCH_PROPERTYPUT, {server.Get()}, nullptr)),
          L"DNSServer = server");
  }

  const wchar_t* const mx = L"20 mx2.corp.test.\r\n10 mx1.corp.test.";
  const Sheet sheets[] = {
      {L"A column of names (A2:A8)", L"A", 7, 1, 1, 1,
       {{VT_BSTR, L"mx1.corp.test", L"198.51.100.25"},
        {VT_BSTR, L"www.corp.test", L"198.51.100.80"},
        {VT_EMPTY, nullptr, L""},
        {VT_BSTR, L"missing.corp.test", L"NXDOMAIN"},
        {VT_BSTR, L"DC3.Corp.Test", L"198.51.100.13"},
        {VT_R8, nullptr, L"*"},
        {VT_ERROR, nullptr, L""}}},
      {L"One cell (B2), its Value wrapped into (1 To 1, 1 To 1)", L"MX", 1, 1, 1, 1,
       {{VT_BSTR, L"corp.test", mx}}},
      {L"A block of addresses (C2:D3)", L"PTR", 2, 2, 1, 1,
       {{VT_BSTR, L"198.51.100.11", L"dc1.corp.test."},
        {VT_BSTR, L"198.51.100.99", L"NXDOMAIN"},
        {VT_BSTR, L"2001:db8:100::80", L"www.corp.test."},
        {VT_BSTR, L"198.51.100.26", L"mx2.corp.test."}}},
      {L"A VBA array Dim v(3 To 4, 0 To 1)", L"AAAA", 2, 2, 3, 0,
       {{VT_BSTR, L"www.corp.test", L"2001:db8:100::80\r\n2001:db8:100::81"},
        {VT_BSTR, L"mx2.corp.test", L"NOERROR"},
        {VT_BSTR, L"dc3.corp.test", L"2001:db8:100::13"},
        {VT_BSTR, L"bad..name", L"BADNAME"}}},
  };
  for (const Sheet& sheet : sheets) RunSheet(resolver.Get(), sheet);

  std::wprintf(L"%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Apartment apartment;
  if (FAILED(apartment.Result())) {
    std::wprintf(L"FAILED: CoInitializeEx\n0 passed, 1 failed\n");
    return 1;
  }
  return Run(argc, argv);
}
