#pragma once
// Object keys of a JSON text, looked at before the text reaches Qt's parser.

#include <QByteArray>

namespace maintenance {

// True when some object of the text names one key twice, "\u0061" and "a"
// counting as one, or holds a string that cannot be decoded (cut off, or a
// broken \u escape) or a key with a NUL character, whose keys could not be
// told apart. Such a text means
// whatever its reader decides, and Qt's parser loses the memory of every
// key it drops. Other text that is no JSON is left to the parser to refuse.
bool hasDuplicateKeys(const QByteArray &json);

} // namespace maintenance
