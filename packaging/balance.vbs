' Marlune sample: a balance line. Answers each call on the second ring,
' tells the caller the balance and hangs up.
' Run with: cscript //nologo balance.vbs [calls]
'
' The control is created without a container: it makes a hidden window of
' its own, and WScript.Sleep pumps the messages that bring its events to
' the m_ subs below. Needs Windows Script Host (Wine's script host cannot
' wait or take events).
Option Explicit
Dim m, calls, served, busy

calls = 1
If WScript.Arguments.Count > 0 Then calls = CLng(WScript.Arguments(0))

On Error Resume Next
WScript.Sleep 1
If Err.Number <> 0 Then
    WScript.Echo "This script host cannot wait for events (WScript.Sleep: error " & Err.Number & ")."
    WScript.Quit 2
End If
On Error GoTo 0

Set m = WScript.CreateObject("MARLUNE.MarluneCtrl.1", "m_")
WScript.Echo "Line: " & m.InitLine(0)
If m.OpenLine(0) <> 0 Then
    WScript.Echo "The line did not open."
    WScript.Quit 1
End If
WScript.Echo "Waiting for calls..."
Do While served < calls Or busy
    WScript.Sleep 100
Loop
m.CloseLine
Set m = Nothing

' 您的余额是12.5元 ("your balance is 12.5 yuan"), spelled in code points so
' that the script reads the same in any code page.
Function BalanceText()
    BalanceText = ChrW(&H60A8) & ChrW(&H7684) & ChrW(&H4F59) & ChrW(&H989D) & ChrW(&H662F) & "12.5" & ChrW(&H5143)
End Function

Sub m_Ring(count)
    WScript.Echo "Ring " & count
    If count = 2 And Not busy Then
        busy = True
        If m.AnswerTp() <> 0 Then busy = False
    End If
End Sub

Sub m_CallIDIn()
    WScript.Echo "Caller: " & m.GetTPNO()
End Sub

Sub m_IsConnect(index)
    WScript.Echo "Connected"
    m.PlayStr BalanceText(), 0
End Sub

Sub m_EndPlayAll()
    WScript.Echo "Balance told"
    m.HandUp
End Sub

Sub m_DisConnected(index)
    WScript.Echo "The caller hung up"
    m.StopPlayWav
    m.HandUp
End Sub

Sub m_LineIsFree(index)
    WScript.Echo "Line free"
    If busy Then served = served + 1
    busy = False
End Sub
