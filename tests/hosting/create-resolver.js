// Creates Vavizav.Resolver by both its class names and says whether that worked.
var seen = [];
var names = ["Vavizav.Resolver", "Vavizav.Resolver.1"];
for (var i = 0; i < names.length; i++) {
    try {
        var o = new ActiveXObject(names[i]);
        seen.push("created " + names[i] + ", TimeOut " + o.TimeOut + ", MaxInFlight " + o.MaxInFlight);
    } catch (e) {
        seen.push("not created: " + (e.number >>> 0).toString(16));
    }
}
WScript.Echo(seen.join("; "));
