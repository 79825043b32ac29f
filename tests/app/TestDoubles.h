#pragma once

// Stand-ins for the desktop, the prompts and the choosers, and the helpers
// and Qt headers the window tests share.

#include "DesktopActions.h"
#include "FileChooser.h"
#include "FolderChooser.h"
#include "Job.h"
#include "TextPrompt.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include <optional>
#include <vector>

namespace vantro::testing {

inline const QLocale kEnglish(QLocale::English, QLocale::UnitedStates);
inline const QLocale kCzech(QLocale::Czech, QLocale::CzechRepublic);

// Records every call as "open PATH", "reveal PATH", "copy PATH" or "web URL".
class FakeDesktop final : public DesktopActions {
public:
    void openFile(const QString& path) override { calls << QStringLiteral("open ") + path; }
    void revealInFileManager(const QString& path) override { calls << QStringLiteral("reveal ") + path; }
    void copyPath(const QString& path) override { calls << QStringLiteral("copy ") + path; }
    void openWebPage(const QUrl& url) override { calls << QStringLiteral("web ") + url.toString(); }
    QStringList calls;
};

// Records each question; the test answers the newest one when it chooses.
class FakePrompt final : public TextPrompt {
public:
    struct Question {
        TextPromptTexts texts;
        QString initialText;
        std::function<void(std::optional<QString>)> done;
    };
    void ask(QWidget*, const TextPromptTexts& texts, const QString& initialText,
             std::function<void(std::optional<QString>)> done) override
    {
        questions.push_back({texts, initialText, std::move(done)});
    }
    void answer(const std::optional<QString>& text)
    {
        QVERIFY(!questions.empty() && questions.back().done);
        auto done = std::exchange(questions.back().done, nullptr);
        done(text);
    }
    std::vector<Question> questions;
};

class FakeChooser final : public FileChooser {
public:
    void choose(QWidget*, std::function<void(QStringList)> done) override { pending.push_back(std::move(done)); }
    void answer(const QStringList& paths)
    {
        QVERIFY(!pending.empty());
        auto done = std::move(pending.back());
        pending.pop_back();
        done(paths);
    }
    std::vector<std::function<void(QStringList)>> pending;
};

struct FakeFolderChooser final : FolderChooser {
    std::optional<QString> chooseFolder(QWidget*, const QString& start) override
    {
        startedIn = start;
        return answer;
    }
    std::optional<QString> answer;
    QString startedIn;
};

// A person can only press what is shown and enabled.
inline void press(QAbstractButton* button)
{
    QVERIFY(button && button->isVisible() && button->isEnabled());
    QTest::mouseClick(button, Qt::LeftButton);
}

inline std::vector<JobStatus::Kind> kinds(const JobList& jobs)
{
    std::vector<JobStatus::Kind> result;
    for (const Job& job : jobs)
        result.push_back(job.status.kind());
    return result;
}

} // namespace vantro::testing
