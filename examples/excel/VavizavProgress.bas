Attribute VB_Name = "VavizavProgress"
' Excel: resolves the selected column of names while Excel stays usable, with
' the progress in the status bar and a Stop button (the class module
' VavizavColumnJob.cls does the work through the Resolver's events).
'
' Import this file and VavizavColumnJob.cls (Alt+F11, File > Import File...),
' tick "Vavizav" under Tools > References, then run AddVavizavButtons once
' (Alt+F8) to put a "Resolve" and a "Stop" button on the active sheet. Select
' the cells holding the names and press Resolve: the answers fill the column to
' the right as they come. Stop keeps what was answered and cancels the rest.
' Needs Vavizav.dll of Office's bitness (the MSI installs both).
Option Explicit

Private job As VavizavColumnJob

' The Resolve button.
Public Sub ResolveSelectionInBackground()
    If TypeName(Selection) <> "Range" Then
        MsgBox "Select the cells that hold the names first.", vbExclamation, "Vavizav"
        Exit Sub
    End If
    If Not job Is Nothing Then
        If job.Running Then
            MsgBox "A column is being resolved; press Stop first.", vbExclamation, "Vavizav"
            Exit Sub
        End If
    End If
    Set job = New VavizavColumnJob
    job.Start Selection, "A"
    ' The macro ends here: Excel is usable again, and the answers come in.
End Sub

' The Stop button.
Public Sub StopResolving()
    If Not job Is Nothing Then job.StopNow
End Sub

' Called by Application.OnTime a few seconds after a job ended.
Public Sub VavizavClearStatusBar()
    Application.StatusBar = False
End Sub

' Puts the two buttons (Form Controls) at the top right of the active sheet.
Public Sub AddVavizavButtons()
    Dim x As Double
    x = ActiveSheet.UsedRange.Offset(0, ActiveSheet.UsedRange.Columns.Count).Left + 20
    With ActiveSheet.Buttons.Add(x, 10, 90, 24)
        .Caption = "Resolve"
        .OnAction = "ResolveSelectionInBackground"
    End With
    With ActiveSheet.Buttons.Add(x + 100, 10, 60, 24)
        .Caption = "Stop"
        .OnAction = "StopResolving"
    End With
End Sub
