' GetIPFromName in a row on one Vavizav.VeviVORIdezaz object, timed as a
' script author would time it.
'
'   cscript //nologo first_class_lookups.vbs SERVERS COUNT KEY
'
' SERVERS is a server list ("DEAD LIVE" puts a server that drops everything
' first); the live one is the delaying responder, which answers every name
' hN.<anything> with one address. TimeOut stays at its default. Prints
' "KEY SECONDS s NOTE".
Option Explicit
Dim servers, count, key, o, i, answered, started, elapsed, result
servers = WScript.Arguments(0)
count = CLng(WScript.Arguments(1))
key = WScript.Arguments(2)
Set o = CreateObject("Vavizav.VeviVORIdezaz")
o.DNSServer = servers
answered = 0
started = Timer
For i = 1 To count
    result = o.GetIPFromName("h" & i & ".row.bench.test")
    If o.LastError = "" And result <> "" Then answered = answered + 1
Next
elapsed = Timer - started
WScript.Echo key & " " & Replace(FormatNumber(elapsed, 3, -1, 0, 0), ",", ".") & " s " & _
    count & " lookups on one object through """ & servers & """, " & answered & " answered"
