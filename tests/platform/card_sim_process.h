#pragma once
// Runs tarvell-card-sim as a child process serving a temporary runtime folder.

#include <QDir>
#include <QProcess>
#include <QStringList>
#include <QTest>

#include <csignal>

#ifndef TARVELL_CARD_SIM
#error "TARVELL_CARD_SIM must name the simulator executable"
#endif

class CardSimProcess {
public:
    explicit CardSimProcess(const QString &runtimeDir, const QStringList &extra = {})
        : runtimeDir_(runtimeDir)
    {
        args_ << QStringLiteral("--runtime-dir") << runtimeDir << extra;
    }
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
        if (!process_.waitForStarted(5000))
            return false;
        while (!output_.contains('\n')) {
            if (!process_.waitForReadyRead(10000))
                return false;
            output_ += process_.readAllStandardOutput();
        }
        return output_.startsWith("tarvell-card-sim: serving " + socketPath().toUtf8());
    }

    // Sends a signal and waits for the exit; the exit code, or -1.
    int stop(int signal = SIGTERM)
    {
        ::kill(static_cast<pid_t>(process_.processId()), signal);
        if (!process_.waitForFinished(10000) || process_.exitStatus() != QProcess::NormalExit)
            return -1;
        return process_.exitCode();
    }

    QString socketPath() const
    {
        return runtimeDir_ + QStringLiteral("/NF_I2C_BUS_00_0X0060");
    }
    QProcess &process() { return process_; }

private:
    QString runtimeDir_;
    QStringList args_;
    QProcess process_;
    QByteArray output_;
};
