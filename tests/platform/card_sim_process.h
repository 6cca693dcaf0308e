#pragma once
// Runs tarvell-card-sim as a child process serving a temporary runtime folder.

#include <QProcess>
#include <QStringList>

#include <csignal>

#ifndef TARVELL_CARD_SIM
#error "TARVELL_CARD_SIM must name the simulator executable"
#endif

class CardSimProcess {
public:
    explicit CardSimProcess(const QString &runtimeDir, const QStringList &extra = {})
        : runtimeDir_(runtimeDir), args_(QStringList{"--runtime-dir", runtimeDir} + extra) {}
    ~CardSimProcess()
    {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(5000)) {
                process_.kill();
                process_.waitForFinished(5000);
            }
        }
    }

    // Starts it and waits for its "serving" line; false if it never came.
    bool start()
    {
        process_.start(QStringLiteral(TARVELL_CARD_SIM), args_);
        QByteArray output;
        while (process_.waitForStarted(5000) && !output.contains('\n')) {
            if (!process_.waitForReadyRead(10000))
                return false;
            output += process_.readAllStandardOutput();
        }
        return output.startsWith("tarvell-card-sim: serving " + socketPath().toUtf8());
    }

    // Sends a signal and waits for the exit; the exit code, or -1.
    int stop(int signal = SIGTERM)
    {
        ::kill(static_cast<pid_t>(process_.processId()), signal);
        const bool ended = process_.waitForFinished(10000) && process_.exitStatus() == QProcess::NormalExit;
        return ended ? process_.exitCode() : -1;
    }

    QString socketPath() const { return runtimeDir_ + QStringLiteral("/NF_I2C_BUS_00_0X0060"); }
    QProcess &process() { return process_; }

private:
    QString runtimeDir_;
    QStringList args_;
    QProcess process_;
};
