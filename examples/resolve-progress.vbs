' Resolves every name of a list file in a batch that runs beside the script,
' prints a progress line at every 10 %, and stops at a deadline: what was
' answered by then is kept, the rest is cancelled.
'
'   cscript //nologo resolve-progress.vbs LISTFILE [SECONDS [TYPE [SERVER]]]
'
' SECONDS is the deadline, 60 when omitted. TYPE is a record type, A when
' omitted. SERVER is the DNS server to ask; without it, the servers Windows is
' configured with. Blank lines and lines starting with # or ; are skipped.
' The progress comes through a Listener object (a class of this script), which
' works in every host, cscript under Wine included; in Excel or an HTA page
' the Resolver's events do the same (see examples/excel/VavizavColumnJob.cls).
' Exit status: 0 every name answered, 1 the deadline cancelled some or the
' list could not be read, 2 usage.
Option Explicit

' Told of the batch's progress by the Resolver (at most every 100 ms, and once
' at the end) while the script waits in Batch.Wait.
Class ProgressLines
    Private nextStep

    Private Sub Class_Initialize()
        nextStep = 10
    End Sub

    Public Sub Progress(done, total)
        Dim percent
        percent = Int(done * 100 / total)
        If percent >= nextStep Then
            WScript.Echo Right("    " & percent, 5) & " %  " & done & " of " & total & " names"
            nextStep = (percent \ 10) * 10 + 10
        End If
    End Sub
End Class

Dim args, fso, file, line, names, count, recordType, seconds, resolver, job, started, elapsed
Dim answers, answer, statuses, status, text
Set args = WScript.Arguments
If args.Count < 1 Or args.Count > 4 Then
    WScript.Echo "Usage: cscript //nologo resolve-progress.vbs LISTFILE [SECONDS [TYPE [SERVER]]]"
    WScript.Quit 2
End If
seconds = 60
If args.Count >= 2 Then
    If Not IsNumeric(args(1)) Then
        WScript.Echo "Usage: SECONDS is a number of seconds, not " & args(1)
        WScript.Quit 2
    End If
    seconds = CDbl(args(1))
End If
recordType = "A"
If args.Count >= 3 Then recordType = args(2)

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
If args.Count = 4 Then resolver.DNSServer = args(3)
Set resolver.Listener = New ProgressLines

WScript.Echo "Resolving " & count & " names (" & recordType & "), at most " & seconds & " s:"
started = Timer
Set job = resolver.ResolveManyAsync(names, recordType)
If resolver.LastError <> "" Then
    WScript.Echo "Error: " & resolver.LastError
    WScript.Quit 2
End If
' Wait pumps the script's messages: the listener's Progress runs inside it.
If Not job.Wait(CLng(seconds * 1000)) Then
    job.Cancel
    job.Wait  ' the last reports
    WScript.Echo "Deadline reached: cancelled with " & job.Done & " of " & count & " names answered."
End If
elapsed = Timer - started
If elapsed < 0 Then elapsed = elapsed + 86400  ' past midnight
Set resolver.Listener = Nothing

answers = job.Answers
Set statuses = CreateObject("Scripting.Dictionary")
For Each answer In answers
    status = answer.Status
    statuses(status) = statuses(status) + 1
Next
text = ""
For Each status In statuses.Keys
    If text <> "" Then text = text & ", "
    text = text & statuses(status) & " " & status
Next
WScript.Echo count & " names (" & recordType & ") in " & FormatNumber(elapsed, 2) & " s: " & text
If job.Done < count Then WScript.Quit 1
