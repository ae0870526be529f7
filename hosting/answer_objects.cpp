#include "hosting/answer_objects.h"

#include <new>
#include <utility>
#include <vector>

#include "hosting/com_boundary.h"
#include "hosting/dual_object.h"
#include "runtime/handles.h"

namespace vavizav::hosting {

using resolver::AnswerText;
using resolver::JoinedStrings;
using resolver::RecordModel;
using resolver::StatusText;
using runtime::MakeBstr;
using runtime::OctetsToText;
using runtime::com_ptr;
using runtime::unique_bstr;
using runtime::unique_safearray;
using runtime::unique_variant;

namespace {

constexpr wchar_t SOURCE[] = L"Vavizav.Resolver";

HRESULT CopyOut(std::string_view octets, BSTR* out) {
  unique_bstr copy = MakeBstr(OctetsToText(octets));
  if (!copy) return E_OUTOFMEMORY;
  *out = copy.release();
  return S_OK;
}

HRESULT CopyOut(const std::wstring& text, BSTR* out) {
  unique_bstr copy = MakeBstr(text);
  if (!copy) return E_OUTOFMEMORY;
  *out = copy.release();
  return S_OK;
}

// A typed member's value: text, or Empty when the record has no such field.
HRESULT TextOrEmpty(const std::string& octets, bool present, VARIANT* out) {
  if (!present) return S_OK;
  BSTR text = nullptr;
  const HRESULT hr = CopyOut(octets, &text);
  if (FAILED(hr)) return hr;
  V_VT(out) = VT_BSTR;
  V_BSTR(out) = text;
  return S_OK;
}

template <typename Number>
HRESULT LongOrEmpty(const std::optional<Number>& number, VARIANT* out) {
  if (!number) return S_OK;
  V_VT(out) = VT_I4;
  V_I4(out) = static_cast<LONG>(*number);
  return S_OK;
}

// SOA's numbers are unsigned 32-bit: a Double holds all of them exactly.
HRESULT DoubleOrEmpty(const std::optional<std::uint32_t>& number, VARIANT* out) {
  if (!number) return S_OK;
  V_VT(out) = VT_R8;
  V_R8(out) = static_cast<double>(*number);
  return S_OK;
}

bool IsAddressType(std::uint16_t type) { return type == 1 || type == 28; }

// ---------------------------------------------------------------------------

class RecordObject final : public DualObject<_Record> {
 public:
  RecordObject(std::shared_ptr<const AnswerContent> content, std::size_t index) noexcept
      : content_(std::move(content)), index_(index) {}

  HRESULT STDMETHODCALLTYPE get_Data(BSTR* value) noexcept override {
    return Text(value, [](const RecordModel& r) -> const std::string& { return r.Data; });
  }
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* value) noexcept override {
    return Text(value, [](const RecordModel& r) -> const std::string& { return r.Name; });
  }
  HRESULT STDMETHODCALLTYPE get_Type(BSTR* value) noexcept override {
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    return Guarded([&] { return CopyOut(vbDNS::TypeMnemonic(Model().Type), value); });
  }
  HRESULT STDMETHODCALLTYPE get_TTL(LONG* value) noexcept override {
    if (value == nullptr) return E_POINTER;
    *value = static_cast<LONG>(Model().TTL);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Address(VARIANT* value) noexcept override {
    return Field(value, [](const RecordModel& r, VARIANT* out) {
      return TextOrEmpty(r.Fields.Address, IsAddressType(r.Type) && !r.Fields.Address.empty(), out);
    });
  }
  HRESULT STDMETHODCALLTYPE get_Target(VARIANT* value) noexcept override {
    return Field(value, [](const RecordModel& r, VARIANT* out) {
      return TextOrEmpty(r.Fields.Target, !r.Fields.Target.empty(), out);
    });
  }
  HRESULT STDMETHODCALLTYPE get_Preference(VARIANT* value) noexcept override {
    return Field(value, [](const RecordModel& r, VARIANT* out) { return LongOrEmpty(r.Fields.Preference, out); });
  }
  HRESULT STDMETHODCALLTYPE get_Priority(VARIANT* value) noexcept override {
    return Field(value, [](const RecordModel& r, VARIANT* out) { return LongOrEmpty(r.Fields.Priority, out); });
  }
  HRESULT STDMETHODCALLTYPE get_Weight(VARIANT* value) noexcept override {
    return Field(value, [](const RecordModel& r, VARIANT* out) { return LongOrEmpty(r.Fields.Weight, out); });
  }
  HRESULT STDMETHODCALLTYPE get_Port(VARIANT* value) noexcept override {
    return Field(value, [](const RecordModel& r, VARIANT* out) { return LongOrEmpty(r.Fields.Port, out); });
  }
  HRESULT STDMETHODCALLTYPE get_Text(VARIANT* value) noexcept override {
    return Field(value, [](const RecordModel& r, VARIANT* out) {
      return TextOrEmpty(JoinedStrings(r.Fields), !r.Fields.Strings.empty(), out);
    });
  }
  HRESULT STDMETHODCALLTYPE get_Strings(VARIANT* value) noexcept override {
    return Field(value, [](const RecordModel& r, VARIANT* out) -> HRESULT {
      const std::vector<std::string>& strings = r.Fields.Strings;
      if (strings.empty()) return S_OK;
      unique_safearray array(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(strings.size())));
      if (!array) return E_OUTOFMEMORY;
      for (LONG i = 0; i < static_cast<LONG>(strings.size()); ++i) {
        unique_variant element;
        const HRESULT hr = TextOrEmpty(strings[static_cast<std::size_t>(i)], true, element.get());
        if (FAILED(hr)) return hr;
        if (FAILED(SafeArrayPutElement(array.get(), &i, element.get()))) return E_OUTOFMEMORY;
      }
      V_VT(out) = VT_ARRAY | VT_VARIANT;
      V_ARRAY(out) = array.release();
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE get_PrimaryServer(VARIANT* value) noexcept override {
    return Field(value, [](const RecordModel& r, VARIANT* out) {
      return TextOrEmpty(r.Fields.PrimaryServer, !r.Fields.PrimaryServer.empty(), out);
    });
  }
  HRESULT STDMETHODCALLTYPE get_ResponsibleMailbox(VARIANT* value) noexcept override {
    return Field(value, [](const RecordModel& r, VARIANT* out) {
      return TextOrEmpty(r.Fields.ResponsibleMailbox, !r.Fields.ResponsibleMailbox.empty(), out);
    });
  }
  HRESULT STDMETHODCALLTYPE get_Serial(VARIANT* value) noexcept override {
    return Field(value, [](const RecordModel& r, VARIANT* out) { return DoubleOrEmpty(r.Fields.Serial, out); });
  }
  HRESULT STDMETHODCALLTYPE get_Refresh(VARIANT* value) noexcept override {
    return Field(value, [](const RecordModel& r, VARIANT* out) { return DoubleOrEmpty(r.Fields.Refresh, out); });
  }
  HRESULT STDMETHODCALLTYPE get_Retry(VARIANT* value) noexcept override {
    return Field(value, [](const RecordModel& r, VARIANT* out) { return DoubleOrEmpty(r.Fields.Retry, out); });
  }
  HRESULT STDMETHODCALLTYPE get_Expire(VARIANT* value) noexcept override {
    return Field(value, [](const RecordModel& r, VARIANT* out) { return DoubleOrEmpty(r.Fields.Expire, out); });
  }
  HRESULT STDMETHODCALLTYPE get_Minimum(VARIANT* value) noexcept override {
    return Field(value, [](const RecordModel& r, VARIANT* out) { return DoubleOrEmpty(r.Fields.Minimum, out); });
  }
  HRESULT STDMETHODCALLTYPE get_Flags(VARIANT* value) noexcept override {
    return Field(value, [](const RecordModel& r, VARIANT* out) { return LongOrEmpty(r.Fields.Flags, out); });
  }
  HRESULT STDMETHODCALLTYPE get_Tag(VARIANT* value) noexcept override {
    return Field(value, [](const RecordModel& r, VARIANT* out) {
      return TextOrEmpty(r.Fields.Tag, r.Fields.Flags.has_value(), out);
    });
  }
  HRESULT STDMETHODCALLTYPE get_Value(VARIANT* value) noexcept override {
    return Field(value, [](const RecordModel& r, VARIANT* out) {
      return TextOrEmpty(r.Fields.Value, r.Fields.Flags.has_value(), out);
    });
  }

 private:
  const RecordModel& Model() const noexcept { return content_->Model.Records[index_]; }

  template <typename Select>
  HRESULT Text(BSTR* value, Select select) noexcept {
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    return Guarded([&] { return CopyOut(select(Model()), value); });
  }
  template <typename Fill>
  HRESULT Field(VARIANT* value, Fill fill) noexcept {
    if (value == nullptr) return E_POINTER;
    ::VariantInit(value);
    return Guarded([&] {
      const HRESULT hr = fill(Model(), value);
      if (FAILED(hr)) {
        ::VariantClear(value);
        ::VariantInit(value);
      }
      return hr;
    });
  }

  std::shared_ptr<const AnswerContent> content_;
  std::size_t index_;
};

HRESULT NewRecord(const std::shared_ptr<const AnswerContent>& content, std::size_t index, _Record** record) noexcept {
  return CreateDualObject<RecordObject>(IID__Record, reinterpret_cast<void**>(record), content, index);
}

// For Each over the records: each Next hands out new Record objects.
constexpr InterfaceEntry ENUMERATOR_INTERFACES[] = {{&IID_IUnknown, 0}, {&IID_IEnumVARIANT, 0}};

class RecordEnumerator final : public ComObject<Lifetime::Counted, IEnumVARIANT> {
 public:
  RecordEnumerator(std::shared_ptr<const AnswerContent> content, std::size_t next) noexcept
      : ComObject(ENUMERATOR_INTERFACES), content_(std::move(content)), next_(next) {}

  // IEnumVARIANT::Next: `fetched` may be null only when one element is asked.
  HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* elements, ULONG* fetched) noexcept override {
    if (fetched != nullptr) *fetched = 0;
    if (count == 0) return S_OK;
    if (elements == nullptr || (fetched == nullptr && count != 1)) return E_POINTER;
    ULONG given = 0;
    const std::size_t total = content_->Model.Records.size();
    while (given < count && next_ < total) {
      _Record* record = nullptr;
      const HRESULT hr = NewRecord(content_, next_, &record);
      if (FAILED(hr)) {
        for (ULONG i = 0; i < given; ++i) ::VariantClear(&elements[i]);
        return hr;
      }
      ::VariantInit(&elements[given]);
      V_VT(&elements[given]) = VT_DISPATCH;
      V_DISPATCH(&elements[given]) = record;
      ++given;
      ++next_;
    }
    if (fetched != nullptr) *fetched = given;
    return given == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) noexcept override {
    const std::size_t total = content_->Model.Records.size();
    const std::size_t left = total - next_;
    next_ = count > left ? total : next_ + count;
    return count > left ? S_FALSE : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reset() noexcept override {
    next_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** copy) noexcept override {
    if (copy == nullptr) return E_POINTER;
    *copy = nullptr;
    auto* made = new (std::nothrow) RecordEnumerator(content_, next_);
    if (made == nullptr) return E_OUTOFMEMORY;
    *copy = made;
    return S_OK;
  }

 private:
  std::shared_ptr<const AnswerContent> content_;
  std::size_t next_;
};

class RecordsObject final : public DualObject<_Records> {
 public:
  explicit RecordsObject(std::shared_ptr<const AnswerContent> content) noexcept
      : content_(std::move(content)) {}

  HRESULT STDMETHODCALLTYPE Item(LONG index, _Record** value) noexcept override {
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    const std::size_t count = content_->Model.Records.size();
    if (index < 0 || static_cast<std::size_t>(index) >= count) {
      return Guarded([&] {
        const std::wstring text = count == 0 ? std::wstring(L"Records.Item: there are no records")
                                             : L"Records.Item: the index runs from 0 to " + std::to_wstring(count - 1);
        return RaiseError(DISP_E_BADINDEX, IID__Records, SOURCE, text);
      });
    }
    return NewRecord(content_, static_cast<std::size_t>(index), value);
  }
  HRESULT STDMETHODCALLTYPE get_Count(LONG* value) noexcept override {
    if (value == nullptr) return E_POINTER;
    *value = static_cast<LONG>(content_->Model.Records.size());
    return S_OK;
  }
  // For Each asks for DISPID_NEWENUM as a property (VBScript, VBA) or as a
  // method (JScript's Enumerator, some hosts); the type information
  // dispatches only the first, so the enumerator is handed out here for both.
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argumentError) noexcept override {
    if (id != DISPID_NEWENUM || !(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) {
      return DualObject::Invoke(id, iid, locale, flags, params, result, exception, argumentError);
    }
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (params == nullptr) return E_INVALIDARG;
    if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
    IUnknown* enumerator = nullptr;
    const HRESULT hr = get__NewEnum(&enumerator);
    if (FAILED(hr)) return hr;
    if (result == nullptr) {
      enumerator->Release();
      return S_OK;
    }
    ::VariantInit(result);
    V_VT(result) = VT_UNKNOWN;
    V_UNKNOWN(result) = enumerator;
    return S_OK;
  }

  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** value) noexcept override {
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    auto* made = new (std::nothrow) RecordEnumerator(content_, 0);
    if (made == nullptr) return E_OUTOFMEMORY;
    *value = made;
    return S_OK;
  }

 private:
  std::shared_ptr<const AnswerContent> content_;
};

class AnswerObject final : public DualObject<_Answer> {
 public:
  explicit AnswerObject(std::shared_ptr<const AnswerContent> content) noexcept
      : content_(std::move(content)) {}

  HRESULT STDMETHODCALLTYPE get_Text(BSTR* value) noexcept override {
    return Out(value, [&] { return CopyOut(AnswerText(content_->Model), value); });
  }
  HRESULT STDMETHODCALLTYPE get_Name(BSTR* value) noexcept override {
    return Out(value, [&] { return CopyOut(content_->Name, value); });
  }
  HRESULT STDMETHODCALLTYPE get_Type(BSTR* value) noexcept override {
    return Out(value, [&] { return CopyOut(content_->Type, value); });
  }
  HRESULT STDMETHODCALLTYPE get_Status(BSTR* value) noexcept override {
    return Out(value, [&] { return CopyOut(StatusText(content_->Model.Status), value); });
  }
  HRESULT STDMETHODCALLTYPE get_Records(_Records** value) noexcept override {
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    return CreateDualObject<RecordsObject>(IID__Records, reinterpret_cast<void**>(value), content_);
  }
  HRESULT STDMETHODCALLTYPE get_CanonicalName(BSTR* value) noexcept override {
    return Out(value, [&] { return CopyOut(content_->Model.CanonicalName, value); });
  }
  HRESULT STDMETHODCALLTYPE get_Server(BSTR* value) noexcept override {
    return Out(value, [&] { return CopyOut(content_->Server, value); });
  }

 private:
  template <typename Body>
  HRESULT Out(BSTR* value, Body body) noexcept {
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    return Guarded(body);
  }

  std::shared_ptr<const AnswerContent> content_;
};

}  // namespace

HRESULT RaiseError(HRESULT status, REFIID iid, const wchar_t* source, std::wstring_view text) noexcept {
  com_ptr<ICreateErrorInfo> create;
  if (SUCCEEDED(CreateErrorInfo(create.put()))) {
    unique_bstr description = MakeBstr(text);
    create->SetGUID(iid);
    // SetSource and SetDescription copy the strings they are given.
    create->SetSource(const_cast<wchar_t*>(source));
    if (description) create->SetDescription(description.get());
    if (com_ptr<IErrorInfo> info = create.query<IErrorInfo>()) SetErrorInfo(0, info.get());
  }
  return status;
}

HRESULT CreateAnswerObject(std::shared_ptr<const AnswerContent> content, _Answer** answer) noexcept {
  return CreateDualObject<AnswerObject>(IID__Answer, reinterpret_cast<void**>(answer), std::move(content));
}

}  // namespace vavizav::hosting
