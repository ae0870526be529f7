Attribute VB_Name = "VavizavColumn"
' Excel: fills the column to the right of a range of names (or addresses)
' with their DNS answers, all asked in one batch.
'
' Import: in the VBA editor (Alt+F11), File > Import File..., this file. Then
' select the cells holding names and run the macro ResolveSelection (Alt+F8),
' or call ResolveColumn from your own code:
'
'     ResolveColumn Range("A2:A500")                   ' addresses (A)
'     ResolveColumn Range("A2:A500"), "MX"             ' mail servers
'     ResolveColumn Range("B2:B90"), "PTR", "192.0.2.53"   ' reverse, one server
'
' The cell right of each name gets the answer's records, one per line (the
' Answer's Text), or its Status when there are none ("NXDOMAIN", "TIMEOUT",
' "NOERROR" for a name without records of the type). Blank cells and error
' values stay without answer.
' Needs Vavizav.dll of Office's bitness (the MSI installs both).
Option Explicit

Public Sub ResolveSelection()
    If TypeName(Selection) <> "Range" Then
        MsgBox "Select the cells that hold the names first.", vbExclamation, "Vavizav"
        Exit Sub
    End If
    ResolveColumn Selection
End Sub

' names: a range of one column (of more, the first is taken). recordType: a
' DNS type as text ("A", "AAAA", "MX", "TXT", "PTR", ...). server: the DNS
' server(s) to ask; "" for those Windows is configured with.
Public Sub ResolveColumn(ByVal names As Range, Optional ByVal recordType As String = "A", _
                         Optional ByVal server As String = "")
    Dim resolver As Object, values As Variant, answers As Variant, results() As Variant
    Dim r As Long, answer As Object

    Set names = Intersect(names.Columns(1), names.Worksheet.UsedRange)
    If names Is Nothing Then Exit Sub
    ' Range.Value is a two-dimensional array from (1, 1), except for a
    ' single cell, whose Value is the value itself.
    If names.Cells.Count = 1 Then
        ReDim values(1 To 1, 1 To 1)
        values(1, 1) = names.Value
    Else
        values = names.Value
    End If

    Set resolver = CreateObject("Vavizav.Resolver")
    resolver.DNSServer = server
    ' The answers come back with the same dimensions and bounds as values.
    answers = resolver.ResolveMany(values, recordType)
    If resolver.LastError <> "" Then
        MsgBox resolver.LastError, vbExclamation, "Vavizav"
        Exit Sub
    End If

    ReDim results(1 To UBound(values, 1), 1 To 1)
    For r = 1 To UBound(values, 1)
        ' Blank cells and error values (#N/A) get no answer written.
        If Not IsError(values(r, 1)) Then
            If Trim(CStr(values(r, 1))) <> "" Then
                Set answer = answers(r, 1)
                If answer.Records.Count > 0 Then
                    results(r, 1) = Replace(answer.Text, vbCrLf, vbLf)  ' a line break inside the cell
                Else
                    results(r, 1) = answer.Status
                End If
            End If
        End If
    Next
    names.Offset(0, 1).Value = results
End Sub
