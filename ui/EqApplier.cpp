#include "ui/EqApplier.h"

#include "curves/CurveFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>

#include <algorithm>

#include <csignal>
#include <sys/prctl.h>

namespace audimera {

namespace {

// The last lines of what the process wrote, for a message.
QString lastLines(QByteArray output, int lines)
{
    const QList<QByteArray> all = output.trimmed().split('\n');
    QStringList kept;
    for (qsizetype i = std::max<qsizetype>(0, all.size() - lines); i < all.size(); ++i)
        kept << QString::fromUtf8(all[i]).trimmed();
    return kept.join(QLatin1Char('\n'));
}

// A quoted argument for the drop-in's args string.
QString argument(const QString& text)
{
    QString out = text;
    out.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return out.contains(QLatin1Char(' ')) ? QStringLiteral("\\\"") + out + QStringLiteral("\\\"") : out;
}

} // namespace

bool EqApplier::isPipeWire(const std::string& serverName)
{
    return QString::fromStdString(serverName).contains(QStringLiteral("PipeWire"), Qt::CaseInsensitive);
}

QString EqApplier::whyNot(const std::string& serverName)
{
    if (isPipeWire(serverName))
        return {};
    if (serverName.empty())
        return QStringLiteral("Apply needs a PipeWire sound server; the device in use has none (a simulated card, "
                              "or no server reached)");
    return QStringLiteral("Apply needs a PipeWire sound server; this desktop's server is %1. Export the filters "
                          "for the equaliser you run instead")
        .arg(QString::fromStdString(serverName));
}

EqApplier::EqApplier(QObject* parent) : QObject(parent), m_environment(QProcessEnvironment::systemEnvironment()) {}

EqApplier::~EqApplier()
{
    stop();
}

QString EqApplier::variable(const char* name) const
{
    return m_environment.value(QString::fromLatin1(name));
}

QString EqApplier::runtimeFile() const
{
    QString folder = variable("XDG_RUNTIME_DIR");
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + QStringLiteral("/audimera/eq-filter-chain.conf");
}

QString EqApplier::configFolder() const
{
    QString config = variable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = variable("HOME") + QStringLiteral("/.config");
    return config + QStringLiteral("/pipewire");
}

bool EqApplier::isRunning() const
{
    return m_process && m_process->state() != QProcess::NotRunning;
}

Status EqApplier::start(const std::string& conf)
{
    stop();
    const QString file = runtimeFile();
    const QString folder = QFileInfo(file).path();
    // Private to the user: the folder only the user may enter.
    if (!QDir().mkpath(folder))
        return Error::of(Failure::File, "Cannot make the folder " + folder.toStdString());
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (const Status written = CurveFile::writeText(file.toStdString(), conf); !written)
        return Error::of(Failure::File, CurveFile::saveError(file.toStdString(), written.message()));

    m_process = new QProcess(this);
    m_process->setProcessEnvironment(m_environment);
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    // The child ends with the program, however the program ends.
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    QProcess* process = m_process;
    connect(process, &QProcess::finished, this, [this, process](int code, QProcess::ExitStatus status) {
        if (m_stopping || process != m_process)
            return;
        const QString output = lastLines(process->readAll(), 4);
        QString why = status == QProcess::CrashExit ? QStringLiteral("%1 stopped").arg(m_program)
                                                    : QStringLiteral("%1 ended with exit code %2").arg(m_program).arg(code);
        if (!output.isEmpty())
            why += QStringLiteral(":\n") + output;
        emit ended(why);
    });
    m_process->start(m_program, {QStringLiteral("-c"), file});
    if (!m_process->waitForStarted(5000)) {
        const std::string why = m_process->errorString().toStdString();
        delete m_process;
        m_process = nullptr;
        return Error::of(Failure::Install, "Cannot start " + m_program.toStdString() + ": " + why);
    }
    return {};
}

void EqApplier::stop()
{
    if (!m_process)
        return;
    m_stopping = true;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(StopWaitMs)) {
            m_process->kill();
            m_process->waitForFinished(StopWaitMs);
        }
    }
    delete m_process;
    m_process = nullptr;
    m_stopping = false;
}

Result<std::string> EqApplier::installForLogin(const std::string& conf) const
{
    const QString folder = configFolder();
    const QString confFile = folder + QLatin1Char('/') + QString::fromLatin1(LoginConfName);
    const QString dropIn = folder + QStringLiteral("/pipewire.conf.d/") + QString::fromLatin1(LoginDropInName);
    if (!QDir().mkpath(QFileInfo(dropIn).path()))
        return Error::of(Failure::File, "Cannot make the folder " + QFileInfo(dropIn).path().toStdString());
    if (const Status written = CurveFile::writeText(confFile.toStdString(), conf); !written)
        return Error::of(Failure::File, CurveFile::saveError(confFile.toStdString(), written.message()));
    // PipeWire reads every drop-in of pipewire.conf.d after its own file;
    // context.exec runs the equaliser's chain as a process of its own.
    const QString text = QStringLiteral("# Written by Audimera: runs its equaliser (the sink \"%1\") whenever\n"
                                        "# PipeWire starts. Remove this file and %2 to stop it.\n"
                                        "context.exec = [\n"
                                        "    { path = \"%3\" args = \"-c %4\" }\n"
                                        "]\n")
                             .arg(QString::fromLatin1("Audimera EQ"), confFile, m_program, argument(confFile));
    if (const Status written = CurveFile::writeText(dropIn.toStdString(), text.toStdString()); !written)
        return Error::of(Failure::File, CurveFile::saveError(dropIn.toStdString(), written.message()));
    return "The equaliser starts with PipeWire at log-in: " + confFile.toStdString() + ", run by "
           + dropIn.toStdString();
}

Result<std::string> EqApplier::removeFromLogin() const
{
    const QString folder = configFolder();
    std::string removed;
    for (const QString& file : {folder + QStringLiteral("/pipewire.conf.d/") + QString::fromLatin1(LoginDropInName),
                                folder + QLatin1Char('/') + QString::fromLatin1(LoginConfName)}) {
        if (!QFileInfo::exists(file))
            continue;
        if (!QFile::remove(file))
            return Error::of(Failure::File, "Cannot remove " + file.toStdString());
        removed += (removed.empty() ? "Removed " : " and ") + file.toStdString();
    }
    return removed;
}

} // namespace audimera
