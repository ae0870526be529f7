' Looks up a host name or an IPv4 address with Vavizav.
'
'   cscript //nologo lookup.vbs NAME-OR-ADDRESS [SERVER]
'
' Text made only of digits and dots is taken as an address and resolved to its
' host name (GetNameFromIP); anything else is a host name, resolved to its IPv4
' addresses, one a line (GetIPFromName). SERVER is the DNS server to ask
' (for example 192.0.2.53, 192.0.2.53:5353 or [2001:db8::53]:53); without it the
' component's default server is asked. Exit status: 0 found, 1 not found, 2 usage.
'
' Any script host works where the DLL of its bitness is installed (both, with the MSI).
Option Explicit

Dim args, target, resolver, result, addressPattern
Set args = WScript.Arguments
If args.Count < 1 Or args.Count > 2 Then
    WScript.Echo "Usage: cscript //nologo lookup.vbs NAME-OR-ADDRESS [SERVER]"
    WScript.Quit 2
End If
target = args(0)

Set resolver = CreateObject("Vavizav.VeviVORIdezaz")
If args.Count = 2 Then resolver.DNSServer = args(1)

Set addressPattern = New RegExp
addressPattern.Pattern = "^[0-9.]*\.[0-9.]*$"
If addressPattern.Test(target) Then
    result = resolver.GetNameFromIP(target)
Else
    result = resolver.GetIPFromName(target)
End If

' A lookup never raises an error: it returns "" and says why in LastError.
If resolver.LastError <> "" Then
    WScript.Echo "Error: " & resolver.LastError
    WScript.Quit 1
End If
WScript.Echo result
