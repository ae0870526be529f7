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

// A JScript array of cells with white space; Strings(0); the reply's sections.
answers = new VBArray(r.ResolveMany([" mx1.admin.test\r\n", "sp\\032ace.admin.test"])).toArray();
check("a trimmed cell", answers[0].Text, "192.0.2.25");
check("an escaped name", answers[1].Text, "192.0.2.10");
var txt = r.Resolve("txt.admin.test", "TXT").Records.Item(0);
check("Strings(0)", txt.Strings(0), "caf\u00e9");
check("Text is Strings joined", txt.Text, txt.Strings(0) + txt.Strings(1));
var referral = r.Resolve("www.sub.admin.test");
check("a referral: not authoritative", referral.Authoritative, false);
check("its servers", referral.Authority.Item(0).Target, "ns.sub.admin.test.");
check("60 addresses came over UDP (EDNS)", r.Resolve("many.admin.test").Transport, "UDP");
check("100 addresses came over TCP", r.Resolve("wide.admin.test").Transport, "TCP");

var thrown = "none";
try {
    r.MaxInFlight = 2000;
} catch (x) {
    thrown = (x.number >>> 0).toString(16) + " " + x.description;
}
check("MaxInFlight 2000 throws", thrown, "80070057 MaxInFlight must be from 1 to 1024; 2000 was refused");
check("MaxInFlight kept", r.MaxInFlight, 64);

WScript.Echo(passed + " passed, " + failed + " failed");
