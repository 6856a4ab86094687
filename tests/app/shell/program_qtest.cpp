// The one `quillet` program: the command line needs no display, and the window without one
// ends with one line and status 2 instead of an abort inside the toolkit.
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run {
    int status = -1;
    QProcess::ExitStatus exit = QProcess::CrashExit;
    QString out;
    QString err;
};

// Runs quillet with a fixture home and no display of any kind, plus `extra`.
Run runQuillet(const QStringList& arguments, const QString& home, const QStringList& extra = {}) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(name));
    environment.insert(QStringLiteral("HOME"), home);
    for (const QString& pair : extra) environment.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(QUILLET_EXECUTABLE), arguments);
    if (!process.waitForFinished(30'000)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitCode(), process.exitStatus(), QString::fromLocal8Bit(process.readAllStandardOutput()),
            QString::fromLocal8Bit(process.readAllStandardError())};
}

}  // namespace

class ProgramTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;

private slots:
    void subcommandsRunWithoutADisplay() {
        QVERIFY(QDir(m_home.path()).mkpath(QStringLiteral("Developer/app")));
        const Run suggest =
            runQuillet({QStringLiteral("suggest"), QStringLiteral("--home"), m_home.path()}, m_home.path());
        QCOMPARE((std::pair{suggest.exit, suggest.status}), (std::pair{QProcess::NormalExit, 0}));
        QVERIFY2(suggest.out.contains(m_home.path() + QStringLiteral("/Developer")), qPrintable(suggest.out));
        QVERIFY2(suggest.err.isEmpty(), qPrintable(suggest.err));
    }

    // Without a display, or with one nothing serves, one line on standard error and status 2.
    void theWindowWithoutADisplayEndsWithOneLine() {
        for (const QStringList& extra : {QStringList{}, QStringList{QStringLiteral("DISPLAY=:73")}}) {
            const Run run = runQuillet({}, m_home.path(), extra);
            QCOMPARE((std::pair{run.exit, run.status}), (std::pair{QProcess::NormalExit, 2}));
            QVERIFY(run.out.isEmpty());
            QCOMPARE(run.err.count(u'\n'), 1);
            QVERIFY2(run.err.endsWith(u'\n') && run.err.contains(QStringLiteral("quillet help")), qPrintable(run.err));
            QVERIFY2(extra.isEmpty() || run.err.contains(QStringLiteral(":73")), qPrintable(run.err));
        }
    }
};

QTEST_GUILESS_MAIN(ProgramTest)
#include "program_qtest.moc"
