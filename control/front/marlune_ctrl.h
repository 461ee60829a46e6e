// CMarluneCtrl: the control object a host places on its window. It carries
// the automation surface, owns the window that the telephony service, the
// wave devices and the timer report to, and reaches all shared state
// through its Module.
//
// It is the thin front of the module: each automation member forwards to
// the subsystem that implements it (telephony/, audio/, prompts/,
// datalink/), and each window message goes to the subsystem that owns it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "control/core/control_site.h"
#include "control/core/event_sink.h"
#include "control/front/module.h"
#include "control/core/variant.h"
#include "platform/platform.h"

// Persisted properties, exchanged by name with a version (load or save).
class PropExchange {
public:
    using Bag = std::map<std::string, Variant>;
    PropExchange(Bag& bag, bool loading) : bag_(bag), loading_(loading) {}
    // The persistent version; on load, the version the data was saved with.
    void ExchangeVersion(DWORD& version, DWORD defaultVersion, bool convert);
    void ExchangeBool(const char* name, BOOL& value, BOOL defaultValue);

private:
    Bag& bag_;
    bool loading_;
};

class CMarluneCtrl : public ControlSite {
public:
    static constexpr DWORD kPersistVersion = 0x00010000;

    explicit CMarluneCtrl(Module& module);
    virtual ~CMarluneCtrl();
    CMarluneCtrl(const CMarluneCtrl&) = delete;
    CMarluneCtrl& operator=(const CMarluneCtrl&) = delete;

    Module& module() const { return module_; }

    // ---- window -------------------------------------------------------
    // Creates the control's window as a child of `parent` (or a top-level
    // window when null). Returns null when the window was not created.
    HWND CreateControlWindow(HWND parent, const RECT& rect);
    void DestroyControlWindow();
    HWND GetSafeHwnd() const { return hwnd_; }
    HWND Window() const override { return hwnd_; }
    void SetOutID(LONG id) override { m_outID = id; }

    // ---- framework operations ----------------------------------------
    void OnDraw(HDC dc, const RECT& bounds, const RECT& invalid);
    void DoPropExchange(PropExchange& px);
    void OnResetState();
    // Ambient user mode of the container: true at run time, false in
    // design mode; unknown counts as run time.
    void SetAmbientUserMode(bool userMode) { ambientUserMode_ = userMode; }

    // ---- properties (plain members) -----------------------------------
    BOOL m_monitorDtmf = FALSE;
    LONG m_outID = -1;

    // ---- events ---------------------------------------------------------
    DWORD Advise(IEventSink* sink);
    bool Unadvise(DWORD cookie);
    void FireEvent(DISPID dispid, const std::vector<Variant>& args) override;

    void WriteLog(const char* text) const { module_.WriteLog(text); }
    void WriteLog(const std::string& text) const { module_.WriteLog(text); }

    // ---- automation methods (_DMarlune) ---------------------------------
    std::string InitLine(LONG Index);
    LONG OpenLine(LONG Index);
    LONG AnswerTp();
    std::string GetTPNO();
    std::string GetDtmf();
    LONG HandUp();
    LONG BeginMonitorDtmf(LONG Index);
    LONG CancelMonitor(LONG Index);
    LONG CallOut(LONG Index, const std::string& szNumber);
    LONG ClearDTMF(LONG Index);
    LONG PlayWav(const std::string& FileName, LONG Dev);
    LONG RecordWav(LONG Dev, const std::string& FileName, LONG Time);
    LONG CloseLine();
    LONG StopPlayWav();
    LONG PlayStr(const std::string& PlayStr, LONG Dev);
    LONG PlayTxtFile(const std::string& FileName, LONG Dev);
    LONG GetOutID(LONG Dev);
    LONG Test();
    LONG PlayAllisEnglish(const std::string& Str, LONG Dev);
    LONG SendData(const std::string& SendStr);
    LONG SendFile(const std::string& FileName);
    LONG ChangeCall(LONG Index, const std::string& TpNumber);
    LONG InitSetCard(const std::string& DevName);
    LONG GetDialogicVbus();
    LONG GetDialogicNbus();
    LONG MakeParty(LONG cannel);
    LONG listen(LONG BusChannnel1, LONG BusChannnel2);
    LONG StopRecord();

    // ---- window message handlers ---------------------------------------
    LRESULT OnCreate(LPCREATESTRUCTA cs);

protected:
    // The framework's part of window creation; -1 reports failure.
    virtual int FrameworkOnCreate(LPCREATESTRUCTA cs) { return 0; }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    static LONG BoardNoOp2(LONG, const std::string&);
    static LONG BoardNoOp1();

    Module& module_;
    HWND hwnd_ = nullptr;
    bool ambientUserMode_ = true;
    std::vector<std::pair<DWORD, IEventSink*>> sinks_;
    DWORD nextCookie_ = 1;
};
