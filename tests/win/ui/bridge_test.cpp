// The bridge through the real `external` object, with a fake page and a real message loop.

#include "fake_page.h"
#include "ui/async_call_queue_win.h"
#include "ui/external_win.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace Velmora::UI;
using namespace Velmora::UI::Testing;

namespace {

class ComEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ::OleInitialize(nullptr); }
    void TearDown() override { ::OleUninitialize(); }
};
const auto* const kCom = ::testing::AddGlobalTestEnvironment(new ComEnvironment);

class EventLog {
public:
    void Add(const std::wstring& e)
    {
        std::lock_guard<std::mutex> g(lock_);
        events_.push_back(e);
    }
    std::vector<std::wstring> Get()
    {
        std::lock_guard<std::mutex> g(lock_);
        return events_;
    }
    size_t Count()
    {
        std::lock_guard<std::mutex> g(lock_);
        return events_.size();
    }

private:
    std::mutex lock_;
    std::vector<std::wstring> events_;
};

// Calls a method of `object` by name as script would, arguments given in script order.
HRESULT CallByName(IDispatch* object, const wchar_t* method, std::vector<ScopedVariant> args, VARIANT* result)
{
    LPOLESTR names[] = {const_cast<LPOLESTR>(method)};
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, 0x800, &id);
    if (FAILED(hr))
        return hr;
    std::vector<VARIANT> reversed;
    for (auto it = args.rbegin(); it != args.rend(); ++it)
        reversed.push_back(it->Get());
    DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    return object->Invoke(id, IID_NULL, 0x400, DISPATCH_METHOD, &params, result, nullptr, nullptr);
}

ScopedVariant Str(const wchar_t* s)
{
    return ScopedVariant::String(s);
}

class BridgeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        page_ = new FakeDispatch();
        dialog_.LoadPage(page_);
    }
    void TearDown() override
    {
        // Let workers of this test finish before the dialog goes away.
        PumpUntil([] { return !AsyncCallQueue::Instance().WorkerRunning(); });
        page_->Release();
    }
    IDispatch* MakeExternal(CommandHandler handler, std::function<bool()> allowed = {})
    {
        ExternalTarget t;
        t.dialog = &dialog_;
        t.handler = std::move(handler);
        t.bridge = dialog_.Bridge();
        t.allowed = std::move(allowed);
        IDispatch* ext = nullptr;
        EXPECT_EQ(S_OK, CreateExternal(std::move(t), &ext));
        return ext;
    }

    HeadlessDialog dialog_;
    FakeDispatch* page_ = nullptr;
};

TEST_F(BridgeTest, CallcHandsNameAndArgumentsInOrderAndReturnsTheAnswer)
{
    std::vector<ScopedVariant> seen;
    IBSDialog* seenDialog = nullptr;
    IDispatch* ext = MakeExternal([&](IBSDialog* d, const VARIANT& name, const VARIANT& a1, const VARIANT& a2,
                                      const VARIANT& a3, const VARIANT& a4, VARIANT* result) {
        seenDialog = d;
        seen = {ScopedVariant(name), ScopedVariant(a1), ScopedVariant(a2), ScopedVariant(a3),
                ScopedVariant(a4)};
        ScopedVariant::String(L"answer").MoveTo(result);
    });
    ScopedVariant result;
    // Integer names pass through untouched: the handler takes them as ids.
    ASSERT_EQ(S_OK, CallByName(
                        ext, L"callc",
                        {ScopedVariant::Int(7), Str(L"a"), ScopedVariant::Int(-3), ScopedVariant::Bool(true)},
                        result.Ptr()));
    EXPECT_EQ(&dialog_, seenDialog);
    ASSERT_EQ(5u, seen.size());
    EXPECT_EQ(VT_I4, seen[0].Type());
    EXPECT_EQ(7, seen[0].Get().lVal);
    EXPECT_EQ(L"a", std::wstring(StringOf(seen[1].Get())));
    EXPECT_EQ(-3, seen[2].Get().lVal);
    EXPECT_EQ(VARIANT_TRUE, seen[3].Get().boolVal);
    EXPECT_EQ(VT_EMPTY, seen[4].Type()); // an argument the page left out arrives empty
    ASSERT_EQ(VT_BSTR, result.Type());
    EXPECT_EQ(L"answer", std::wstring(StringOf(result.Get())));
    ext->Release();
}

TEST_F(BridgeTest, ExternalKnowsItsFourMethodsInOrderAndNothingElse)
{
    IDispatch* ext = MakeExternal({});
    const wchar_t* names[] = {L"getCom", L"callc", L"asyncallc", L"asyncalld"};
    for (DISPID i = 0; i < 4; ++i) {
        LPOLESTR n[] = {const_cast<LPOLESTR>(names[i])};
        DISPID id = 0;
        EXPECT_EQ(S_OK, ext->GetIDsOfNames(IID_NULL, n, 1, 0, &id));
        EXPECT_EQ(i + 1, id);
    }
    LPOLESTR other[] = {const_cast<LPOLESTR>(L"CallC")};
    DISPID id = 0;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, ext->GetIDsOfNames(IID_NULL, other, 1, 0, &id));
    // Without a handler callc answers empty rather than failing into the script.
    ScopedVariant result = ScopedVariant::Int(5);
    EXPECT_EQ(S_OK, CallByName(ext, L"callc", {Str(L"quit")}, result.Ptr()));
    EXPECT_EQ(VT_EMPTY, result.Type());
    // getCom: a bad ProgID or CLSID gives none.
    EXPECT_EQ(S_OK, CallByName(ext, L"getCom", {Str(L"No.Such.Object.1")}, result.Ptr()));
    EXPECT_EQ(VT_EMPTY, result.Type());
    EXPECT_EQ(S_OK,
              CallByName(ext, L"getCom", {Str(L"{00000000-0000-0000-0000-00000000dead}")}, result.Ptr()));
    EXPECT_EQ(VT_EMPTY, result.Type());
    ext->Release();
}

TEST_F(BridgeTest, GetComCreatesAnAutomationObjectByProgIdAndByClsid)
{
    IDispatch* ext = MakeExternal({});
    ScopedVariant byProgId, byClsid;
    ASSERT_EQ(S_OK, CallByName(ext, L"getCom", {Str(L"Scripting.Dictionary")}, byProgId.Ptr()));
    ASSERT_EQ(VT_DISPATCH, byProgId.Type());
    EXPECT_NE(nullptr, byProgId.Get().pdispVal);
    ASSERT_EQ(S_OK,
              CallByName(ext, L"getCom", {Str(L"{EE09B103-97E0-11CF-978F-00A02463E06F}")}, byClsid.Ptr()));
    EXPECT_EQ(VT_DISPATCH, byClsid.Type());
    ext->Release();
}

TEST_F(BridgeTest, ForeignDocumentGetsNoCommand)
{
    bool ran = false;
    IDispatch* ext = MakeExternal([&](IBSDialog*, const VARIANT&, const VARIANT&, const VARIANT&,
                                      const VARIANT&, const VARIANT&, VARIANT*) { ran = true; },
                                  [] { return false; });
    ScopedVariant result;
    EXPECT_EQ(E_ACCESSDENIED, CallByName(ext, L"callc", {Str(L"quit")}, result.Ptr()));
    FakeDispatch* cb = NewCallback({});
    EXPECT_EQ(E_ACCESSDENIED,
              CallByName(ext, L"asyncalld", {ScopedVariant::Object(cb), Str(L"quit")}, nullptr));
    PumpUntil([] { return false; }, 100);
    EXPECT_FALSE(ran);
    EXPECT_TRUE(cb->Calls().empty());
    cb->Release();
    ext->Release();
}

TEST_F(BridgeTest, QueuedCallsAnswerInOrderEachAfterThePreviousFinished)
{
    EventLog log;
    IDispatch* ext = MakeExternal([&](IBSDialog*, const VARIANT& name, const VARIANT&, const VARIANT&,
                                      const VARIANT&, const VARIANT&, VARIANT* result) {
        const std::wstring n(StringOf(name));
        log.Add(L"start " + n);
        if (n == L"first")
            ::Sleep(300); // the second must not start meanwhile
        log.Add(L"end " + n);
        ScopedVariant::String(n).MoveTo(result);
    });
    std::vector<DWORD> callbackThreads;
    auto makeCb = [&](const wchar_t* tag) {
        return NewCallback([&, tag](const VARIANT& result) {
            callbackThreads.push_back(::GetCurrentThreadId());
            log.Add(std::wstring(L"callback ") + tag + L"=" + std::wstring(StringOf(result)));
        });
    };
    FakeDispatch* cb1 = makeCb(L"1");
    FakeDispatch* cb2 = makeCb(L"2");
    ASSERT_EQ(S_OK, CallByName(ext, L"asyncallc", {ScopedVariant::Object(cb1), Str(L"first")}, nullptr));
    ASSERT_EQ(S_OK, CallByName(ext, L"asyncallc", {ScopedVariant::Object(cb2), Str(L"second")}, nullptr));
    ASSERT_TRUE(PumpUntil([&] { return log.Count() == 6; }));
    const std::vector<std::wstring> expected = {L"start first",  L"end first",  L"callback 1=first",
                                                L"start second", L"end second", L"callback 2=second"};
    EXPECT_EQ(expected, log.Get());
    // Callbacks run on the UI thread, with the callback itself as `this`.
    for (DWORD t : callbackThreads)
        EXPECT_EQ(::GetCurrentThreadId(), t);
    // The work items dropped their callback references on the UI thread as well.
    ASSERT_TRUE(PumpUntil([] { return !AsyncCallQueue::Instance().WorkerRunning(); }));
    for (FakeDispatch* cb : {cb1, cb2}) {
        ASSERT_FALSE(cb->releaseThreads.get().empty());
        for (DWORD t : cb->releaseThreads.get())
            EXPECT_EQ(::GetCurrentThreadId(), t);
    }
    auto calls = cb1->CallsOf(L"call");
    ASSERT_EQ(1u, calls.size());
    ASSERT_EQ(2u, calls[0].args.size());
    EXPECT_EQ(static_cast<IDispatch*>(cb1), calls[0].args[0].Get().pdispVal);
    cb1->Release();
    cb2->Release();
    ext->Release();
}

TEST_F(BridgeTest, OwnThreadCallIsNotHeldUpByALongQueuedCommand)
{
    HANDLE ownThreadRan = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> queuedSawIt{false};
    std::atomic<int> done{0};
    IDispatch* ext = MakeExternal([&](IBSDialog*, const VARIANT& name, const VARIANT&, const VARIANT&,
                                      const VARIANT&, const VARIANT&, VARIANT*) {
        if (StringOf(name) == L"long")
            queuedSawIt = ::WaitForSingleObject(ownThreadRan, 5000) == WAIT_OBJECT_0;
        else
            ::SetEvent(ownThreadRan);
        ++done;
    });
    FakeDispatch* cb = NewCallback({});
    ASSERT_EQ(S_OK, CallByName(ext, L"asyncallc", {ScopedVariant::Object(cb), Str(L"long")}, nullptr));
    ASSERT_EQ(S_OK, CallByName(ext, L"asyncalld", {ScopedVariant::Object(cb), Str(L"short")}, nullptr));
    ASSERT_TRUE(PumpUntil([&] { return done == 2 && cb->CallsOf(L"call").size() == 2; }, 8000));
    EXPECT_TRUE(queuedSawIt);
    cb->Release();
    ext->Release();
    ::CloseHandle(ownThreadRan);
}

TEST_F(BridgeTest, NonObjectCallbackIsIgnoredButTheCommandRuns)
{
    std::atomic<int> ran{0};
    IDispatch* ext = MakeExternal([&](IBSDialog*, const VARIANT&, const VARIANT&, const VARIANT&,
                                      const VARIANT&, const VARIANT&, VARIANT* result) {
        ++ran;
        ScopedVariant::Int(1).MoveTo(result);
    });
    ASSERT_EQ(S_OK, CallByName(ext, L"asyncallc", {Str(L"not a function"), Str(L"x")}, nullptr));
    ASSERT_EQ(S_OK, CallByName(ext, L"asyncalld", {ScopedVariant::Int(3), Str(L"x")}, nullptr));
    EXPECT_TRUE(PumpUntil([&] { return ran == 2; }));
    PumpUntil([] { return false; }, 100);
    EXPECT_TRUE(page_->Calls().empty());
    ext->Release();
}

TEST_F(BridgeTest, PageCallsFromAWorkerRunOnTheUiThreadBeforeTheWorkerContinues)
{
    std::atomic<bool> pageReturned{false};
    std::atomic<bool> sawReturnBeforeContinuing{false};
    std::atomic<HRESULT> missing{S_OK};
    page_->Define(L"setItemInfo", [&](const std::vector<ScopedVariant>&, VARIANT*) {
        // Give the worker a chance to run ahead if it were not blocked.
        ::Sleep(100);
        pageReturned = true;
    });
    IDispatch* ext = MakeExternal([&](IBSDialog* d, const VARIANT&, const VARIANT&, const VARIANT&,
                                      const VARIANT&, const VARIANT&, VARIANT*) {
        // setItemInfo(index, field, value): the automation array holds them last first.
        ScopedVariant args[3] = {ScopedVariant::String(L"Trusted sites"), ScopedVariant::String(L"name"),
                                 ScopedVariant::Int(4)};
        VARIANT raw[3] = {args[0].Get(), args[1].Get(), args[2].Get()};
        d->CallScript(L"setItemInfo", raw, 3, nullptr);
        sawReturnBeforeContinuing = pageReturned.load();
        missing = d->CallScript(L"isAnyKeyConnect", nullptr, 0, nullptr);
    });
    FakeDispatch* cb = NewCallback({});
    ASSERT_EQ(S_OK, CallByName(ext, L"asyncallc", {ScopedVariant::Object(cb), Str(L"get_config")}, nullptr));
    ASSERT_TRUE(PumpUntil([&] { return cb->CallsOf(L"call").size() == 1; }));
    EXPECT_TRUE(sawReturnBeforeContinuing);
    EXPECT_EQ(DISP_E_UNKNOWNNAME, missing.load()); // a function the page lacks: the look-up status
    auto calls = page_->CallsOf(L"setItemInfo");
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(::GetCurrentThreadId(), calls[0].thread);
    ASSERT_EQ(3u, calls[0].args.size());
    EXPECT_EQ(4, calls[0].args[0].Get().lVal);
    EXPECT_EQ(L"name", std::wstring(StringOf(calls[0].args[1].Get())));
    EXPECT_EQ(L"Trusted sites", std::wstring(StringOf(calls[0].args[2].Get())));
    cb->Release();
    ext->Release();
}

TEST_F(BridgeTest, MarshalledVariablesScriptAndObjectOperations)
{
    page_->SetProperty(L"mode", ScopedVariant::Int(1).Get());
    page_->Define(L"execScript", [](const std::vector<ScopedVariant>&, VARIANT*) {});
    page_->SetProperty(L"notAConstructor", ScopedVariant::Int(3).Get());
    std::atomic<HRESULT> setHr{E_FAIL}, getHr{E_FAIL}, execHr{E_FAIL}, ctorHr{S_OK}, badOp{S_OK},
        noRecord{S_OK};
    ScopedVariant got;
    std::thread worker([&] {
        setHr = dialog_.SetScriptVariable(L"mode", ScopedVariant::Int(9).Get());
        getHr = dialog_.GetScriptVariable(L"mode", got.Ptr());
        execHr = dialog_.ExecScript(L"x = 1");
        IDispatch* made = nullptr;
        ctorHr = dialog_.CreateScriptObject(L"notAConstructor", &made, {});
        HWND w = dialog_.GetWindowHandle();
        badOp = static_cast<HRESULT>(::SendMessageW(w, kMarshalledCallMessage, 7, 1));
        noRecord = static_cast<HRESULT>(::SendMessageW(w, kMarshalledCallMessage, 1, 0));
    });
    std::atomic<bool> finished{false};
    std::thread waiter([&] {
        worker.join();
        finished = true;
    });
    ASSERT_TRUE(PumpUntil([&] { return finished.load(); }));
    waiter.join();
    EXPECT_EQ(S_OK, setHr.load());
    EXPECT_EQ(S_OK, getHr.load());
    EXPECT_EQ(9, got.Get().lVal);
    EXPECT_EQ(S_OK, execHr.load());
    auto exec = page_->CallsOf(L"execScript");
    ASSERT_EQ(1u, exec.size());
    EXPECT_EQ(L"x = 1", std::wstring(StringOf(exec[0].args[0].Get())));
    EXPECT_EQ(L"javascript", std::wstring(StringOf(exec[0].args[1].Get())));
    EXPECT_EQ(DISP_E_TYPEMISMATCH, ctorHr.load());
    EXPECT_EQ(E_FAIL, badOp.load());
    EXPECT_EQ(E_FAIL, noRecord.load());
}

TEST_F(BridgeTest, WorkersKeepAUsableDialogAfterTheWindowWent)
{
    HANDLE windowGone = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<HRESULT> pageCall{S_OK};
    std::atomic<HWND> seenWindow{nullptr};
    std::atomic<bool> finished{false};
    ExternalTarget t;
    t.dialog = &dialog_;
    t.bridge = dialog_.Bridge();
    t.workerDialog = std::make_shared<BridgedDialog>(dialog_.GetWindowHandle(), dialog_.Bridge());
    t.handler = [&](IBSDialog* d, const VARIANT&, const VARIANT&, const VARIANT&, const VARIANT&,
                    const VARIANT&, VARIANT*) {
        ::WaitForSingleObject(windowGone, 5000);
        seenWindow = d->GetWindowHandle();
        pageCall = d->CallScript(L"setProgress", nullptr, 0, nullptr);
        finished = true;
    };
    IDispatch* ext = nullptr;
    ASSERT_EQ(S_OK, CreateExternal(std::move(t), &ext));
    FakeDispatch* cb = NewCallback({});
    ASSERT_EQ(S_OK, CallByName(ext, L"asyncalld", {ScopedVariant::Object(cb), Str(L"do_check")}, nullptr));
    ext->Release(); // the page is gone as well
    dialog_.Bridge()->Detach();
    ::SetEvent(windowGone);
    ASSERT_TRUE(PumpUntil([&] { return finished.load(); }));
    EXPECT_EQ(dialog_.GetWindowHandle(), seenWindow.load());
    EXPECT_EQ(E_FAIL, pageCall.load());
    PumpUntil([] { return false; }, 100);
    EXPECT_TRUE(cb->Calls().empty());
    cb->Release();
    ::CloseHandle(windowGone);
}

class CountingItem : public Velmora::Model::IThreadParameter {
public:
    CountingItem(std::atomic<int>& runs, std::atomic<int>& inside, std::atomic<int>& most)
        : runs_(runs), inside_(inside), most_(most)
    {
    }
    void Run() override
    {
        most_ = std::max(most_.load(), ++inside_);
        --inside_;
        ++runs_;
    }

private:
    std::atomic<int>& runs_;
    std::atomic<int>& inside_;
    std::atomic<int>& most_;
};

TEST(AsyncCallQueueTest, ItemsPushedWhileTheWorkerLeavesAreNeverLost)
{
    std::atomic<int> runs{0}, inside{0}, most{0};
    constexpr int kThreads = 4, kEach = 150;
    std::vector<std::thread> pushers;
    for (int t = 0; t < kThreads; ++t)
        pushers.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                ASSERT_TRUE(AsyncCallQueue::Instance().Push(new CountingItem(runs, inside, most)));
                // Uneven pauses let the worker find the queue empty and leave now and then.
                if ((i + t) % 7 == 0)
                    ::Sleep(1);
            }
        });
    for (auto& p : pushers)
        p.join();
    const DWORD start = ::GetTickCount();
    while ((runs < kThreads * kEach || AsyncCallQueue::Instance().WorkerRunning()) &&
           ::GetTickCount() - start < 5000)
        ::Sleep(5);
    EXPECT_EQ(kThreads * kEach, runs.load());
    EXPECT_EQ(1, most.load()); // one worker at a time
    EXPECT_FALSE(AsyncCallQueue::Instance().WorkerRunning());
}

TEST(ScriptSiteTest, EveryOperationFailsWithInvalidPointerBeforeAPageIsLoaded)
{
    HeadlessDialog dialog;
    ScopedVariant v;
    IDispatch* object = nullptr;
    FakeDispatch* cb = NewCallback({});
    EXPECT_EQ(E_POINTER, dialog.CallScript(L"setProgress", nullptr, 0, nullptr));
    EXPECT_EQ(E_POINTER, dialog.Bridge()->CallScriptCallback(cb, nullptr, 0));
    EXPECT_EQ(E_POINTER, dialog.SetScriptVariable(L"a", v.Get()));
    EXPECT_EQ(E_POINTER, dialog.GetScriptVariable(L"a", v.Ptr()));
    EXPECT_EQ(E_POINTER, dialog.ExecScript(L"1"));
    EXPECT_EQ(E_POINTER, dialog.CreateScriptObject(L"Object", &object, {}));
    cb->Release();
}

} // namespace
