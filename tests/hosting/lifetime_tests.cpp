// The class object, the objects it makes and the module's lifetime: which
// interfaces they answer, when the module may unload, and an object released
// from a message its own lookup dispatches.
#include <gtest/gtest.h>

#include <windows.h>
#include <oleauto.h>
#include <dispex.h>
#include <ocidl.h>

#include "module_fixture.h"

namespace vavizav::testing {

using runtime::BstrView;
using runtime::com_ptr;
using runtime::unique_bstr;
using runtime::unique_variant;

namespace {

TEST(ClassObject, ServesOnlyItsClassAndRefusesAggregation) {
  const LoadedModule& module = Module();
  ASSERT_NE(module.GetClassObject, nullptr);
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(module.GetClassObject(IID__VeviVORIdezaz, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);

  com_ptr<IClassFactory> factory = Factory();
  ASSERT_TRUE(factory);
  com_ptr<IUnknown> outer = NewObject().query<IUnknown>();
  object = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(outer.get(), IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
  object = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
}

TEST(ClassObject, ObjectsAnswerOnlyIUnknownIDispatchAndTheirInterface) {
  com_ptr<_VeviVORIdezaz> object = NewObject();
  ASSERT_TRUE(object);
  com_ptr<IUnknown> identity = object.query<IUnknown>();
  com_ptr<IDispatch> dispatch = object.query<IDispatch>();
  ASSERT_TRUE(identity);
  ASSERT_TRUE(dispatch);
  EXPECT_EQ(dispatch.query<IUnknown>().get(), identity.get());
  EXPECT_EQ(dispatch.query<_VeviVORIdezaz>().get(), object.get());

  for (REFIID other : {__uuidof(IDispatchEx), IID_IMarshal, IID_IPersist, IID_IProvideClassInfo, IID_ISupportErrorInfo,
                       IID_IConnectionPointContainer, IID_IClassFactory}) {
    void* answer = reinterpret_cast<void*>(1);
    EXPECT_EQ(object->QueryInterface(other, &answer), E_NOINTERFACE);
    EXPECT_EQ(answer, nullptr);
  }
}

TEST(ModuleLifetime, UnloadableOnlyWithoutObjectsAndLocks) {
  ASSERT_NE(Module().CanUnloadNow, nullptr);
  EXPECT_EQ(CanUnloadNow(), S_OK);
  com_ptr<_VeviVORIdezaz> object = NewObject();
  ASSERT_TRUE(object);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  com_ptr<IDispatch> second = object.query<IDispatch>();
  object.reset();
  EXPECT_EQ(CanUnloadNow(), S_FALSE);  // one reference is still out
  second.reset();
  EXPECT_EQ(CanUnloadNow(), S_OK);

  com_ptr<IClassFactory> factory = Factory();
  ASSERT_TRUE(factory);
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  EXPECT_EQ(CanUnloadNow(), S_FALSE);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(CanUnloadNow(), S_OK);
}

// A client may drop its last reference from a window message that the lookup
// dispatches while it waits; the lookup keeps the object alive until it returns.
// The server is silent, so the lookup surely waits and pumps.
struct ReleaseOnMessage {
  IUnknown* Object = nullptr;
  bool Ran = false;
  HRESULT UnloadableInside = E_FAIL;
};

LRESULT CALLBACK ReleasingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_APP) {
    auto* job = reinterpret_cast<ReleaseOnMessage*>(lParam);
    job->Object->Release();
    job->Ran = true;
    job->UnloadableInside = CanUnloadNow();
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

TEST(ModuleLifetime, LastReleaseDuringALookupWaitsForTheLookup) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = ReleasingWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"VavizavReleaseDuringLookup";
  RegisterClassW(&windowClass);
  const HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      windowClass.hInstance, nullptr);
  ASSERT_NE(window, nullptr);

  com_ptr<_VeviVORIdezaz> object = NewObject();
  ASSERT_TRUE(object);
  unique_variant server = Text(SILENT_SERVER);
  ASSERT_EQ(object->put_DNSServer(server.get()), S_OK);
  LONG timeOut = 200;
  ASSERT_EQ(object->put_TimeOut(&timeOut), S_OK);
  _VeviVORIdezaz* raw = object.detach();  // the message handler owns the last reference now

  ReleaseOnMessage job{raw};
  ASSERT_TRUE(PostMessageW(window, WM_APP, 0, reinterpret_cast<LPARAM>(&job)));
  unique_variant name = Text(L"one.vavizav.test");
  unique_bstr result;
  EXPECT_EQ(raw->GetIPFromName(name.get(), result.put()), S_OK);
  EXPECT_TRUE(job.Ran);
  EXPECT_EQ(job.UnloadableInside, S_FALSE) << "the object went away under its own lookup";
  EXPECT_EQ(BstrView(result.get()), L"");
  EXPECT_EQ(CanUnloadNow(), S_OK);
  DestroyWindow(window);
}

}  // namespace
}  // namespace vavizav::testing
