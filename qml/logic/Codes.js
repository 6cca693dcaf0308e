.pragma library
.import Tarvell.Protocol 1.0 as Protocol
// Codes of the dictionary protocol between the scene and the worker, and the
// one way the scene reads an integer out of a reply.

// The codes are the worker's own enums (worker/protocol.h), handed over as
// the Tarvell.Protocol module: Request.FanDuty, Reply.Monitor and so on.
var Request = Protocol.Request;
var Reply = Protocol.Reply;

// Reply values cross the thread boundary as variants: ints, doubles or texts.
// A leading integer counts; anything else is NaN, which fails every comparison.
function toInt(value) {
    if (value === undefined || value === null)
        return NaN;
    return parseInt(String(value), 10);
}

// True only for a value that reads as exactly `expected`.
function isInt(value, expected) {
    return toInt(value) === expected;
}

function replyCode(data) {
    if (!data)
        return NaN;
    return toInt(data["function"]);
}
