' Vavizav.VeviVORIdezaz as VBScript sees it: created by class name, called late
' bound through IDispatch, variables passed by reference as the script host does.
'
'   cscript //nologo clients.vbs SERVER
'
' SERVER is the local unbound serving tests/e2e/*.zone. The last line is always
' "N passed, M failed": VBScript under Wine stops silently at a function it lacks
' (ChrW, AscW, Join), so the runner looks for that line, not only the exit code.
Option Explicit

Dim passed, failed, server, silentServer
passed = 0
failed = 0
server = WScript.Arguments(0)
silentServer = WScript.Arguments(1)   ' loopback, nothing listens on port 53

Function Show(value)
    If IsNull(value) Then
        Show = "Null"
    ElseIf IsArray(value) Then
        Show = "(array)"
    Else
        Show = """" & Replace(CStr(value), vbCrLf, "\r\n") & """ (" & TypeName(value) & ")"
    End If
End Function

Sub Check(description, actual, expected)
    If Not IsNull(actual) And Not IsArray(actual) And actual = expected Then
        passed = passed + 1
    Else
        failed = failed + 1
        WScript.Echo "FAILED: " & description & ": got " & Show(actual) & ", expected " & Show(expected)
    End If
End Sub

Function NewResolver()
    Set NewResolver = CreateObject("Vavizav.VeviVORIdezaz")
End Function

' A lookup's outcome as one text: result, then LastError.
Function Forward(resolver, name)
    Dim result
    result = resolver.GetIPFromName(name)
    Forward = result & " | " & resolver.LastError
End Function

Function Reverse(resolver, address)
    Dim result
    result = resolver.GetNameFromIP(address)
    Reverse = result & " | " & resolver.LastError
End Function

' The error number of a property write, 0 when it was accepted.
Function PutTimeOut(resolver, value)
    On Error Resume Next
    resolver.TimeOut = value
    PutTimeOut = Err.Number
    On Error GoTo 0
End Function

Function PutLastError(resolver, value)
    On Error Resume Next
    resolver.LastError = value
    PutLastError = Err.Number
    On Error GoTo 0
End Function

Sub TestCreationAndDefaults()
    Dim o
    Set o = NewResolver()
    Check "TimeOut starts at 10000", o.TimeOut, 10000
    Check "LastError starts empty", o.LastError, ""
    Check "DNSServer starts at the default server", o.DNSServer, "9.9.9.9"
    Check "DNSServer is a string", TypeName(o.DNSServer), "String"
    Check "TimeOut is a Long", TypeName(o.TimeOut), "Long"
End Sub

Sub TestTimeOutLimits()
    Dim o
    Set o = NewResolver()
    o.TimeOut = 1
    Check "TimeOut takes 1", o.TimeOut, 1
    o.TimeOut = 65534
    Check "TimeOut takes 65534", o.TimeOut, 65534
    o.TimeOut = 65535
    Check "TimeOut ignores 65535", o.TimeOut, 65534
    o.TimeOut = 0
    Check "TimeOut ignores 0", o.TimeOut, 65534
    o.TimeOut = -1
    Check "TimeOut ignores -1", o.TimeOut, 65534
    o.TimeOut = "250"
    Check "TimeOut takes a numeric string", o.TimeOut, 250
    Check "TimeOut refuses text that is no number", PutTimeOut(o, "soon") <> 0, True
    Check "a refused TimeOut keeps the value", o.TimeOut, 250
End Sub

' The conversions themselves are the resolver's; here they come through IDispatch.
Sub TestDNSServer()
    Dim o
    Set o = NewResolver()
    o.DNSServer = "not a server at all"
    Check "DNSServer stores any text", o.DNSServer, "not a server at all"
    o.DNSServer = 42
    Check "DNSServer stores a number as text", o.DNSServer, "42"
    o.DNSServer = Null
    Check "DNSServer ignores Null", o.DNSServer, "42"
    Check "property writes leave LastError alone", o.LastError, ""
End Sub

Sub TestLastErrorIsReadOnly()
    Dim o
    Set o = NewResolver()
    Check "a put of LastError is refused", PutLastError(o, "forged") <> 0, True
    Check "LastError keeps its value", o.LastError, ""
End Sub

Sub TestLookups()
    Dim o
    Set o = NewResolver()
    o.DNSServer = server
    Check "forward, one address", Forward(o, "one.vavizav.test"), "192.0.2.1 | "
    Check "forward, three addresses joined by CR LF", Forward(o, "many.vavizav.test"), _
        "192.0.2.10" & vbCrLf & "192.0.2.11" & vbCrLf & "192.0.2.12 | "
    Check "forward through a CNAME chain", Forward(o, "alias.vavizav.test"), _
        "192.0.2.10" & vbCrLf & "192.0.2.11" & vbCrLf & "192.0.2.12 | "
    Check "reverse", Reverse(o, "192.0.2.1"), "one.vavizav.test | "
    Check "reverse, another address", Reverse(o, "192.0.2.10"), "many.vavizav.test | "
    Check "a result is a string", TypeName(o.GetIPFromName("one.vavizav.test")), "String"
End Sub

Sub TestFailureTexts()
    Dim o
    Set o = NewResolver()
    o.DNSServer = server
    Check "a name the server does not know", Forward(o, "missing.vavizav.test"), " | Unable to Resolve HostName"
    Check "success empties LastError again", Forward(o, "one.vavizav.test"), "192.0.2.1 | "
    Check "an address that is no address", Reverse(o, "1.2.3"), " | IP Address not recognized"
    Check "an address without a name", Reverse(o, "192.0.2.99"), " | Cannot Reverse Resolve Host"
    Check "a Null name gives an empty result", o.GetIPFromName(Null), ""
    Check "a Null name leaves a reason", o.LastError <> "", True
    o.DNSServer = silentServer
    o.TimeOut = 300
    Check "no reply in time", Forward(o, "one.vavizav.test"), " | DNS Request Timed Out"
    Check "no reply in time, reverse", Reverse(o, "192.0.2.1"), " | DNS Request Timed Out"
End Sub

Sub TestByReferenceArgumentsUnchanged()
    Dim o, name, address, number, limit, text
    Set o = NewResolver()
    o.DNSServer = server
    name = "one.vavizav.test"
    Check "lookup through a variable", o.GetIPFromName(name), "192.0.2.1"
    Check "the name variable is unchanged", name, "one.vavizav.test"
    address = "192.0.2.1"
    Check "reverse lookup through a variable", o.GetNameFromIP(address), "one.vavizav.test"
    Check "the address variable is unchanged", address, "192.0.2.1"
    number = 42
    o.TimeOut = 300   ' the name "42" is outside the zones: no quick answer
    o.GetIPFromName number
    Check "a number variable keeps its value", number, 42
    Check "a number variable keeps its type", TypeName(number), "Integer"
    limit = 1000
    o.TimeOut = limit
    Check "TimeOut takes an Integer variable", o.TimeOut, 1000
    Check "the TimeOut variable is unchanged", limit, 1000
    limit = 65535
    o.TimeOut = limit
    Check "a refused TimeOut variable is unchanged", limit, 65535
    text = server
    o.DNSServer = text
    Check "the DNSServer variable is unchanged", text, server
End Sub

Sub TestTwoObjectsKeepTheirOwnSettings()
    Dim a, b
    Set a = NewResolver()
    Set b = NewResolver()
    a.TimeOut = 1234
    a.DNSServer = server
    Check "the other object's TimeOut", b.TimeOut, 10000
    Check "the other object's DNSServer", b.DNSServer, "9.9.9.9"
    Check "first object looks up", a.GetIPFromName("one.vavizav.test"), "192.0.2.1"
    Check "second object fails on its own", b.GetNameFromIP("1.2.3"), ""
    Check "the first object's LastError", a.LastError, ""
    Check "the second object's LastError", b.LastError, "IP Address not recognized"
End Sub

TestCreationAndDefaults
TestTimeOutLimits
TestDNSServer
TestLastErrorIsReadOnly
TestLookups
TestFailureTexts
TestByReferenceArgumentsUnchanged
TestTwoObjectsKeepTheirOwnSettings

WScript.Echo passed & " passed, " & failed & " failed"
If failed > 0 Then WScript.Quit 1
