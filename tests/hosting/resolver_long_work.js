// Vavizav.Resolver's long work as JScript sees it: a plain object with function
// members as the Listener, Cancel from inside a report, exceptions thrown in
// the listener, and ResolveManyAsync's Batch read through VBArray.
//
//   cscript //nologo resolver_long_work.js SERVER SILENT SLOW
//
// SERVER is the local unbound serving tests/e2e/*.zone, SILENT an address where
// nothing answers, SLOW the delaying responder (every name answered 5 ms after
// its query). The last line is always "N passed, M failed": each group runs
// inside try/catch, and an exception that stops one counts as a failure.
var passed = 0, failed = 0;

function check(description, actual, expected) {
    if (actual === expected) {
        passed++;
    } else {
        failed++;
        WScript.Echo("FAILED: " + description + ": got " + String(actual) + ", expected " + String(expected));
    }
}

function thrownBy(f) {
    try {
        f();
    } catch (x) {
        return (x.number >>> 0).toString(16) + " " + x.description;
    }
    return "none";
}

function since(started) {
    return (new Date().getTime() - started) / 1000;
}

function newResolver(address, inFlight) {
    var r = new ActiveXObject("Vavizav.Resolver");
    r.DNSServer = address;
    r.TimeOut = 2000;
    r.MaxInFlight = inFlight;
    return r;
}

// "h0<suffix>", "h1<suffix>", ...: names the delaying responder answers.
function hNames(count, suffix) {
    var names = [];
    for (var i = 0; i < count; i++) names.push("h" + i + suffix);
    return names;
}

function countStatus(answers, status) {
    var n = 0;
    for (var i = 0; i < answers.length; i++) {
        if (answers[i] && answers[i].Status === status) n++;
    }
    return n;
}

// A listener that counts and checks what it is told. With names, each
// Answered's Index must be that name's position.
function listener(names) {
    var l = {
        answers: 0, reports: 0, lastDone: -1, lastTotal: -1, backwards: false, seen: {}, problems: "",
        Answered: function (index, answer) {
            l.answers++;
            l.seen[index] = (l.seen[index] || 0) + 1;
            if (names && answer.Name !== names[index]) l.problems += " index " + index + " is " + answer.Name + ";";
            if (l.onAnswered) l.onAnswered(index, answer);
        },
        Progress: function (done, total) {
            l.reports++;
            if (done < l.lastDone) l.backwards = true;
            l.lastDone = done;
            l.lastTotal = total;
            if (l.onProgress) l.onProgress(done, total);
        },
        // True when every element 0..count-1 was reported exactly once.
        eachOnce: function (count) {
            for (var i = 0; i < count; i++) if (l.seen[i] !== 1) return false;
            for (var k in l.seen) if (k < 0 || k >= count) return false;
            return true;
        }
    };
    return l;
}

var groups = {
    // ResolveMany with a listener object: one Answered per element in its
    // place, Progress monotonic and ending at Total.
    syncListener: function () {
        var r = newResolver(slow, 8);
        var names = hNames(300, ".js.test");
        var l = listener(names);
        r.Listener = l;
        check("the listener reads back", r.Listener != null && typeof r.Listener, "object");
        var answers = new VBArray(r.ResolveMany(names)).toArray();
        check("one Answered per element, each Index once", l.eachOnce(300) && l.problems, "");
        check("Progress never goes back", l.backwards, false);
        check("Progress ends at Total", l.lastDone + "/" + l.lastTotal, "300/300");
        check("LastError stays empty", r.LastError, "");
        check("the answers", countStatus(answers, "NOERROR"), 300);
        r.Listener = null;
        check("null clears it", r.Listener == null, true);
        r.ResolveMany(["h1.js.test"]);
        check("a cleared listener hears nothing", l.answers, 300);
    },

    // Resolver.Cancel() from inside Answered: the rest CANCELLED.
    cancelInside: function () {
        var r = newResolver(slow, 2);
        var l = listener();
        l.onAnswered = function () { if (l.answers === 3) r.Cancel(); };
        r.Listener = l;
        var answers = new VBArray(r.ResolveMany(hNames(300, ".jscancel.test"))).toArray();
        var cancelled = countStatus(answers, "CANCELLED");
        check("cancelled: all but a few", cancelled >= 300 - 3 - 2 - 2, true);
        check("cancelled: the rest answered", countStatus(answers, "NOERROR") + cancelled, 300);
        check("cancelled: Answered only for the answered", l.answers, 300 - cancelled);
        check("cancelled: a final Progress", l.lastDone + "/" + l.lastTotal, (300 - cancelled) + "/300");
        check("a CANCELLED answer", answers[299].Status + "|" + answers[299].Server, "CANCELLED|");
        r.Listener = null;
    },

    // An exception thrown in the listener ends only that call.
    listenerErrors: function () {
        var r = newResolver(server, 64);
        var l = listener();
        l.onProgress = function () {
            var e = new Error("no progress bar");
            e.number = 0x80040203;
            throw e;
        };
        r.Listener = l;
        var answers = new VBArray(r.ResolveMany(["one.vavizav.test", "absent.vavizav.test"])).toArray();
        check("Progress throwing: the answers still come", l.answers + " " + answers[1].Status, "2 NXDOMAIN");
        check("Progress throwing: LastError names the member",
              r.LastError.substring(0, 35), "Listener.Progress raised an error: ");
        // The message, or the number where the engine hands out no EXCEPINFO
        // (Wine's JScript, for a call from outside).
        check("Progress throwing: and the message", r.LastError.substring(35) === "no progress bar" ||
              r.LastError.substring(35) === "0x80040203", true);
        l.onProgress = null;
        l.onAnswered = function (index) { if (index === 0) throw new Error("answer refused"); };
        answers = new VBArray(r.ResolveMany(["one.vavizav.test", "mx1.admin.test", "www.corp.test"])).toArray();
        check("Answered throwing: every element still reported", l.answers, 5);
        check("Answered throwing: LastError", r.LastError.substring(0, 35), "Listener.Answered raised an error: ");
        check("Answered throwing: the batch went on", answers[2].Text, "198.51.100.80");

        // Members it lacks are not called.
        var progressOnly = { reports: 0, Progress: function () { progressOnly.reports++; } };
        r.Listener = progressOnly;
        r.ResolveMany(["one.vavizav.test", "mx2.admin.test"]);
        check("Progress only: called, no error", progressOnly.reports > 0 && r.LastError, "");
        var answeredOnly = { answers: 0, Answered: function () { answeredOnly.answers++; } };
        r.Listener = answeredOnly;
        r.ResolveMany(["one.vavizav.test", "mx2.admin.test"]);
        check("Answered only: called for each, no error", answeredOnly.answers + r.LastError, "2");
        r.Listener = {};
        answers = new VBArray(r.ResolveMany(["one.vavizav.test"])).toArray();
        check("an empty object: the batch runs", answers[0].Status + r.LastError, "NOERROR");
        r.Listener = null;
    },

    // Listener takes an object or null; numbers and strings throw.
    listenerSetting: function () {
        var r = newResolver(server, 64);
        check("Listener = 5 throws", thrownBy(function () { r.Listener = 5; }),
              "80070057 Listener must be an object or Nothing");
        check("LastError too", r.LastError, "Listener must be an object or Nothing");
        check("Listener = a string throws", thrownBy(function () { r.Listener = "listener"; }).substring(0, 8), "80070057");
        r.Listener = listener();
        r.Listener = undefined;
        check("undefined clears it", r.Listener == null, true);
    },

    // ResolveManyAsync: the Batch before any answer, Wait(ms), Cancel.
    asyncPending: function () {
        var r = newResolver(silent, 64);
        var l = listener();
        r.Listener = l;
        var job = r.ResolveManyAsync(["one.vavizav.test", "two.vavizav.test", "three.vavizav.test"]);
        check("Total, Done, Finished", job.Total + " " + job.Done + " " + job.Finished, "3 0 false");
        var answers = new VBArray(job.Answers).toArray();
        check("Answers: undefined (Empty) before answered", answers.length + " " + typeof answers[0] + " " + typeof answers[2],
              "3 undefined undefined");
        var started = new Date().getTime();
        check("Wait(100): False", job.Wait(100), false);
        check("Wait(100) waited", since(started) >= 0.07, true);
        check("Wait(-5) throws", thrownBy(function () { job.Wait(-5); }).substring(0, 8), "80070057");
        job.Cancel();
        check("Cancel: Finished at once", job.Finished, true);
        check("Wait(): True", job.Wait(), true);
        answers = new VBArray(job.Answers).toArray();
        check("Answers after Cancel: CANCELLED", countStatus(answers, "CANCELLED"), 3);
        check("no Answered for cancelled elements; Progress 0/3", l.answers + " " + l.lastDone + "/" + l.lastTotal, "0 0/3");
    },

    // ResolveManyAsync against unbound, waited for; Done polled without pumping.
    asyncWait: function () {
        var r = newResolver(server, 64);
        var names = ["one.vavizav.test", "", "absent.vavizav.test", "mx1.admin.test"];
        var l = listener(names);
        r.Listener = l;
        var job = r.ResolveManyAsync(names, "A");
        check("Wait() to the end", job.Wait(), true);
        check("Done = Total", job.Done + "/" + job.Total, "4/4");
        var answers = new VBArray(job.Answers).toArray();
        check("the answers", answers[0].Text + " " + answers[1].Status + " " + answers[2].Status + " " + answers[3].Text,
              "192.0.2.1 BADNAME NXDOMAIN 192.0.2.25");
        check("every report fired by the end of Wait", l.eachOnce(4) + l.problems + " " + l.lastDone + "/" + l.lastTotal,
              "true 4/4");
        check("ResolveManyAsync of a string throws", thrownBy(function () { r.ResolveManyAsync("one.vavizav.test"); })
              .substring(0, 8), "80070057");

        var s = newResolver(slow, 4);
        var ls = listener();
        s.Listener = ls;
        job = s.ResolveManyAsync(hNames(120, ".jspolled.test"));
        var first = job.Done, last = first, moves = 0, deadline = new Date().getTime() + 10000;
        while (!job.Finished && new Date().getTime() < deadline) {
            if (job.Done !== last) { moves++; last = job.Done; }
        }
        check("polled: Finished, Done moved", job.Finished && first < 120 && moves > 0, true);
        check("polled: no report without pumping", ls.answers + " " + ls.reports, "0 0");
        check("polled: Wait(0) then delivers them all", job.Wait(0) + " " + ls.answers + " " + ls.lastDone, "true 120 120");
    },

    // The Resolver released while its Batch runs: the Batch finishes.
    releases: function () {
        var r = newResolver(slow, 4);
        var l = listener();
        r.Listener = l;
        var job = r.ResolveManyAsync(hNames(40, ".jsorphan.test"));
        r = null;
        CollectGarbage();
        check("Resolver released: Wait() True", job.Wait(10000), true);
        check("every answer and report", countStatus(new VBArray(job.Answers).toArray(), "NOERROR") + " " + l.answers, "40 40");
    },

    // A batch started from inside another's report; Cancel of another
    // Resolver's batch from inside a report.
    nested: function () {
        var a = newResolver(server, 64), b = newResolver(server, 64), c = newResolver(silent, 64);
        var inner = null, jc = c.ResolveManyAsync(["one.vavizav.test", "many.vavizav.test"]);
        var l = listener();
        l.onAnswered = function () {
            if (l.answers === 1) {
                inner = new VBArray(b.ResolveMany(["mx1.admin.test", "absent.admin.test"])).toArray();
                c.Cancel();
            }
        };
        a.Listener = l;
        var job = a.ResolveManyAsync(["one.vavizav.test", "many.vavizav.test", "www.corp.test"]);
        check("outer batch finishes", job.Wait(), true);
        check("outer: every element reported", l.eachOnce(3), true);
        check("nested ResolveMany's answers", inner && inner[0].Text + " " + inner[1].Status, "192.0.2.25 NXDOMAIN");
        check("Cancel from another Resolver's report", jc.Finished + " " + countStatus(new VBArray(jc.Answers).toArray(), "CANCELLED"),
              "true 2");
        a.Listener = null;
    }
};

if (WScript.Arguments.length < 3) {
    WScript.Echo("usage: cscript //nologo resolver_long_work.js SERVER SILENT SLOW");
    WScript.Echo("0 passed, 1 failed");
    WScript.Quit(2);
}
var server = WScript.Arguments(0), silent = WScript.Arguments(1), slow = WScript.Arguments(2);
for (var group in groups) {
    try {
        groups[group]();
    } catch (x) {
        failed++;
        WScript.Echo("FAILED: " + group + " stopped at an exception: " + (x.number >>> 0).toString(16) + " " + x.description);
    }
}
WScript.Echo(passed + " passed, " + failed + " failed");
