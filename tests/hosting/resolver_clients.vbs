' Vavizav.Resolver as VBScript sees it: Resolve and its Answer as the default
' text, For Each over the records, ResolveMany with VBScript arrays of any
' lower bound, and the errors a script sees.
'
'   cscript //nologo resolver_clients.vbs SERVER
'
' SERVER is the local unbound serving tests/e2e/*.zone. The last line is always
' "N passed, M failed".
Option Explicit

Dim passed, failed, server
passed = 0
failed = 0
server = WScript.Arguments(0)

Function Show(value)
    If IsNull(value) Then
        Show = "Null"
    ElseIf IsArray(value) Then
        Show = "(array)"
    ElseIf IsObject(value) Then
        Show = "(object)"
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

Dim r, a, rec, texts, names, answers, i, number, description
Set r = CreateObject("Vavizav.Resolver")
Check "DNSServer starts empty", r.DNSServer, ""
Check "MaxInFlight starts at 64", r.MaxInFlight, 64
r.DNSServer = server
r.TimeOut = 2000

Set a = r.Resolve("many.vavizav.test")
Check "the default member is the text", CStr(a), "192.0.2.10" & vbCrLf & "192.0.2.11" & vbCrLf & "192.0.2.12"
Check "Status", a.Status, "NOERROR"
Check "Type defaults to A", a.Type, "A"
Check "Records.Count", a.Records.Count, 3
Check "records(1) through the default member", a.Records(1).Address, "192.0.2.11"
texts = ""
For Each rec In a.Records
    texts = texts & rec.Data & ";"
Next
Check "For Each visits every record", texts, "192.0.2.10;192.0.2.11;192.0.2.12;"
Check "absent fields are Empty", IsEmpty(a.Records(0).Preference), True
Check "TTL is a Long", TypeName(a.Records(0).TTL), "Long"

Set a = r.Resolve("vavizav.test", "soa")
Check "SOA Serial is a Double", TypeName(a.Records(0).Serial), "Double"
Check "SOA PrimaryServer", a.Records(0).PrimaryServer, "ns.vavizav.test."
Check "NXDOMAIN is a status", r.Resolve("absent.vavizav.test", "MX").Status, "NXDOMAIN"
Check "no records, empty text", CStr(r.Resolve("absent.vavizav.test")), ""
Check "a bad type is BADNAME", r.Resolve("one.vavizav.test", "NOPE").Status, "BADNAME"
Check "and LastError says why", Left(r.LastError, 13), "Type ""NOPE"" i"

' A Record outlives its Answer and its Resolver.
Set rec = r.Resolve("one.vavizav.test").Records(0)
Set a = Nothing
Set r = Nothing
Check "a record outlives its answer and resolver", rec.Data, "192.0.2.1"
Set r = CreateObject("Vavizav.Resolver.1")
r.DNSServer = server
r.TimeOut = 2000

' ResolveMany: a VBScript array keeps its shape, an empty element is BADNAME.
names = Array("one.vavizav.test", "", "many.vavizav.test", "one.vavizav.test")
answers = r.ResolveMany(names)
Check "same lower bound", LBound(answers), 0
Check "same upper bound", UBound(answers), 3
Check "first answer", answers(0).Text, "192.0.2.1"
Check "empty element", answers(1).Status, "BADNAME"
Check "third answer's count", answers(2).Records.Count, 3
Check "duplicate answered too", answers(3).Status, "NOERROR"
ReDim names(1, 2)
For i = 0 To 2
    names(0, i) = "one.vavizav.test"
    names(1, i) = "absent.vavizav.test"
Next
answers = r.ResolveMany(names, "A")
Check "two dimensions kept", UBound(answers, 2), 2
Check "element (1, 2)", answers(1, 2).Status, "NXDOMAIN"
Check "element (0, 2)", answers(0, 2).Text, "192.0.2.1"

' A fixed-size array, as Dim declares it: VBScript passes a reference to a
' variable that itself refers to the array. Cells keep their white space.
Dim fixed(1)
fixed(0) = "mx1.admin.test "
fixed(1) = "sp\032ace.admin.test."
answers = r.ResolveMany(fixed)
Check "fixed-size array: upper bound", UBound(answers), 1
Check "fixed-size array: a trimmed cell", answers(0).Text, "192.0.2.25"
Check "fixed-size array: the cell as given", answers(0).Name, "mx1.admin.test "
Check "fixed-size array: an escaped name", answers(1).Text, "192.0.2.10"
answers = r.ResolveMany(Array("mx1.admin.test ", "sp\032ace.admin.test."))
Check "fixed-size array: a plain array the same", answers(0).Text & answers(1).Text, "192.0.2.25192.0.2.10"

' Names printed come back; Strings(0) reads as written; the reply's sections.
Set a = r.Resolve("ptr.admin.test", "PTR")
Check "PTR to an escaped name", a.Records(0).Target, "sp\032ace.admin.test."
Check "asked again", r.Resolve(a.Records(0).Target).Text, "192.0.2.10"
Check "a space unescaped is BADNAME", r.Resolve("sp ace.admin.test").Status, "BADNAME"
Check "and LastError says where", InStr(r.LastError, "a space at position 3") > 0, True
Check "an address that is none", r.Resolve("999.1.1.1", "PTR").Status, "BADNAME"
Set rec = r.Resolve("txt.admin.test", "TXT").Records(0)
Check "Strings(0): four characters (UTF-8 decoded)", Left(rec.Strings(0), 3) & Len(rec.Strings(0)), "caf4"
Check "Text is Strings joined", rec.Text, rec.Strings(0) & rec.Strings(1)
Set a = r.Resolve("www.sub.admin.test")
Check "a referral is NOERROR", a.Status, "NOERROR"
Check "without AA", a.Authoritative, False
Check "its servers in Authority", a.Authority(0).Target, "ns.sub.admin.test."
Check "their glue in Additional", a.Additional(0).Address, "192.0.2.54"
Check "over UDP", a.Transport, "UDP"
Check "Elapsed is a Long", TypeName(a.Elapsed), "Long"
r.SearchList = "nothere.admin.test admin.test"
Check "a single label through the search list", r.Resolve("mx1").CanonicalName, "mx1.admin.test."
r.SearchList = ""

' Wrong arguments raise errors a script can catch, and LastError says why.
On Error Resume Next
r.TimeOut = 0
number = Err.Number
description = Err.Description
Err.Clear
On Error GoTo 0
Check "TimeOut 0 raises E_INVALIDARG", Hex(number), "80070057"
Check "with a description", description, "TimeOut must be from 1 to 65534; 0 was refused"
Check "LastError too", r.LastError, description
Check "TimeOut kept", r.TimeOut, 2000
On Error Resume Next
answers = r.ResolveMany("one.vavizav.test")
number = Err.Number
Err.Clear
On Error GoTo 0
Check "ResolveMany of a string raises", Hex(number), "80070057"
Check "LastError says Names is no array", r.LastError, "ResolveMany: Names is not an array"

WScript.Echo passed & " passed, " & failed & " failed"
