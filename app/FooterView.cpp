#include "FooterView.h"

#include "AppSettings.h"
#include "DesktopActions.h"
#include "ElidedLabel.h"
#include "Localization.h"
#include "PresetMenuButton.h"
#include "SettingsSummary.h"
#include "SymbolIcons.h"

#include <QEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include <algorithm>

namespace vantro {

namespace {

// A title-2 sized icon button without a frame, showing one of the window's
// symbols (see tintSymbol).
QToolButton* makeSymbolButton(QWidget* parent, const char* symbol)
{
    auto* button = new QToolButton(parent);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::TabFocus);
    button->setToolButtonStyle(Qt::ToolButtonIconOnly);
    button->setProperty("symbol", QString::fromLatin1(symbol));
    QFont title2 = button->font();
    // A second-level title is about 22/13 of body text.
    title2.setPointSizeF(title2.pointSizeF() * 22.0 / 13.0);
    const int side = QFontMetrics(title2).height();
    button->setIconSize({side, side});
    return button;
}

// Drawn anew from the button's palette, so a change of theme shows at once.
void tintSymbol(QToolButton* button)
{
    const QString symbol = button->property("symbol").toString();
    const int side = button->iconSize().width();
    button->setIcon(
        SymbolIcons::pixmap(symbol, side, button->palette().color(QPalette::ButtonText), button->devicePixelRatioF()));
}

} // namespace

struct FooterView::Private {
    AppSettings& settings;
    QHBoxLayout* row = nullptr;
    ElidedLabel* summary = nullptr;
    QLabel* jobCount = nullptr;
    PresetMenuButton* presets = nullptr;
    QPushButton* stop = nullptr;
    QToolButton* support = nullptr;
    QToolButton* openSettings = nullptr;
    qsizetype count = 0;

    // Every text from a fresh Strings, so a changed locale shows at the next
    // refresh.
    void refresh()
    {
        const Strings texts(AppLanguage::current());
        const QString line = settingsSummary(settings);
        summary->setFullText(line);
        summary->setToolTip(line + texts.doubleClickOpensSettingsSuffix);
        jobCount->setText(QString::number(count));
        stop->setText(texts.interrupt);
        support->setToolTip(texts.supportOnKofi);
        support->setAccessibleName(texts.supportOnKofi);
        openSettings->setToolTip(texts.settingsHelp);
        openSettings->setAccessibleName(texts.settingsHelp);
    }

    // The summary gives way first: the preset menu keeps its whole title
    // until the summary is down to its ellipsis, and only then narrows.
    void fitPresets(int width)
    {
        const int menuMinimum = row->itemAt(row->indexOf(presets))->minimumSize().width();
        const int room = width - (row->minimumSize().width() - menuMinimum);
        const int wanted = std::max(presets->minimumSizeHint().width(), std::min(room, presets->sizeHint().width()));
        if (presets->minimumWidth() == wanted)
            return;
        presets->setMinimumWidth(wanted);
        row->activate();
    }

    void tintSymbols()
    {
        tintSymbol(support);
        tintSymbol(openSettings);
    }
};

FooterView::FooterView(AppSettings& settings, DesktopActions& desktop, TextPrompt& prompt, QWidget* parent)
    : QWidget(parent)
    , d(std::make_unique<Private>(Private{settings}))
{
    d->summary = new ElidedLabel(Qt::ElideMiddle, this);
    d->summary->setObjectName(QStringLiteral("settingsSummary"));
    d->summary->setForegroundRole(QPalette::PlaceholderText);
    d->summary->onDoubleClick = [this] { Q_EMIT openSettingsRequested(); };

    d->jobCount = new QLabel(this);
    d->jobCount->setObjectName(QStringLiteral("jobCount"));
    d->jobCount->setTextFormat(Qt::PlainText);

    d->presets = new PresetMenuButton(settings, prompt, this);
    d->presets->setObjectName(QStringLiteral("presetMenu"));

    // Never disabled: with nothing waiting it simply changes nothing.
    d->stop = new QPushButton(this);
    d->stop->setObjectName(QStringLiteral("stopButton"));
    connect(d->stop, &QPushButton::clicked, this, &FooterView::stopRequested);

    d->support = makeSymbolButton(this, "heart");
    d->support->setObjectName(QStringLiteral("supportButton"));
    connect(d->support, &QToolButton::clicked, this, [&desktop] { desktop.openWebPage(kSupportPageUrl); });

    d->openSettings = makeSymbolButton(this, "gear");
    d->openSettings->setObjectName(QStringLiteral("settingsButton"));
    connect(d->openSettings, &QToolButton::clicked, this, &FooterView::openSettingsRequested);

    auto* row = d->row = new QHBoxLayout(this);
    row->addWidget(d->summary, 0, Qt::AlignVCenter);
    row->addWidget(d->jobCount, 0, Qt::AlignVCenter);
    row->addStretch(1);
    row->addWidget(d->presets, 0, Qt::AlignVCenter);
    row->addWidget(d->stop, 0, Qt::AlignVCenter);
    row->addWidget(d->support, 0, Qt::AlignVCenter);
    row->addWidget(d->openSettings, 0, Qt::AlignVCenter);

    connect(&settings, &AppSettings::changed, this, [this] { d->refresh(); });
    d->refresh();
    d->tintSymbols();
}

FooterView::~FooterView() = default;

bool FooterView::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    // A title, a text or a font changed: the row was just laid out anew.
    if (event->type() == QEvent::LayoutRequest)
        d->fitPresets(width());
    return handled;
}

void FooterView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    d->fitPresets(width());
}

void FooterView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        d->tintSymbols();
}

void FooterView::setJobCount(qsizetype count)
{
    d->count = count;
    d->refresh();
}

} // namespace vantro
