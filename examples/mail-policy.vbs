' Checks a domain's mail policies: its SPF record (TXT "v=spf1 ...", RFC 7208)
' and its DMARC record (TXT at _dmarc.DOMAIN, "v=DMARC1; p=...", RFC 7489).
'
'   cscript //nologo mail-policy.vbs DOMAIN [SERVER]
'
' SERVER is the DNS server to ask; without it, the servers Windows is
' configured with. A domain without a DMARC record of its own falls under its
' organizational domain's record (taken here as its last two labels), whose
' sp= policy applies to subdomains. Exit status: 0 both policies are sound,
' 1 one is missing, broken or does not protect the domain, 2 usage.
Option Explicit

Dim args, domain, resolver, spfOk, dmarcOk, lastStatus
Set args = WScript.Arguments
If args.Count < 1 Or args.Count > 2 Then
    WScript.Echo "Usage: cscript //nologo mail-policy.vbs DOMAIN [SERVER]"
    WScript.Quit 2
End If
domain = args(0)
If Right(domain, 1) = "." Then domain = Left(domain, Len(domain) - 1)

Set resolver = CreateObject("Vavizav.Resolver")
If args.Count = 2 Then resolver.DNSServer = args(1)

spfOk = CheckSpf(domain)
' A domain that does not exist has no policies to check.
If lastStatus = "NXDOMAIN" Then
    WScript.Echo "Result: " & domain & " does not exist (NXDOMAIN)."
    WScript.Quit 1
End If
dmarcOk = CheckDmarc(domain)
If spfOk And dmarcOk Then
    WScript.Echo "Result: " & domain & " publishes sound SPF and DMARC policies."
    WScript.Quit 0
End If
WScript.Echo "Result: " & domain & " needs attention."
WScript.Quit 1

' The TXT records of name that start with tag (without regard to case) and a
' blank, a semicolon or nothing after it ("v=spf10" is no SPF record), each as
' its character-strings joined; Empty when the question failed (said why).
Function TaggedTexts(name, tag, label)
    Dim answer, record, found, count
    Set answer = resolver.Resolve(name, "TXT")
    lastStatus = answer.Status
    If answer.Status <> "NOERROR" And answer.Status <> "NXDOMAIN" Then
        WScript.Echo label & ": cannot tell, the question for " & name & " TXT ended in " & answer.Status
        TaggedTexts = Empty
        Exit Function
    End If
    ReDim found(answer.Records.Count)
    count = 0
    For Each record In answer.Records
        If StartsWithTag(record.Text, tag) Then
            found(count) = record.Text
            count = count + 1
        End If
    Next
    If count = 0 Then
        TaggedTexts = Array()
    Else
        ReDim Preserve found(count - 1)
        TaggedTexts = found
    End If
End Function

Function StartsWithTag(text, tag)
    StartsWithTag = False
    If LCase(Left(text, Len(tag))) <> LCase(tag) Then Exit Function
    StartsWithTag = Len(text) = Len(tag) Or Mid(text, Len(tag) + 1, 1) = " " Or Mid(text, Len(tag) + 1, 1) = ";"
End Function

Function CheckSpf(name)
    Dim texts, policy, terms, last, qualifier
    CheckSpf = False
    texts = TaggedTexts(name, "v=spf1", "SPF")
    If IsEmpty(texts) Then Exit Function
    If lastStatus = "NXDOMAIN" Then
        WScript.Echo "SPF:   " & name & " does not exist."
        Exit Function
    End If
    If UBound(texts) < 0 Then
        WScript.Echo "SPF:   none: " & name & " publishes no SPF record; anyone may send as it."
        Exit Function
    End If
    If UBound(texts) > 0 Then
        WScript.Echo "SPF:   error: " & name & " publishes " & (UBound(texts) + 1) & _
                     " SPF records; receivers treat that as a permanent error (RFC 7208 4.5)."
        Exit Function
    End If
    policy = texts(0)
    WScript.Echo "SPF:   " & policy
    terms = Split(Trim(policy), " ")
    last = LCase(terms(UBound(terms)))
    qualifier = "+"
    If Len(last) = 4 And InStr("+-~?", Left(last, 1)) > 0 Then
        qualifier = Left(last, 1)
        last = Mid(last, 2)
    End If
    If last <> "all" Then
        WScript.Echo "       no final ""all"": mail from other hosts is neither allowed nor refused."
        Exit Function
    End If
    Select Case qualifier
        Case "-": WScript.Echo "       -all: mail from any other host fails.": CheckSpf = True
        Case "~": WScript.Echo "       ~all: mail from other hosts soft-fails (accepted, marked).": CheckSpf = True
        Case "?": WScript.Echo "       ?all: neutral, other hosts are neither allowed nor refused."
        Case "+": WScript.Echo "       +all: every host on the Internet may send as " & name & "."
    End Select
End Function

Function CheckDmarc(name)
    Dim texts, at, labels, organization, policy, tags, tag, key, value, p, sp, pct, rua
    CheckDmarc = False
    at = "_dmarc." & name
    texts = TaggedTexts(at, "v=DMARC1", "DMARC")
    If IsEmpty(texts) Then Exit Function
    labels = Split(name, ".")
    If UBound(texts) < 0 And UBound(labels) > 1 Then
        organization = labels(UBound(labels) - 1) & "." & labels(UBound(labels))
        at = "_dmarc." & organization
        texts = TaggedTexts(at, "v=DMARC1", "DMARC")
        If IsEmpty(texts) Then Exit Function
    End If
    If UBound(texts) < 0 Then
        WScript.Echo "DMARC: none: no DMARC record at " & at & "."
        Exit Function
    End If
    If UBound(texts) > 0 Then
        WScript.Echo "DMARC: error: " & at & " holds " & (UBound(texts) + 1) & " DMARC records; receivers ignore them all."
        Exit Function
    End If
    policy = texts(0)
    WScript.Echo "DMARC: " & policy & "  (" & at & ")"
    pct = "100"
    For Each tag In Split(policy, ";")
        If InStr(tag, "=") > 0 Then
            key = LCase(Trim(Left(tag, InStr(tag, "=") - 1)))
            value = Trim(Mid(tag, InStr(tag, "=") + 1))
            Select Case key
                Case "p": p = LCase(value)
                Case "sp": sp = LCase(value)
                Case "pct": pct = value
                Case "rua": rua = value
            End Select
        End If
    Next
    ' A subdomain under the organization's record gets sp=, or p= without it.
    If at <> "_dmarc." & name And sp <> "" Then p = sp
    Select Case p
        Case "reject", "quarantine"
            WScript.Echo "       policy for " & name & ": " & p & " mail that fails, " & pct & "% of it."
            CheckDmarc = True
        Case "none"
            WScript.Echo "       policy for " & name & ": none, failing mail is only reported."
        Case Else
            WScript.Echo "       error: no valid p= tag; receivers ignore the record."
    End Select
    If rua <> "" Then WScript.Echo "       aggregate reports go to " & rua
End Function
