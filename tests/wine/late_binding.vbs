' The control driven by name from VBScript (late binding): methods,
' properties, a member that raises, an unknown name. Exits with the
' number of failures.
Option Explicit
Dim m, failures, s
failures = 0

Sub Check(ok, what)
    If Not ok Then
        WScript.Echo "FAIL: " & what
        failures = failures + 1
    End If
End Sub

Set m = CreateObject("MARLUNE.MarluneCtrl.1")
Check TypeName(m) = "_DMarlune", "type name " & TypeName(m)
Check m.GetDialogicVbus() = 0, "GetDialogicVbus"
Check m.getdialogicnbus = 0, "getdialogicnbus, without regard to case"
Check m.ChangeCall(1, "13800138000") = 0, "ChangeCall"
Check m.InitSetCard("dxxxB1") = 0, "InitSetCard"
Check m.listen(3, 4) = 0, "listen"
Check m.MakeParty(2) = 0, "MakeParty"

m.OutID = 7
Check m.OutID = 7, "OutID after writing 7: " & m.OutID
Check m.MonitorDtmf = False, "MonitorDtmf starts False"
m.MonitorDtmf = True
Check m.MonitorDtmf = True, "MonitorDtmf after writing True"
s = m.GetDtmf()
Check TypeName(s) = "String" And s = "", "GetDtmf: '" & s & "'"

' Arguments by variable (by reference) and by literal.
Dim dev : dev = 5
Check m.GetDialogicVbus = 0, "property-style call of a method"
Check m.MakeParty(dev) = 0, "argument by reference"

On Error Resume Next
m.PlayStr ChrW(&H4F60), 1
' (Wine's script engine turns a control's file-not-found code into its own
' error number and text; the C++ host checks the code and the description.)
Check Err.Number <> 0, "PlayStr without hanzi.dat raises an error"
Check Len(Err.Description) > 0, "with a description"
Err.Clear
m.NoSuchMember 1
Check Err.Number = 438, "unknown name: " & Err.Number
Err.Clear
m.OpenLine
Check Err.Number <> 0, "wrong number of arguments raises"
Err.Clear
On Error GoTo 0

Set m = Nothing
WScript.Echo "late_binding: " & failures & " failure(s)"
WScript.Quit failures
