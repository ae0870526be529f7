// Vavizav.VeviVORIdezaz as JScript sees it: created with ActiveXObject, called
// late bound through IDispatch, dispatch-layer failures thrown as exceptions.
//
//   cscript //nologo clients.js SERVER
//
// SERVER is the local unbound serving tests/e2e/*.zone. The last line is always
// "N passed, M failed"; the runner looks for it, not only at the exit code.

var passed = 0, failed = 0;
var server = WScript.Arguments(0);
var silentServer = WScript.Arguments(1);  // loopback, nothing listens on port 53
var CRLF = "\r\n";

function show(value) {
    return typeof value == "string" ? '"' + value.replace(/\r\n/g, "\\r\\n") + '"' : String(value);
}

function check(description, actual, expected) {
    if (actual === expected) {
        passed++;
    } else {
        failed++;
        WScript.Echo("FAILED: " + description + ": got " + show(actual) + ", expected " + show(expected));
    }
}

// The error number (as unsigned hex) that a statement throws, or "none".
function thrown(statement) {
    try {
        statement();
        return "none";
    } catch (e) {
        return (e.number >>> 0).toString(16);
    }
}

function newResolver() {
    return new ActiveXObject("Vavizav.VeviVORIdezaz");
}

function forward(resolver, name) {
    var result = resolver.GetIPFromName(name);
    return result + " | " + resolver.LastError;
}

function reverse(resolver, address) {
    var result = resolver.GetNameFromIP(address);
    return result + " | " + resolver.LastError;
}

function testCreationAndDefaults() {
    var o = newResolver();
    check("TimeOut starts at 10000", o.TimeOut, 10000);
    check("LastError starts empty", o.LastError, "");
    check("DNSServer starts at the default server", o.DNSServer, "9.9.9.9");
    check("creation by class name fails for an unknown class",
          thrown(function () { new ActiveXObject("Vavizav.NoSuchClass"); }) != "none", true);
}

// The limits themselves are the VBScript client's; here what JScript adds:
// dispatch-layer refusals arrive as exceptions with their HRESULT.
function testProperties() {
    var o = newResolver();
    o.TimeOut = 65534;
    o.TimeOut = 65535;
    check("TimeOut ignores 65535", o.TimeOut, 65534);
    o.TimeOut = 300.4;
    check("TimeOut takes a number converted to Long", o.TimeOut, 300);
    check("TimeOut refuses text that is no number (DISP_E_TYPEMISMATCH)",
          thrown(function () { o.TimeOut = "soon"; }), "80020005");
    check("a refused TimeOut keeps the value", o.TimeOut, 300);
    o.DNSServer = 53;
    check("DNSServer stores a number as text", o.DNSServer, "53");
    o.DNSServer = null;
    check("DNSServer ignores null", o.DNSServer, "53");
    check("a put of LastError is refused (DISP_E_MEMBERNOTFOUND)",
          thrown(function () { o.LastError = "forged"; }), "80020003");
    check("LastError keeps its value", o.LastError, "");
    check("an unknown member is refused",
          thrown(function () { o.Resolve("one.vavizav.test"); }) != "none", true);
}

function testLookupsAndFailureTexts() {
    var o = newResolver();
    o.DNSServer = server;
    check("forward, one address", forward(o, "one.vavizav.test"), "192.0.2.1 | ");
    check("forward, three addresses joined by CR LF", forward(o, "many.vavizav.test"),
          "192.0.2.10" + CRLF + "192.0.2.11" + CRLF + "192.0.2.12 | ");
    check("reverse", reverse(o, "192.0.2.1"), "one.vavizav.test | ");
    check("a name the server does not know", forward(o, "missing.vavizav.test"), " | Unable to Resolve HostName");
    check("an address that is no address", reverse(o, "1.2.3"), " | IP Address not recognized");
    check("an address without a name", reverse(o, "192.0.2.99"), " | Cannot Reverse Resolve Host");
    check("success empties LastError again", reverse(o, "192.0.2.10"), "many.vavizav.test | ");
    o.DNSServer = silentServer;
    o.TimeOut = 300;
    check("no reply in time", forward(o, "one.vavizav.test"), " | DNS Request Timed Out");
}

function testTwoObjects() {
    var a = newResolver(), b = newResolver();
    a.TimeOut = 1234;
    a.DNSServer = server;
    check("the other object's TimeOut", b.TimeOut, 10000);
    check("the other object's DNSServer", b.DNSServer, "9.9.9.9");
    check("first object looks up", a.GetNameFromIP("192.0.2.1"), "one.vavizav.test");
    check("second object fails on its own", b.GetNameFromIP("256.1.1.1"), "");
    check("the first object's LastError", a.LastError, "");
    check("the second object's LastError", b.LastError, "IP Address not recognized");
}

testCreationAndDefaults();
testProperties();
testLookupsAndFailureTexts();
testTwoObjects();

WScript.Echo(passed + " passed, " + failed + " failed");
WScript.Quit(failed > 0 ? 1 : 0);
