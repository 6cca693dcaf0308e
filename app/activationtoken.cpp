#include "activationtoken.h"

#include <QDebug>
#include <QFile>
#include <QSaveFile>
#include <QTimer>

namespace {
constexpr char kVariable[] = "XDG_ACTIVATION_TOKEN";
// Compositors hand out tokens of a few dozen characters.
constexpr int kMaxTokenLength = 512;
}

bool isUsableActivationToken(const QByteArray &token)
{
    if (token.isEmpty() || token.size() > kMaxTokenLength)
        return false;
    for (const char c : token) {
        if (c <= ' ' || c > '~')
            return false;
    }
    return true;
}

void handActivationTokenOver(const QString &path)
{
    const QByteArray token = qgetenv(kVariable);
    if (!isUsableActivationToken(token))
        return;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(token) != token.size() || !file.commit())
        qWarning() << "Activation token not handed over:" << path << file.errorString();
}

ActivationToken::ActivationToken(const QString &path, QObject *parent) : QObject(parent), path(path) {}

void ActivationToken::adopt()
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray token = file.read(kMaxTokenLength + 1);
    file.close();
    file.remove();
    if (!isUsableActivationToken(token))
        return;
    qputenv(kVariable, token);
    qInfo() << "Activation token taken for the window";
    // The caller activates the window before this runs. A platform that did
    // not take the token must not pass it on to the browser or the installer
    // this program starts later.
    QTimer::singleShot(0, this, [] { qunsetenv(kVariable); });
}
