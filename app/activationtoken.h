#pragma once
// The xdg-activation token a launcher gives a start. A second start has no
// window of its own, so it passes the token to the running instance, whose
// window is the one the user asked to see.

#include <QByteArray>
#include <QObject>
#include <QString>

// Tokens are short printable texts; anything else in the file or the
// environment is not passed on to the compositor.
bool isUsableActivationToken(const QByteArray &token);

// Writes this start's XDG_ACTIVATION_TOKEN, if it has a usable one, to path.
// Called before the show-window marker is touched, so the token is there
// when the running instance shows its window.
void handActivationTokenOver(const QString &path);

class ActivationToken : public QObject
{
    Q_OBJECT
public:
    explicit ActivationToken(const QString &path, QObject *parent = nullptr);

    // Takes a handed-over token (the file is removed either way) into this
    // process's environment, where Qt's Wayland platform uses it at the next
    // requestActivate(), which must follow at once: the variable is cleared
    // again when control returns to the event loop.
    Q_INVOKABLE void adopt();

private:
    QString path;
};
