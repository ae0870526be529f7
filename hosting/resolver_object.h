// The COM object of class Resolver (Vavizav.Resolver): its settings and the
// two ways of asking, Resolve and ResolveMany, over the engine.
#pragma once

#include <unknwn.h>

namespace vavizav::hosting {

// Creates a new Resolver with its default settings and returns interface
// `iid` of it in `*object` (IUnknown, IDispatch, _Resolver, ISupportErrorInfo).
HRESULT CreateResolverObject(REFIID iid, void** object) noexcept;

}  // namespace vavizav::hosting
