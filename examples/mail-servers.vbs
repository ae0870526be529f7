' Lists the mail servers of a domain (its MX records) with their addresses,
' in the order a sending server tries them.
'
'   cscript //nologo mail-servers.vbs DOMAIN [SERVER]
'
' SERVER is the DNS server to ask (192.0.2.53, 192.0.2.53:5353, [2001:db8::53]);
' without it, the servers Windows is configured with. Exit status: 0 the domain
' takes mail, 1 it takes none or the question failed, 2 usage.
Option Explicit

Dim args, domain, resolver, answer, records, i, j, k, exchanges, preferences, t, addresses
Set args = WScript.Arguments
If args.Count < 1 Or args.Count > 2 Then
    WScript.Echo "Usage: cscript //nologo mail-servers.vbs DOMAIN [SERVER]"
    WScript.Quit 2
End If
domain = args(0)

Set resolver = CreateObject("Vavizav.Resolver")
If args.Count = 2 Then resolver.DNSServer = args(1)

Set answer = resolver.Resolve(domain, "MX")
If answer.Status <> "NOERROR" Then
    WScript.Echo "Error: " & domain & ": " & Explain(answer.Status)
    WScript.Quit 1
End If

Set records = answer.Records
If records.Count = 0 Then
    ' No MX: mail goes to the domain's own address (RFC 5321 section 5.1).
    addresses = AddressesOf(Array(domain))
    If addresses(0) = "" Then
        WScript.Echo domain & " has no mail servers: no MX records and no address."
        WScript.Quit 1
    End If
    WScript.Echo domain & " has no MX records; mail goes to the domain's own address: " & addresses(0)
    WScript.Quit 0
End If

' A single MX with the root as exchange is a null MX (RFC 7505): no mail at all.
If records.Count = 1 And records(0).Target = "." Then
    WScript.Echo domain & " accepts no mail (null MX)."
    WScript.Quit 1
End If

' The exchanges by preference, lowest first (the order senders try them);
' equal preferences keep the server's order.
ReDim exchanges(records.Count - 1)
ReDim preferences(records.Count - 1)
For i = 0 To records.Count - 1
    exchanges(i) = records(i).Target
    preferences(i) = records(i).Preference
Next
For i = 1 To records.Count - 1
    For j = i To 1 Step -1
        If preferences(j - 1) <= preferences(j) Then Exit For
        t = preferences(j): preferences(j) = preferences(j - 1): preferences(j - 1) = t
        t = exchanges(j): exchanges(j) = exchanges(j - 1): exchanges(j - 1) = t
    Next
Next

' Every exchange's addresses in one batch.
addresses = AddressesOf(exchanges)
WScript.Echo "Mail servers of " & domain & ":"
For i = 0 To UBound(exchanges)
    If addresses(i) = "" Then addresses(i) = "(no address)"
    WScript.Echo "  " & Pad(preferences(i), 5) & " " & Pad(exchanges(i), 24) & " " & addresses(i)
Next

' The IPv4 and IPv6 addresses of each name, as one text per name.
Function AddressesOf(names)
    Dim v4, v6, result, n, text
    v4 = resolver.ResolveMany(names, "A")
    v6 = resolver.ResolveMany(names, "AAAA")
    ReDim result(UBound(names))
    For n = 0 To UBound(names)
        text = Trim(Replace(v4(n).Text, vbCrLf, " ") & " " & Replace(v6(n).Text, vbCrLf, " "))
        result(n) = text
    Next
    AddressesOf = result
End Function

Function Pad(value, width)
    Pad = value
    If Len(Pad) < width Then Pad = Pad & Space(width - Len(Pad))
End Function

Function Explain(status)
    Select Case status
        Case "NXDOMAIN": Explain = "no such domain (NXDOMAIN)"
        Case "TIMEOUT": Explain = "no answer from the DNS server (TIMEOUT)"
        Case "NOSERVER": Explain = "no DNS server to ask (NOSERVER)"
        Case "BADNAME": Explain = "not a domain name that can be asked (BADNAME)"
        Case Else: Explain = "the DNS server answered " & status
    End Select
End Function
