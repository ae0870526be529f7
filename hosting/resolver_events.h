// Who hears a Resolver's reports while its batches run, and how: the Listener
// object (any IDispatch: a VBScript class instance, a JScript object with
// function members), whose Progress and Answered members are called by name,
// and the sinks advised on the Resolver's one connection point for
// _ResolverEvents (VBA's WithEvents, HTA pages, WScript.ConnectObject). Every
// report is made on the Resolver's thread.
#pragma once

#include <windows.h>
#include <dispex.h>
#include <ocidl.h>

#include <optional>
#include <string>
#include <vector>

#include "runtime/handles.h"

namespace vavizav::hosting {

// At most this many sinks on the connection point at once.
inline constexpr std::size_t MAX_EVENT_SINKS = 64;

class ResolverEvents final : public IConnectionPoint {
 public:
  // `container` is the Resolver: the point shares its reference count.
  explicit ResolverEvents(IConnectionPointContainer* container) noexcept : container_(container) {}
  ResolverEvents(const ResolverEvents&) = delete;
  ResolverEvents& operator=(const ResolverEvents&) = delete;

  // The Listener property. Nothing, Empty and Null clear it; any other value
  // that is no object is refused (false).
  bool SetListener(const VARIANT& value);
  HRESULT GetListener(VARIANT* value) const noexcept;

  bool HasListener() const noexcept { return static_cast<bool>(listener_); }
  bool WantsAnswers() const noexcept { return listenerAnswered_.has_value() || !sinks_.empty(); }
  bool WantsProgress() const noexcept { return listenerProgress_.has_value() || !sinks_.empty(); }

  // Each report goes to the listener and then to every sink. An error raised
  // in the listener ends that call only: its text comes back ("" for none).
  // A sink's failure is its own.
  std::wstring Progress(LONG done, LONG total);
  std::wstring Answered(LONG index, IDispatch* answer);

  // IConnectionPoint.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override;
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return container_->AddRef(); }
  ULONG STDMETHODCALLTYPE Release() noexcept override { return container_->Release(); }
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) noexcept override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) noexcept override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) noexcept override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) noexcept override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) noexcept override;

 private:
  struct Sink {
    DWORD Cookie;
    runtime::com_ptr<IDispatch> Target;
  };
  std::wstring Report(const std::optional<DISPID>& member, const wchar_t* name, VARIANT* arguments, UINT count,
                      DISPID event);

  IConnectionPointContainer* container_;
  runtime::com_ptr<IDispatch> listener_;
  runtime::com_ptr<IDispatchEx> listenerEx_;  // the same object, when it offers IDispatchEx
  std::optional<DISPID> listenerProgress_;
  std::optional<DISPID> listenerAnswered_;
  std::vector<Sink> sinks_;
  DWORD nextCookie_ = 1;
};

// The Resolver's connection points, as IConnectionPointContainer hands them
// out: its one point.
HRESULT EnumerateOnePoint(IConnectionPoint* point, IEnumConnectionPoints** points) noexcept;

}  // namespace vavizav::hosting
