// Finds the host names of the addresses in a log file (IPv4 and IPv6, as web,
// mail and firewall logs write them): every distinct address is looked up in
// reverse (PTR) in one batch.
//
//   cscript //nologo reverse-log.js LOGFILE [SERVER]
//
// SERVER is the DNS server to ask; without it, the servers Windows is
// configured with. Prints each address once, in the order it first appears,
// with the number of lines it is on and its name (or why it has none).
// Exit status: 0 the log was read, 1 it could not be, 2 usage.
//
// ResolveMany takes a JScript array (or a COM array) and returns a COM array
// (SAFEARRAY), read here through VBArray.

var args = WScript.Arguments;
if (args.length < 1 || args.length > 2) {
    WScript.Echo("Usage: cscript //nologo reverse-log.js LOGFILE [SERVER]");
    WScript.Quit(2);
}
var path = args(0);

var fso = new ActiveXObject("Scripting.FileSystemObject");
if (!fso.FileExists(path)) {
    WScript.Echo("Error: no file " + path);
    WScript.Quit(1);
}

// An address is a whole blank-separated token: four dotted decimals, or hex
// groups with "::" or all eight groups (a time such as 01:02:03 is not one).
var ipv4 = /^([0-9]{1,3}\.){3}[0-9]{1,3}$/;
var ipv6 = /^(([0-9a-f]{0,4}:)*:([0-9a-f]{0,4}:)*[0-9a-f]{0,4}|([0-9a-f]{1,4}:){7}[0-9a-f]{1,4})$/i;

// Distinct addresses in the order they first appear, each with the number of
// lines it is on.
var addresses = [];
var lines = {};
var lineCount = 0;
var file = fso.OpenTextFile(path, 1);
while (!file.AtEndOfStream) {
    var tokens = file.ReadLine().split(/[ \t]+/);
    lineCount++;
    var seen = {};
    for (var t = 0; t < tokens.length; t++) {
        var token = tokens[t];
        if ((ipv4.test(token) || (ipv6.test(token) && token.length > 1)) && !seen["@" + token]) {
            seen["@" + token] = true;
            if (lines["@" + token]) {
                lines["@" + token]++;
            } else {
                addresses.push(token);
                lines["@" + token] = 1;
            }
        }
    }
}
file.Close();

if (addresses.length == 0) {
    WScript.Echo("No addresses in " + path + " (" + lineCount + " lines).");
    WScript.Quit(0);
}

var resolver = new ActiveXObject("Vavizav.Resolver");
if (args.length == 2) resolver.DNSServer = args(1);

// One batch: the questions go out together, the answers come back in the
// order of the addresses.
var answers = new VBArray(resolver.ResolveMany(addresses, "PTR")).toArray();

WScript.Echo("Reverse names of the " + addresses.length + " addresses in " + fso.GetFileName(path) +
             " (" + lineCount + " lines):");
var named = 0;
for (var i = 0; i < addresses.length; i++) {
    var name = namesOf(answers[i]);
    if (name != "") named++;
    else name = "(no name: " + answers[i].Status + ")";
    var n = lines["@" + addresses[i]];
    WScript.Echo("  " + pad(addresses[i], 24) + pad(n == 1 ? "1 line" : n + " lines", 9) + " " + name);
}
WScript.Echo(named + " of " + addresses.length + " addresses have a name.");

// The answer's host names, without their final dot, joined by ", ".
function namesOf(answer) {
    var names = [];
    if (answer.Status == "NOERROR") {
        var records = answer.Records;
        for (var r = 0; r < records.Count; r++) {
            var target = records.Item(r).Target;
            names.push(target.substring(0, target.length - 1));
        }
    }
    return names.join(", ");
}

function pad(value, width) {
    var text = String(value);
    while (text.length < width) text += " ";
    return text;
}
