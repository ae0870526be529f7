#include "hosting/answer_objects.h"

#include <new>
#include <utility>
#include <vector>

#include "hosting/com_boundary.h"
#include "hosting/dual_object.h"
#include "runtime/handles.h"

namespace vavizav::hosting {

using resolver::AnswerText;
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

// A typed member's value, looked up through the record table: Empty when
// the record's type has no such field, else Long, Double, String, Date or an
// array of String from 0, as the member's row says.
HRESULT MemberVariant(const RecordModel& record, vbDNS::Member member, VARIANT* out) {
  const vbDNS::MemberValue value = vbDNS::ValueOf(record.Fields, member);
  using Kind = vbDNS::MemberValue::Kind;
  switch (value.Is) {
    case Kind::Empty:
      return S_OK;
    case Kind::Long:
      V_VT(out) = VT_I4;
      V_I4(out) = static_cast<LONG>(value.Number);
      return S_OK;
    case Kind::Double:
      V_VT(out) = VT_R8;
      V_R8(out) = value.Real;
      return S_OK;
    case Kind::Date:
      // Days since 30 December 1899, 25569 of them before 1970.
      V_VT(out) = VT_DATE;
      V_DATE(out) = 25569.0 + static_cast<double>(value.Number) / 86400.0;
      return S_OK;
    case Kind::Text: {
      BSTR text = nullptr;
      HRESULT hr = S_OK;
      if (member == vbDNS::Member::Text && !record.Fields.Strings.empty()) {
        // TXT and SPF: each string decoded as Strings decodes it, then joined,
        // so that a string of raw octets beside one of UTF-8 reads the same in both.
        std::wstring joined;
        for (const std::string& part : record.Fields.Strings) joined += OctetsToText(part);
        hr = CopyOut(joined, &text);
      } else {
        hr = CopyOut(value.Text, &text);
      }
      if (FAILED(hr)) return hr;
      V_VT(out) = VT_BSTR;
      V_BSTR(out) = text;
      return S_OK;
    }
    case Kind::Strings: {
      const std::vector<std::string>& strings = *value.Strings;
      unique_safearray array(SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(strings.size())));
      if (!array) return E_OUTOFMEMORY;
      for (LONG i = 0; i < static_cast<LONG>(strings.size()); ++i) {
        unique_variant element;
        BSTR text = nullptr;
        const HRESULT hr = CopyOut(strings[static_cast<std::size_t>(i)], &text);
        if (FAILED(hr)) return hr;
        V_VT(element.get()) = VT_BSTR;
        V_BSTR(element.get()) = text;
        if (FAILED(SafeArrayPutElement(array.get(), &i, element.get()))) return E_OUTOFMEMORY;
      }
      V_VT(out) = VT_ARRAY | VT_VARIANT;
      V_ARRAY(out) = array.release();
      return S_OK;
    }
  }
  return S_OK;
}

// The section a Records object shows.
enum class RecordSection : std::uint8_t { Answer, Authority, Additional };

const std::vector<RecordModel>& SectionRecords(const AnswerContent& content, RecordSection section) noexcept {
  switch (section) {
    case RecordSection::Authority:
      return content.Model.Authority;
    case RecordSection::Additional:
      return content.Model.Additional;
    case RecordSection::Answer:
      break;
  }
  return content.Model.Records;
}

// ---------------------------------------------------------------------------

class RecordObject final : public DualObject<_Record> {
 public:
  RecordObject(std::shared_ptr<const AnswerContent> content, RecordSection section, std::size_t index) noexcept
      : content_(std::move(content)), section_(section), index_(index) {}

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
  // Every typed member reads its field through the record table.
  HRESULT STDMETHODCALLTYPE get_Address(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Address);
  }
  HRESULT STDMETHODCALLTYPE get_Target(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Target);
  }
  HRESULT STDMETHODCALLTYPE get_Preference(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Preference);
  }
  HRESULT STDMETHODCALLTYPE get_Priority(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Priority);
  }
  HRESULT STDMETHODCALLTYPE get_Weight(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Weight);
  }
  HRESULT STDMETHODCALLTYPE get_Port(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Port);
  }
  HRESULT STDMETHODCALLTYPE get_Text(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Text);
  }
  // Without Index the array; with it, that string (a VBScript property
  // returning an array cannot be indexed where it is read).
  HRESULT STDMETHODCALLTYPE get_Strings(VARIANT Index, VARIANT* value) noexcept override {
    if (value == nullptr) return E_POINTER;
    ::VariantInit(value);
    const VARTYPE given = V_VT(&Index);
    if (given == VT_EMPTY || (given == VT_ERROR && V_ERROR(&Index) == DISP_E_PARAMNOTFOUND)) {
      return Field(value, vbDNS::Member::Strings);
    }
    return Guarded([&]() -> HRESULT {
      const std::vector<std::string>& strings = Model().Fields.Strings;
      const std::optional<double> number = runtime::IsNumberType(given & VT_TYPEMASK) || given == VT_BSTR
                                               ? runtime::VariantToDouble(Index)
                                               : std::nullopt;
      if (!number || !runtime::IsWholeNumber(*number, static_cast<double>(MAXLONG)) ||
          *number >= static_cast<double>(strings.size())) {
        const std::wstring text = strings.empty() ? std::wstring(L"Record.Strings: there are no strings")
                                                  : L"Record.Strings: the index runs from 0 to " +
                                                        std::to_wstring(strings.size() - 1);
        return RaiseError(DISP_E_BADINDEX, IID__Record, SOURCE, text);
      }
      BSTR text = nullptr;
      const HRESULT hr = CopyOut(strings[static_cast<std::size_t>(*number)], &text);
      if (FAILED(hr)) return hr;
      V_VT(value) = VT_BSTR;
      V_BSTR(value) = text;
      return S_OK;
    });
  }
  HRESULT STDMETHODCALLTYPE get_PrimaryServer(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::PrimaryServer);
  }
  HRESULT STDMETHODCALLTYPE get_ResponsibleMailbox(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::ResponsibleMailbox);
  }
  HRESULT STDMETHODCALLTYPE get_Serial(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Serial);
  }
  HRESULT STDMETHODCALLTYPE get_Refresh(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Refresh);
  }
  HRESULT STDMETHODCALLTYPE get_Retry(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Retry);
  }
  HRESULT STDMETHODCALLTYPE get_Expire(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Expire);
  }
  HRESULT STDMETHODCALLTYPE get_Minimum(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Minimum);
  }
  HRESULT STDMETHODCALLTYPE get_Flags(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Flags);
  }
  HRESULT STDMETHODCALLTYPE get_Tag(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Tag);
  }
  HRESULT STDMETHODCALLTYPE get_Value(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Value);
  }
  HRESULT STDMETHODCALLTYPE get_KeyTag(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::KeyTag);
  }
  HRESULT STDMETHODCALLTYPE get_Algorithm(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Algorithm);
  }
  HRESULT STDMETHODCALLTYPE get_DigestType(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::DigestType);
  }
  HRESULT STDMETHODCALLTYPE get_Digest(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Digest);
  }
  HRESULT STDMETHODCALLTYPE get_Usage(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Usage);
  }
  HRESULT STDMETHODCALLTYPE get_Selector(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Selector);
  }
  HRESULT STDMETHODCALLTYPE get_MatchingType(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::MatchingType);
  }
  HRESULT STDMETHODCALLTYPE get_Protocol(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Protocol);
  }
  HRESULT STDMETHODCALLTYPE get_PublicKey(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::PublicKey);
  }
  HRESULT STDMETHODCALLTYPE get_TypeCovered(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::TypeCovered);
  }
  HRESULT STDMETHODCALLTYPE get_Labels(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Labels);
  }
  HRESULT STDMETHODCALLTYPE get_OriginalTTL(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::OriginalTTL);
  }
  HRESULT STDMETHODCALLTYPE get_Expiration(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Expiration);
  }
  HRESULT STDMETHODCALLTYPE get_Inception(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Inception);
  }
  HRESULT STDMETHODCALLTYPE get_SignerName(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::SignerName);
  }
  HRESULT STDMETHODCALLTYPE get_Signature(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Signature);
  }
  HRESULT STDMETHODCALLTYPE get_NextName(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::NextName);
  }
  HRESULT STDMETHODCALLTYPE get_Types(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Types);
  }
  HRESULT STDMETHODCALLTYPE get_Iterations(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Iterations);
  }
  HRESULT STDMETHODCALLTYPE get_Salt(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Salt);
  }
  HRESULT STDMETHODCALLTYPE get_NextHashedOwner(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::NextHashedOwner);
  }
  HRESULT STDMETHODCALLTYPE get_Params(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Params);
  }
  HRESULT STDMETHODCALLTYPE get_Latitude(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Latitude);
  }
  HRESULT STDMETHODCALLTYPE get_Longitude(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Longitude);
  }
  HRESULT STDMETHODCALLTYPE get_Altitude(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Altitude);
  }
  HRESULT STDMETHODCALLTYPE get_Size(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::Size);
  }
  HRESULT STDMETHODCALLTYPE get_HorizontalPrecision(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::HorizontalPrecision);
  }
  HRESULT STDMETHODCALLTYPE get_VerticalPrecision(VARIANT* value) noexcept override {
    return Field(value, vbDNS::Member::VerticalPrecision);
  }

 private:
  const RecordModel& Model() const noexcept { return SectionRecords(*content_, section_)[index_]; }

  template <typename Select>
  HRESULT Text(BSTR* value, Select select) noexcept {
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    return Guarded([&] { return CopyOut(select(Model()), value); });
  }
  HRESULT Field(VARIANT* value, vbDNS::Member member) noexcept {
    if (value == nullptr) return E_POINTER;
    ::VariantInit(value);
    return Guarded([&] {
      const HRESULT hr = MemberVariant(Model(), member, value);
      if (FAILED(hr)) {
        ::VariantClear(value);
        ::VariantInit(value);
      }
      return hr;
    });
  }

  std::shared_ptr<const AnswerContent> content_;
  RecordSection section_;
  std::size_t index_;
};

HRESULT NewRecord(const std::shared_ptr<const AnswerContent>& content, RecordSection section, std::size_t index,
                  _Record** record) noexcept {
  return CreateDualObject<RecordObject>(IID__Record, reinterpret_cast<void**>(record), content, section, index);
}

// For Each over the records: each Next hands out new Record objects.
constexpr InterfaceEntry ENUMERATOR_INTERFACES[] = {{&IID_IUnknown, 0}, {&IID_IEnumVARIANT, 0}};

class RecordEnumerator final : public ComObject<Lifetime::Counted, IEnumVARIANT> {
 public:
  RecordEnumerator(std::shared_ptr<const AnswerContent> content, RecordSection section, std::size_t next) noexcept
      : ComObject(ENUMERATOR_INTERFACES), content_(std::move(content)), section_(section), next_(next) {}

  // IEnumVARIANT::Next: `fetched` may be null only when one element is asked.
  HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* elements, ULONG* fetched) noexcept override {
    if (fetched != nullptr) *fetched = 0;
    if (count == 0) return S_OK;
    if (elements == nullptr || (fetched == nullptr && count != 1)) return E_POINTER;
    ULONG given = 0;
    const std::size_t total = SectionRecords(*content_, section_).size();
    while (given < count && next_ < total) {
      _Record* record = nullptr;
      const HRESULT hr = NewRecord(content_, section_, next_, &record);
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
    const std::size_t total = SectionRecords(*content_, section_).size();
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
    auto* made = new (std::nothrow) RecordEnumerator(content_, section_, next_);
    if (made == nullptr) return E_OUTOFMEMORY;
    *copy = made;
    return S_OK;
  }

 private:
  std::shared_ptr<const AnswerContent> content_;
  RecordSection section_;
  std::size_t next_;
};

class RecordsObject final : public DualObject<_Records> {
 public:
  RecordsObject(std::shared_ptr<const AnswerContent> content, RecordSection section) noexcept
      : content_(std::move(content)), section_(section) {}

  HRESULT STDMETHODCALLTYPE Item(LONG index, _Record** value) noexcept override {
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    const std::size_t count = SectionRecords(*content_, section_).size();
    if (index < 0 || static_cast<std::size_t>(index) >= count) {
      return Guarded([&] {
        const std::wstring text = count == 0 ? std::wstring(L"Records.Item: there are no records")
                                             : L"Records.Item: the index runs from 0 to " + std::to_wstring(count - 1);
        return RaiseError(DISP_E_BADINDEX, IID__Records, SOURCE, text);
      });
    }
    return NewRecord(content_, section_, static_cast<std::size_t>(index), value);
  }
  HRESULT STDMETHODCALLTYPE get_Count(LONG* value) noexcept override {
    if (value == nullptr) return E_POINTER;
    *value = static_cast<LONG>(SectionRecords(*content_, section_).size());
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
    auto* made = new (std::nothrow) RecordEnumerator(content_, section_, 0);
    if (made == nullptr) return E_OUTOFMEMORY;
    *value = made;
    return S_OK;
  }

 private:
  std::shared_ptr<const AnswerContent> content_;
  RecordSection section_;
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
    return Section(RecordSection::Answer, value);
  }
  HRESULT STDMETHODCALLTYPE get_Authority(_Records** value) noexcept override {
    return Section(RecordSection::Authority, value);
  }
  HRESULT STDMETHODCALLTYPE get_Additional(_Records** value) noexcept override {
    return Section(RecordSection::Additional, value);
  }
  HRESULT STDMETHODCALLTYPE get_Authoritative(VARIANT_BOOL* value) noexcept override {
    return Flag(content_->Model.Authoritative, value);
  }
  HRESULT STDMETHODCALLTYPE get_RecursionAvailable(VARIANT_BOOL* value) noexcept override {
    return Flag(content_->Model.RecursionAvailable, value);
  }
  HRESULT STDMETHODCALLTYPE get_Transport(BSTR* value) noexcept override {
    return Out(value, [&] { return CopyOut(content_->Transport, value); });
  }
  HRESULT STDMETHODCALLTYPE get_Elapsed(LONG* value) noexcept override {
    if (value == nullptr) return E_POINTER;
    *value = content_->ElapsedMs;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_CanonicalName(BSTR* value) noexcept override {
    return Out(value, [&] { return CopyOut(content_->Model.CanonicalName, value); });
  }
  HRESULT STDMETHODCALLTYPE get_Server(BSTR* value) noexcept override {
    return Out(value, [&] { return CopyOut(content_->Server, value); });
  }
  HRESULT STDMETHODCALLTYPE get_Authenticated(VARIANT_BOOL* value) noexcept override {
    return Flag(content_->Model.Authenticated, value);
  }
  HRESULT STDMETHODCALLTYPE get_ExtendedError(BSTR* value) noexcept override {
    return Out(value, [&] { return CopyOut(content_->Model.ExtendedError, value); });
  }
  HRESULT STDMETHODCALLTYPE get_FromCache(VARIANT_BOOL* value) noexcept override {
    return Flag(content_->FromCache, value);
  }

 private:
  HRESULT Section(RecordSection section, _Records** value) noexcept {
    if (value == nullptr) return E_POINTER;
    *value = nullptr;
    return CreateDualObject<RecordsObject>(IID__Records, reinterpret_cast<void**>(value), content_, section);
  }
  static HRESULT Flag(bool flag, VARIANT_BOOL* value) noexcept {
    if (value == nullptr) return E_POINTER;
    *value = flag ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
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
