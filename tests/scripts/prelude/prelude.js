// Joined in front of every JScript test by tests/run-script.sh: counters, the check routine and
// text helpers. Each test ends with: WScript.Echo(passed + " passed, " + failed + " failed");
var passed = 0, failed = 0;
function check(ok, label) {
    if (ok) passed++;
    else { failed++; WScript.Echo("FAIL: " + label); }
}
// Text comparison one character at a time (JScript's own comparison is unreliable here).
function same(a, b) {
    a = String(a); b = String(b);
    if (a.length !== b.length) return false;
    for (var i = 0; i < a.length; i++) if (a.charCodeAt(i) !== b.charCodeAt(i)) return false;
    return true;
}
function startsWith(text, head) { return same(String(text).substr(0, head.length), head); }
function contains(text, part) {
    text = String(text);
    for (var i = 0; i + part.length <= text.length; i++) if (same(text.substr(i, part.length), part)) return true;
    return false;
}
function thrown(f) {
    try { f(); } catch (e) { return e; }
    return null;
}
