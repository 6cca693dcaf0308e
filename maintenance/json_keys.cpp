#include "maintenance/json_keys.h"

#include <QSet>
#include <QString>

#include <vector>

namespace maintenance {
namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The string whose opening quote is at *pos, decoded to UTF-16 as Qt holds
// keys; *pos ends past the closing quote. An escape JSON does not know
// stands for its character, as Qt's parser reads it. False when the string
// is cut off or a \u is not followed by four hexadecimal digits.
bool readString(const QByteArray &json, int *pos, QString *out)
{
    int i = *pos + 1;
    int runStart = i;
    out->clear();
    while (i < json.size()) {
        const char c = json.at(i);
        if (c == '"') {
            out->append(QString::fromUtf8(json.constData() + runStart, i - runStart));
            *pos = i + 1;
            return true;
        }
        if (c != '\\') {
            ++i;
            continue;
        }
        out->append(QString::fromUtf8(json.constData() + runStart, i - runStart));
        if (i + 1 >= json.size())
            return false;
        const char e = json.at(i + 1);
        i += 2;
        switch (e) {
        case '"': case '\\': case '/': out->append(QLatin1Char(e)); break;
        case 'b': out->append(QLatin1Char('\b')); break;
        case 'f': out->append(QLatin1Char('\f')); break;
        case 'n': out->append(QLatin1Char('\n')); break;
        case 'r': out->append(QLatin1Char('\r')); break;
        case 't': out->append(QLatin1Char('\t')); break;
        case 'u': {
            if (i + 4 > json.size())
                return false;
            ushort unit = 0;
            for (int k = 0; k < 4; ++k) {
                const int h = hexValue(json.at(i + k));
                if (h < 0)
                    return false;
                unit = ushort(unit * 16 + h);
            }
            out->append(QChar(unit));
            i += 4;
            break;
        }
        default:
            out->append(QLatin1Char(e));
            break;
        }
        runStart = i;
    }
    return false;
}

} // namespace

bool hasDuplicateKeys(const QByteArray &json)
{
    // One entry per open object or array: the keys an object has named so far.
    struct Level {
        bool object;
        QSet<QString> keys;
    };
    std::vector<Level> open;
    bool keyNext = false; // the next string of an object is a key
    QString text;
    int i = 0;
    while (i < json.size()) {
        const char c = json.at(i);
        if (c == '"') {
            // Keys that cannot be decoded cannot be told apart either.
            if (!readString(json, &i, &text))
                return true;
            if (keyNext && !open.empty() && open.back().object) {
                // Qt's parser tells keys apart only up to a NUL character.
                if (text.contains(QChar(0)) || open.back().keys.contains(text))
                    return true;
                open.back().keys.insert(text);
            }
            keyNext = false;
            continue;
        }
        if (c == '{' || c == '[') {
            open.push_back(Level{c == '{', {}});
            keyNext = c == '{';
        } else if (c == '}' || c == ']') {
            if (open.empty())
                return false;
            open.pop_back();
            keyNext = false;
        } else if (c == ',') {
            keyNext = !open.empty() && open.back().object;
        } else if (c == ':') {
            keyNext = false;
        }
        ++i;
    }
    return false;
}

} // namespace maintenance
