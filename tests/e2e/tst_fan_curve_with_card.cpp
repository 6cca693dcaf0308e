// The fan curve as a user runs it: the program and the simulated card as
// separate processes, the card's temperature set through a file, a private
// system bus with a stand-in for logind. The card's transfer log is the judge
// of what reached the fan and in which order.

#include "program.h"

#include <QDateTime>

#include <csignal>

namespace {

const QString kToMcu = "W 02 80 00", kToGpu = "W 02 80 01";
// The fan follows the hotter of GPU and VRAM, which the simulator keeps 2 degC
// above the GPU. The default curve: 42 degC -> 27 %, 72 -> 59 %, 47 -> 29 %.
QString duty(int percent) { return "W 01 " + QString::number(percent, 16).toUpper().rightJustified(2, '0'); }

struct Transfer { double at; QString text; }; // at: wall-clock seconds, as the simulator logged it

} // namespace

class FanCurveWithCardTest : public QObject {
    Q_OBJECT

    CardRig rig;
    const QString transferLog = rig.transferLog;

    QString temperature() const { return rig.home.path("gpu-temp"); }

    QList<Transfer> transfers() const
    {
        QList<Transfer> out;
        for (const QString &line : readLines(transferLog)) {
            const int blank = line.indexOf(' ');
            out.append({line.left(blank).toDouble(), line.mid(blank + 1)});
        }
        return out;
    }

    // Index of the first transfer at or after `from` that is `text`; waits for
    // it to arrive. -1 when it never came.
    int waitFor(const QString &text, int from)
    {
        int found = -1;
        const auto seen = [&] {
            const QList<Transfer> all = transfers();
            for (int i = from; i < all.size() && found < 0; ++i)
                if (all[i].text == text)
                    found = i;
            return found >= 0;
        };
        (void)QTest::qWaitFor(seen, 30000);
        return found;
    }

    // The fan writes (switches and duties) among transfers [from, to).
    QStringList fanWrites(int from, int to) const
    {
        QStringList out;
        const QList<Transfer> all = transfers();
        for (int i = from; i < to && i < all.size(); ++i)
            if (all[i].text.startsWith("W 02 80") || (all[i].text.startsWith("W 01 ") && all[i].text != "W 01 01"))
                out << all[i].text;
        return out;
    }

    bool setTemperature(int c) { return writeFile(temperature(), QByteArray::number(c) + "\n"); }

private slots:
    void initTestCase()
    {
        QVERIFY(setTemperature(40));
        rig.cardArgs = QStringList{"--log-times", "--gpu-temp-from", temperature()};
        QVERIFY(rig.start());
        QVERIFY(writeFile(rig.home.data("userData.json"),
                          R"([{"FanControlMode":"CURVE","fanControlBtn":5,"RGB":"ON","RGBControlMode":"MCU",)"
                          R"("fanCurve":[[35,25],[50,30],[65,45],[75,65],[85,100]],)"
                          R"("argb_effect":5,"r_hex":"fb","g_hex":"00","b_hex":"00","speed":"FE"}])"));
    }

    // 40 degC at the start, 70, then 45: up at once, down only after 10 s
    // clearly cooler, and nothing written while the duty stays.
    void curveFollowsTheTemperature()
    {
        // Counted before the start: the restore may reach the card before the
        // inhibitor is seen.
        const int start = transfers().size();
        rig.startProgram();
        QVERIFY(rig.login1Says("inhibitor taken sleep delay"));
        const int switched = waitFor(kToMcu, start);
        QVERIFY2(switched >= 0, qPrintable("the start-up restore never took the fan; the card saw:\n"
                                           + readLines(transferLog).mid(start).join('\n') + "\nthe program said:\n"
                                           + QString::fromUtf8(rig.programSaid.right(2000))));
        const int first = waitFor(duty(27), switched);
        QVERIFY(first >= 0);
        QCOMPARE(fanWrites(switched, first + 1), (QStringList{kToMcu, duty(27)}));
        // The simulated VRAM's own critical limit, 85 degC, is below 90.
        QVERIFY(rig.programSays("Fan curve: full speed from 85 degC", 10000));

        QVERIFY(setTemperature(70));
        const int hot = waitFor(duty(59), first);
        QVERIFY(hot >= 0);
        QCOMPARE(fanWrites(first + 1, hot + 1), QStringList{duty(59)});

        QVERIFY(setTemperature(45));
        const double cooled = QDateTime::currentMSecsSinceEpoch() / 1000.0;
        const int cool = waitFor(duty(29), hot);
        QVERIFY(cool >= 0);
        QCOMPARE(fanWrites(hot + 1, cool + 1), QStringList{duty(29)});
        // Lower only after the temperature has been low for 10 s.
        const double held = transfers()[cool].at - cooled;
        QVERIFY2(held >= 10.0, qPrintable(QString("lowered after %1 s").arg(held)));
        qInfo("duty lowered %.1f s after the temperature fell", held);
    }

    // The sleep inhibitor is let go only after the fan is the GPU's; the
    // resume takes it again at the curve's duty.
    void sleepGivesTheFanBackAndResumeTakesItAgain()
    {
        const int before = transfers().size();
        rig.login1->write("sleep\n");
        QVERIFY(rig.login1Says("inhibitor released sleep delay"));
        QCOMPARE(fanWrites(before, transfers().size()), QStringList{kToGpu});

        const int asleep = transfers().size();
        rig.login1->write("resume\n");
        QVERIFY(rig.login1Says("inhibitor taken sleep delay"));
        const int again = waitFor(duty(29), asleep);
        QVERIFY(again >= 0);
        QCOMPARE(fanWrites(asleep, again + 1), (QStringList{kToMcu, duty(29)}));
    }

    // SIGTERM: the program gives the fan back itself, before it ends.
    void sigtermGivesTheFanBack()
    {
        const int before = transfers().size();
        rig.program->terminate();
        QVERIFY(rig.program->waitForFinished(15000));
        QCOMPARE(rig.program->exitCode(), 0);
        rig.programSaid += rig.program->readAll();
        QVERIFY2(rig.programSaid.contains("Fan curve: the program ends - fan back to the GPU"), rig.programSaid.right(2000).constData());
        // Once the guardian is gone too: exactly one switch, the program's
        // own; the guardian had nothing left to do.
        const QRegularExpressionMatch guardian =
            QRegularExpression("Fan guardian started, process (\\d+)").match(QString::fromUtf8(rig.programSaid));
        QVERIFY(guardian.hasMatch());
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists("/proc/" + guardian.captured(1) + "/cmdline")
                                     || readFile("/proc/" + guardian.captured(1) + "/cmdline").isEmpty(), 10000);
        QCOMPARE(fanWrites(before, transfers().size()), QStringList{kToGpu});
    }

    // kill -9: the guardian notices and gives the fan back.
    void killGivesTheFanBack()
    {
        const int start = transfers().size();
        rig.startProgram();
        const int taken = waitFor(duty(29), start);
        QVERIFY2(taken >= 0, "the restore did not start the curve again");
        const double killed = QDateTime::currentMSecsSinceEpoch() / 1000.0;
        ::kill(pid_t(rig.program->processId()), SIGKILL);
        QVERIFY(rig.program->waitForFinished(10000));
        const int back = waitFor(kToGpu, taken);
        QVERIFY2(back >= 0, "nobody gave the fan back");
        QCOMPARE(fanWrites(taken + 1, back + 1), QStringList{kToGpu});
        qInfo("fan given back %.2f s after the kill", transfers()[back].at - killed);
    }
};

QTEST_GUILESS_MAIN(FanCurveWithCardTest)
#include "tst_fan_curve_with_card.moc"
