' Marlune sample: drives the control by name from Windows Script Host.
' Run with: cscript //nologo sample.vbs
' Events need a container (a form, or the HTML sample); a script host
' calls methods and reads properties only.
Option Explicit
Dim m, lineName
Set m = CreateObject("MARLUNE.MarluneCtrl.1")

lineName = m.InitLine(0)
WScript.Echo "InitLine(0): " & lineName
If lineName <> "-1" And lineName <> "" Then
    WScript.Echo "OpenLine(0): " & m.OpenLine(0)
    WScript.Echo "Caller: " & m.GetTPNO()
    WScript.Echo "CloseLine: " & m.CloseLine()
End If
m.MonitorDtmf = True
WScript.Echo "MonitorDtmf: " & CLng(m.MonitorDtmf)
WScript.Echo "OutID: " & m.OutID
Set m = Nothing
