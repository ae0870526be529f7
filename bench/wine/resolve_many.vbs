' ResolveMany from VBScript, timed as a script author would time it: from
' creating the Resolver to having read every answer's Status and record count.
'
'   cscript //nologo resolve_many.vbs SERVER COUNT [MAXINFLIGHT]
'
' SERVER is the delaying responder, which answers every name hN.<anything> with
' one address. Prints "batch.vbscript_resolve_many SECONDS s NOTE".
Option Explicit
Dim server, count, started, made, r, names, answers, i, answered, elapsed
server = WScript.Arguments(0)
count = CLng(WScript.Arguments(1))
ReDim names(count - 1)
For i = 0 To count - 1
    names(i) = "h" & i & ".bench.test"
Next

started = Timer
Set r = CreateObject("Vavizav.Resolver")
r.DNSServer = server
r.TimeOut = 5000
If WScript.Arguments.Count > 2 Then r.MaxInFlight = CLng(WScript.Arguments(2))
answers = r.ResolveMany(names)
made = Timer - started
answered = 0
For i = 0 To count - 1
    If answers(i).Status = "NOERROR" Then
        If answers(i).Records.Count = 1 Then answered = answered + 1
    End If
Next
elapsed = Timer - started
Dim verdict
If elapsed <= 2.5 And answered = count Then verdict = "met" Else verdict = "MISSED"
WScript.Echo "batch.vbscript_resolve_many " & Replace(FormatNumber(elapsed, 3, -1, 0, 0), ",", ".") & " s " & _
    count & " names, MaxInFlight " & r.MaxInFlight & ", ResolveMany returned after " & _
    Replace(FormatNumber(made, 3, -1, 0, 0), ",", ".") & " s, " & answered & " answered with one record; " & _
    "target <= 2.5 s: " & verdict
