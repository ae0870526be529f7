// An argument object for the variant conversions: its default property
// (DISPID_VALUE, which they ask for) answers as its behaviour says. Made with
// new and one reference; the last Release deletes it (DispatchDouble).
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <utility>

#include "dispatch_double.h"

namespace vavizav::testing {

enum class Behaviour { Text, Number, NoValue, Fail, ReenterLookup, ReleaseTarget };

class ValueObject final : public DispatchDouble {
 public:
  // What ReenterLookup does with `target` inside the call (a lookup on the
  // component object that is converting this one).
  using Reentry = void (*)(IUnknown* target);

  // `target`: the component object a lookup re-enters, or whose reference
  // ReleaseTarget drops; `text`: the value of Behaviour::Text.
  explicit ValueObject(Behaviour behaviour, IUnknown* target = nullptr, Reentry reenter = nullptr,
                       const wchar_t* text = L"b.example")
      : behaviour_(behaviour), target_(target), reenter_(reenter), text_(text) {}

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) noexcept override {
    if (id != DISPID_VALUE || behaviour_ == Behaviour::NoValue) return DISP_E_MEMBERNOTFOUND;
    ++calls_;
    switch (behaviour_) {
      case Behaviour::Fail:
        return E_FAIL;
      case Behaviour::ReenterLookup:
        if (target_ != nullptr && reenter_ != nullptr) reenter_(target_);
        break;
      case Behaviour::ReleaseTarget:
        // The caller handed its only reference over: this drops the last one
        // while the component is still inside the call.
        if (target_ != nullptr) std::exchange(target_, nullptr)->Release();
        break;
      default:
        break;
    }
    if (result != nullptr) {
      VariantInit(result);
      if (behaviour_ == Behaviour::Number) {
        V_VT(result) = VT_I4;
        V_I4(result) = 1500;
      } else {
        V_VT(result) = VT_BSTR;
        V_BSTR(result) = SysAllocString(text_);
      }
    }
    return S_OK;
  }

  int Calls() const { return calls_; }

 private:
  ~ValueObject() override = default;
  int calls_ = 0;
  Behaviour behaviour_;
  IUnknown* target_;
  Reentry reenter_;
  const wchar_t* text_;
};

}  // namespace vavizav::testing
