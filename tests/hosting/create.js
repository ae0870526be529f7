// Creates Vavizav.VeviVORIdezaz by class name and says whether that worked.
try {
    var o = new ActiveXObject("Vavizav.VeviVORIdezaz");
    WScript.Echo("created, TimeOut " + o.TimeOut + ", LastError \"" + o.LastError + "\"");
} catch (e) {
    WScript.Echo("not created: " + (e.number >>> 0).toString(16));
}
