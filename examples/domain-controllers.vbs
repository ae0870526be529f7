' Lists the domain controllers of an Active Directory domain as Windows'
' DC locator finds them: the SRV records of _ldap._tcp.dc._msdcs.DOMAIN, with
' each controller's addresses, in the order clients try them.
'
'   cscript //nologo domain-controllers.vbs [DOMAIN [SERVER]]
'
' DOMAIN defaults to the domain of the logged-on user (USERDNSDOMAIN). SERVER
' is the DNS server to ask; without it, the servers Windows is configured with
' (on a domain member: the domain's DNS servers). Exit status: 0 controllers
' found, 1 none or the question failed, 2 usage.
Option Explicit

Dim args, domain, resolver, answer, records, count, i, j, t, order, targets, ports, priorities, weights, v4, v6, where
Set args = WScript.Arguments
If args.Count > 2 Then
    WScript.Echo "Usage: cscript //nologo domain-controllers.vbs [DOMAIN [SERVER]]"
    WScript.Quit 2
End If
If args.Count >= 1 Then
    domain = args(0)
Else
    domain = CreateObject("WScript.Shell").ExpandEnvironmentStrings("%USERDNSDOMAIN%")
    If domain = "%USERDNSDOMAIN%" Or domain = "" Then
        WScript.Echo "Not logged on to a domain: give the domain, as in"
        WScript.Echo "  cscript //nologo domain-controllers.vbs corp.example.com"
        WScript.Quit 2
    End If
End If
If Right(domain, 1) = "." Then domain = Left(domain, Len(domain) - 1)

Set resolver = CreateObject("Vavizav.Resolver")
If args.Count = 2 Then resolver.DNSServer = args(1)

where = "_ldap._tcp.dc._msdcs." & domain
Set answer = resolver.Resolve(where, "SRV")
Set records = answer.Records
If answer.Status = "NXDOMAIN" Or (answer.Status = "NOERROR" And records.Count = 0) Then
    WScript.Echo "No domain controllers are registered for " & domain & " (no SRV records at " & where & ")."
    WScript.Quit 1
ElseIf answer.Status <> "NOERROR" Then
    WScript.Echo "Error: the question for " & where & " SRV ended in " & answer.Status
    WScript.Quit 1
End If

' A lone target "." says the service is not offered here (RFC 2782).
If records.Count = 1 And records(0).Target = "." Then
    WScript.Echo domain & " says it has no domain controllers (SRV target ""."")."
    WScript.Quit 1
End If

' Lower priority first; within a priority the higher weight first (clients
' pick at random in proportion to weight; this shows the favourite first).
count = records.Count
ReDim order(count - 1), targets(count - 1), ports(count - 1), priorities(count - 1), weights(count - 1)
For i = 0 To count - 1
    order(i) = i
    priorities(i) = records(i).Priority
    weights(i) = records(i).Weight
Next
For i = 1 To count - 1
    For j = i To 1 Step -1
        If Not Before(order(j), order(j - 1)) Then Exit For
        t = order(j): order(j) = order(j - 1): order(j - 1) = t
    Next
Next
For i = 0 To count - 1
    targets(i) = records(order(i)).Target
    ports(i) = records(order(i)).Port
Next

' Every controller's addresses, two batches.
v4 = resolver.ResolveMany(targets, "A")
v6 = resolver.ResolveMany(targets, "AAAA")
WScript.Echo "Domain controllers of " & domain & " (" & where & "):"
WScript.Echo "  priority weight  port  controller               addresses"
For i = 0 To count - 1
    t = Trim(Replace(v4(i).Text, vbCrLf, " ") & " " & Replace(v6(i).Text, vbCrLf, " "))
    If t = "" Then t = "(no address: " & v4(i).Status & ")"
    WScript.Echo "  " & Pad(priorities(order(i)), 8) & " " & Pad(weights(order(i)), 7) & " " & Pad(ports(i), 5) & _
                 " " & Pad(targets(i), 24) & " " & t
Next

Function Before(a, b)
    If priorities(a) <> priorities(b) Then
        Before = priorities(a) < priorities(b)
    Else
        Before = weights(a) > weights(b)
    End If
End Function

Function Pad(value, width)
    Pad = value
    If Len(Pad) < width Then Pad = Pad & Space(width - Len(Pad))
End Function
