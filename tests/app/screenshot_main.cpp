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
#include "Localization.h"
#include "SettingsPanelView.h"
#include "TestDoubles.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <functional>
#include <future>
#include <map>

using namespace vantro;
using namespace vantro::testing;
using S = AppSettings;

namespace {

// The Settings window's named states.
const std::map<QString, std::function<void(S&)>> kSettingsStates{
    {"defaults", [](S&) {}},
    {"lossy-resize-folder",
     [](S& s) {
         s.setMode(S::CompressionModeOption::lossy);
         s.setLossyQuality(72);
         s.selectResizeMode(S::ResizeModeOption::maxShortEdge);
         s.setResizeMaxShortEdgeText(QStringLiteral("1600"));
         s.setOutputMode(S::OutputModeOption::customFolder);
         s.setCustomFolderPath(QStringLiteral("/home/user/Pictures/Exports for the web/2024/Spring holiday"));
         s.setTargetFormat(S::TargetFormatOption::webp);
         s.setOriginalFileHandling(S::OriginalFileHandlingOption::moveToTrash);
     }},
    {"sequence",
     [](S& s) {
         s.setRenamingMode(S::RenamingModeOption::sequence);
         s.setRenamingBaseName(QStringLiteral("summer-catalogue"));
         s.setSequenceDigits(3);
         s.setSequenceSeparatorOption(S::SequenceSeparatorOption::underscore);
         s.setAskForNameBeforeExport(true);
     }},
    {"prefix-suffix",
     [](S& s) {
         s.setOutputMode(S::OutputModeOption::inPlace);
         s.setRenamingMode(S::RenamingModeOption::prefixSuffix);
     }},
    // A base name with no space, longer than the row: its example wraps.
    {"long-example",
     [](S& s) {
         s.setRenamingMode(S::RenamingModeOption::sequence);
         s.setRenamingBaseName(QStringLiteral("Letni_kolekce_2024_fotografie_z_dovolene_na_horach_a_u_more_a_pak_"
                                              "zpatky_do_mesta_po_stare_silnici_kolem_reky"));
         s.selectResizeMode(S::ResizeModeOption::percentage);
     }},
};

// Savings, a file already optimal and one that grew; any other file halves.
const std::map<QString, std::pair<int64_t, int64_t>> kSamples{
    {"holiday-beach-sunset.jpg", {4'812'331, 1'204'118}},
    {"screenshot 2024-03-18 at 09.41.22.png", {912'004, 402'511}},
    {"logo.webp", {18'220, 18'220}},
    {"portrait.heic", {2'901'455, 3'012'877}},
    {"family-dinner.jpg", {3'120'009, 1'955'400}},
};

JobQueue::EngineFunction standInEngine(std::shared_future<void> released)
{
    return [released](const QString& path, const CompressionSettings&) -> CompressionResult {
        const QFileInfo file(path);
        if (file.fileName().contains(QStringLiteral("large")))
            released.wait();
        if (file.fileName().contains(QStringLiteral("damaged")))
            throw CompressionError::corruptFile(QStringLiteral("Cannot decode image ") + file.fileName());
        const auto [original, compressed] = kSamples.count(file.fileName())
            ? kSamples.at(file.fileName())
            : std::pair<int64_t, int64_t>{1'000'000, 500'000};
        CompressionResult result;
        result.originalSize = original;
        result.compressedSize = compressed;
        result.alreadyOptimized = compressed >= original;
        result.outputPath = result.alreadyOptimized ? path : file.dir().filePath(file.completeBaseName() + ".webp");
        result.duration = 0.4;
        return result;
    };
}

// Lets layout and painting settle (and `done` hold, if given), then saves.
int save(
    QWidget& window, const QString& output, const std::function<bool()>& done = [] { return true; })
{
    if (!QTest::qWaitFor(done, 10'000)) {
        std::fputs("vantro_screenshot: the jobs did not reach the expected state\n", stderr);
        return 1;
    }
    QTest::qWait(500);
    if (window.grab().save(output))
        return 0;
    std::fprintf(stderr, "vantro_screenshot: cannot write %s\n", qPrintable(output));
    return 1;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    const bool settingsWindow = argc == 4 && qstrcmp(argv[2], "--settings") == 0;
    if (argc < 2 || argc > 4 || (argc == 4 && !settingsWindow)
        || (settingsWindow && !kSettingsStates.count(QString::fromLocal8Bit(argv[3])))) {
        std::fputs("usage: vantro_screenshot OUTPUT.png [WIDTH | default | --settings STATE]\n", stderr);
        return 2;
    }
    const QString output = QString::fromLocal8Bit(argv[1]);
    MemoryDefaultsStore store;
    S settings(store);
    if (settingsWindow) {
        kSettingsStates.at(QString::fromLocal8Bit(argv[3]))(settings);
        FakeFolderChooser chooser;
        SettingsPanelView window(settings, chooser);
        window.setWindowTitle(QStringLiteral("Settings"));
        window.show();
        return save(window, output);
    }

    settings.setMode(S::CompressionModeOption::lossy);
    settings.setTargetFormat(S::TargetFormatOption::webp);
    settings.setResizeEnabled(true);
    // A long name, as the footer's preset button must cope with.
    settings.savePreset(AppLanguage::current() == AppLanguage::cs
                            ? QStringLiteral(u"Export pro webovou galerii e-shopu")
                            : QStringLiteral("Web export for the shop gallery"));
    std::promise<void> release;
    FakeDesktop desktop;
    FakePrompt prompt;
    FakeChooser chooser;
    // One job at a time, so the held job keeps the ones after it waiting.
    CompressionCoordinator coordinator(settings.currentCompressionSettings(),
                                       standInEngine(release.get_future().share()), [] { return 2; });
    int exitCode = 0;
    {
        ContentView window(settings, coordinator, desktop, prompt, chooser);
        window.setWindowTitle(QStringLiteral("Vantro"));
        // "default": the size the program opens at when it has none saved.
        if (argc != 3 || qstrcmp(argv[2], "default") != 0)
            window.resize(argc == 3 ? QString::fromLocal8Bit(argv[2]).toInt() : 760, 520);
        window.show();
        const QDir folder(QDir::home().filePath(QStringLiteral("Pictures")));
        QStringList files;
        for (const char* name :
             {"holiday-beach-sunset.jpg", "screenshot 2024-03-18 at 09.41.22.png", "damaged-scan.png", "logo.webp",
              "portrait.heic", "family-dinner.jpg", "large-panorama.jpg", "IMG_2041.jpg", "IMG_2042.jpg"})
            files << folder.filePath(QString::fromUtf8(name));
        window.takeFiles(files);
        // Everything before the held job has ended and the window shows it.
        exitCode = save(window, output, [&] {
            const JobList& jobs = coordinator.jobs();
            return jobs.size() == 9 && jobs[6].status.kind() == JobStatus::Kind::processing;
        });
    }
    release.set_value();
    return exitCode;
}
