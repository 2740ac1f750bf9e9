#include "app/Headless.h"

#include <cstdio>
#include <memory>

#include <QEventLoop>
#include <QTime>
#include <QTimer>
#include <QWebSocket>

#include "app/ProjectDirectory.h"
#include "app/StatusLog.h"
#include "app/TaskPresenter.h"
#include "gui/Gui.h"
#include "project/LoadImages.h"
#include "project/SfmCfgBuild.h"
#include "project/SfmCfgFile.h"
#include "remote/MvsBackend.h"
#include "remote/SfmBackend.h"
#include "vexkit/Paths.h"

namespace app {
namespace {

void printLine(std::FILE* stream, const QString& text) {
    std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stream);
}

// What Align Images sends right after Import SFM Config of `file`: the images loaded from the names in
// the file, settings completed for the service, location priors built.
std::unique_ptr<SfmCfg> alignmentConfig(const std::filesystem::path& file) {
    ImportedProject project = prepareImport(readSfmCfgFile(file), [](const std::vector<std::string>& files) {
        return loadImages(files, [](unsigned, unsigned long long) {});
    });
    std::optional<SfmCfg::GpsCoords> origin;
    return buildSfmCfg({project.groups, project.tiePoints, origin, project.settings}, true);
}

// True when every result is a file inside the project directory.
bool resultsInProject(const ResultPaths& results) {
    if (results.empty()) {
        return false;
    }
    for (const std::filesystem::path& result : results) {
        std::error_code ec;
        if (result.parent_path() != workDir() || !std::filesystem::is_regular_file(result, ec)) {
            return false;
        }
    }
    return true;
}

}  // namespace

int runHeadless(const ClientOptions& options, const remote::ServiceSettings& settings) {
    QEventLoop loop;
    int status = -1;
    // The first outcome wins. The loop ends two turns later, so that signals the socket has pending
    // (its error after its disconnection) are still delivered and shown.
    const auto finish = [&](int code) {
        if (status >= 0) {
            return;
        }
        status = code;
        QTimer::singleShot(0, &loop, [&] { QTimer::singleShot(0, &loop, [&] { loop.quit(); }); });
    };
    gui::DialogHooks hooks;
    hooks.messageBox = [&](const QString& title, const QString& text) {
        printLine(stderr, title + QStringLiteral(": ") + text);
        finish(kExitFailure);
    };
    const auto noDialog = [&](QWidget*, const QString& caption, const auto&...) {
        printLine(stderr, QStringLiteral("unexpected dialog: ") + caption);
        finish(kExitFailure);
        return QString();
    };
    hooks.openFileNames = [&](QWidget* w, const QString& caption, const QString&, const QString&) {
        noDialog(w, caption);
        return QStringList();
    };
    hooks.openFileName = noDialog;
    hooks.saveFileName = noDialog;
    hooks.existingDirectory = noDialog;
    hooks.execDialog = [&](QDialog&) {
        noDialog(nullptr, QStringLiteral("dialog"));
        return 0;
    };
    const gui::ScopedDialogHooks scope(hooks);

    setProjectDirectory(options.projectDir);
    std::unique_ptr<Backend> backend;
    SfmBackend* sfm = nullptr;
    MvsBackend* mvs = nullptr;
    if (options.mode == ClientOptions::Mode::kAlign) {
        backend = std::make_unique<SfmBackend>();
        sfm = static_cast<SfmBackend*>(backend.get());
    } else {
        backend = std::make_unique<MvsBackend>();
        mvs = static_cast<MvsBackend*>(backend.get());
    }
    backend->setServiceSettings(settings);
    QString lastStatus;
    presentTask(
        *backend, &loop,
        [&](const QString& label, int32_t percentage, const QString& log) {
            const QString line = QStringLiteral("%1 %2%").arg(label).arg(percentage);
            if (line != lastStatus) {
                lastStatus = line;
                printLine(stdout, line);
            }
            if (!log.isEmpty()) {
                printLine(stdout, formatLogLine(QTime::currentTime(), log));
            }
            if (label == QLatin1String("Protocol error")) {
                finish(kExitFailure);
            }
        },
        [&](const ResultPaths& results) {
            for (const std::filesystem::path& result : results) {
                printLine(stdout, QStringLiteral("Result: ") + toQStr(result));
            }
            finish(resultsInProject(results) ? kExitOk : kExitFailure);
        },
        // The results are in: a notice is told, not a failure.
        [&](const QString& title, const QString& text) {
            printLine(stdout, title + QStringLiteral(": ") + text);
        });
    // A session that ends before the results (a protocol error, a lost connection) ends the run. Judged
    // a turn later: closing after the last download disconnects before the results are announced.
    QObject::connect(backend->webSocket(), &QWebSocket::disconnected, &loop,
                     [&] { QTimer::singleShot(0, &loop, [&] { finish(kExitFailure); }); });
    if (options.timeoutSeconds) {
        QTimer::singleShot(static_cast<int>(std::min(*options.timeoutSeconds * 1000.0, 2.0e9)), &loop, [&] {
            printLine(stderr, QStringLiteral("Timeout: no results after %1 s").arg(*options.timeoutSeconds));
            finish(kExitTimeout);
        });
    }
    QTimer::singleShot(0, &loop, [&] {
        gui::runGuarded(
            [&] {
                if (sfm) {
                    sfm->launchSfmTask(alignmentConfig(options.input), workDir());
                } else {
                    const std::string name = options.input.stem().u8string() + "_dense";
                    mvs->launchMvsTask(options.input, name, workDir());
                }
            },
            [&](const QString& line) { printLine(stdout, line); });
    });
    loop.exec();
    return status;
}

}  // namespace app
