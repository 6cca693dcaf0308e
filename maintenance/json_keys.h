#pragma once
// Object keys of a JSON text, looked at before the text reaches Qt's parser.

#include <QByteArray>

namespace maintenance {

// True when some object of the text names one key twice, "\u0061" and "a"
// counting as one. Such a text means whatever its reader decides, and Qt's
// parser loses the memory of every key it drops. Text that is no JSON at all
// is left to the parser to refuse.
bool hasDuplicateKeys(const QByteArray &json);

} // namespace maintenance
