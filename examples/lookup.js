// Looks up a host name or an IPv4 address with Vavizav.
//
//   cscript //nologo lookup.js NAME-OR-ADDRESS [SERVER]
//
// Text made only of digits and dots is taken as an address and resolved to its
// host name (GetNameFromIP); anything else is a host name, resolved to its IPv4
// addresses, one a line (GetIPFromName). SERVER is the DNS server to ask; without
// it the component's default server is asked. Exit status: 0 found, 1 not found,
// 2 usage.
//
// Any script host works where the DLL of its bitness is installed (both, with the MSI).

var args = WScript.Arguments;
if (args.length < 1 || args.length > 2) {
    WScript.Echo("Usage: cscript //nologo lookup.js NAME-OR-ADDRESS [SERVER]");
    WScript.Quit(2);
}
var target = args(0);

var resolver = new ActiveXObject("Vavizav.VeviVORIdezaz");
if (args.length == 2) resolver.DNSServer = args(1);

var result = /^[0-9.]*\.[0-9.]*$/.test(target)
    ? resolver.GetNameFromIP(target)
    : resolver.GetIPFromName(target);

// A lookup never throws: it returns "" and says why in LastError.
if (resolver.LastError != "") {
    WScript.Echo("Error: " + resolver.LastError);
    WScript.Quit(1);
}
WScript.Echo(result);
