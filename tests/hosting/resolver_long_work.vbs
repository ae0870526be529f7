' Vavizav.Resolver's long work as VBScript sees it under a host without events
' (Wine's cscript has neither WScript.ConnectObject nor WScript.Sleep): a
' Listener class instance told of every answer and of the progress, Cancel
' from inside a report, errors raised in the listener, and ResolveManyAsync's
' Batch waited for, polled, cancelled and released.
'
'   cscript //nologo resolver_long_work.vbs SERVER SILENT SLOW
'
' SERVER is the local unbound serving tests/e2e/*.zone, SILENT an address where
' nothing answers, SLOW the delaying responder (every name answered 5 ms after
' its query; "hN.anything" gets 10.x.y.z). The last line is always
' "N passed, M failed": each group of checks runs in a Sub of its own, and an
' error that stops one is reported as a failure and the next group runs.
Option Explicit

Dim passed, failed, server, silent, slow
passed = 0
failed = 0

Function Show(value)
    If IsNull(value) Then
        Show = "Null"
    ElseIf IsArray(value) Then
        Show = "(array)"
    ElseIf IsObject(value) Then
        Show = "(object)"
    Else
        Show = """" & CStr(value) & """ (" & TypeName(value) & ")"
    End If
End Function

Sub Check(description, actual, expected)
    If Not IsNull(actual) And Not IsArray(actual) And Not IsObject(actual) Then
        If actual = expected Then
            passed = passed + 1
            Exit Sub
        End If
    End If
    failed = failed + 1
    WScript.Echo "FAILED: " & description & ": got " & Show(actual) & ", expected " & Show(expected)
End Sub

' A group's Sub that an error stopped (the caller runs On Error Resume Next).
Sub Stopped(group)
    If Err.Number <> 0 Then
        failed = failed + 1
        WScript.Echo "FAILED: " & group & " stopped at an error: 0x" & Hex(Err.Number) & " " & Err.Description
        Err.Clear
    End If
End Sub

' The listener the tests hand to Resolver.Listener. It counts and checks what
' it is told; a check that fails inside it is noted in Problems (an error here
' would only reach the component).
Class Listener
    Public Answers      ' Answered calls
    Public Reports      ' Progress calls
    Public LastDone     ' the last Progress
    Public LastTotal
    Public Backwards    ' a Progress whose Done went back
    Public Seen         ' Seen(Index): how often each element was reported
    Public Suffix       ' with names "h<N><Suffix>": each Answer's Name must be "h<Index><Suffix>"
    Public Problems
    Public CancelAt     ' the Answered call (from 1) inside which Target.Cancel() runs; 0: none
    Public Target
    Public AfterCancel  ' Answered calls after that Cancel
    Public RaiseIn      ' "Answered" or "Progress": that member raises an error every call

    Private Sub Class_Initialize()
        Answers = 0
        Reports = 0
        LastDone = -1
        LastTotal = -1
        Backwards = False
        Seen = Empty
        Suffix = ""
        Problems = ""
        CancelAt = 0
        AfterCancel = 0
        RaiseIn = ""
    End Sub

    Public Sub Expect(count)
        Seen = Zeros(count)
    End Sub

    Public Sub Answered(index, answer)
        Answers = Answers + 1
        If CancelAt > 0 And Answers > CancelAt Then AfterCancel = AfterCancel + 1
        If IsArray(Seen) Then
            If index < 0 Or index > UBound(Seen) Then
                Problems = Problems & " index " & index & " outside;"
            Else
                Seen(index) = Seen(index) + 1
            End If
        End If
        If Not IsObject(answer) Then
            Problems = Problems & " answer " & index & " is no object;"
        ElseIf Suffix <> "" Then
            If answer.Name <> "h" & index & Suffix Then Problems = Problems & " index " & index & " is " & answer.Name & ";"
        End If
        If Answers = CancelAt Then Target.Cancel
        If RaiseIn = "Answered" Then Err.Raise vbObjectError + 513, "Listener", "no room for answer " & index
    End Sub

    Public Sub Progress(done, total)
        Reports = Reports + 1
        If done < LastDone Then Backwards = True
        LastDone = done
        LastTotal = total
        If RaiseIn = "Progress" Then Err.Raise vbObjectError + 514, "Listener", "progress bar gone"
    End Sub

    ' True when every element was reported exactly once.
    Public Function EachOnce()
        Dim i
        EachOnce = IsArray(Seen)
        If Not EachOnce Then Exit Function
        For i = 0 To UBound(Seen)
            If Seen(i) <> 1 Then EachOnce = False
        Next
    End Function
End Class

' Listeners with only one of the two members, and with none.
Class ProgressOnly
    Public Reports
    Private Sub Class_Initialize()
        Reports = 0
    End Sub
    Public Sub Progress(done, total)
        Reports = Reports + 1
    End Sub
End Class

Class AnsweredOnly
    Public Answers
    Private Sub Class_Initialize()
        Answers = 0
    End Sub
    Public Sub Answered(index, answer)
        Answers = Answers + 1
    End Sub
End Class

Class Deaf
    Public Heard
End Class

' Starts batches from inside a report: at its first Answered, a ResolveMany
' of another Resolver (Other) and a ResolveManyAsync of its own (Owner).
Class NestingListener
    Public Owner
    Public Other
    Public InnerNames
    Public InnerAnswers
    Public InnerJob
    Public Outer
    Public Inner
    Private Sub Class_Initialize()
        Outer = 0
        Inner = 0
    End Sub
    Public Sub Answered(index, answer)
        If answer.Name = InnerNames(0) Or answer.Name = InnerNames(1) Then
            Inner = Inner + 1
            Exit Sub
        End If
        Outer = Outer + 1
        If Outer = 1 Then
            InnerAnswers = Other.ResolveMany(InnerNames)
            Set InnerJob = Owner.ResolveManyAsync(InnerNames)
        End If
    End Sub
End Class

Function NewResolver(address, inFlight)
    Set NewResolver = CreateObject("Vavizav.Resolver")
    NewResolver.DNSServer = address
    NewResolver.TimeOut = 2000
    NewResolver.MaxInFlight = inFlight
End Function

' (Wine's VBScript fails on "Dim a()" then "ReDim a(n)" inside a procedure:
' a plain Dim is ReDim'ed.)
Function Zeros(count)
    Dim i, marks
    ReDim marks(count - 1)
    For i = 0 To count - 1
        marks(i) = 0
    Next
    Zeros = marks
End Function

' "h0<suffix>", "h1<suffix>", ...: names the delaying responder answers.
Function HNames(count, suffix)
    Dim i, names
    ReDim names(count - 1)
    For i = 0 To count - 1
        names(i) = "h" & i & suffix
    Next
    HNames = names
End Function

Function CountStatus(answers, status)
    Dim a
    CountStatus = 0
    For Each a In answers
        If IsObject(a) Then
            If a.Status = status Then CountStatus = CountStatus + 1
        End If
    Next
End Function

Function CountEmpty(answers)
    Dim a
    CountEmpty = 0
    For Each a In answers
        If IsEmpty(a) Then CountEmpty = CountEmpty + 1
    Next
End Function

Function Since(started)
    Since = Timer - started
    If Since < 0 Then Since = Since + 86400
End Function

' Unset, Nothing or Empty: no listener.
Function NoListener(r)
    Dim value
    If IsObject(r.Listener) Then
        NoListener = r.Listener Is Nothing
    Else
        value = r.Listener
        NoListener = IsEmpty(value) Or IsNull(value)
    End If
End Function

' ResolveMany with a listener: one Answered per element (the empty element's
' BADNAME, a duplicate and cache hits too), Progress ending at Total.
Sub SyncListener()
    Dim r, l, names, answers, reports
    Set r = NewResolver(server, 64)
    Check "no listener at first", NoListener(r), True
    Set l = New Listener
    l.Expect 5
    Set r.Listener = l
    Check "the listener reads back", r.Listener Is l, True
    names = Array("one.vavizav.test", "", "many.vavizav.test", "one.vavizav.test", "absent.vavizav.test")
    answers = r.ResolveMany(names)
    Check "one Answered per element", l.Answers, 5
    Check "each Index once, 0 to 4", l.EachOnce(), True
    Check "the listener's own checks", l.Problems, ""
    Check "Progress ends at Done = Total", l.LastDone & "/" & l.LastTotal, "5/5"
    Check "Progress never goes back", l.Backwards, False
    Check "LastError stays empty", r.LastError, ""
    l.Expect 5
    answers = r.ResolveMany(names)
    Check "cache hits are reported too", answers(0).FromCache And l.EachOnce(), True
    Set r.Listener = Nothing
    Check "Nothing clears it", NoListener(r), True
    answers = r.ResolveMany(names)
    Check "a cleared listener hears nothing", l.Answers, 10
    Set r.Listener = l
    reports = l.Reports
    answers = r.ResolveMany(Array())
    Check "an empty batch reports nothing", l.Reports & " " & l.Answers, reports & " 10"
End Sub

' A two-dimensional array: Index counts the elements in memory order
' (column-major), so element (i, j) of a 3 x 4 array is i + 3 * j.
Sub GridIndex()
    Dim r, l, names(2, 3), i, j, answers, started, seconds
    Set r = NewResolver(slow, 4)
    For i = 0 To 2
        For j = 0 To 3
            names(i, j) = "h" & (i + 3 * j) & ".grid.test"
        Next
    Next
    Set l = New Listener
    l.Expect 12
    l.Suffix = ".grid.test"
    Set r.Listener = l
    answers = r.ResolveMany(names)
    Check "2-D: each Index once", l.EachOnce(), True
    Check "2-D: Index i + 3 * j is element (i, j)", l.Problems, ""
    Check "2-D: Progress ends at 12", l.LastDone & "/" & l.LastTotal, "12/12"

    ' A batch long enough for several reports: never more than one per 100 ms
    ' (and the last).
    Set l = New Listener
    l.Expect 400
    l.Suffix = ".long.test"
    Set r.Listener = l
    r.MaxInFlight = 8
    started = Timer
    answers = r.ResolveMany(HNames(400, ".long.test"))
    seconds = Since(started)
    Check "400 names: each Index once", l.EachOnce() And l.Problems = "", True
    Check "400 names: Progress monotonic", l.Backwards, False
    Check "400 names: Progress ends at Total", l.LastDone & "/" & l.LastTotal, "400/400"
    If l.Reports > Int(seconds * 10) + 2 Then
        Check "400 names: at most one Progress per 100 ms (" & FormatNumber(seconds, 2) & " s)", l.Reports, Int(seconds * 10) + 2
    Else
        Check "400 names: at least the final Progress", l.Reports >= 1, True
    End If
End Sub

' Resolver.Cancel() from inside Answered ends the batch: the rest CANCELLED.
Sub CancelInside()
    Dim r, l, answers, a, cancelled
    Set r = NewResolver(slow, 2)
    Set l = New Listener
    l.CancelAt = 5
    Set l.Target = r
    Set r.Listener = l
    answers = r.ResolveMany(HNames(300, ".cancel.test"))
    Set l.Target = Nothing
    cancelled = CountStatus(answers, "CANCELLED")
    Check "cancelled: at least all but the answered and the in-flight", cancelled >= 300 - 5 - 2 - l.AfterCancel, True
    Check "cancelled: every element answered or CANCELLED", CountStatus(answers, "NOERROR") + cancelled, 300
    Check "cancelled: Answered only for the answered", l.Answers, 300 - cancelled
    Check "cancelled: no more than the in-flight answers reported after Cancel", l.AfterCancel <= 2, True
    Check "cancelled: a final Progress with Done < Total", l.LastDone & "/" & l.LastTotal, (300 - cancelled) & "/300"
    Set a = answers(299)
    Check "a CANCELLED answer: no server, no records", a.Status & "|" & a.Server & "|" & a.Records.Count, "CANCELLED||0"
    Check "Cancel leaves LastError empty", r.LastError, ""
    r.Cancel
    Check "Cancel with nothing running: nothing", r.LastError, ""
    Set r.Listener = Nothing
    answers = r.ResolveMany(HNames(3, ".after.test"))
    Check "the next batch runs in full", CountStatus(answers, "NOERROR"), 3
End Sub

' An error raised in the listener ends only that call; LastError says so.
Sub ListenerErrors()
    Dim r, l, answers, p, q, d
    Set r = NewResolver(server, 64)
    Set l = New Listener
    l.Expect 3
    l.RaiseIn = "Answered"
    Set r.Listener = l
    answers = r.ResolveMany(Array("one.vavizav.test", "many.vavizav.test", "absent.vavizav.test"))
    Check "Answered raising: every element still reported", l.EachOnce(), True
    Check "Answered raising: the batch went on", CountStatus(answers, "NOERROR") & " " & answers(2).Status, "2 NXDOMAIN"
    Check "Answered raising: Progress still reported", l.LastDone & "/" & l.LastTotal, "3/3"
    ' The error's description, or its number where the script engine hands
    ' out none (Wine's VBScript fills no EXCEPINFO for a call from outside).
    Check "Answered raising: LastError", Left(r.LastError, 54) = "Listener.Answered raised an error: no room for answer " _
          Or r.LastError = "Listener.Answered raised an error: 0x80040201", True
    Set l = New Listener
    l.RaiseIn = "Progress"
    Set r.Listener = l
    answers = r.ResolveMany(Array("mx1.admin.test", "absent.admin.test"))
    Check "Progress raising: answers still reported", l.Answers, 2
    Check "Progress raising: LastError", r.LastError = "Listener.Progress raised an error: progress bar gone" _
          Or r.LastError = "Listener.Progress raised an error: 0x80040202", True
    ' The next call clears it.
    answers = r.ResolveMany(Array("mx1.admin.test"))
    l.RaiseIn = ""
    answers = r.ResolveMany(Array("mx1.admin.test"))
    Check "a listener quiet again: LastError cleared", r.LastError, ""

    ' Members it lacks are not called; nothing is an error.
    Set p = New ProgressOnly
    Set r.Listener = p
    answers = r.ResolveMany(Array("one.vavizav.test", "mx2.admin.test"))
    Check "Progress only: called", p.Reports >= 1, True
    Check "Progress only: no error", r.LastError, ""
    Set q = New AnsweredOnly
    Set r.Listener = q
    answers = r.ResolveMany(Array("one.vavizav.test", "mx2.admin.test", "www.corp.test"))
    Check "Answered only: called for each", q.Answers, 3
    Check "Answered only: no error", r.LastError, ""
    Set d = New Deaf
    Set r.Listener = d
    answers = r.ResolveMany(Array("one.vavizav.test"))
    Check "neither member: the batch runs", answers(0).Status & r.LastError, "NOERROR"
    Set r.Listener = Nothing
End Sub

' Listener takes an object or Nothing/Empty/Null; anything else raises.
Sub ListenerSetting()
    Dim r, l, number, description
    Set r = NewResolver(server, 64)
    Set l = New Listener
    Set r.Listener = l
    On Error Resume Next
    r.Listener = 5
    number = Err.Number
    description = Err.Description
    Err.Clear
    On Error GoTo 0
    Check "Listener = 5 raises E_INVALIDARG", Hex(number), "80070057"
    Check "with a description", description, "Listener must be an object or Nothing"
    Check "in LastError too", r.LastError, "Listener must be an object or Nothing"
    On Error Resume Next
    r.Listener = "Listener"
    number = Err.Number
    Err.Clear
    On Error GoTo 0
    Check "Listener = a string raises E_INVALIDARG", Hex(number), "80070057"
    Set r.Listener = l
    r.Listener = Empty
    Check "Empty clears it", NoListener(r), True
    Set r.Listener = l
    r.Listener = Null
    Check "Null clears it", NoListener(r), True
    Check "an accepted setting clears LastError", r.LastError, ""
End Sub

' ResolveManyAsync at a server that never answers: the Batch before any
' answer, Wait with a time, Cancel, and the Resolver's Cancel.
Sub AsyncPending()
    Dim r, l, names, job, answers, started, seconds, number, finished
    Set r = NewResolver(silent, 64)
    Set l = New Listener
    Set r.Listener = l
    names = Array("one.vavizav.test", "two.vavizav.test", "three.vavizav.test", "four.vavizav.test")
    started = Timer
    Set job = r.ResolveManyAsync(names)
    Check "ResolveManyAsync returns at once", Since(started) < 0.5, True
    Check "Total", job.Total, 4
    Check "Done before any answer", job.Done, 0
    Check "not Finished", job.Finished, False
    answers = job.Answers
    Check "Answers: the names' bounds", LBound(answers) & " " & UBound(answers), "0 3"
    Check "Answers: all Empty before answered", CountEmpty(answers), 4
    started = Timer
    finished = job.Wait(150)
    seconds = Since(started)
    Check "Wait(150) before the end: False", finished, False
    Check "Wait(150) waited about that long", seconds >= 0.1 And seconds < 1.5, True
    On Error Resume Next
    finished = job.Wait(-1)
    number = Err.Number
    Err.Clear
    On Error GoTo 0
    Check "Wait(-1) raises E_INVALIDARG", Hex(number), "80070057"
    On Error Resume Next
    finished = job.Wait("soon")
    number = Err.Number
    Err.Clear
    On Error GoTo 0
    Check "Wait(""soon"") raises E_INVALIDARG", Hex(number), "80070057"
    job.Cancel
    Check "Batch.Cancel: Finished at once", job.Finished, True
    Check "Wait after Cancel: True", job.Wait(), True
    Check "cancelled elements are not Done", job.Done, 0
    answers = job.Answers
    Check "Answers after Cancel: all CANCELLED", CountStatus(answers, "CANCELLED"), 4
    Check "no Answered for cancelled elements", l.Answers, 0
    Check "a final Progress 0/4", l.LastDone & "/" & l.LastTotal, "0/4"

    Set job = r.ResolveManyAsync(HNames(3, ".pending.test"))
    Check "Wait(0) delivers what is pending only", job.Wait(0), False
    r.Cancel
    Check "Resolver.Cancel ends its async batch", job.Finished, True
    answers = job.Answers
    Check "and its elements are CANCELLED", CountStatus(answers, "CANCELLED"), 3
    Check "Cancel clears LastError", r.LastError, ""
End Sub

' ResolveManyAsync against unbound, waited for to the end; argument errors.
Sub AsyncWait()
    Dim r, l, names(1, 1), job, answers, number
    Set r = NewResolver(server, 64)
    Set l = New Listener
    l.Expect 4
    Set r.Listener = l
    names(0, 0) = "one.vavizav.test"
    names(1, 0) = ""
    names(0, 1) = "absent.vavizav.test"
    names(1, 1) = "mx1.admin.test"
    Set job = r.ResolveManyAsync(names, "A")
    Check "Wait() waits to the end", job.Wait(), True
    Check "Finished", job.Finished, True
    Check "Done = Total", job.Done & "/" & job.Total, "4/4"
    answers = job.Answers
    Check "Answers keep two dimensions", UBound(answers, 1) & " " & UBound(answers, 2), "1 1"
    Check "the answers", answers(0, 0).Text & " " & answers(1, 0).Status & " " & answers(0, 1).Status & " " & answers(1, 1).Text, _
          "192.0.2.1 BADNAME NXDOMAIN 192.0.2.25"
    Check "every report fired by the end of Wait", l.EachOnce() & " " & l.LastDone & "/" & l.LastTotal, "True 4/4"
    Check "Wait once more: True at once", job.Wait(10), True
    answers = job.Answers
    Check "Answers read twice: the same objects", answers(0, 0).Text, "192.0.2.1"

    On Error Resume Next
    Set job = r.ResolveManyAsync("one.vavizav.test")
    number = Err.Number
    Err.Clear
    On Error GoTo 0
    Check "ResolveManyAsync of a string raises E_INVALIDARG", Hex(number), "80070057"
    Check "LastError says Names is no array", Right(r.LastError, 21), "Names is not an array"
    Set job = r.ResolveManyAsync(Array("mx1.corp.test"), "BOGUS")
    Check "a bad type: the batch ends", job.Wait(2000), True
    answers = job.Answers
    Check "a bad type: BADNAME and LastError", answers(0).Status & " " & Left(r.LastError, 13), "BADNAME Type ""BOGUS"" "
    Set job = r.ResolveManyAsync(Array())
    Check "no names: finished", job.Wait(2000) & " " & job.Total, "True 0"
End Sub

' Done and Finished move while the script polls them without pumping; the
' reports wait for the script's next Wait.
Sub AsyncPolled()
    Dim r, l, job, done, firstDone, moves, backwards, deadline, answersBefore
    Set r = NewResolver(slow, 4)
    Set l = New Listener
    l.Expect 160
    Set r.Listener = l
    Set job = r.ResolveManyAsync(HNames(160, ".polled.test"))
    firstDone = job.Done
    done = firstDone
    moves = 0
    backwards = False
    deadline = Timer + 10
    Do Until job.Finished Or Timer > deadline
        If job.Done <> done Then
            If job.Done < done Then backwards = True
            done = job.Done
            moves = moves + 1
        End If
    Loop
    answersBefore = l.Answers
    Check "polled: Finished turned True", job.Finished, True
    Check "polled: Done moved while the script polled", firstDone < 160 And moves >= 1, True
    Check "polled: Done never went back", backwards, False
    Check "polled: Done = Total at the end", job.Done, 160
    Check "polled: no report while the script does not pump", answersBefore & " " & l.Reports, "0 0"
    Check "polled: Wait(0) when finished: True", job.Wait(0), True
    Check "polled: then every report has fired", l.EachOnce() & " " & l.LastDone & "/" & l.LastTotal, "True 160/160"
End Sub

' Wait(ms) delivers reports while it waits; Cancel then keeps what came.
Sub AsyncWaitSome()
    Dim r, l, job, answers, started, seconds, finished
    Set r = NewResolver(slow, 1)
    Set l = New Listener
    l.Expect 400
    l.Suffix = ".some.test"
    Set r.Listener = l
    Set job = r.ResolveManyAsync(HNames(400, ".some.test"))
    started = Timer
    finished = job.Wait(200)
    seconds = Since(started)
    Check "Wait(200) of a 2-second batch: False", finished, False
    Check "Wait(200) returned after about 200 ms", seconds >= 0.15 And seconds < 1.5, True
    Check "reports came during Wait", l.Answers > 0 And l.Reports > 0, True
    job.Cancel
    Check "Wait() after Cancel", job.Wait(), True
    answers = job.Answers
    Check "answered plus cancelled is every element", CountStatus(answers, "NOERROR") + CountStatus(answers, "CANCELLED"), 400
    Check "Done counts the answered", job.Done, CountStatus(answers, "NOERROR")
    Check "one Answered per answered element", l.Answers & " " & l.Problems, job.Done & " "
    Check "a final Progress with Done", l.LastDone & "/" & l.LastTotal, job.Done & "/400"
End Sub

' Cancel while answers wait for the script to pump: those elements are
' answered (Done counts them, Answers holds them), so they are reported too,
' and the last Progress counts them.
Sub CancelQueued()
    Dim r, l, job, answers, deadline, done
    Set r = NewResolver(slow, 8)
    Set l = New Listener
    Set r.Listener = l
    Set job = r.ResolveManyAsync(HNames(400, ".queued.test"))
    deadline = Timer + 10
    Do Until job.Done >= 40 Or Timer > deadline
    Loop
    job.Cancel
    Check "queued: Wait after Cancel", job.Wait(), True
    answers = job.Answers
    done = job.Done
    Check "queued: answered before the Cancel", done >= 40 And done < 400, True
    Check "queued: Done counts the NOERROR answers", CountStatus(answers, "NOERROR"), done
    Check "queued: every answered element reported", l.Answers, done
    Check "queued: the last Progress counts them", l.LastDone & "/" & l.LastTotal, done & "/400"
End Sub

' A Batch released mid-flight is cancelled: no report after; a Resolver
' released while its Batch runs lets it finish.
Sub Releases()
    Dim r, l, job, other, pump, answers
    Set r = NewResolver(slow, 1)
    Set l = New Listener
    Set r.Listener = l
    Set job = r.ResolveManyAsync(HNames(300, ".released.test"))
    Set job = Nothing
    Set other = NewResolver(silent, 64)
    Set pump = other.ResolveManyAsync(Array("one.vavizav.test"))
    Check "pumping another batch meanwhile", pump.Wait(300), False
    pump.Cancel
    Check "a released Batch reports nothing after", l.Answers & " " & l.Reports, "0 0"
    answers = r.ResolveMany(HNames(3, ".next.test"))
    Check "its Resolver works on", CountStatus(answers, "NOERROR") & " " & l.Answers, "3 3"

    Set r = NewResolver(slow, 4)
    Set l = New Listener
    l.Expect 60
    Set r.Listener = l
    Set job = r.ResolveManyAsync(HNames(60, ".orphan.test"))
    Set r = Nothing
    Check "Resolver released: its Batch finishes", job.Wait(10000), True
    answers = job.Answers
    Check "Resolver released: every answer", CountStatus(answers, "NOERROR"), 60
    Check "Resolver released: the reports still come", l.EachOnce() & " " & l.LastDone, "True 60"
End Sub

' Batches started from inside another batch's report, and Cancel of one
' Resolver from inside another's report.
Sub Nested()
    Dim a, b, c, l, n, job, answers, inner, jc
    Set a = NewResolver(server, 64)
    Set b = NewResolver(server, 64)
    Set n = New NestingListener
    Set n.Owner = a
    Set n.Other = b
    n.InnerNames = Array("inner.vavizav.test", "mx1.admin.test")  ' none of them in the outer batch
    Set a.Listener = n
    Set job = a.ResolveManyAsync(Array("one.vavizav.test", "many.vavizav.test", "absent.vavizav.test"))
    Check "outer batch finishes", job.Wait(), True
    Check "outer: every element reported", n.Outer, 3
    Check "nested ResolveMany of another Resolver", n.InnerAnswers(0).Status & " " & n.InnerAnswers(1).Text, "NXDOMAIN 192.0.2.25"
    Set inner = n.InnerJob
    Check "nested ResolveManyAsync of the same Resolver finishes", inner.Wait(5000), True
    answers = inner.Answers
    Check "its answers", answers(0).Status & " " & answers(1).Text, "NXDOMAIN 192.0.2.25"
    Check "its reports reach the same listener", n.Inner, 2
    Set a.Listener = Nothing
    Set n.Owner = Nothing
    Set n.InnerJob = Nothing

    ' b's report cancels c's batch.
    Set c = NewResolver(silent, 64)
    Set jc = c.ResolveManyAsync(Array("one.vavizav.test", "many.vavizav.test"))
    Set l = New Listener
    l.CancelAt = 1
    Set l.Target = c
    Set b.Listener = l
    answers = b.ResolveMany(Array("one.vavizav.test", "mx1.admin.test"))
    Check "Cancel from another Resolver's report: that batch ends", jc.Finished, True
    answers = jc.Answers
    Check "its elements CANCELLED", CountStatus(answers, "CANCELLED"), 2
    answers = b.ResolveMany(Array("www.corp.test"))
    Check "the reporting batch was not cancelled", answers(0).Status & " " & l.Answers, "NOERROR 3"
    Set l.Target = Nothing
End Sub

If WScript.Arguments.Count < 3 Then
    WScript.Echo "usage: cscript //nologo resolver_long_work.vbs SERVER SILENT SLOW"
    WScript.Echo "0 passed, 1 failed"
    WScript.Quit 2
End If
server = WScript.Arguments(0)
silent = WScript.Arguments(1)
slow = WScript.Arguments(2)

On Error Resume Next
SyncListener
Stopped "SyncListener"
GridIndex
Stopped "GridIndex"
CancelInside
Stopped "CancelInside"
ListenerErrors
Stopped "ListenerErrors"
ListenerSetting
Stopped "ListenerSetting"
AsyncPending
Stopped "AsyncPending"
AsyncWait
Stopped "AsyncWait"
AsyncPolled
Stopped "AsyncPolled"
AsyncWaitSome
Stopped "AsyncWaitSome"
CancelQueued
Stopped "CancelQueued"
Releases
Stopped "Releases"
Nested
Stopped "Nested"
On Error GoTo 0

WScript.Echo passed & " passed, " & failed & " failed"
