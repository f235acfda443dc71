// Runs an equaliser on this desktop's PipeWire: the filter-chain
// configuration (EqExport::pipewireConf) written to a private file in the
// user's runtime folder and run as `pipewire -c FILE`, a child process of
// the program that makes the sink EqExport::SinkName. Stopping it (or the
// program ending, even by a crash: the child is told when its parent dies)
// takes the sink away again. Nothing of the system's configuration is
// touched; "start at log-in" writes the configuration into the user's own
// PipeWire folder with a drop-in that runs it whenever PipeWire starts.
//
// UI thread only.
#pragma once

#include "common/Result.h"

#include <QObject>
#include <QProcessEnvironment>
#include <QString>

#include <string>

class QProcess;

namespace audimera {

class EqApplier : public QObject {
    Q_OBJECT

public:
    // The configuration kept for log-in, in the user's PipeWire folder, and
    // the drop-in of the PipeWire daemon that runs it.
    static constexpr const char* LoginConfName = "audimera-eq.conf";
    static constexpr const char* LoginDropInName = "90-audimera-eq.conf";
    // How long stop() lets the process end before it is killed, in ms.
    static constexpr int StopWaitMs = 2000;

    // Whether the server named serverName (SoundDevice::serverName()) is
    // PipeWire (the only server an equaliser can be applied to); when it is
    // not, why not, in words for a tool tip; empty when it is.
    static bool isPipeWire(const std::string& serverName);
    static QString whyNot(const std::string& serverName);

    explicit EqApplier(QObject* parent = nullptr);
    // Stops the process.
    ~EqApplier() override;

    // The program run and its environment (by default "pipewire" and the
    // program's own environment): tests point it at a private server.
    void setProgram(const QString& program) { m_program = program; }
    void setEnvironment(const QProcessEnvironment& environment) { m_environment = environment; }

    // Writes conf to runtimeFile() and starts the program on it, replacing a
    // running one. Fails (Install) when the program cannot start, (File)
    // when the file cannot be written.
    audimera::Status start(const std::string& conf);
    // Ends the process (terminate, then kill after StopWaitMs); nothing when
    // none runs.
    void stop();
    bool isRunning() const;
    // The private file of the configuration run:
    // $XDG_RUNTIME_DIR/audimera/eq-filter-chain.conf (the temporary folder
    // without a runtime folder).
    QString runtimeFile() const;

    // The user's PipeWire folder: $XDG_CONFIG_HOME/pipewire, or
    // ~/.config/pipewire (this object's environment's, when one is set).
    QString configFolder() const;
    // Writes conf as LoginConfName there and the drop-in
    // pipewire.conf.d/LoginDropInName that runs it; the text says where.
    audimera::Result<std::string> installForLogin(const std::string& conf) const;
    // Removes both files written by installForLogin() (nothing else); the
    // text says what was removed, empty when there was nothing.
    audimera::Result<std::string> removeFromLogin() const;

signals:
    // The process ended without stop(): its exit and its last output lines.
    void ended(const QString& why);

private:
    QString variable(const char* name) const;

    QProcess* m_process = nullptr;
    QString m_program = QStringLiteral("pipewire");
    QProcessEnvironment m_environment;
    bool m_stopping = false;
};

} // namespace audimera
