' Finds the host names of the addresses in a log file (IPv4 and IPv6, as web,
' mail and firewall logs write them): every distinct address is looked up in
' reverse (PTR) in one batch.
'
'   cscript //nologo reverse-log.vbs LOGFILE [SERVER]
'
' SERVER is the DNS server to ask; without it, the servers Windows is
' configured with. Prints each address once, in the order it first appears,
' with the number of lines it is on and its name (or why it has none).
' Exit status: 0 the log was read, 1 it could not be, 2 usage.
Option Explicit

Const ForReading = 1
Dim args, path, fso, file, line, token, seen, counts, lineCount, resolver, addresses, answers, i, name, named, ipv4, ipv6
Set args = WScript.Arguments
If args.Count < 1 Or args.Count > 2 Then
    WScript.Echo "Usage: cscript //nologo reverse-log.vbs LOGFILE [SERVER]"
    WScript.Quit 2
End If
path = args(0)

Set fso = CreateObject("Scripting.FileSystemObject")
If Not fso.FileExists(path) Then
    WScript.Echo "Error: no file " & path
    WScript.Quit 1
End If

' An address is a whole blank-separated token: four dotted decimals, or hex
' groups with "::" or all eight groups (a time such as 01:02:03 is not one).
Set ipv4 = New RegExp
ipv4.Pattern = "^([0-9]{1,3}\.){3}[0-9]{1,3}$"
Set ipv6 = New RegExp
ipv6.Pattern = "^(([0-9a-fA-F]{0,4}:)*:([0-9a-fA-F]{0,4}:)*[0-9a-fA-F]{0,4}|([0-9a-fA-F]{1,4}:){7}[0-9a-fA-F]{1,4})$"

' Distinct addresses, counted by line, in the order they first appear.
Set counts = CreateObject("Scripting.Dictionary")
lineCount = 0
Set file = fso.OpenTextFile(path, ForReading)
Do Until file.AtEndOfStream
    line = file.ReadLine
    lineCount = lineCount + 1
    Set seen = CreateObject("Scripting.Dictionary")
    For Each token In Split(Replace(line, vbTab, " "), " ")
        If (ipv4.Test(token) Or (ipv6.Test(token) And Len(token) > 1)) And Not seen.Exists(token) Then
            seen.Add token, True
            counts(token) = counts(token) + 1
        End If
    Next
Loop
file.Close

If counts.Count = 0 Then
    WScript.Echo "No addresses in " & path & " (" & lineCount & " lines)."
    WScript.Quit 0
End If

Set resolver = CreateObject("Vavizav.Resolver")
If args.Count = 2 Then resolver.DNSServer = args(1)

' One batch: the questions go out together, the answers come back in the
' order of the addresses.
addresses = counts.Keys()
answers = resolver.ResolveMany(addresses, "PTR")

WScript.Echo "Reverse names of the " & counts.Count & " addresses in " & fso.GetFileName(path) & _
             " (" & lineCount & " lines):"
named = 0
For i = 0 To UBound(addresses)
    name = NamesOf(answers(i))
    If name <> "" Then
        named = named + 1
    Else
        name = "(no name: " & answers(i).Status & ")"
    End If
    WScript.Echo "  " & Pad(addresses(i), 24) & Pad(Lines(counts(addresses(i))), 9) & " " & name
Next
WScript.Echo named & " of " & counts.Count & " addresses have a name."

' The answer's host names, without their final dot, joined by ", ".
Function NamesOf(answer)
    Dim record, text
    text = ""
    If answer.Status = "NOERROR" Then
        For Each record In answer.Records
            If text <> "" Then text = text & ", "
            text = text & Left(record.Target, Len(record.Target) - 1)
        Next
    End If
    NamesOf = text
End Function

Function Lines(n)
    If n = 1 Then Lines = "1 line" Else Lines = n & " lines"
End Function

Function Pad(value, width)
    Pad = value
    If Len(Pad) < width Then Pad = Pad & Space(width - Len(Pad))
End Function
