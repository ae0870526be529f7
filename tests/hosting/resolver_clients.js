// Vavizav.Resolver as JScript sees it: JScript arrays for ResolveMany, the
// result read through VBArray, Enumerator over the records, errors thrown.
//
//   cscript //nologo resolver_clients.js SERVER
//
// The last line is always "N passed, M failed".
var passed = 0, failed = 0;
var server = WScript.Arguments(0);

function check(description, actual, expected) {
    if (actual === expected) {
        passed++;
    } else {
        failed++;
        WScript.Echo("FAILED: " + description + ": got " + String(actual) + ", expected " + String(expected));
    }
}

var r = new ActiveXObject("Vavizav.Resolver");
r.DNSServer = server;
r.TimeOut = 2000;

var a = r.Resolve("alias.vavizav.test", "A");
check("Status", a.Status, "NOERROR");
check("CanonicalName", a.CanonicalName, "many.vavizav.test.");
check("Records.Item", a.Records.Item(2).Address, "192.0.2.12");
var seen = [];
for (var e = new Enumerator(a.Records); !e.atEnd(); e.moveNext()) seen.push(e.item().Data);
check("Enumerator visits every record", seen.join(","), "192.0.2.10,192.0.2.11,192.0.2.12");
check("PTR of an address", r.Resolve("192.0.2.10", "PTR").Text, "many.vavizav.test.");

// A JScript array: read through its length and indexed properties.
var answers = new VBArray(r.ResolveMany(["one.vavizav.test", "", "absent.vavizav.test"])).toArray();
check("one answer per element", answers.length, 3);
check("first", answers[0].Text, "192.0.2.1");
check("empty element", answers[1].Status, "BADNAME");
check("third", answers[2].Status, "NXDOMAIN");
check("a VBArray is taken too",
      new VBArray(r.ResolveMany(new VBArray(r.ResolveMany(["one.vavizav.test"])).toArray().length == 1
                                ? ["one.vavizav.test"] : [])).ubound(1), 0);

var thrown = "none";
try {
    r.MaxInFlight = 2000;
} catch (x) {
    thrown = (x.number >>> 0).toString(16) + " " + x.description;
}
check("MaxInFlight 2000 throws", thrown, "80070057 MaxInFlight must be from 1 to 1024; 2000 was refused");
check("MaxInFlight kept", r.MaxInFlight, 64);

WScript.Echo(passed + " passed, " + failed + " failed");
