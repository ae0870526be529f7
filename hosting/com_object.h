// IUnknown, written once for every object kind of the module: the class
// factories, both classes' objects, the answers and their records, the record
// enumerator. An object derives from ComObject over the interfaces it
// implements and names, in one table, which IID hands out which of them;
// QueryInterface reads the table, and the reference count and the module's
// object count live here.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <cstddef>
#include <new>
#include <span>
#include <tuple>
#include <utility>

#include "hosting/module.h"

namespace vavizav::hosting {

// One row of an object's interface table: the IID asked for, and which of the
// interfaces the object derives from (its position in ComObject's list)
// answers it. IUnknown must be in the table, on the first interface, so that
// every query for it gives the same pointer (the object's identity).
struct InterfaceEntry {
  const IID* Iid;
  std::size_t Base;
};

// How an object lives. Counted: on the heap, deleted by its last Release, and
// counted among the module's live objects (DllCanUnloadNow). Static: a class
// factory, which lives as long as the module and keeps it loaded only through
// IClassFactory::LockServer, so its counts only have to look plausible.
enum class Lifetime { Counted, Static };

template <Lifetime Life, typename... Interfaces>
class ComObject : public Interfaces... {
 public:
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    for (const InterfaceEntry& entry : interfaces_) {
      if (!IsEqualIID(*entry.Iid, iid)) continue;
      *object = Base(entry.Base, std::index_sequence_for<Interfaces...>());
      if (*object == nullptr) return E_NOINTERFACE;
      AddRef();
      return S_OK;
    }
    return E_NOINTERFACE;
  }

  ULONG STDMETHODCALLTYPE AddRef() noexcept override {
    if constexpr (Life == Lifetime::Static) {
      return 2;
    } else {
      return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
    }
  }

  ULONG STDMETHODCALLTYPE Release() noexcept override {
    if constexpr (Life == Lifetime::Static) {
      return 1;
    } else {
      const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
      if (left == 0) delete this;
      return left;
    }
  }

 protected:
  // The references held now: for an object that must tell its clients' from
  // its own.
  ULONG References() const noexcept { return refs_.load(std::memory_order_acquire); }
  // `interfaces` outlives the object: a static table of the kind.
  explicit ComObject(std::span<const InterfaceEntry> interfaces) noexcept : interfaces_(interfaces) {
    if constexpr (Life == Lifetime::Counted) ObjectCreated();
  }
  virtual ~ComObject() {
    if constexpr (Life == Lifetime::Counted) ObjectDestroyed();
  }

 private:
  template <std::size_t Index>
  static void* Cast(ComObject* self) noexcept {
    return static_cast<std::tuple_element_t<Index, std::tuple<Interfaces...>>*>(self);
  }
  template <std::size_t... Index>
  void* Base(std::size_t base, std::index_sequence<Index...>) noexcept {
    using Caster = void* (*)(ComObject*) noexcept;
    static constexpr Caster casts[] = {&Cast<Index>...};
    return base < sizeof...(Interfaces) ? casts[base](this) : nullptr;
  }

  std::span<const InterfaceEntry> interfaces_;
  std::atomic<ULONG> refs_{1};
};

// Makes a new `Object` from `arguments` and hands out its interface `iid`;
// the creation reference is dropped after the query, so an interface the
// object does not have destroys it again.
template <typename Object, typename... Arguments>
HRESULT CreateComObject(REFIID iid, void** out, Arguments&&... arguments) noexcept {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  Object* created = nullptr;
  try {
    created = new Object(std::forward<Arguments>(arguments)...);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
  const HRESULT hr = created->QueryInterface(iid, out);
  created->Release();
  return hr;
}

}  // namespace vavizav::hosting
