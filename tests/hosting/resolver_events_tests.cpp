// The Resolver's long work as a compiled client meets it: the connection
// point of _ResolverEvents (FindConnectionPoint, EnumConnectionPoints,
// IProvideClassInfo2, Advise and Unadvise, the advise limit), the reports of
// ResolveMany and of ResolveManyAsync batches to sinks of the test's own,
// which thread they arrive on and when, Cancel from inside a report and from
// another batch's report, Batch.Wait, and the release of a Batch, of its
// Resolver, and of both, while the batch runs.
//
// Batches of many names ask the delaying responder (5 ms a reply); batches
// that are cancelled ask the scripted server, which delays each reply and
// records every query it receives, so a cancelled batch is checked on the
// wire: after Cancel returns, the test sends the server a marker query of its
// own, and no query of the batch may arrive after the marker.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <oleauto.h>
#include <ocidl.h>
#include <olectl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "clock.h"
#include "event_sink.h"
#include "fake_dns_server.h"
#include "module_fixture.h"
#include "runtime/handles.h"

namespace vavizav::testing {

using runtime::BstrView;
using runtime::com_ptr;
using runtime::MakeBstr;
using runtime::unique_bstr;
using runtime::unique_handle;
using runtime::unique_variant;

namespace {

inline const wchar_t* const RESPONDER = VAVIZAV_RESPONDER_ADDRESS;

com_ptr<_Resolver> NewResolver(const wchar_t* server, LONG maxInFlight, LONG timeOut = 2000) {
  com_ptr<_Resolver> resolver = NewResolverAs<_Resolver>(IID__Resolver);
  if (!resolver) return resolver;
  EXPECT_EQ(resolver->put_DNSServer(MakeBstr(server).get()), S_OK);
  EXPECT_EQ(resolver->put_TimeOut(timeOut), S_OK);
  EXPECT_EQ(resolver->put_MaxInFlight(maxInFlight), S_OK);
  return resolver;
}

com_ptr<IConnectionPoint> EventsPoint(_Resolver* resolver) {
  com_ptr<IConnectionPoint> point;
  com_ptr<IConnectionPointContainer> container;
  if (resolver != nullptr && SUCCEEDED(resolver->QueryInterface(IID_IConnectionPointContainer, container.put_void()))) {
    EXPECT_EQ(container->FindConnectionPoint(DIID__ResolverEvents, point.put()), S_OK);
  }
  return point;
}

// A sink advised on `resolver`'s events point; Unadvise()s when it goes.
class Advised {
 public:
  Advised(_Resolver* resolver, EventSink* sink) : point_(EventsPoint(resolver)) {
    if (point_) {
      EXPECT_EQ(point_->Advise(sink, &cookie_), S_OK);
    }
  }
  Advised(const Advised&) = delete;
  Advised& operator=(const Advised&) = delete;
  ~Advised() {
    if (point_ && cookie_ != 0) point_->Unadvise(cookie_);
  }

 private:
  com_ptr<IConnectionPoint> point_;
  DWORD cookie_ = 0;
};

unique_variant ResolveManyOf(_Resolver* resolver, const VARIANT& names) {
  unique_variant answers;
  EXPECT_EQ(resolver->ResolveMany(names, Missing(), answers.get()), S_OK);
  return answers;
}

com_ptr<_Batch> StartBatch(_Resolver* resolver, const VARIANT& names) {
  com_ptr<_Batch> batch;
  EXPECT_EQ(resolver->ResolveManyAsync(names, Missing(), batch.put()), S_OK);
  return batch;
}

bool Wait(_Batch* batch, LONG ms = -1) {
  VARIANT_BOOL finished = VARIANT_FALSE;
  EXPECT_EQ(batch->Wait(ms < 0 ? Missing() : *Long(ms), &finished), S_OK);
  return finished != VARIANT_FALSE;
}

LONG DoneOf(_Batch* batch) {
  LONG done = -1;
  EXPECT_EQ(batch->get_Done(&done), S_OK);
  return done;
}

bool FinishedOf(_Batch* batch) {
  VARIANT_BOOL finished = VARIANT_FALSE;
  EXPECT_EQ(batch->get_Finished(&finished), S_OK);
  return finished != VARIANT_FALSE;
}

std::vector<std::wstring> BatchStatuses(_Batch* batch) {
  unique_variant answers;
  EXPECT_EQ(batch->get_Answers(answers.get()), S_OK);
  return StatusesOf(*answers.get());
}

std::size_t CountOf(const std::vector<std::wstring>& statuses, std::wstring_view status) {
  return static_cast<std::size_t>(std::count(statuses.begin(), statuses.end(), status));
}

// What the reports of one batch must show: every answer reported once by its
// index (the elements `expected` names, in memory order), Progress counting up
// to `done` of `total` at its end, every report on this thread.
void ExpectReports(const EventSink& sink, const std::set<LONG>& answered, LONG done, LONG total) {
  EXPECT_EQ(sink.Malformed(), 0);
  std::multiset<LONG> indexes;
  LONG lastDone = -1;
  std::size_t lastProgress = 0, lastAnswered = 0;
  for (std::size_t i = 0; i < sink.Reports.size(); ++i) {
    const Report& report = sink.Reports[i];
    EXPECT_EQ(report.Thread, ::GetCurrentThreadId()) << "report " << i << " came on another thread";
    if (report.Member == DISPID_ANSWERED) {
      indexes.insert(report.First);
      lastAnswered = i + 1;
    } else if (report.Member == DISPID_PROGRESS) {
      EXPECT_GE(report.First, lastDone) << "Progress went back at report " << i;
      EXPECT_EQ(report.Second, total);
      lastDone = report.First;
      lastProgress = i + 1;
    }
  }
  EXPECT_EQ(indexes.size(), answered.size()) << "Answered reports";
  EXPECT_EQ(std::set<LONG>(indexes.begin(), indexes.end()), answered) << "each element reported once";
  ASSERT_GT(lastProgress, 0u) << "no Progress at all";
  EXPECT_EQ(lastDone, done) << "the last Progress";
  EXPECT_GT(lastProgress, lastAnswered) << "an Answered came after the last Progress";
}

std::set<LONG> Range(LONG count) {
  std::set<LONG> all;
  for (LONG i = 0; i < count; ++i) all.insert(i);
  return all;
}

// ---------------------------------------------------------------------------
// The connection point.

TEST(ResolverEvents, TheContainerFindsAndListsOnePointOfTheEventsInterface) {
  com_ptr<_Resolver> resolver = NewResolverAs<_Resolver>(IID__Resolver);
  ASSERT_TRUE(resolver);
  com_ptr<IConnectionPointContainer> container;
  ASSERT_EQ(resolver->QueryInterface(IID_IConnectionPointContainer, container.put_void()), S_OK);
  com_ptr<IUnknown> identity = resolver.query<IUnknown>();
  EXPECT_EQ(container.query<IUnknown>().get(), identity.get());

  com_ptr<IConnectionPoint> point;
  ASSERT_EQ(container->FindConnectionPoint(DIID__ResolverEvents, point.put()), S_OK);
  ASSERT_TRUE(point);
  IID iid = IID_NULL;
  EXPECT_EQ(point->GetConnectionInterface(&iid), S_OK);
  EXPECT_TRUE(IsEqualIID(iid, DIID__ResolverEvents));
  com_ptr<IConnectionPointContainer> back;
  EXPECT_EQ(point->GetConnectionPointContainer(back.put()), S_OK);
  EXPECT_EQ(back.query<IUnknown>().get(), identity.get());
  com_ptr<IEnumConnections> connections;
  EXPECT_EQ(point->EnumConnections(connections.put()), E_NOTIMPL);
  EXPECT_FALSE(connections);

  for (REFIID other : {IID_IDispatch, IID__Resolver, IID_IPropertyNotifySink, IID_IUnknown}) {
    com_ptr<IConnectionPoint> none;
    EXPECT_EQ(container->FindConnectionPoint(other, none.put()), CONNECT_E_NOCONNECTION);
    EXPECT_FALSE(none);
  }

  com_ptr<IEnumConnectionPoints> points;
  ASSERT_EQ(container->EnumConnectionPoints(points.put()), S_OK);
  ASSERT_TRUE(points);
  IConnectionPoint* listed[2] = {};
  ULONG fetched = 9;
  EXPECT_EQ(points->Next(2, listed, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  ASSERT_NE(listed[0], nullptr);
  com_ptr<IConnectionPoint> first(listed[0]);
  iid = IID_NULL;
  EXPECT_EQ(first->GetConnectionInterface(&iid), S_OK);
  EXPECT_TRUE(IsEqualIID(iid, DIID__ResolverEvents));
  EXPECT_EQ(points->Next(1, listed, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);
  EXPECT_EQ(points->Reset(), S_OK);
  EXPECT_EQ(points->Skip(1), S_OK);
  EXPECT_EQ(points->Skip(1), S_FALSE);
  EXPECT_EQ(points->Reset(), S_OK);
  com_ptr<IEnumConnectionPoints> clone;
  ASSERT_EQ(points->Clone(clone.put()), S_OK);
  ASSERT_TRUE(clone);
  fetched = 0;
  EXPECT_EQ(clone->Next(1, listed, &fetched), S_OK);
  EXPECT_EQ(fetched, 1u);
  com_ptr<IConnectionPoint> second(listed[0]);
  EXPECT_TRUE(second);
}

TEST(ResolverEvents, ClassInfoIsTheResolverCoclassAndTheDefaultSourceIsTheEventsInterface) {
  com_ptr<_Resolver> resolver = NewResolverAs<_Resolver>(IID__Resolver);
  ASSERT_TRUE(resolver);
  com_ptr<IProvideClassInfo2> info2;
  ASSERT_EQ(resolver->QueryInterface(IID_IProvideClassInfo2, info2.put_void()), S_OK);
  com_ptr<IProvideClassInfo> info;
  ASSERT_EQ(resolver->QueryInterface(IID_IProvideClassInfo, info.put_void()), S_OK);
  EXPECT_EQ(info.query<IUnknown>().get(), resolver.query<IUnknown>().get());

  GUID guid = GUID_NULL;
  EXPECT_EQ(info2->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &guid), S_OK);
  EXPECT_TRUE(IsEqualGUID(guid, DIID__ResolverEvents));
  EXPECT_EQ(info2->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID + 7, &guid), E_INVALIDARG);

  com_ptr<ITypeInfo> coclass;
  ASSERT_EQ(info->GetClassInfo(coclass.put()), S_OK);
  ASSERT_TRUE(coclass);
  TYPEATTR* attributes = nullptr;
  ASSERT_EQ(coclass->GetTypeAttr(&attributes), S_OK);
  EXPECT_TRUE(IsEqualGUID(attributes->guid, CLSID_Resolver));
  EXPECT_EQ(attributes->typekind, TKIND_COCLASS);
  const WORD implemented = attributes->cImplTypes;
  coclass->ReleaseTypeAttr(attributes);
  // The class lists the events interface as its default source, as hosts
  // (VBA's WithEvents, HTA's <script for= event=>) look it up.
  bool source = false;
  for (UINT i = 0; i < implemented; ++i) {
    INT flags = 0;
    HREFTYPE ref = 0;
    com_ptr<ITypeInfo> type;
    ASSERT_EQ(coclass->GetImplTypeFlags(i, &flags), S_OK);
    ASSERT_EQ(coclass->GetRefTypeOfImplType(i, &ref), S_OK);
    ASSERT_EQ(coclass->GetRefTypeInfo(ref, type.put()), S_OK);
    TYPEATTR* typeAttributes = nullptr;
    ASSERT_EQ(type->GetTypeAttr(&typeAttributes), S_OK);
    if (IsEqualGUID(typeAttributes->guid, DIID__ResolverEvents)) {
      source = true;
      EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
      EXPECT_EQ(typeAttributes->typekind, TKIND_DISPATCH);
    }
    type->ReleaseTypeAttr(typeAttributes);
  }
  EXPECT_TRUE(source);
}

TEST(ResolverEvents, AdviseTakesSinksOfTheEventsInterfaceOrIDispatchUpToSixtyFour) {
  com_ptr<_Resolver> resolver = NewResolverAs<_Resolver>(IID__Resolver);
  com_ptr<IConnectionPoint> point = EventsPoint(resolver.get());
  ASSERT_TRUE(point);

  // Neither interface: refused, and the sink is not kept.
  com_ptr<EventSink> stranger(new EventSink(SinkFace::Neither));
  DWORD cookie = 77;
  EXPECT_EQ(point->Advise(stranger.get(), &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(stranger->References(), 1u);

  std::vector<com_ptr<EventSink>> sinks;
  std::set<DWORD> cookies;
  std::vector<DWORD> order;
  for (int i = 0; i < 64; ++i) {
    sinks.emplace_back(new EventSink(i % 2 ? SinkFace::EventsOnly : SinkFace::DispatchOnly));
    cookie = 0;
    ASSERT_EQ(point->Advise(sinks.back().get(), &cookie), S_OK) << "sink " << i;
    EXPECT_NE(cookie, 0u);
    cookies.insert(cookie);
    order.push_back(cookie);
    EXPECT_GT(sinks.back()->References(), 1u) << "the point holds the sink";
  }
  EXPECT_EQ(cookies.size(), 64u) << "each cookie once";
  com_ptr<EventSink> extra(new EventSink());
  cookie = 77;
  EXPECT_EQ(point->Advise(extra.get(), &cookie), CONNECT_E_ADVISELIMIT);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(extra->References(), 1u);

  // A freed place takes the next sink; an unknown or spent cookie is refused.
  EXPECT_EQ(point->Unadvise(order[10]), S_OK);
  EXPECT_EQ(sinks[10]->References(), 1u);
  EXPECT_EQ(point->Unadvise(order[10]), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point->Unadvise(0), CONNECT_E_NOCONNECTION);
  DWORD unknown = 1;
  while (cookies.count(unknown)) ++unknown;
  EXPECT_EQ(point->Unadvise(unknown), CONNECT_E_NOCONNECTION);
  ASSERT_EQ(point->Advise(extra.get(), &cookie), S_OK);
  EXPECT_NE(cookie, 0u);
  EXPECT_EQ(point->Unadvise(cookie), S_OK);
  EXPECT_EQ(point->Unadvise(order[11]), S_OK);

  // The Resolver's end lets go of the sinks still advised.
  point.reset();
  resolver.reset();
  for (std::size_t i = 0; i < sinks.size(); ++i) EXPECT_EQ(sinks[i]->References(), 1u) << "sink " << i;
  EXPECT_EQ(extra->References(), 1u);
}

// ---------------------------------------------------------------------------
// Reports of ResolveMany.

TEST(ResolverEvents, ResolveManyReportsEachAnswerOnceAndProgressToTheTotalOnTheCallersThread) {
  com_ptr<_Resolver> resolver = NewResolver(RESPONDER, 16);
  ASSERT_TRUE(resolver);
  com_ptr<EventSink> sink(new EventSink());
  com_ptr<EventSink> listener(new EventSink());
  Advised advised(resolver.get(), sink.get());
  unique_variant listenerValue;
  V_VT(listenerValue.get()) = VT_DISPATCH;
  V_DISPATCH(listenerValue.get()) = listener.copy().detach();
  ASSERT_EQ(resolver->put_Listener(*listenerValue.get()), S_OK);
  listenerValue.reset();

  // 300 names; one cannot be asked (BADNAME), one repeats another (sent once).
  constexpr LONG COUNT = 300;
  unique_variant names = NameList(COUNT, L"events.test");
  VARIANT* elements = nullptr;
  ASSERT_EQ(SafeArrayAccessData(V_ARRAY(names.get()), reinterpret_cast<void**>(&elements)), S_OK);
  VariantClear(&elements[7]);
  V_VT(&elements[7]) = VT_BSTR;
  V_BSTR(&elements[7]) = SysAllocString(L"a..b");
  VariantCopy(&elements[8], &elements[3]);
  std::vector<std::wstring> asked;
  for (LONG i = 0; i < COUNT; ++i) asked.emplace_back(BstrView(V_BSTR(&elements[i])));
  SafeArrayUnaccessData(V_ARRAY(names.get()));

  const Stopwatch clock;
  unique_variant answers = ResolveManyOf(resolver.get(), *names.get());
  const double elapsedMs = clock.ElapsedMs();
  const std::vector<std::wstring> statuses = StatusesOf(*answers.get());
  ASSERT_EQ(statuses.size(), static_cast<std::size_t>(COUNT));
  EXPECT_EQ(statuses[7], L"BADNAME");
  EXPECT_EQ(CountOf(statuses, L"NOERROR"), static_cast<std::size_t>(COUNT - 1));

  for (EventSink* observer : {sink.get(), listener.get()}) {
    SCOPED_TRACE(observer == sink.get() ? "the advised sink" : "the listener");
    ExpectReports(*observer, Range(COUNT), COUNT, COUNT);
    for (const Report& report : observer->Reports) {
      if (report.Member != DISPID_ANSWERED || report.First < 0 || report.First >= COUNT) continue;
      EXPECT_EQ(AnswerText(report.Answer.get(), &_Answer::get_Name), asked[static_cast<std::size_t>(report.First)])
          << "index " << report.First;
      EXPECT_EQ(AnswerText(report.Answer.get(), &_Answer::get_Status), statuses[static_cast<std::size_t>(report.First)]);
    }
    // At most one Progress every 100 ms, and the one at the end.
    EXPECT_LE(observer->Count(DISPID_PROGRESS), static_cast<std::size_t>(elapsedMs / 100) + 2)
        << "in " << elapsedMs << " ms";
  }
  EXPECT_GT(listener->Lookups(), 0);
  unique_bstr lastError;
  ASSERT_EQ(resolver->get_LastError(lastError.put()), S_OK);
  EXPECT_EQ(BstrView(lastError.get()), L"");

  // The listener reads back as the object; Nothing clears it. A batch of no
  // names reports nothing.
  unique_variant current;
  ASSERT_EQ(resolver->get_Listener(current.get()), S_OK);
  ASSERT_EQ(V_VT(current.get()), VT_DISPATCH);
  EXPECT_EQ(com_ptr<IDispatch>(V_DISPATCH(current.get())).query<IUnknown>().get(),
            listener.query<IUnknown>().get());
  V_VT(current.get()) = VT_EMPTY;
  unique_variant nothing;
  V_VT(nothing.get()) = VT_DISPATCH;
  V_DISPATCH(nothing.get()) = nullptr;
  ASSERT_EQ(resolver->putref_Listener(*nothing.get()), S_OK);
  EXPECT_EQ(listener->References(), 1u);
  ASSERT_EQ(resolver->get_Listener(current.get()), S_OK);
  EXPECT_TRUE(V_VT(current.get()) == VT_EMPTY || (V_VT(current.get()) == VT_DISPATCH && !V_DISPATCH(current.get())))
      << "Listener after Nothing: type " << V_VT(current.get());
  sink->Reports.clear();
  const std::size_t listenerReports = listener->Reports.size();
  SAFEARRAYBOUND none{0, 0};
  unique_variant empty;
  V_VT(empty.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(empty.get()) = SafeArrayCreate(VT_VARIANT, 1, &none);
  ResolveManyOf(resolver.get(), *empty.get());
  EXPECT_TRUE(sink->Reports.empty());
  ResolveManyOf(resolver.get(), *NameList(3, L"events.test").get());
  EXPECT_EQ(sink->Count(DISPID_ANSWERED), 3u);
  EXPECT_EQ(listener->Reports.size(), listenerReports) << "a cleared listener is not called";
}

// Index counts the elements in memory order: for a range's Value (rows and
// columns from 1) the first column top to bottom, then the next.
TEST(ResolverEvents, IndexCountsAnExcelRangesElementsColumnByColumn) {
  com_ptr<_Resolver> resolver = NewResolver(RESPONDER, 8);
  ASSERT_TRUE(resolver);
  com_ptr<EventSink> sink(new EventSink());
  Advised advised(resolver.get(), sink.get());
  SAFEARRAYBOUND bounds[] = {{3, 1}, {4, 1}};  // 3 rows, 4 columns, from 1
  unique_variant range;
  V_VT(range.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(range.get()) = SafeArrayCreate(VT_VARIANT, 2, bounds);
  for (LONG row = 1; row <= 3; ++row) {
    for (LONG column = 1; column <= 4; ++column) {
      LONG at[] = {row, column};
      unique_variant cell = Text(L"h" + std::to_wstring(row * 10 + column) + L".range.events.test");
      ASSERT_EQ(SafeArrayPutElement(V_ARRAY(range.get()), at, cell.get()), S_OK);
    }
  }
  unique_variant answers = ResolveManyOf(resolver.get(), *range.get());
  ExpectReports(*sink.get(), Range(12), 12, 12);
  for (const Report& report : sink->Reports) {
    if (report.Member != DISPID_ANSWERED) continue;
    const LONG row = report.First % 3 + 1, column = report.First / 3 + 1;
    EXPECT_EQ(AnswerText(report.Answer.get(), &_Answer::get_Name),
              L"h" + std::to_wstring(row * 10 + column) + L".range.events.test")
        << "index " << report.First;
  }
}

// ---------------------------------------------------------------------------
// Batches beside the caller.

TEST(ResolverBatch, DoneMovesWithoutPumpingAndReportsWaitForTheCreatingThreadToPump) {
  com_ptr<_Resolver> resolver = NewResolver(RESPONDER, 16);
  ASSERT_TRUE(resolver);
  com_ptr<EventSink> sink(new EventSink());
  Advised advised(resolver.get(), sink.get());
  constexpr LONG COUNT = 300;
  com_ptr<_Batch> batch = StartBatch(resolver.get(), *NameList(COUNT, L"async.events.test").get());
  ASSERT_TRUE(batch);
  LONG total = 0;
  EXPECT_EQ(batch->get_Total(&total), S_OK);
  EXPECT_EQ(total, COUNT);

  // Polled without pumping (Sleep dispatches nothing): the worker's count moves.
  LONG lastDone = 0;
  const ULONGLONG deadline = GetTickCount64() + 30000;
  while (!FinishedOf(batch.get()) && GetTickCount64() < deadline) {
    const LONG done = DoneOf(batch.get());
    EXPECT_GE(done, lastDone);
    lastDone = done;
    Sleep(5);
  }
  ASSERT_TRUE(FinishedOf(batch.get())) << "the batch did not end in 30 s";
  EXPECT_EQ(DoneOf(batch.get()), COUNT);
  EXPECT_TRUE(sink->Reports.empty()) << "a report came while the thread did not pump";
  const std::vector<std::wstring> statuses = BatchStatuses(batch.get());
  EXPECT_EQ(CountOf(statuses, L"NOERROR"), static_cast<std::size_t>(COUNT));

  // Wait(0) delivers what is pending: everything, since the batch has ended.
  EXPECT_TRUE(Wait(batch.get(), 0));
  ExpectReports(*sink.get(), Range(COUNT), COUNT, COUNT);
  const std::size_t reports = sink->Reports.size();
  EXPECT_TRUE(Wait(batch.get()));
  EXPECT_EQ(sink->Reports.size(), reports);
}

// Answers has the shape of Names (a range's rows and columns from 1) before
// the batch ends and after; batches of one Resolver share its cache.
TEST(ResolverBatch, AnswersKeepTheRangesShapeAndTheBatchFillsTheResolversCache) {
  com_ptr<_Resolver> resolver = NewResolver(RESPONDER, 1);
  ASSERT_TRUE(resolver);
  SAFEARRAYBOUND bounds[] = {{2, 1}, {3, 1}};
  unique_variant range;
  V_VT(range.get()) = VT_ARRAY | VT_VARIANT;
  V_ARRAY(range.get()) = SafeArrayCreate(VT_VARIANT, 2, bounds);
  for (LONG row = 1; row <= 2; ++row) {
    for (LONG column = 1; column <= 3; ++column) {
      LONG at[] = {row, column};
      unique_variant cell = Text(L"h" + std::to_wstring(row * 10 + column) + L".shape.events.test");
      ASSERT_EQ(SafeArrayPutElement(V_ARRAY(range.get()), at, cell.get()), S_OK);
    }
  }
  com_ptr<_Batch> batch = StartBatch(resolver.get(), *range.get());
  ASSERT_TRUE(batch);
  for (const bool waited : {false, true}) {
    if (waited) {
      EXPECT_TRUE(Wait(batch.get()));
    }
    unique_variant answers;
    ASSERT_EQ(batch->get_Answers(answers.get()), S_OK);
    ASSERT_EQ(V_VT(answers.get()), VT_ARRAY | VT_VARIANT);
    SAFEARRAY* array = V_ARRAY(answers.get());
    ASSERT_EQ(SafeArrayGetDim(array), 2u);
    for (UINT dimension = 1; dimension <= 2; ++dimension) {
      LONG lower = 0, upper = 0;
      SafeArrayGetLBound(array, dimension, &lower);
      SafeArrayGetUBound(array, dimension, &upper);
      EXPECT_EQ(lower, 1) << dimension;
      EXPECT_EQ(upper, dimension == 1 ? 2 : 3) << dimension;
    }
    const std::vector<std::wstring> statuses = StatusesOf(*answers.get());
    EXPECT_EQ(CountOf(statuses, L"NOERROR") + CountOf(statuses, L"<empty>"), 6u);
    if (waited) {
      EXPECT_EQ(CountOf(statuses, L"NOERROR"), 6u);
    }
  }
  // The same names again, through ResolveMany: every answer from the cache.
  unique_variant again = ResolveManyOf(resolver.get(), *range.get());
  VARIANT* elements = nullptr;
  ASSERT_EQ(SafeArrayAccessData(V_ARRAY(again.get()), reinterpret_cast<void**>(&elements)), S_OK);
  for (int i = 0; i < 6; ++i) {
    com_ptr<_Answer> answer;
    VARIANT_BOOL cached = VARIANT_FALSE;
    ASSERT_EQ(V_DISPATCH(&elements[i])->QueryInterface(IID__Answer, answer.put_void()), S_OK);
    EXPECT_EQ(answer->get_FromCache(&cached), S_OK);
    EXPECT_NE(cached, VARIANT_FALSE) << i;
  }
  SafeArrayUnaccessData(V_ARRAY(again.get()));
}

class ScriptedBatch : public ::testing::Test {
 protected:
  static constexpr char MARKER[] = "marker.events.test";

  void SetUp() override {
    ASSERT_EQ(Server().Problem(), "");
    Server().Reset([](const Query& query) {
      if (query.LowerName() == MARKER) return std::vector<Send>{};
      return std::vector<Send>{{Reply(query, {A("192.0.2.44")}), 30}};
    });
  }
  void TearDown() override { Server().Reset(); }

  // A query for MARKER from a socket of the test's own: the server records
  // queries in the order they arrive, so whatever comes after it was sent
  // after this call.
  static void SendMarker() {
    const auto query = vbDNS::BuildQuery(vbDNS::TYPE_A, std::string_view(MARKER));
    ASSERT_TRUE(query.has_value());
    const vbDNS::Packet datagram = vbDNS::EncodeQuery(*query);
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    const SOCKET socket = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    ASSERT_NE(socket, INVALID_SOCKET);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(53);
    InetPtonW(AF_INET, SERVER_ADDRESS, &to.sin_addr);
    EXPECT_EQ(sendto(socket, reinterpret_cast<const char*>(datagram.data()), static_cast<int>(datagram.size()), 0,
                     reinterpret_cast<const sockaddr*>(&to), sizeof to),
              static_cast<int>(datagram.size()));
    closesocket(socket);
    WSACleanup();
  }

  // Queries of the batches (names under events.test) before and after the marker.
  struct Wire {
    bool Marked = false;
    std::size_t Before = 0, After = 0;
  };
  static Wire OnTheWire() {
    Wire wire;
    for (const Query& query : Server().Queries()) {
      const std::string name = query.LowerName();
      if (name == MARKER) {
        wire.Marked = true;
      } else if (name.size() > 12 && name.compare(name.size() - 12, 12, ".events.test") == 0) {
        ++(wire.Marked ? wire.After : wire.Before);
      }
    }
    return wire;
  }
  // Waits past every resend a batch of TimeOut 1000 would still make, then
  // looks at the wire.
  // `someSent`: the batch surely sent queries before it was cancelled.
  static void ExpectNothingSentAfterTheMarker(bool someSent = true) {
    PumpFor(700);
    const Wire wire = OnTheWire();
    EXPECT_TRUE(wire.Marked) << "the marker query never reached the server";
    if (someSent) {
      EXPECT_GT(wire.Before, 0u);
    }
    EXPECT_EQ(wire.After, 0u) << "queries of a cancelled batch were sent after Cancel returned";
  }
};

TEST_F(ScriptedBatch, CancelFromInsideAnAnsweredReportEndsResolveManyAndNothingIsSentAfter) {
  com_ptr<_Resolver> resolver = NewResolver(SERVER_ADDRESS, 4, 1000);
  ASSERT_TRUE(resolver);
  com_ptr<EventSink> sink(new EventSink());
  Advised advised(resolver.get(), sink.get());
  int answeredBeforeCancel = 0;
  sink->OnReport = [&](const Report& report) {
    if (report.Member == DISPID_ANSWERED && ++answeredBeforeCancel == 5) {
      EXPECT_EQ(resolver->Cancel(), S_OK);
      SendMarker();
    }
  };
  constexpr LONG COUNT = 60;
  unique_variant answers = ResolveManyOf(resolver.get(), *NameList(COUNT, L"cancel.events.test").get());
  sink->OnReport = nullptr;
  const std::vector<std::wstring> statuses = StatusesOf(*answers.get());
  ASSERT_EQ(statuses.size(), static_cast<std::size_t>(COUNT));
  const std::size_t cancelled = CountOf(statuses, L"CANCELLED");
  EXPECT_GT(cancelled, 0u);
  EXPECT_EQ(CountOf(statuses, L"NOERROR") + cancelled, static_cast<std::size_t>(COUNT));
  std::set<LONG> answered;
  for (LONG i = 0; i < COUNT; ++i) {
    if (statuses[static_cast<std::size_t>(i)] == L"NOERROR") answered.insert(i);
  }
  // Cancelled elements are not reported; the last Progress says how many were done.
  ExpectReports(*sink.get(), answered, static_cast<LONG>(answered.size()), COUNT);

  // A cancelled element: no server, no records.
  VARIANT* elements = nullptr;
  ASSERT_EQ(SafeArrayAccessData(V_ARRAY(answers.get()), reinterpret_cast<void**>(&elements)), S_OK);
  const auto last = std::find(statuses.rbegin(), statuses.rend(), L"CANCELLED");
  ASSERT_NE(last, statuses.rend());
  IDispatch* element = V_DISPATCH(&elements[statuses.rend() - last - 1]);
  EXPECT_EQ(AnswerText(element, &_Answer::get_Server), L"");
  com_ptr<_Answer> answer;
  ASSERT_EQ(element->QueryInterface(IID__Answer, answer.put_void()), S_OK);
  com_ptr<_Records> records;
  ASSERT_EQ(answer->get_Records(records.put()), S_OK);
  LONG count = -1;
  EXPECT_EQ(records->get_Count(&count), S_OK);
  EXPECT_EQ(count, 0);
  SafeArrayUnaccessData(V_ARRAY(answers.get()));
  unique_bstr lastError;
  ASSERT_EQ(resolver->get_LastError(lastError.put()), S_OK);
  EXPECT_EQ(BstrView(lastError.get()), L"");
  ExpectNothingSentAfterTheMarker();

  // Nothing runs now: Cancel does nothing, and the next batch runs whole.
  EXPECT_EQ(resolver->Cancel(), S_OK);
  const std::vector<std::wstring> again =
      StatusesOf(*ResolveManyOf(resolver.get(), *NameList(8, L"again.events.test").get()).get());
  EXPECT_EQ(CountOf(again, L"NOERROR"), 8u);
}

TEST_F(ScriptedBatch, ResolverCancelEndsEveryBatchItRunsAndWaitTakesItsArgument) {
  com_ptr<_Resolver> resolver = NewResolver(SERVER_ADDRESS, 2, 1000);
  ASSERT_TRUE(resolver);
  constexpr LONG COUNT = 40;
  com_ptr<_Batch> first = StartBatch(resolver.get(), *NameList(COUNT, L"first.events.test").get());
  com_ptr<_Batch> second = StartBatch(resolver.get(), *NameList(COUNT, L"second.events.test").get());
  ASSERT_TRUE(first && second);

  // Wait's argument: none, or milliseconds from 0; anything else is refused.
  VARIANT_BOOL finished = VARIANT_TRUE;
  EXPECT_EQ(first->Wait(*Long(-1), &finished), E_INVALIDARG);
  EXPECT_EQ(first->Wait(*Text(L"soon"), &finished), E_INVALIDARG);
  EXPECT_FALSE(Wait(first.get(), 0));
  EXPECT_FALSE(Wait(first.get(), 120)) << "40 names, two at a time, 30 ms each";
  const std::vector<std::wstring> partial = BatchStatuses(first.get());
  ASSERT_EQ(partial.size(), static_cast<std::size_t>(COUNT));
  EXPECT_GT(CountOf(partial, L"<empty>"), 0u) << "elements not answered yet are Empty";

  EXPECT_EQ(resolver->Cancel(), S_OK);
  SendMarker();
  for (_Batch* batch : {first.get(), second.get()}) {
    EXPECT_TRUE(FinishedOf(batch));
    EXPECT_TRUE(Wait(batch, 5000));
    const std::vector<std::wstring> statuses = BatchStatuses(batch);
    const std::size_t cancelled = CountOf(statuses, L"CANCELLED");
    EXPECT_GT(cancelled, 0u);
    EXPECT_EQ(CountOf(statuses, L"NOERROR") + cancelled, static_cast<std::size_t>(COUNT));
    EXPECT_EQ(static_cast<std::size_t>(DoneOf(batch)), CountOf(statuses, L"NOERROR")) << "cancelled ones not counted";
  }
  ExpectNothingSentAfterTheMarker();
  EXPECT_EQ(first->Cancel(), S_OK);
  EXPECT_TRUE(Wait(first.get()));
}

// Resolver.Cancel() from a report of another Resolver's batch ends the
// batches of the one it is called on, and only those.
TEST_F(ScriptedBatch, CancelFromAnotherBatchsReportEndsThatResolversBatch) {
  com_ptr<_Resolver> slow = NewResolver(SERVER_ADDRESS, 2, 1000);
  com_ptr<_Resolver> fast = NewResolver(RESPONDER, 16);
  ASSERT_TRUE(slow && fast);
  com_ptr<_Batch> running = StartBatch(slow.get(), *NameList(60, L"slow.events.test").get());
  ASSERT_TRUE(running);
  EXPECT_FALSE(Wait(running.get(), 100));
  com_ptr<EventSink> sink(new EventSink());
  Advised advised(fast.get(), sink.get());
  bool cancelled = false;
  sink->OnReport = [&](const Report& report) {
    if (report.Member == DISPID_ANSWERED && !cancelled) {
      cancelled = true;
      EXPECT_EQ(slow->Cancel(), S_OK);
      SendMarker();
      EXPECT_TRUE(FinishedOf(running.get()));
    }
  };
  const std::vector<std::wstring> fastStatuses =
      StatusesOf(*ResolveManyOf(fast.get(), *NameList(50, L"fast.test").get()).get());
  sink->OnReport = nullptr;
  EXPECT_TRUE(cancelled);
  EXPECT_EQ(CountOf(fastStatuses, L"NOERROR"), 50u) << "the batch whose report cancelled goes on";
  ExpectReports(*sink.get(), Range(50), 50, 50);
  EXPECT_TRUE(Wait(running.get(), 5000));
  EXPECT_GT(CountOf(BatchStatuses(running.get()), L"CANCELLED"), 0u);
  ExpectNothingSentAfterTheMarker();
}

// Batch.Cancel from a sink while Wait delivers the batch's reports.
TEST_F(ScriptedBatch, BatchCancelFromInsideAReportDuringWaitEndsItThere) {
  com_ptr<_Resolver> resolver = NewResolver(SERVER_ADDRESS, 2, 1000);
  ASSERT_TRUE(resolver);
  com_ptr<EventSink> sink(new EventSink());
  Advised advised(resolver.get(), sink.get());
  constexpr LONG COUNT = 50;
  com_ptr<_Batch> batch = StartBatch(resolver.get(), *NameList(COUNT, L"inside.events.test").get());
  ASSERT_TRUE(batch);
  int answered = 0;
  sink->OnReport = [&](const Report& report) {
    if (report.Member == DISPID_ANSWERED && ++answered == 3) {
      EXPECT_EQ(batch->Cancel(), S_OK);
      SendMarker();
      EXPECT_TRUE(FinishedOf(batch.get()));
    }
  };
  EXPECT_TRUE(Wait(batch.get()));
  sink->OnReport = nullptr;
  const std::vector<std::wstring> statuses = BatchStatuses(batch.get());
  std::set<LONG> done;
  for (LONG i = 0; i < COUNT; ++i) {
    if (statuses[static_cast<std::size_t>(i)] == L"NOERROR") done.insert(i);
  }
  EXPECT_EQ(CountOf(statuses, L"CANCELLED") + done.size(), static_cast<std::size_t>(COUNT));
  EXPECT_LT(done.size(), static_cast<std::size_t>(COUNT));
  EXPECT_EQ(DoneOf(batch.get()), static_cast<LONG>(done.size()));
  ExpectReports(*sink.get(), done, static_cast<LONG>(done.size()), COUNT);
  ExpectNothingSentAfterTheMarker();
}

TEST_F(ScriptedBatch, ReleasingTheBatchMidFlightCancelsItWithoutAReportAfter) {
  com_ptr<_Resolver> resolver = NewResolver(SERVER_ADDRESS, 2, 1000);
  ASSERT_TRUE(resolver);
  com_ptr<EventSink> sink(new EventSink());
  Advised advised(resolver.get(), sink.get());
  com_ptr<_Batch> batch = StartBatch(resolver.get(), *NameList(60, L"dropped.events.test").get());
  ASSERT_TRUE(batch);
  EXPECT_FALSE(Wait(batch.get(), 150));
  EXPECT_GT(sink->Count(DISPID_ANSWERED), 0u);
  batch.reset();
  SendMarker();
  const std::size_t reports = sink->Reports.size();
  ExpectNothingSentAfterTheMarker();  // pumps meanwhile
  EXPECT_EQ(sink->Reports.size(), reports) << "a report of a released batch";
  EXPECT_EQ(sink->Malformed(), 0);
}

TEST_F(ScriptedBatch, AResolverReleasedMidFlightLetsItsBatchFinishAndReport) {
  com_ptr<_Resolver> resolver = NewResolver(SERVER_ADDRESS, 4, 1000);
  ASSERT_TRUE(resolver);
  com_ptr<EventSink> sink(new EventSink());
  com_ptr<IConnectionPoint> point = EventsPoint(resolver.get());
  ASSERT_TRUE(point);
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(sink.get(), &cookie), S_OK);
  point.reset();
  constexpr LONG COUNT = 40;
  com_ptr<_Batch> batch = StartBatch(resolver.get(), *NameList(COUNT, L"orphan.events.test").get());
  ASSERT_TRUE(batch);
  resolver.reset();  // the batch holds its Resolver
  // Reports come while the thread idles and pumps, as in a host's message loop.
  const ULONGLONG deadline = GetTickCount64() + 20000;
  while (!FinishedOf(batch.get()) && GetTickCount64() < deadline) PumpFor(20);
  ASSERT_TRUE(FinishedOf(batch.get()));
  EXPECT_TRUE(Wait(batch.get()));
  EXPECT_EQ(CountOf(BatchStatuses(batch.get()), L"NOERROR"), static_cast<std::size_t>(COUNT));
  ExpectReports(*sink.get(), Range(COUNT), COUNT, COUNT);
  EXPECT_GT(sink->References(), 1u) << "the sink is advised until the Resolver goes";
  batch.reset();
  for (int i = 0; i < 100 && sink->References() > 1; ++i) PumpFor(20);
  EXPECT_EQ(sink->References(), 1u) << "the Resolver went with its last batch and let go of the sink";
}

// A batch started inside another's report: a ResolveMany and a
// ResolveManyAsync on the same Resolver from its own ResolveMany's reports.
TEST(ResolverBatch, BatchesStartedInsideAnothersReportRunWholeAndReportToTheSameSinks) {
  com_ptr<_Resolver> resolver = NewResolver(RESPONDER, 8);
  ASSERT_TRUE(resolver);
  com_ptr<EventSink> sink(new EventSink());
  Advised advised(resolver.get(), sink.get());
  com_ptr<_Batch> inner;
  std::vector<std::wstring> nestedStatuses;
  int answered = 0;
  sink->OnReport = [&](const Report& report) {
    if (report.Member != DISPID_ANSWERED) return;
    ++answered;
    if (answered == 1) {
      nestedStatuses = StatusesOf(*ResolveManyOf(resolver.get(), *NameList(20, L"nested.events.test").get()).get());
    } else if (answered == 2) {
      inner = StartBatch(resolver.get(), *NameList(20, L"inner.events.test").get());
    }
  };
  const std::vector<std::wstring> outer =
      StatusesOf(*ResolveManyOf(resolver.get(), *NameList(100, L"outer.events.test").get()).get());
  EXPECT_EQ(CountOf(outer, L"NOERROR"), 100u);
  EXPECT_EQ(CountOf(nestedStatuses, L"NOERROR"), 20u);
  ASSERT_TRUE(inner);
  EXPECT_TRUE(Wait(inner.get()));
  EXPECT_EQ(CountOf(BatchStatuses(inner.get()), L"NOERROR"), 20u);
  sink->OnReport = nullptr;

  // Every name of the three batches reported once, all on this thread.
  std::multiset<std::wstring> names;
  for (const Report& report : sink->Reports) {
    EXPECT_EQ(report.Thread, GetCurrentThreadId());
    if (report.Member == DISPID_ANSWERED) names.insert(AnswerText(report.Answer.get(), &_Answer::get_Name));
  }
  EXPECT_EQ(names.size(), 140u);
  EXPECT_EQ(std::set<std::wstring>(names.begin(), names.end()).size(), 140u);
  EXPECT_EQ(sink->Malformed(), 0);
}

// The ids of the process's threads.
std::set<DWORD> Threads() {
  std::set<DWORD> ids;
  runtime::unique_file_handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  if (snapshot && Thread32First(snapshot.get(), &entry)) {
    do {
      if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
    } while (Thread32Next(snapshot.get(), &entry));
  }
  return ids;
}

// DllCanUnloadNow says no while a batch's thread runs, even when the client
// holds nothing any more; once it says yes, that thread ends at once.
TEST_F(ScriptedBatch, TheModuleStaysWhileABatchThreadRunsAndItsThreadEndsOnceItMayGo) {
  // The threads of earlier tests' batches may still be ending.
  for (int i = 0; i < 250 && CanUnloadNow() != S_OK; ++i) PumpFor(20);
  ASSERT_EQ(CanUnloadNow(), S_OK);
  const std::set<DWORD> before = Threads();
  com_ptr<_Resolver> resolver = NewResolver(SERVER_ADDRESS, 2, 1000);
  ASSERT_TRUE(resolver);
  com_ptr<_Batch> batch = StartBatch(resolver.get(), *NameList(40, L"unload.events.test").get());
  ASSERT_TRUE(batch);
  std::vector<unique_handle> started;
  for (const DWORD id : Threads()) {
    if (!before.count(id)) started.emplace_back(OpenThread(SYNCHRONIZE, FALSE, id));
  }
  EXPECT_FALSE(started.empty()) << "the batch runs on a thread of the component";
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  resolver.reset();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  batch.reset();
  SendMarker();
  HRESULT unloadable = S_FALSE;
  for (int i = 0; i < 250 && unloadable != S_OK; ++i) {
    PumpFor(20);
    unloadable = CanUnloadNow();
  }
  ASSERT_EQ(unloadable, S_OK) << "the module still in use 5 s after its last batch was released";
  for (const unique_handle& thread : started) {
    if (thread) {
      EXPECT_EQ(WaitForSingleObject(thread.get(), 2000), WAIT_OBJECT_0) << "a batch thread lingers";
    }
  }
  ExpectNothingSentAfterTheMarker(false);  // released at once: perhaps before its first query
}

}  // namespace
}  // namespace vavizav::testing
