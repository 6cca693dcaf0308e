.pragma library
// Reading the worker's download progress replies.

// Without a progress reply for this long the download screen offers a way back:
// a download without a size reports nothing, and a dead one reports nothing either.
var StallMs = 30000;

var Complete = 99;   // a progress above this ends the download screen

// The worker's word that a download failed, with the reason to show:
//   failed: true when the reply reports a failure
//   text:   what to tell the user
function readOutcome(data) {
    var failed = !!data && parseInt(String(data["downloadResult"]), 10) === 1;
    var text = failed && data["failureText"] ? String(data["failureText"]) : "";
    return { failed: failed, text: text !== "" ? text : "The download did not finish." };
}

// What one progress value means for the screen.
//   show:   the percent text to display, or "" to keep the current one
//   finish: the download is over and the screen closes
function readProgress(value) {
    var result = { show: "", finish: false };
    if (value === undefined || value === null || value === "")
        return result;
    var n = parseInt(String(value), 10);
    if (isNaN(n))
        return result;
    if (n >= 0 && n <= 100)
        result.show = String(n);
    result.finish = n > Complete;
    return result;
}
