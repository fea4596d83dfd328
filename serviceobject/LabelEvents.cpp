// Events and their delivery: the event list, the event thread and the hidden window that makes
// the Control Object's callbacks on the thread that opened the service.
#include "KVTLoger.h"
#include "LABELPrinter.h"
#include "LabelStatus.h"
#include "OposConst.h"

namespace {
const WPARAM kEventCommand = 0xFFFF;
const char kWindowName[] = "EventInterfaceWindow";
const char kWindowKey[] = "VeskEventInterface";  // window property holding the object
}

// ---- Control Object calls

HRESULT CControlObject::Call(int which, const long* args, int count, long* byRef)
{
    if (!m_disp || m_ids[which] == DISPID_UNKNOWN)
        return E_POINTER;
    VARIANT v[5];
    int n = 0;
    // Invoke takes the arguments last first.
    if (byRef) {
        VariantInit(&v[n]);
        v[n].vt = VT_BYREF | VT_I4;
        v[n].plVal = byRef;
        ++n;
    }
    for (int i = count - 1; i >= 0 && n < 5; --i, ++n) {
        VariantInit(&v[n]);
        v[n].vt = VT_I4;
        v[n].lVal = args[i];
    }
    DISPPARAMS dp = {n ? v : nullptr, nullptr, UINT(n), 0};
    VARIANT result;
    VariantInit(&result);
    HRESULT hr = m_disp->Invoke(m_ids[which], IID_NULL, LOCALE_SYSTEM_DEFAULT, DISPATCH_METHOD, &dp, &result, nullptr,
                                nullptr);
    VariantClear(&result);
    return hr;
}

// ---- The hidden window

CEventInterface::CEventInterface() { m_hDelivered = CreateEventA(nullptr, TRUE, FALSE, nullptr); }

CEventInterface::~CEventInterface()
{
    DestroyWindow();
    if (COPOSEvent* e = TakeBack())
        delete e;
    if (m_hDelivered)
        CloseHandle(m_hDelivered);
}

BOOL CEventInterface::Create(CLABELPrinter* printer)
{
    m_pPrinter = printer;
    if (m_hWnd)
        return TRUE;
    // A message-only window of a system class, its procedure ours: a top-level window of
    // style 0 with a control id is refused, and a class of our own would outlive the library.
    HWND h = CreateWindowExA(0, "STATIC", kWindowName, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleA(nullptr),
                             nullptr);
    if (!h)
        return FALSE;
    SetPropA(h, kWindowKey, this);
    m_baseProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WindowProc)));
    m_hWnd = h;
    return TRUE;
}

void CEventInterface::DestroyWindow()
{
    if (!m_hWnd)
        return;
    HWND h = m_hWnd;
    m_hWnd = nullptr;
    SetWindowLongPtrA(h, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_baseProc));
    RemovePropA(h, kWindowKey);
    ::DestroyWindow(h);
}

BOOL CEventInterface::Post(COPOSEvent* event)
{
    if (!m_hWnd)
        return FALSE;
    InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&m_pPosted), event);
    if (!PostMessageA(m_hWnd, WM_COMMAND, kEventCommand, reinterpret_cast<LPARAM>(event))) {
        InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&m_pPosted), nullptr);
        return FALSE;
    }
    return TRUE;
}

COPOSEvent* CEventInterface::TakeBack()
{
    return static_cast<COPOSEvent*>(InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&m_pPosted), nullptr));
}

LRESULT CALLBACK CEventInterface::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    auto* self = static_cast<CEventInterface*>(GetPropA(hwnd, kWindowKey));
    if (!self)
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    if (msg == WM_COMMAND && self->OnCommand(wParam, lParam))
        return 0;
    return CallWindowProcA(self->m_baseProc, hwnd, msg, wParam, lParam);
}

BOOL CEventInterface::OnCommand(WPARAM wParam, LPARAM lParam)
{
    if (wParam != kEventCommand)
        return FALSE;
    // The event is ours only if the event thread has not taken it back (a Close in between).
    COPOSEvent* event = TakeBack();
    if (!event || event != reinterpret_cast<COPOSEvent*>(lParam)) {
        delete event;
        return TRUE;
    }
    CLABELPrinter* printer = m_pPrinter;
    HANDLE delivered = m_hDelivered;
    // The callback may close the object, and its Control Object may even release it: the
    // object stays alive until this delivery is done.
    printer->ExternalAddRef();
    printer->DeliverEvent(event);
    delete event;
    SetEvent(delivered);
    printer->ExternalRelease();
    return TRUE;
}

// ---- The list and the thread

void CLABELPrinter::QueueEvent(COPOSEvent* event)
{
    if (!m_hEventListMutex || m_bStop) {
        delete event;
        return;
    }
    WaitForSingleObject(m_hEventListMutex, INFINITE);
    m_EventList.push_back(event);
    SetEvent(m_hEventsPendingEvent);
    ReleaseMutex(m_hEventListMutex);
}

void CLABELPrinter::ClearEventList()
{
    std::deque<COPOSEvent*> gone;
    if (m_hEventListMutex)
        WaitForSingleObject(m_hEventListMutex, INFINITE);
    gone.swap(m_EventList);
    if (m_hEventsPendingEvent)
        ResetEvent(m_hEventsPendingEvent);
    if (m_hEventListMutex)
        ReleaseMutex(m_hEventListMutex);
    for (COPOSEvent* e : gone) {
        // An ErrorEvent that will never be delivered still ends the print thread's wait.
        if (e->m_nType == COPOSEvent::Error)
            AnswerErrorWait(static_cast<CErrorEvent*>(e)->Sequence, 12, "ErrorEvent discarded");
        delete e;
    }
}

void CLABELPrinter::SetErrorResponse(const CErrorEvent& event)
{
    AnswerErrorWait(event.Sequence, event.ErrorResponse, nullptr);
}

void CLABELPrinter::AnswerErrorWait(LONG sequence, long response, const char* why)
{
    LONG waiting = m_nErrorWait;
    if (waiting == 0 || (sequence != 0 && sequence != waiting))
        return;
    // Whoever takes the wait answers it; every other answer to it comes too late.
    if (InterlockedCompareExchange(&m_nErrorWait, 0, waiting) != waiting)
        return;
    ErrorResponse = response;
    if (why)
        Log(0, "*AsyncPrint: %s: answered %s", why, response == 12 ? "CLEAR" : "RETRY");
    if (m_hErrorResponseEvent)
        SetEvent(m_hErrorResponseEvent);
}

UINT __cdecl CLABELPrinter::EventThread(LPVOID param)
{
    CLABELPrinter* self = static_cast<CLABELPrinter*>(param);
    HANDLE waits[3] = {self->m_hEventsPendingEvent, self->m_hEventsNotFrozenEvent, self->m_hCONotFrozenEvent};
    CEventInterface& window = self->m_EventInterface;
    while (!self->m_bStop) {
        DWORD r = WaitForMultipleObjects(3, waits, TRUE, INFINITE);
        if (r == WAIT_FAILED || self->m_bStop)
            break;
        // The list may have been emptied since the wait ended (a release of the device).
        COPOSEvent* event = nullptr;
        WaitForSingleObject(self->m_hEventListMutex, INFINITE);
        if (self->m_EventList.empty()) {
            ResetEvent(self->m_hEventsPendingEvent);
        } else {
            event = self->m_EventList.front();
            self->m_EventList.pop_front();
        }
        ReleaseMutex(self->m_hEventListMutex);
        if (!event)
            continue;
        ResetEvent(window.m_hDelivered);
        if (!window.Post(event)) {
            delete event;
            continue;
        }
        WaitForSingleObject(window.m_hDelivered, INFINITE);
        // Released by a Close before the window took it: the event is still ours.
        if (COPOSEvent* back = window.TakeBack())
            delete back;
        if (self->m_bStop)
            break;
        WaitForSingleObject(self->m_hEventListMutex, INFINITE);
        if (self->m_EventList.empty())
            ResetEvent(self->m_hEventsPendingEvent);
        ReleaseMutex(self->m_hEventListMutex);
    }
    self->Log(0, "End EventThread.");
    return 0;
}

BOOL CLABELPrinter::DeliverEvent(COPOSEvent* event)
{
    BOOL delivered = TRUE;
    CString description;
    switch (event->m_nType) {
    case COPOSEvent::Error: {
        auto* e = static_cast<CErrorEvent*>(event);
        // An event whose wait is gone (answered by a disable or a release) changes no State:
        // a new label may be under way.
        bool current = e->Sequence != 0 && e->Sequence == m_nErrorWait;
        auto setState = [&](bool retry) {
            CStatusLock lock(*this, "DeliverEvent");
            if (!lock.Held())
                return;
            WaitForSingleObject(m_hEventListMutex, INFINITE);
            State = retry ? OPOS_S_BUSY : OPOS_S_IDLE;
            ReleaseMutex(m_hEventListMutex);
        };
        if (current) {
            CStatusLock lock(*this, "DeliverEvent");
            if (lock.Held()) {
                WaitForSingleObject(m_hEventListMutex, INFINITE);
                State = OPOS_S_ERROR;
                ReleaseMutex(m_hEventListMutex);
            }
        }
        description.Format("Error %s", GetResultCodeText(e->ResultCode, e->ResultCodeExtended).GetString());
        long args[3] = {e->ResultCode, e->ResultCodeExtended, e->ErrorLocus};
        m_ControlObject.Call(CControlObject::SOError, args, 3, &e->ErrorResponse);
        if (m_bStop) {
            SetErrorResponse(*e);
            return TRUE;
        }
        // A retry puts the jobs back: busy until the queue runs empty. A clear drops them.
        if (current && e->Sequence == m_nErrorWait)
            setState(e->ErrorResponse != 12 && (m_nQueued || m_nInProgress));
        switch (e->ErrorResponse) {
        case 11: Log(0, " ********* [ERROR MSG] : RETRY\r\n"); break;
        case 12: Log(0, " ********* [ERROR MSG] : CLEAR\r\n"); break;
        case 13: Log(0, " ********* [ERROR MSG] : CONTINUEINPUT\r\n"); break;
        default: Log(0, " ********* [ERROR MSG] : DEFAULT\r\n"); break;
        }
        SetErrorResponse(*e);
        break;
    }
    case COPOSEvent::OutputComplete: {
        auto* e = static_cast<COutputCompleteEvent*>(event);
        Log(0, " ********* OUTPUT COMPLETE EVENT \r\n");
        description.Format("OutputComplete %d", int(e->OutputID));
        long args[1] = {e->OutputID};
        m_ControlObject.Call(CControlObject::SOOutputComplete, args, 1, nullptr);
        break;
    }
    case COPOSEvent::StatusUpdate: {
        auto* e = static_cast<CStatusUpdateEvent*>(event);
        description.Format("POSPrinter StatusUpdate %d", int(e->Data));
        // A value that a later status has replaced is not reported.
        switch (e->Data) {
        case 11: Log(0, " ********* [Status] : COVER Open\r\n"); delivered = e->Data == m_nLastCover; break;
        case 12: Log(0, " ********* [Status] : COVER OK\r\n"); delivered = e->Data == m_nLastCover; break;
        case 24: Log(0, " ********* [Status] : PAPER EMPTY\r\n"); delivered = e->Data == m_nLastPaper; break;
        case 25: Log(0, " ********* [Status] : PAPER NEAREMPTY\r\n"); delivered = e->Data == m_nLastPaper; break;
        case 26: Log(0, " ********* [Status] : PAPER OK\r\n"); delivered = e->Data == m_nLastPaper; break;
        case 45: case 46: case 47: case 48: delivered = FALSE; break;
        case 1001:
            Log(0, " ********* [Status] : IDLE\r\n");
            delivered = FlagWhenIdle;
            FlagWhenIdle = FALSE;
            break;
        case 2001: Log(0, " ********* [Status] : ONLINE\r\n"); delivered = e->Data == PowerState; break;
        case 2003: Log(0, " ********* [Status] : OFFLINE\r\n"); delivered = e->Data == PowerState; break;
        case 2004: Log(0, " ********* [Status] : OFF_OFFLINE\r\n"); delivered = e->Data == PowerState; break;
        default: break;
        }
        if (delivered) {
            long args[1] = {e->Data};
            m_ControlObject.Call(CControlObject::SOStatusUpdate, args, 1, nullptr);
        }
        break;
    }
    default:
        delivered = FALSE;
        break;
    }
    if (!m_bStop)
        Log(0, "********* POSPrinter Event %s: %s", description.GetString(),
            delivered ? "Delivery complete" : "Not delivered because out-of-date");
    return delivered;
}
