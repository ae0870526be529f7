' Resolves every name of a list file (one name or address a line) in one
' batch and prints each answer, then a count by status and the time taken.
'
'   cscript //nologo resolve-list.vbs LISTFILE [TYPE [SERVER]]
'
' TYPE is a record type, A when omitted (PTR takes addresses). SERVER is the
' DNS server to ask; without it, the servers Windows is configured with.
' Blank lines and lines starting with # or ; are skipped. The batch keeps up
' to MaxInFlight (64) questions outstanding at once and asks each distinct
' name once. Exit status: 0 the list was read, 1 it could not be, 2 usage.
Option Explicit

Dim args, fso, file, line, names, count, recordType, resolver, started, seconds, answers, i, text, statuses, status
Set args = WScript.Arguments
If args.Count < 1 Or args.Count > 3 Then
    WScript.Echo "Usage: cscript //nologo resolve-list.vbs LISTFILE [TYPE [SERVER]]"
    WScript.Quit 2
End If
recordType = "A"
If args.Count >= 2 Then recordType = args(1)

Set fso = CreateObject("Scripting.FileSystemObject")
If Not fso.FileExists(args(0)) Then
    WScript.Echo "Error: no file " & args(0)
    WScript.Quit 1
End If
ReDim names(99)
count = 0
Set file = fso.OpenTextFile(args(0), 1)
Do Until file.AtEndOfStream
    line = Trim(Replace(file.ReadLine, vbTab, " "))
    If line <> "" And Left(line, 1) <> "#" And Left(line, 1) <> ";" Then
        If count > UBound(names) Then ReDim Preserve names(2 * count - 1)
        names(count) = line
        count = count + 1
    End If
Loop
file.Close
If count = 0 Then
    WScript.Echo "No names in " & args(0) & "."
    WScript.Quit 0
End If
ReDim Preserve names(count - 1)

Set resolver = CreateObject("Vavizav.Resolver")
If args.Count = 3 Then resolver.DNSServer = args(2)

started = Timer
answers = resolver.ResolveMany(names, recordType)
seconds = Timer - started
If seconds < 0 Then seconds = seconds + 86400  ' past midnight
If resolver.LastError <> "" Then
    WScript.Echo "Error: " & resolver.LastError
    WScript.Quit 2
End If

Set statuses = CreateObject("Scripting.Dictionary")
For i = 0 To count - 1
    status = answers(i).Status
    statuses(status) = statuses(status) + 1
    If answers(i).Records.Count > 0 Then
        text = Replace(answers(i).Text, vbCrLf, ", ")
    Else
        text = "(" & status & ")"
    End If
    WScript.Echo Pad(names(i), 28) & " " & text
Next
text = ""
For Each status In statuses.Keys
    If text <> "" Then text = text & ", "
    text = text & statuses(status) & " " & status
Next
WScript.Echo count & " names (" & recordType & ") in " & FormatNumber(seconds, 2) & " s: " & text

Function Pad(value, width)
    Pad = value
    If Len(Pad) < width Then Pad = Pad & Space(width - Len(Pad))
End Function
