// The Resolver's long-work members under hostile callers: missing out
// pointers on the Batch, the connection point and the class information;
// ResolveManyAsync with the Names ResolveMany refuses; Listener given values
// that are no object, references that point nowhere or at other references;
// listeners and sinks that fail, that find their members only through
// IDispatchEx, that lack a member, and that drop the Resolver, the Batch,
// their own connection or themselves from inside a report. Against the local
// unbound, as the rest of the hostile dispatch tests.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>
#include <dispex.h>
#include <ocidl.h>
#include <olectl.h>

#include <cwchar>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "com_client.h"
#include "dispatch_double.h"
#include "event_sink.h"
#include "hostile_calls.h"
#include "module_fixture.h"
#include "runtime/handles.h"
#include "value_object.h"

namespace vavizav::testing {

using runtime::BstrView;
using runtime::com_ptr;
using runtime::unique_bstr;
using runtime::unique_variant;

namespace {

constexpr DISPID DISPID_LISTENER = 9;

com_ptr<_Resolver> TestResolverObject() {
  com_ptr<_Resolver> resolver = NewResolverAs<_Resolver>(IID__Resolver);
  if (resolver) UseTestServer(resolver.get());
  return resolver;
}

std::wstring LastErrorOf(_Resolver* resolver) {
  unique_bstr text;
  EXPECT_EQ(resolver->get_LastError(text.put()), S_OK);
  return std::wstring(BstrView(text.get()));
}

// ResolveMany of `count` names (NXDOMAIN from the local unbound, answers all the same).
std::vector<std::wstring> RunBatch(_Resolver* resolver, int count = 6) {
  unique_variant answers;
  EXPECT_EQ(resolver->ResolveMany(*NameList(count, L"hostile.vavizav.test").get(), Missing(), answers.get()), S_OK);
  return StatusesOf(*answers.get());
}

unique_variant ObjectValue(IDispatch* object, VARTYPE type = VT_DISPATCH) {
  unique_variant value;
  if (object != nullptr) object->AddRef();
  V_VT(value.get()) = type;
  V_DISPATCH(value.get()) = object;
  return value;
}

// Listener put through Invoke as a host does, with one argument.
HRESULT PutListener(IDispatch* resolver, VARIANT* value, WORD flags = DISPATCH_PROPERTYPUT) {
  return InvokeWith(resolver, DISPID_LISTENER, flags, value, nullptr);
}

TEST(HostileBatch, MissingOutPointersAreRefusedOnEveryNewMember) {
  com_ptr<_Resolver> resolver = TestResolverObject();
  ASSERT_TRUE(resolver);
  EXPECT_EQ(resolver->get_Listener(nullptr), E_POINTER);
  EXPECT_EQ(resolver->ResolveManyAsync(*NameList(2, L"vavizav.test").get(), Missing(), nullptr), E_POINTER);
  com_ptr<_Batch> batch;
  ASSERT_EQ(resolver->ResolveManyAsync(*NameList(2, L"vavizav.test").get(), Missing(), batch.put()), S_OK);
  ASSERT_TRUE(batch);
  EXPECT_EQ(batch->get_Total(nullptr), E_POINTER);
  EXPECT_EQ(batch->get_Done(nullptr), E_POINTER);
  EXPECT_EQ(batch->get_Finished(nullptr), E_POINTER);
  EXPECT_EQ(batch->get_Answers(nullptr), E_POINTER);
  EXPECT_EQ(batch->Wait(Missing(), nullptr), E_POINTER);
  VARIANT_BOOL finished = VARIANT_FALSE;
  EXPECT_EQ(batch->Wait(Missing(), &finished), S_OK);
  EXPECT_NE(finished, VARIANT_FALSE);

  com_ptr<IConnectionPointContainer> container;
  ASSERT_EQ(resolver->QueryInterface(IID_IConnectionPointContainer, container.put_void()), S_OK);
  EXPECT_EQ(container->FindConnectionPoint(DIID__ResolverEvents, nullptr), E_POINTER);
  EXPECT_EQ(container->EnumConnectionPoints(nullptr), E_POINTER);
  com_ptr<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(DIID__ResolverEvents, point.put()), S_OK);
  EXPECT_EQ(point->GetConnectionInterface(nullptr), E_POINTER);
  EXPECT_EQ(point->GetConnectionPointContainer(nullptr), E_POINTER);
  const HRESULT enumerated = point->EnumConnections(nullptr);
  EXPECT_TRUE(enumerated == E_POINTER || enumerated == E_NOTIMPL) << HresultText(enumerated);
  DWORD cookie = 5;
  EXPECT_EQ(point->Advise(nullptr, &cookie), E_POINTER);
  EXPECT_EQ(cookie, 0u);
  com_ptr<EventSink> sink(new EventSink());
  EXPECT_EQ(point->Advise(sink.get(), nullptr), E_POINTER);
  EXPECT_EQ(sink->References(), 1u);

  com_ptr<IEnumConnectionPoints> points;
  ASSERT_EQ(container->EnumConnectionPoints(points.put()), S_OK);
  IConnectionPoint* listed[2] = {};
  EXPECT_EQ(points->Next(1, nullptr, nullptr), E_POINTER);
  EXPECT_EQ(points->Next(2, listed, nullptr), E_POINTER) << "more than one without a count";
  EXPECT_EQ(points->Clone(nullptr), E_POINTER);
  ULONG fetched = 7;
  EXPECT_EQ(points->Next(0, listed, &fetched), S_OK);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(points->Next(1, listed, nullptr), S_OK) << "one without a count";
  if (listed[0] != nullptr) listed[0]->Release();

  com_ptr<IProvideClassInfo2> info;
  ASSERT_EQ(resolver->QueryInterface(IID_IProvideClassInfo2, info.put_void()), S_OK);
  EXPECT_EQ(info->GetClassInfo(nullptr), E_POINTER);
  EXPECT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, nullptr), E_POINTER);
}

// ResolveManyAsync takes Names as ResolveMany does: what ResolveMany refuses
// it refuses at once, with the same result and LastError, and no Batch.
TEST(HostileBatch, ResolveManyAsyncRefusesWhatResolveManyRefusesTheSameWay) {
  com_ptr<_Resolver> resolver = TestResolverObject();
  ASSERT_TRUE(resolver);
  VARIANT nowhere;
  V_VT(&nowhere) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&nowhere) = nullptr;
  VARIANT undimensioned;
  V_VT(&undimensioned) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(&undimensioned) = nullptr;
  VARIANT null;
  V_VT(&null) = VT_NULL;
  VARIANT nothing;
  V_VT(&nothing) = VT_DISPATCH;
  V_DISPATCH(&nothing) = nullptr;
  SAFEARRAYBOUND tooMany{1000001, 0};
  unique_variant huge;
  V_VT(huge.get()) = VT_ARRAY | VT_UI1;
  V_ARRAY(huge.get()) = SafeArrayCreate(VT_UI1, 1, &tooMany);
  unique_variant text = Text(L"one.vavizav.test");
  for (VARIANT* names : {text.get(), &nowhere, &undimensioned, &null, &nothing, huge.get()}) {
    SCOPED_TRACE(::testing::Message() << "Names of type " << V_VT(names));
    unique_variant answers;
    const HRESULT many = resolver->ResolveMany(*names, Missing(), answers.get());
    const std::wstring manyError = LastErrorOf(resolver.get());
    EXPECT_TRUE(FAILED(many));
    com_ptr<_Batch> batch;
    EXPECT_EQ(resolver->ResolveManyAsync(*names, Missing(), batch.put()), many);
    EXPECT_FALSE(batch);
    EXPECT_EQ(LastErrorOf(resolver.get()), manyError);
  }
  // A bad Type is no refusal: every element BADNAME, LastError says why.
  com_ptr<_Batch> batch;
  ASSERT_EQ(resolver->ResolveManyAsync(*NameList(3, L"vavizav.test").get(), *Text(L"BOGUS"), batch.put()), S_OK);
  ASSERT_TRUE(batch);
  VARIANT_BOOL finished = VARIANT_FALSE;
  EXPECT_EQ(batch->Wait(Missing(), &finished), S_OK);
  unique_variant answers;
  ASSERT_EQ(batch->get_Answers(answers.get()), S_OK);
  EXPECT_EQ(StatusesOf(*answers.get()), std::vector<std::wstring>(3, L"BADNAME"));
  EXPECT_NE(LastErrorOf(resolver.get()), L"");
}

// Listener values through Invoke: no object is refused with the documented
// error, Empty, Null and Nothing clear it, a reference that points nowhere or
// at another reference is refused at the dispatch layer, and whatever was
// taken is let go of exactly once.
TEST(HostileBatch, ListenerTakesObjectsOrNothingAndRefusesEverythingElse) {
  com_ptr<_Resolver> resolver = TestResolverObject();
  ASSERT_TRUE(resolver);
  com_ptr<EventSink> listener(new EventSink());
  unique_variant object = ObjectValue(listener.get());
  ASSERT_EQ(PutListener(resolver.get(), object.get(), DISPATCH_PROPERTYPUTREF), S_OK);

  const std::wstring refused = L"Listener must be an object or Nothing";
  std::mt19937 random(24);
  std::vector<unique_variant> values;
  values.push_back(Long(5));
  values.push_back(Text(L"listener"));
  values.push_back(Text(L""));
  unique_variant array;
  V_VT(array.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(array.get()) = MakeArray(random, VT_VARIANT);
  values.push_back(std::move(array));
  unique_variant flag;
  V_VT(flag.get()) = VT_BOOL;
  V_BOOL(flag.get()) = VARIANT_TRUE;
  values.push_back(std::move(flag));
  for (unique_variant& value : values) {
    for (const WORD flags : {WORD(DISPATCH_PROPERTYPUT), WORD(DISPATCH_PROPERTYPUTREF)}) {
      SCOPED_TRACE(::testing::Message() << "type " << V_VT(value.get()) << ", flags " << flags);
      EXPECT_EQ(PutListener(resolver.get(), value.get(), flags), DISP_E_EXCEPTION);
      EXPECT_EQ(LastErrorOf(resolver.get()), refused);
      EXPECT_EQ(resolver->put_Listener(*value.get()), E_INVALIDARG);
      // The listener set before stays.
      unique_variant current;
      ASSERT_EQ(resolver->get_Listener(current.get()), S_OK);
      ASSERT_EQ(V_VT(current.get()), VT_DISPATCH);
      EXPECT_EQ(V_DISPATCH(current.get()), static_cast<IDispatch*>(listener.get()));
    }
  }
  // By reference: the object through a Variant reference is the object; a
  // reference to nothing, or to another reference, is refused before the member.
  VARIANT reference;
  V_VT(&reference) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&reference) = object.get();
  EXPECT_EQ(PutListener(resolver.get(), &reference), S_OK);
  V_VARIANTREF(&reference) = nullptr;
  EXPECT_EQ(PutListener(resolver.get(), &reference), E_POINTER);
  VARIANT inner;
  V_VT(&inner) = VT_BYREF | VT_VARIANT;
  V_VARIANTREF(&inner) = object.get();
  V_VARIANTREF(&reference) = &inner;
  // (Names may come through a chain of references, as hosts pass them; a
  // Listener may too, or be refused at the dispatch layer.)
  const HRESULT chain = PutListener(resolver.get(), &reference);
  EXPECT_TRUE(chain == S_OK || chain == DISP_E_BADVARTYPE) << HresultText(chain);
  IDispatch* none = nullptr;
  VARIANT nothingByReference;
  V_VT(&nothingByReference) = VT_BYREF | VT_DISPATCH;
  V_DISPATCHREF(&nothingByReference) = &none;
  const HRESULT byReference = PutListener(resolver.get(), &nothingByReference);
  EXPECT_TRUE(byReference == S_OK || byReference == DISP_E_EXCEPTION) << HresultText(byReference);

  // An IUnknown without IDispatch is no listener; one with it may be taken.
  // Either way a batch runs and nothing is held after Listener is cleared.
  com_ptr<EventSink> bare(new EventSink(SinkFace::Neither));
  unique_variant unknown = ObjectValue(bare.get(), VT_UNKNOWN);
  const HRESULT bareResult = PutListener(resolver.get(), unknown.get());
  EXPECT_TRUE(bareResult == S_OK || bareResult == DISP_E_EXCEPTION) << HresultText(bareResult);
  EXPECT_EQ(RunBatch(resolver.get()).size(), 6u);
  EXPECT_TRUE(bare->Reports.empty());

  for (const VARTYPE clearing : {VT_EMPTY, VT_NULL, VT_DISPATCH}) {
    ASSERT_EQ(PutListener(resolver.get(), object.get(), DISPATCH_PROPERTYPUTREF), S_OK);
    unique_variant clear;
    V_VT(clear.get()) = clearing;
    EXPECT_EQ(PutListener(resolver.get(), clear.get()), S_OK) << clearing;
    EXPECT_EQ(LastErrorOf(resolver.get()), L"");
    unique_variant current;
    ASSERT_EQ(resolver->get_Listener(current.get()), S_OK);
    EXPECT_TRUE(V_VT(current.get()) == VT_EMPTY || (V_VT(current.get()) == VT_DISPATCH && !V_DISPATCH(current.get())));
  }
  object.reset();
  unknown.reset();
  EXPECT_EQ(listener->References(), 1u);
  EXPECT_EQ(bare->References(), 1u);
  const std::size_t reports = listener->Reports.size();
  EXPECT_EQ(RunBatch(resolver.get()).size(), 6u);
  EXPECT_EQ(listener->Reports.size(), reports);
}

TEST(HostileBatch, AListenerThatRaisesEndsOnlyThatCallAndItsErrorIsInLastError) {
  com_ptr<_Resolver> resolver = TestResolverObject();
  ASSERT_TRUE(resolver);
  com_ptr<EventSink> listener(new EventSink());
  listener->Result = DISP_E_EXCEPTION;
  listener->FailOn = DISPID_ANSWERED;
  com_ptr<EventSink> sink(new EventSink());
  sink->Result = E_FAIL;  // a sink's failure is ignored
  com_ptr<IConnectionPointContainer> container;
  ASSERT_EQ(resolver->QueryInterface(IID_IConnectionPointContainer, container.put_void()), S_OK);
  com_ptr<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(DIID__ResolverEvents, point.put()), S_OK);
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(sink.get(), &cookie), S_OK);
  ASSERT_EQ(resolver->put_Listener(*ObjectValue(listener.get()).get()), S_OK);

  EXPECT_EQ(RunBatch(resolver.get(), 8), std::vector<std::wstring>(8, L"NXDOMAIN"));
  EXPECT_EQ(listener->Count(DISPID_ANSWERED), 8u) << "every report still made";
  EXPECT_GT(listener->Count(DISPID_PROGRESS), 0u);
  EXPECT_EQ(sink->Count(DISPID_ANSWERED), 8u);
  EXPECT_EQ(LastErrorOf(resolver.get()), L"Listener.Answered raised an error: the sink failed on purpose");

  // Without a description: the HRESULT. Progress raises this time.
  listener->Result = E_FAIL;
  listener->FailOn = DISPID_PROGRESS;
  com_ptr<_Batch> batch;
  ASSERT_EQ(resolver->ResolveManyAsync(*NameList(5, L"hostile.vavizav.test").get(), Missing(), batch.put()), S_OK);
  VARIANT_BOOL finished = VARIANT_FALSE;
  EXPECT_EQ(batch->Wait(Missing(), &finished), S_OK);
  EXPECT_NE(finished, VARIANT_FALSE);
  LONG done = 0;
  EXPECT_EQ(batch->get_Done(&done), S_OK);
  EXPECT_EQ(done, 5);
  EXPECT_EQ(LastErrorOf(resolver.get()), L"Listener.Progress raised an error: 0x80004005");
  EXPECT_EQ(point->Unadvise(cookie), S_OK);
}

// A listener of a VBScript class under Wine answers IDispatchEx::GetDispID
// only: its GetIDsOfNames is a stub. Its members are found and called.
class DispatchExListener final : public IDispatchEx {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, IID_IDispatch) && !IsEqualIID(iid, __uuidof(IDispatchEx))) {
      return E_NOINTERFACE;
    }
    *object = static_cast<IDispatchEx*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() noexcept override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept override {
    if (info) *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                   UINT*) noexcept override {
    return Called(id, params, result);
  }
  HRESULT STDMETHODCALLTYPE GetDispID(BSTR name, DWORD, DISPID* id) noexcept override {
    if (name == nullptr || id == nullptr) return E_INVALIDARG;
    if (_wcsicmp(name, L"progress") == 0) return *id = 100, S_OK;
    if (_wcsicmp(name, L"answered") == 0) return *id = 101, S_OK;
    *id = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE InvokeEx(DISPID id, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                                     IServiceProvider*) noexcept override {
    return Called(id, params, result);
  }
  HRESULT STDMETHODCALLTYPE DeleteMemberByName(BSTR, DWORD) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DeleteMemberByDispID(DISPID) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMemberProperties(DISPID, DWORD, DWORD*) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMemberName(DISPID, BSTR*) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetNextDispID(DWORD, DISPID, DISPID*) noexcept override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetNameSpaceParent(IUnknown** parent) noexcept override {
    if (parent) *parent = nullptr;
    return E_NOTIMPL;
  }

  int Progress = 0, Answered = 0, Strangers = 0;

 private:
  ~DispatchExListener() = default;
  HRESULT Called(DISPID id, DISPPARAMS* params, VARIANT* result) {
    if (result) VariantInit(result);
    const bool two = params != nullptr && params->cArgs == 2;
    if (id == 100 && two) ++Progress;
    else if (id == 101 && two) ++Answered;
    else ++Strangers;
    return S_OK;
  }
  ULONG refs_ = 1;
};

TEST(HostileBatch, ListenerMembersAreFoundThroughGetDispIdAndAMissingMemberIsNotCalled) {
  com_ptr<_Resolver> resolver = TestResolverObject();
  ASSERT_TRUE(resolver);
  com_ptr<DispatchExListener> script(new DispatchExListener());
  unique_variant value;
  V_VT(value.get()) = VT_DISPATCH;
  V_DISPATCH(value.get()) = script.copy().detach();
  ASSERT_EQ(resolver->putref_Listener(*value.get()), S_OK);
  EXPECT_EQ(RunBatch(resolver.get(), 7).size(), 7u);
  EXPECT_EQ(script->Answered, 7);
  EXPECT_GT(script->Progress, 0);
  EXPECT_EQ(script->Strangers, 0);

  // A listener with Progress only: Answered is not called, and that is no error.
  com_ptr<EventSink> partial(new EventSink());
  partial->Offer(true, false);
  ASSERT_EQ(resolver->put_Listener(*ObjectValue(partial.get()).get()), S_OK);
  EXPECT_EQ(RunBatch(resolver.get(), 4).size(), 4u);
  EXPECT_EQ(partial->Count(DISPID_ANSWERED), 0u);
  EXPECT_GT(partial->Count(DISPID_PROGRESS), 0u);
  EXPECT_EQ(LastErrorOf(resolver.get()), L"");
  value.reset();
  ASSERT_EQ(resolver->put_Listener(*value.get()), S_OK);
  EXPECT_EQ(script->Answered, 7);
}

// Reports whose receivers let go of things: the Resolver's last reference
// (the test handed it over) inside ResolveMany, the listener clearing itself
// as the last one holding it, a sink that unadvises itself, and a Batch whose
// last reference a sink drops while Wait delivers its reports.
TEST(HostileBatch, ReceiversThatReleaseTheResolverTheirConnectionOrThemselves) {
  {
    _Resolver* doomed = TestResolverObject().detach();
    ASSERT_NE(doomed, nullptr);
    com_ptr<EventSink> listener(new EventSink());
    listener->OnReport = [&doomed](const Report& report) {
      if (report.Member == DISPID_ANSWERED && doomed != nullptr) std::exchange(doomed, nullptr)->Release();
    };
    ASSERT_EQ(doomed->put_Listener(*ObjectValue(listener.get()).get()), S_OK);
    _Resolver* calling = doomed;
    unique_variant answers;
    EXPECT_EQ(calling->ResolveMany(*NameList(6, L"hostile.vavizav.test").get(), Missing(), answers.get()), S_OK);
    EXPECT_EQ(doomed, nullptr);
    EXPECT_EQ(StatusesOf(*answers.get()).size(), 6u);
    EXPECT_EQ(listener->Count(DISPID_ANSWERED), 6u);
  }
  {
    // The listener drops itself as the Resolver's Listener: the only reference
    // left is the Resolver's, so it goes inside its own call.
    com_ptr<_Resolver> resolver = TestResolverObject();
    ASSERT_TRUE(resolver);
    auto calls = std::make_shared<int>(0);
    EventSink* self = new EventSink();
    self->OnReport = [resolver = resolver.get(), calls](const Report&) {
      if (++*calls == 1) {
        unique_variant nothing;
        EXPECT_EQ(resolver->put_Listener(*nothing.get()), S_OK);
      }
    };
    ASSERT_EQ(resolver->put_Listener(*ObjectValue(self).get()), S_OK);
    self->Release();
    EXPECT_EQ(RunBatch(resolver.get(), 6).size(), 6u);
    EXPECT_EQ(*calls, 1) << "a listener called after it was cleared";
  }
  com_ptr<_Resolver> resolver = TestResolverObject();
  ASSERT_TRUE(resolver);
  com_ptr<IConnectionPointContainer> container;
  ASSERT_EQ(resolver->QueryInterface(IID_IConnectionPointContainer, container.put_void()), S_OK);
  com_ptr<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(DIID__ResolverEvents, point.put()), S_OK);
  {
    // A sink that unadvises itself on its first report hears nothing after;
    // another sink hears everything.
    com_ptr<EventSink> leaving(new EventSink());
    com_ptr<EventSink> staying(new EventSink());
    DWORD leavingCookie = 0, stayingCookie = 0;
    ASSERT_EQ(point->Advise(leaving.get(), &leavingCookie), S_OK);
    ASSERT_EQ(point->Advise(staying.get(), &stayingCookie), S_OK);
    leaving->OnReport = [&](const Report&) {
      if (leavingCookie != 0) {
        EXPECT_EQ(point->Unadvise(std::exchange(leavingCookie, 0)), S_OK);
      }
    };
    EXPECT_EQ(RunBatch(resolver.get(), 6).size(), 6u);
    EXPECT_EQ(leaving->Reports.size(), 1u);
    EXPECT_EQ(staying->Count(DISPID_ANSWERED), 6u);
    EXPECT_EQ(leaving->References(), 1u);
    EXPECT_EQ(point->Unadvise(stayingCookie), S_OK);
  }
  {
    // The Batch's last reference dropped by a sink while Wait delivers.
    _Batch* batch = nullptr;
    ASSERT_EQ(resolver->ResolveManyAsync(*NameList(12, L"hostile.vavizav.test").get(), Missing(), &batch), S_OK);
    ASSERT_NE(batch, nullptr);
    com_ptr<EventSink> sink(new EventSink());
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(sink.get(), &cookie), S_OK);
    _Batch* held = batch;
    std::size_t atRelease = 0;
    sink->OnReport = [&](const Report&) {
      if (held != nullptr && sink->Reports.size() >= 2) {
        atRelease = sink->Reports.size();
        std::exchange(held, nullptr)->Release();
      }
    };
    VARIANT_BOOL finished = VARIANT_FALSE;
    EXPECT_EQ(batch->Wait(Missing(), &finished), S_OK);
    PumpFor(200);
    if (held == nullptr) {
      EXPECT_EQ(sink->Reports.size(), atRelease) << "a report of a released batch";
    } else {
      held->Release();
    }
    EXPECT_EQ(point->Unadvise(cookie), S_OK);
  }
  // The Resolver works on.
  EXPECT_EQ(RunBatch(resolver.get(), 3), std::vector<std::wstring>(3, L"NXDOMAIN"));
}

// A sink that says it has the interface and hands back nothing is refused,
// not called.
class EmptyHandedSink final : public DispatchDouble {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown)) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) noexcept override {
    ++Calls;
    return S_OK;
  }
  int Calls = 0;

 private:
  ~EmptyHandedSink() override = default;
};

TEST(HostileBatch, ASinkThatAnswersItsInterfaceWithNothingIsRefused) {
  com_ptr<_Resolver> resolver = TestResolverObject();
  ASSERT_TRUE(resolver);
  com_ptr<IConnectionPointContainer> container;
  ASSERT_EQ(resolver->QueryInterface(IID_IConnectionPointContainer, container.put_void()), S_OK);
  com_ptr<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(DIID__ResolverEvents, point.put()), S_OK);
  com_ptr<EmptyHandedSink> sink(new EmptyHandedSink());
  DWORD cookie = 9;
  const HRESULT advised = point->Advise(sink.get(), &cookie);
  EXPECT_TRUE(advised == CONNECT_E_CANNOTCONNECT || advised == E_NOINTERFACE || advised == E_POINTER)
      << HresultText(advised);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(RunBatch(resolver.get(), 3).size(), 3u);
  EXPECT_EQ(sink->Calls, 0);
  EXPECT_EQ(sink->References(), 1u);
}

// Listener read with an argument, as `r.Listener(0)` in a script: the getter
// takes none, and oleaut32 applies the argument to the default member of the
// object it returned. Nothing has none: the call fails, and the process goes on.
TEST(HostileBatch, ListenerReadWithAnArgumentWhileNothingFails) {
  com_ptr<_Resolver> resolver = TestResolverObject();
  ASSERT_TRUE(resolver);
  for (const WORD flags : {WORD(DISPATCH_PROPERTYGET), WORD(DISPATCH_METHOD | DISPATCH_PROPERTYGET)}) {
    unique_variant result;
    EXPECT_TRUE(FAILED(InvokeWith(resolver.get(), DISPID_LISTENER, flags, Long(0).get(), result.get())));
    EXPECT_EQ(V_VT(result.get()), VT_EMPTY);
  }
  EXPECT_EQ(RunBatch(resolver.get(), 2).size(), 2u);
}

}  // namespace
}  // namespace vavizav::testing
