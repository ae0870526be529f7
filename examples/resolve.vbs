' Asks one DNS question of any type and prints the answer's records.
'
'   cscript //nologo resolve.vbs NAME [TYPE [SERVER]]
'
' TYPE is a record type (A, AAAA, MX, TXT, SRV, CAA, NS, SOA, PTR, CNAME, ...
' or a number), A when omitted; for PTR, NAME may be an IPv4 or IPv6 address.
' SERVER is the DNS server to ask (192.0.2.53, 192.0.2.53:5353,
' [2001:db8::53]); without it, the servers Windows is configured with.
' Exit status: 0 records found, 1 none or the question failed, 2 usage.
Option Explicit

Dim args, resolver, answer, record, recordType
Set args = WScript.Arguments
If args.Count < 1 Or args.Count > 3 Then
    WScript.Echo "Usage: cscript //nologo resolve.vbs NAME [TYPE [SERVER]]"
    WScript.Quit 2
End If
recordType = "A"
If args.Count >= 2 Then recordType = args(1)

Set resolver = CreateObject("Vavizav.Resolver")
If args.Count = 3 Then resolver.DNSServer = args(2)

Set answer = resolver.Resolve(args(0), recordType)
If resolver.LastError <> "" Then
    WScript.Echo "Error: " & resolver.LastError
    WScript.Quit 2
End If

' The heading: what was asked, how it ended, who answered.
If answer.Server <> "" Then
    WScript.Echo answer.Name & " " & answer.Type & ": " & answer.Status & " from " & answer.Server
Else
    WScript.Echo answer.Name & " " & answer.Type & ": " & answer.Status
End If
' An alias: the name asked (after the search list, or the reverse name of an
' address) is a CNAME, or lies below a DNAME, and the records belong to the
' name the chain ends at. Said only when the name asked has such a record.
If answer.Records.Count > 0 And UCase(answer.Type) <> "CNAME" And UCase(answer.Type) <> "DNAME" Then
    If resolver.Resolve(args(0), "CNAME").Records.Count > 0 Then
        WScript.Echo "  (an alias of " & answer.CanonicalName & ")"
    End If
End If
For Each record In answer.Records
    WScript.Echo "  " & record.Name & "  " & record.TTL & "  " & record.Type & "  " & record.Data
Next
If answer.Records.Count = 0 Then
    If answer.Status = "NOERROR" Then WScript.Echo "  (the name has no records of this type)"
    WScript.Quit 1
End If
