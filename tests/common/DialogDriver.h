// Runs a dialog modally and performs scripted steps on it from a thread timer, as a person at
// the keyboard would: set a control's text, select an item, click a button, press a key, read
// and answer a message box (the real one). A watchdog ends a dialog that does not get through
// its steps. Whatever the driver could not do fails the running test when the dialog has ended,
// unless the case declared it with ExpectFailure.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class CDialog;

class CDialogDriver
{
public:
    // The end code of a dialog that the watchdog had to end.
    static constexpr INT_PTR kWatchdogEnd = -77;

    explicit CDialogDriver(DWORD watchdogMs = 60000);
    ~CDialogDriver();
    CDialogDriver(const CDialogDriver&) = delete;
    CDialogDriver& operator=(const CDialogDriver&) = delete;

    // Steps, performed in order once the dialog is up and no message box is open. SetText,
    // Select and Key fail, as Click does, on a control that is disabled or hidden.
    CDialogDriver& SetText(int id, const std::string& text);
    // Selects item index of a combo or list box and sends its selection-change notification;
    // fails for an index past the end of the list.
    CDialogDriver& Select(int id, int index);
    // Clicks a button; fails when it is disabled or hidden.
    CDialogDriver& Click(int id);
    // Posts WM_KEYDOWN and WM_KEYUP of vk to the control through the message queue.
    CDialogDriver& Key(int id, UINT vk);
    // Waits for a message box, keeps its text and answers it with the button answer.
    CDialogDriver& AnswerMessageBox(int answer = IDOK);
    // Runs fn with the dialog's handle (checks and reads while the dialog is up).
    CDialogDriver& Do(std::function<void(HWND)> fn);
    // Waits until pred holds (bounded by the watchdog).
    CDialogDriver& WaitUntil(std::function<bool(HWND)> pred, const std::string& what);

    // A driver failure this case expects (a refusal: a disabled button, the watchdog): failures
    // starting with text are the case's own, and at least one must happen. Checked at the end of
    // the next run.
    CDialogDriver& ExpectFailure(const std::string& text);

    // Runs dlg.DoModal() with the steps; returns its end code.
    INT_PTR Run(CDialog& dlg);
    // Runs a call that shows a modal dialog of its own making (the code under test owns the
    // dialog object, perhaps in another module): the steps act on the visible dialog of this
    // thread whose caption starts with captionPrefix; the watchdog cancels it.
    void RunAround(const std::string& captionPrefix, std::function<void()> modalCall);

    // What went wrong (empty when every step was performed).
    const std::vector<std::string>& Failures() const { return m_failures; }
    // The texts of the message boxes answered, in order.
    const std::vector<std::string>& MessageBoxTexts() const { return m_boxTexts; }
    std::string Report() const;

private:
    struct Step
    {
        std::string what;
        std::function<bool(HWND)> run;  // FALSE: not yet possible, try again on the next tick
        bool box = false;               // a message-box step (runs while a box is open)
        bool posts = false;             // posts messages: the next step waits for them
    };
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);
    void Tick();
    void Fail(const std::string& why);
    // Fails the running test with each failure of this run the case did not expect.
    void CheckFailures(size_t firstOfRun);
    void EndByWatchdog(const std::string& why);
    // Ends every dialog and message box of the thread, the innermost first.
    void EndEveryDialog();
    HWND FindMessageBox() const;
    HWND Dialog() const;

    std::vector<Step> m_steps;
    size_t m_next = 0;
    DWORD m_watchdogMs;
    DWORD m_start = 0;
    UINT_PTR m_timer = 0;
    CDialog* m_dlg = nullptr;
    std::string m_caption;  // RunAround: how the dialog is found
    bool m_ended = false;
    int m_depth = 0;
    std::vector<HWND> m_answered;
    std::vector<std::string> m_failures;
    std::vector<std::string> m_expected;
    std::vector<std::string> m_boxTexts;
};

// The text of a message box (its static text control).
std::string MessageBoxText(HWND box);
// A dialog control's window text.
std::string ControlText(HWND dlg, int id);
#endif
