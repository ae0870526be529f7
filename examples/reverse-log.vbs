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
Dim args, path, fso, file, text, finder, match, token, at, lineEnd, lastAt, counts, lineCount
Dim resolver, addresses, answers, i, name, named
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
' One pass of one expression over the whole file finds them all, in order:
' looping over every token of every line in script costs far more than the
' lookups (tens of seconds for a 50,000-line log, where this takes seconds).
Set finder = New RegExp
finder.Global = True
finder.Multiline = True
finder.Pattern = "(^|[ \t])((?:[0-9]{1,3}\.){3}[0-9]{1,3}|" & _
                 "(?:[0-9a-fA-F]{0,4}:)*:(?:[0-9a-fA-F]{0,4}:)*[0-9a-fA-F]{0,4}|" & _
                 "(?:[0-9a-fA-F]{1,4}:){7}[0-9a-fA-F]{1,4})(?=[ \t\r\n]|$)"

Set file = fso.OpenTextFile(path, ForReading)
If file.AtEndOfStream Then text = "" Else text = file.ReadAll
file.Close
' Lines: line ends, and a last line without one.
lineCount = Len(text) - Len(Replace(text, vbLf, ""))
If Len(text) > 0 Then
    If Right(text, 1) <> vbLf Then lineCount = lineCount + 1
End If

' Distinct addresses, counted by line, in the order they first appear: an
' address met again counts only when a line end lies between the two.
Set counts = CreateObject("Scripting.Dictionary")
Set lastAt = CreateObject("Scripting.Dictionary")
For Each match In finder.Execute(text)
    token = match.SubMatches(1)
    at = match.FirstIndex + 1
    If Len(token) > 1 Then
        If Not lastAt.Exists(token) Then
            counts(token) = 1
        Else
            lineEnd = InStr(lastAt(token), text, vbLf)
            If lineEnd > 0 And lineEnd < at Then counts(token) = counts(token) + 1
        End If
        lastAt(token) = at
    End If
Next

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
