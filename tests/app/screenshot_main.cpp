// Renders the main window with finished, failed, running and waiting jobs,
// or the Settings window in one of a few states, to a PNG, so the look of the
// windows can be checked without image files or a person. The engine is a
// stand-in: it invents results from the file names, fails "damaged" files and
// holds "large" files until the picture is taken. The interface language
// follows LANG like the program's own.

#include "AppSettings.h"
#include "CompressionCoordinator.h"
#include "CompressionError.h"
#include "ContentView.h"
#include "DefaultsStore.h"
#include "DesktopActions.h"
#include "FileChooser.h"
#include "FolderChooser.h"
#include "Localization.h"
#include "SettingsPanelView.h"
#include "TextPrompt.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>
#include <future>

using namespace vantro;

namespace {

class NoDesktop final : public DesktopActions {
public:
    void openFile(const QString&) override {}
    void revealInFileManager(const QString&) override {}
    void copyPath(const QString&) override {}
    void openWebPage(const QUrl&) override {}
};

class NoPrompt final : public TextPrompt {
public:
    void ask(QWidget*, const TextPromptTexts&, const QString&, std::function<void(std::optional<QString>)>) override {}
};

class NoChooser final : public FileChooser {
public:
    void choose(QWidget*, std::function<void(QStringList)>) override {}
};

class NoFolderChooser final : public FolderChooser {
public:
    std::optional<QString> chooseFolder(QWidget*, const QString&) override { return std::nullopt; }
};

// Lets pending layout and paint requests run.
void settle(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

bool save(QWidget& window, const QString& output)
{
    if (window.grab().save(output))
        return true;
    std::fprintf(stderr, "vantro_screenshot: cannot write %s\n", qPrintable(output));
    return false;
}

// The Settings window in one of its named states; false for an unknown name.
bool prepareSettings(AppSettings& settings, const QString& state)
{
    using S = AppSettings;
    if (state == QStringLiteral("defaults"))
        return true;
    if (state == QStringLiteral("lossy-resize-folder")) {
        settings.setMode(S::CompressionModeOption::lossy);
        settings.setLossyQuality(72);
        settings.selectResizeMode(S::ResizeModeOption::maxShortEdge);
        settings.setResizeMaxShortEdgeText(QStringLiteral("1600"));
        settings.setOutputMode(S::OutputModeOption::customFolder);
        settings.setCustomFolderPath(QStringLiteral("/home/user/Pictures/Exports for the web/2024/Spring holiday"));
        settings.setTargetFormat(S::TargetFormatOption::webp);
        settings.setOriginalFileHandling(S::OriginalFileHandlingOption::moveToTrash);
        return true;
    }
    if (state == QStringLiteral("sequence")) {
        settings.setRenamingMode(S::RenamingModeOption::sequence);
        settings.setRenamingBaseName(QStringLiteral("summer-catalogue"));
        settings.setSequenceDigits(3);
        settings.setSequenceSeparatorOption(S::SequenceSeparatorOption::underscore);
        settings.setAskForNameBeforeExport(true);
        return true;
    }
    if (state == QStringLiteral("prefix-suffix")) {
        settings.setOutputMode(S::OutputModeOption::inPlace);
        settings.setRenamingMode(S::RenamingModeOption::prefixSuffix);
        return true;
    }
    return false;
}

int settingsScreenshot(const QString& state, const QString& output)
{
    MemoryDefaultsStore store;
    AppSettings settings(store);
    if (!prepareSettings(settings, state)) {
        std::fprintf(stderr, "vantro_screenshot: unknown Settings state %s\n", qPrintable(state));
        return 2;
    }
    NoFolderChooser chooser;
    SettingsPanelView window(settings, chooser);
    window.setWindowTitle(QStringLiteral("Settings"));
    window.show();
    settle(300);
    return save(window, output) ? 0 : 1;
}

struct Sample {
    const char* name;
    int64_t originalSize;
    int64_t compressedSize;
};

// Sizes that show savings, a file that grew slightly and one already optimal.
constexpr Sample kSamples[] = {
    {"holiday-beach-sunset.jpg", 4'812'331, 1'204'118},
    {"screenshot 2024-03-18 at 09.41.22.png", 912'004, 402'511},
    {"logo.webp", 18'220, 18'220},
    {"portrait.heic", 2'901'455, 3'012'877},
    {"family-dinner.jpg", 3'120'009, 1'955'400},
};

JobQueue::EngineFunction standInEngine(std::shared_future<void> released)
{
    return [released](const QString& path, const CompressionSettings&) -> CompressionResult {
        const QFileInfo file(path);
        if (file.fileName().contains(QStringLiteral("large")))
            released.wait();
        if (file.fileName().contains(QStringLiteral("damaged")))
            throw CompressionError::corruptFile(QStringLiteral("Cannot decode image ") + file.fileName());
        for (const Sample& sample : kSamples) {
            if (file.fileName() != QString::fromUtf8(sample.name))
                continue;
            CompressionResult result;
            result.originalSize = sample.originalSize;
            result.compressedSize = sample.compressedSize;
            result.alreadyOptimized = sample.compressedSize >= sample.originalSize;
            result.outputPath = result.alreadyOptimized
                ? path
                : file.dir().filePath(file.completeBaseName() + QStringLiteral(".webp"));
            result.duration = 0.4;
            return result;
        }
        CompressionResult result;
        result.originalSize = 1'000'000;
        result.compressedSize = 500'000;
        result.outputPath = path;
        return result;
    };
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const bool settingsWindow = argc == 4 && qstrcmp(argv[2], "--settings") == 0;
    if (argc != 2 && argc != 3 && !settingsWindow) {
        std::fputs("usage: vantro_screenshot OUTPUT.png [WIDTH | --settings STATE]\n", stderr);
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    if (settingsWindow)
        return settingsScreenshot(QString::fromLocal8Bit(argv[3]), output);
    const int width = argc == 3 ? std::atoi(argv[2]) : 760;

    MemoryDefaultsStore store;
    AppSettings settings(store);
    settings.setMode(AppSettings::CompressionModeOption::lossy);
    settings.setLossyQuality(80);
    settings.setTargetFormat(AppSettings::TargetFormatOption::webp);
    settings.setResizeEnabled(true);
    settings.setResizeMode(AppSettings::ResizeModeOption::maxLongEdge);
    // A long name, as the footer's preset button must cope with.
    settings.savePreset(AppLanguage::current() == AppLanguage::cs
                            ? QStringLiteral(u"Export pro webovou galerii e-shopu")
                            : QStringLiteral("Web export for the shop gallery"));

    std::promise<void> release;
    NoDesktop desktop;
    NoPrompt prompt;
    NoChooser chooser;
    // One job at a time, so the held job keeps the ones after it waiting.
    CompressionCoordinator coordinator(settings.currentCompressionSettings(),
                                       standInEngine(release.get_future().share()), [] { return 2; });
    int exitCode = 0;
    {
        ContentView window(settings, coordinator, desktop, prompt, chooser);
        window.setWindowTitle(QStringLiteral("Vantro"));
        window.resize(width, 520);
        window.show();

        const QString folder = QDir::home().filePath(QStringLiteral("Pictures"));
        QStringList files;
        for (const Sample& sample : kSamples)
            files << QDir(folder).filePath(QString::fromUtf8(sample.name));
        files.insert(2, QDir(folder).filePath(QStringLiteral("damaged-scan.png")));
        files << QDir(folder).filePath(QStringLiteral("large-panorama.jpg"))
              << QDir(folder).filePath(QStringLiteral("IMG_2041.jpg"))
              << QDir(folder).filePath(QStringLiteral("IMG_2042.jpg"));
        window.takeFiles(files);

        // Wait until everything before the held job has ended and the window
        // shows it, then let the spinner and the layout settle.
        const auto ready = [&] {
            const JobList& jobs = coordinator.jobs();
            return jobs.size() == static_cast<std::size_t>(files.size())
                && jobs[static_cast<std::size_t>(files.size() - 3)].status.kind() == JobStatus::Kind::processing;
        };
        QElapsedTimer timer;
        timer.start();
        while (!ready() && timer.elapsed() < 10'000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (!ready()) {
            std::fputs("vantro_screenshot: the jobs did not reach the expected state\n", stderr);
            exitCode = 1;
        }
        settle(500);
        if (exitCode == 0 && !save(window, output))
            exitCode = 1;
    }
    release.set_value();
    return exitCode;
}
