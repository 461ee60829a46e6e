// Marlune sample: a balance line. Answers each call on the second ring,
// tells the caller the balance and hangs up.
// Run with: cscript //nologo balance.js [calls]
//
// The control is created without a container: it makes a hidden window of
// its own, and WScript.Sleep pumps the messages that bring its events to
// the m_ functions below. Needs Windows Script Host (Wine's script host
// cannot wait or take events).
var calls = WScript.Arguments.length > 0 ? parseInt(WScript.Arguments(0), 10) : 1;
var served = 0, busy = false;
// "Your balance is 12.5 yuan".
var BALANCE_TEXT = "\u60A8\u7684\u4F59\u989D\u662F12.5\u5143";

try {
    WScript.Sleep(1);
} catch (e) {
    WScript.Echo("This script host cannot wait for events (WScript.Sleep: error " + e.number + ").");
    WScript.Quit(2);
}

var m = WScript.CreateObject("MARLUNE.MarluneCtrl.1", "m_");
WScript.Echo("Line: " + m.InitLine(0));
if (m.OpenLine(0) != 0) {
    WScript.Echo("The line did not open.");
    WScript.Quit(1);
}
WScript.Echo("Waiting for calls...");
while (served < calls || busy) WScript.Sleep(100);
m.CloseLine();

function m_Ring(count) {
    WScript.Echo("Ring " + count);
    if (count == 2 && !busy) busy = m.AnswerTp() == 0;
}

function m_CallIDIn() {
    WScript.Echo("Caller: " + m.GetTPNO());
}

function m_IsConnect(index) {
    WScript.Echo("Connected");
    m.PlayStr(BALANCE_TEXT, 0);
}

function m_EndPlayAll() {
    WScript.Echo("Balance told");
    m.HandUp();
}

function m_DisConnected(index) {
    WScript.Echo("The caller hung up");
    m.StopPlayWav();
    m.HandUp();
}

function m_LineIsFree(index) {
    WScript.Echo("Line free");
    if (busy) served++;
    busy = false;
}
