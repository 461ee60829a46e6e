// What the JSON host drives on each target: the controls, how their members
// are called, and the clock. The host (host/json_host.cpp) owns the
// protocol - requests, checks, the wording of answers and errors - and is
// the same on both targets; a target only runs what it is told.
//
//   Linux   (host/sim_target.cpp):  the control in this process, called
//           through its automation table, on the platform layer's clock.
//   Windows (host/ocx_client.cpp):  MARLUNE.OCX through COM, created by its
//           ProgID, activated in place in a hidden window, called through
//           IDispatch by name, on the wall clock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// A parameter's automation type, as far as the host words its errors.
enum class HostType { Long, Bool, String, Other };

struct HostParam {
    std::string name;
    HostType type;
};

// How a member call ended, before the host words the answer.
struct MemberCall {
    int32_t hr = 0;               // the HRESULT of GetIDsOfNames, or else of Invoke
    bool found = false;           // the name is a member
    nlohmann::json result;        // when hr is S_OK
    std::string description;      // DISP_E_EXCEPTION: the member's own text (UTF-8)
    int32_t scode = 0;            // DISP_E_EXCEPTION
    unsigned argErr = 0;          // DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW
    // The member as its type information names it.
    std::string member;
    bool property = false;
    std::vector<HostParam> params;  // a method's parameters
    HostType type = HostType::Other;  // a property's type
};

// A call's kind, as DISPATCH_METHOD / _PROPERTYGET / _PROPERTYPUT.
enum class CallKind { Method, Get, Put };

class HostTarget {
public:
    // An event of control `ctl` with its arguments in declaration order.
    using EventOut = std::function<void(int ctl, const std::string& name, nlohmann::json args)>;
    // Anything else the target reports on its own (a message box, a debug
    // text); the host stamps it and names the control a request addressed.
    using NoticeOut = std::function<void(nlohmann::json)>;

    virtual ~HostTarget() = default;
    virtual void Connect(EventOut events, NoticeOut notices) = 0;
    // Creates control `number` with its window and its events connected;
    // throws HostCommandError when it cannot.
    virtual void Create(int number) = 0;
    virtual void Destroy(int number) = 0;
    // Calls a member of control `number` by name; arguments as JSON values.
    virtual MemberCall Call(int number, const std::string& name, CallKind kind,
                            const std::vector<nlohmann::json>& args) = 0;
    virtual double Seconds() const = 0;
    // Lets time pass: the controls' timers, the line's messages and the
    // actions scheduled with HostAfter run as it goes.
    virtual void RunFor(double seconds) = 0;
};

// The target this program is built for.
std::unique_ptr<HostTarget> MakeHostTarget();

// Runs `action` `seconds` from now on the target's clock (during a "run").
void HostAfter(double seconds, std::function<void()> action);
// The caller starts saying this WAV file into the line now; false when the
// file cannot be read.
bool HostCallerVoice(const std::string& wavPath);
